// vxavs tests: a file drop that Windows refuses reads as the failure it is, and the name posted is the
// full name of the file tested. The player runs on a thread, where posted blocks can be read back.

#include <cstring>

#include "plugin_fixture.h"
#include "standin_player.h"

static const DWORD kAccessDenied = 5, kInvalidWindow = 1400, kQueueFull = 1816;

class DropOutcomeTest : public PlugInTest {
protected:
    void SetUp() override {
        PlugInTest::SetUp();
        folder = MakeScratchFolder("vxavs outcome");
        file = folder + "\\track one.mp3";
        ASSERT_TRUE(MakeFile(file));
        GetCurrentDirectoryA(MAX_PATH, previousFolder);
    }
    void TearDown() override {
        SetCurrentDirectoryA(previousFolder);
        StopPlayer();
        PlugInTest::TearDown();
        for (const std::string &made : filesMade) DeleteFileW(LongName(made).c_str());
        RemoveDirectoryA(folder.c_str());
    }

    // Names of any length: the \\?\ form passes the MAX_PATH limit of the test's own calls.
    static std::wstring LongName(const std::string &name) {
        std::wstring wide(name.begin(), name.end());
        return L"\\\\?\\" + wide;
    }
    bool MakeFile(const std::string &name) {
        HANDLE handle = CreateFileW(LongName(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (handle == INVALID_HANDLE_VALUE) return false;
        CloseHandle(handle);
        filesMade.push_back(name);
        return true;
    }

    // Runs the drop and, when nothing was written, waits for the player to receive it.
    void Drop(const std::string &name) {
        int before = PlayerDropCount();
        Run(1, {name.c_str(), ""});
        if (!HostVariableWritten("vxAVSDrop")) WaitForPlayerDrops(before + 1, 5000);
    }

    std::string folder, file;
    std::vector<std::string> filesMade;
    char previousFolder[MAX_PATH];
};

TEST_F(DropOutcomeTest, ARefusedPostIsReportedAndItsBlockFreed) {
    struct Case {
        const char *what;
        DWORD error;
        const char *expected;
    };
    const Case cases[] = {
        {"the player runs with higher rights", kAccessDenied, "ERROR7"},
        {"a refusal no code describes", ERROR_INVALID_PARAMETER, "ERROR7"},
        {"the player's queue is full", kQueueFull, "ERROR3"},
    };
    ASSERT_TRUE(StartPlayer(PlayerOptions(), ThreadPlayerStart()));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        HostClearRecords();
        ASSERT_TRUE(HostRefuseImport("PostMessageA", c.error));
        ASSERT_TRUE(HostWatchBlocks());
        Drop(file);
        EXPECT_EQ(ResultWrites(), std::vector<std::string>{c.expected});
        std::vector<ImportCall> posts = HostImportCalls("PostMessageA");
        ASSERT_FALSE(posts.empty());
        for (const ImportCall &post : posts) {
            EXPECT_TRUE(post.refused);
            EXPECT_EQ(post.words[0], reinterpret_cast<uintptr_t>(CurrentPlayerWindows().inner));
            EXPECT_EQ(post.words[1], static_cast<DWORD>(WM_DROPFILES));
            // Not the receiver's: the plug-in keeps no block it could not hand over, and frees it once.
            EXPECT_EQ(HostFreesOf(reinterpret_cast<void *>(post.words[2])), 1) << "the block was not freed once";
        }
        HostClearRefusals();
    }
    EXPECT_EQ(PlayerDropCount(), 0);
}

TEST_F(DropOutcomeTest, ADropBlockThatCannotBeAllocatedIsError3AndNothingIsPosted) {
    ASSERT_TRUE(StartPlayer(PlayerOptions(), ThreadPlayerStart()));
    ASSERT_TRUE(HostRefuseImport("GlobalAlloc", ERROR_NOT_ENOUGH_MEMORY, 1));
    ASSERT_TRUE(HostWatchImport("PostMessageA"));
    Drop(file);
    EXPECT_EQ(ResultWrites(), std::vector<std::string>{"ERROR3"});
    EXPECT_EQ(HostImportCalls("GlobalAlloc").size(), 1u);
    EXPECT_TRUE(HostImportCalls("PostMessageA").empty()) << "posted without a block";
    HostClearRefusals();
    // Memory back: the same drop goes through.
    HostClearRecords();
    Drop(file);
    EXPECT_TRUE(gHost.variableWrites.empty());
    EXPECT_EQ(PlayerDropCount(), 1);
}

TEST_F(DropOutcomeTest, AWindowGoneAfterTheLookupIsLookedUpAgain) {
    struct Case {
        const char *what;
        const char *frameTitle;  // the frame renamed to this before the drop: no longer found
        const char *decoyTitle;  // the empty decoy frame renamed to this
        const char *expected;    // nullptr: delivered to the inner window on the second try
    };
    const Case cases[] = {
        {"found again", "avs", "not avs", nullptr},
        {"no frame any more", "closed", "not avs", "ERROR1"},
        {"a frame without inner window found instead", "closed", "avs", "ERROR6"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        PlayerOptions options;
        options.decoyFrameTitles = {"not avs"};
        options.drops = kDropsRead;
        ASSERT_TRUE(StartPlayer(options, ThreadPlayerStart()));
        // A first drop has the plug-in keep the inner window; the second uses it without a search.
        HostClearRecords();
        Drop(file);
        ASSERT_EQ(PlayerDropCount(), 1) << "first drop: \"" << HostVariable("vxAVSDrop") << "\"";
        SetWindowTextA(CurrentPlayerWindows().frame, c.frameTitle);
        SetWindowTextA(CurrentPlayerWindows().decoyFrames[0], c.decoyTitle);
        HostClearRecords();
        ASSERT_TRUE(HostRefuseImport("PostMessageA", kInvalidWindow, 1));
        ASSERT_TRUE(HostWatchBlocks());
        Drop(file);
        std::vector<PlayerDrop> drops = PlayerDropList();
        if (c.expected == nullptr) {
            EXPECT_TRUE(gHost.variableWrites.empty());
            EXPECT_EQ(drops.size(), 2u);
            if (drops.size() == 2) {
                EXPECT_EQ(drops[1].window, CurrentPlayerWindows().inner);
                EXPECT_EQ(drops[1].name, file);
            }
            EXPECT_EQ(HostImportCalls("PostMessageA").size(), 2u);
            // Delivered: the receiver's to free, not ours.
            for (const ImportCall &post : HostImportCalls("PostMessageA"))
                EXPECT_EQ(HostFreesOf(reinterpret_cast<void *>(post.words[2])), 0);
        } else {
            EXPECT_EQ(ResultWrites(), std::vector<std::string>{c.expected});
            EXPECT_EQ(drops.size(), 1u);
            std::vector<ImportCall> posts = HostImportCalls("PostMessageA");
            ASSERT_EQ(posts.size(), 1u);
            EXPECT_EQ(HostFreesOf(reinterpret_cast<void *>(posts[0].words[2])), 1) << "the block was not freed once";
        }
        HostClearRefusals();
        StopPlayer();
    }
}

// The visualizer closes and opens again just as the drop is posted: the handle from the lookup names
// no window any more, and only a second lookup finds the new inner window.
static bool fReopened;
static void ReopenVisualizerAtThePost(const std::vector<DWORD> &words) {
    if (!fReopened && words[1] == WM_DROPFILES) fReopened = PlayerReopenVisualizer();
}

TEST_F(DropOutcomeTest, AVisualizerReopenedAfterTheLookupGetsTheDrop) {
    PlayerOptions options;
    options.drops = kDropsRead;
    ASSERT_TRUE(StartPlayer(options, ThreadPlayerStart()));
    HWND old = CurrentPlayerWindows().inner;
    fReopened = false;
    ASSERT_TRUE(HostBeforeImport("PostMessageA", ReopenVisualizerAtThePost, -1));
    ASSERT_TRUE(HostWatchBlocks());
    Drop(file);
    std::vector<ImportCall> posts = HostImportCalls("PostMessageA");
    std::vector<int> frees;
    for (const ImportCall &post : posts) frees.push_back(HostFreesOf(reinterpret_cast<void *>(post.words[2])));
    HostClearRefusals();
    ASSERT_TRUE(fReopened) << "nothing was posted";
    ASSERT_FALSE(IsWindow(old));
    EXPECT_TRUE(gHost.variableWrites.empty());
    std::vector<PlayerDrop> drops = PlayerDropList();
    ASSERT_EQ(drops.size(), 1u);
    EXPECT_EQ(drops[0].window, CurrentPlayerWindows().inner);
    EXPECT_EQ(drops[0].name, file);
    EXPECT_TRUE(drops[0].goneAfterFinish);
    // A block of a failed post is either the one delivered, which is the receiver's, or freed once.
    for (size_t i = 0; i < posts.size(); ++i)
        EXPECT_EQ(frees[i], posts[i].words[2] == drops[0].handle ? 0 : 1) << "post " << i;
}

TEST_F(DropOutcomeTest, AWindowThatKeepsGoingAwayIsNeverReportedAsDropped) {
    ASSERT_TRUE(StartPlayer(PlayerOptions(), ThreadPlayerStart()));
    ASSERT_TRUE(HostRefuseImport("PostMessageA", kInvalidWindow));
    ASSERT_TRUE(HostWatchBlocks());
    Run(1, {file.c_str(), ""});
    ASSERT_EQ(gHost.variableWrites.size(), 1u);
    EXPECT_EQ(gHost.variableWrites[0].value.compare(0, 5, "ERROR"), 0) << gHost.variableWrites[0].value;
    std::vector<ImportCall> posts = HostImportCalls("PostMessageA");
    ASSERT_FALSE(posts.empty());
    // Every block posted in vain is freed, once.
    for (const ImportCall &post : posts) EXPECT_EQ(HostFreesOf(reinterpret_cast<void *>(post.words[2])), 1);
}

TEST_F(DropOutcomeTest, ARelativeNameIsPostedAsTheFullNameOfTheFileTested) {
    std::string drive = folder.substr(0, 2);
    ASSERT_EQ(drive[1], ':');
    struct Case {
        std::string name;
    };
    const Case cases[] = {
        {"track one.mp3"},
        {".\\track one.mp3"},
        {"..\\" + folder.substr(folder.find_last_of('\\') + 1) + "\\track one.mp3"},
        {folder.substr(2) + "\\track one.mp3"},  // rooted on the current drive
        {drive + "track one.mp3"},              // the current folder of that drive
    };
    SetCurrentDirectoryA(folder.c_str());
    PlayerOptions options;
    options.drops = kDropsRead;
    ASSERT_TRUE(StartPlayer(options, ThreadPlayerStart()));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        HostClearRecords();
        PlayerClearRecords();
        Drop(c.name);
        EXPECT_TRUE(gHost.variableWrites.empty());
        std::vector<PlayerDrop> drops = PlayerDropList();
        ASSERT_EQ(drops.size(), 1u);
        EXPECT_EQ(drops[0].name, file);
        EXPECT_EQ(drops[0].blockSize, file.size() + 22);
    }
}

TEST_F(DropOutcomeTest, NamesWhoseFullFormReachesMaxPathAreNoFile) {
    // Lengths of the full name: the last that fits a MAX_PATH buffer with its terminator, and past it.
    std::string prefix = folder + "\\";
    struct Case {
        size_t fullLength;
        bool relative;
        const char *expected;  // nullptr: posted
    };
    const Case cases[] = {
        {259, false, nullptr},
        {259, true, nullptr},
        {260, false, "ERROR2"},
        {260, true, "ERROR2"},
        {261, true, "ERROR2"},
    };
    SetCurrentDirectoryA(folder.c_str());
    PlayerOptions options;
    options.drops = kDropsRead;
    ASSERT_TRUE(StartPlayer(options, ThreadPlayerStart()));
    for (const Case &c : cases) {
        std::string full = prefix + std::string(c.fullLength - prefix.size() - 4, 'n') + ".mp3";
        ASSERT_EQ(full.size(), c.fullLength);
        ASSERT_TRUE(MakeFile(full)) << "cannot make a file of " << c.fullLength << " characters";
        std::string name = c.relative ? full.substr(prefix.size()) : full;
        SCOPED_TRACE(std::to_string(c.fullLength) + (c.relative ? " characters in full, given relative" : " characters"));
        HostClearRecords();
        PlayerClearRecords();
        Drop(name);
        if (c.expected == nullptr) {
            EXPECT_TRUE(gHost.variableWrites.empty());
            ASSERT_EQ(PlayerDropCount(), 1);
            EXPECT_EQ(PlayerDropList()[0].name, full);
        } else {
            EXPECT_EQ(ResultWrites(), std::vector<std::string>{c.expected});
            EXPECT_EQ(PlayerDropCount(), 0);
        }
    }
}

TEST_F(DropOutcomeTest, AHungVisualizerGetsTheDropWhenItWakes) {
    // A post never waits: the drop neither waits for the visualizer nor is refused for its hang. The
    // player runs in a process of its own here: a window title read inside one process would wait for
    // the sleeping thread, which the real player's, in its own process, never makes us do.
    PlayerStart playerStart;
    playerStart.lifetimeSeconds = 60;
    ASSERT_TRUE(StartPlayer(PlayerOptions(), playerStart));
    // Recorded, never refused: a call that waits on the player's thread shows, however short its bound.
    // A function the plug-in does not import (false here) it cannot call either.
    ASSERT_TRUE(HostRefuseImport("PostMessageA", 0, 0));
    for (const char *function : {"SendMessageTimeoutA", "SendMessageA", "SendMessageCallbackA"})
        HostRefuseImport(function, 0, 0);
    ASSERT_TRUE(PlayerHangNow(8000));
    Run(1, {file.c_str(), ""});
    std::vector<ImportCall> calls = HostImportCalls();
    HostClearRefusals();
    EXPECT_TRUE(gHost.variableWrites.empty());
    EXPECT_FALSE(WaitForPlayerLine("awake after hanging", 0)) << "the drop waited until the visualizer woke";
    EXPECT_FALSE(WaitForPlayerLine("drop into window", 0)) << "the visualizer was not asleep";
    EXPECT_TRUE(WaitForPlayerLine("drop into window", 30000));
    // Not even a bounded wait: the drop only posts, and asks the sleeping thread nothing (the system
    // drops a message whose sender gave up, so the player itself could not tell).
    std::vector<std::string> functions;
    for (const ImportCall &call : calls) functions.push_back(call.function);
    EXPECT_EQ(functions, std::vector<std::string>{"PostMessageA"});
    StopPlayer();
}
