// vxavs tests: finding the visualizer and dropping files into it. The stand-in player runs on a thread
// of the test process, where the drop blocks the plug-in posts can be read back byte for byte.

#include <cstring>

#include "plugin_fixture.h"
#include "standin_player.h"

// A scratch folder with one existing file in it, removed afterwards.
class DropTest : public PlugInTest {
protected:
    void SetUp() override {
        PlugInTest::SetUp();
        folder = MakeScratchFolder("vxavs drop");
        file = folder + "\\track one.mp3";
        HANDLE handle = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(handle, INVALID_HANDLE_VALUE);
        CloseHandle(handle);
    }
    void TearDown() override {
        StopPlayer();
        PlugInTest::TearDown();
        DeleteFileA(file.c_str());
        RemoveDirectoryA(folder.c_str());
    }
    void StartThreadPlayer(const PlayerOptions &options = PlayerOptions()) {
        ASSERT_TRUE(StartPlayer(options, ThreadPlayerStart()));
    }

    // Runs the drop action and, unless it wrote a code, waits for the player to receive what was posted.
    void Drop(const char *name, const char *second = "") {
        int before = PlayerDropCount();
        size_t writes = gHost.variableWrites.size();
        Run(1, {name, second});
        if (gHost.variableWrites.size() == writes) WaitForPlayerDrops(before + 1, 5000);
    }

    std::string folder;
    std::string file;
};

// The shell drop block for one ANSI name: header (list at 20, point 5,5, client coordinates, not
// wide), the name, and two zero bytes.
static std::vector<uint8_t> ExpectedBlock(const std::string &name) {
    std::string block("\x14\0\0\0\x05\0\0\0\x05\0\0\0\0\0\0\0\0\0\0\0", 20);
    block += name;
    block.append(2, '\0');
    return std::vector<uint8_t>(block.begin(), block.end());
}

TEST_F(DropTest, PostsAShellDropBlockThePlayerReadsAndReleases) {
    StartThreadPlayer();
    Drop(file.c_str());
    EXPECT_TRUE(gHost.variableWrites.empty()) << "a successful drop writes nothing";
    std::vector<PlayerDrop> drops = PlayerDropList();
    ASSERT_EQ(drops.size(), 1u);
    const PlayerDrop &drop = drops[0];
    ASSERT_TRUE(drop.read);
    std::vector<uint8_t> expected = ExpectedBlock(file);
    ASSERT_GE(drop.bytes.size(), expected.size());
    EXPECT_EQ(std::vector<uint8_t>(drop.bytes.begin(), drop.bytes.begin() + expected.size()), expected);
    EXPECT_EQ(drop.fileCount, 1u);
    EXPECT_EQ(drop.name, file);
    EXPECT_EQ(drop.point.x, 5);
    EXPECT_EQ(drop.point.y, 5);
    EXPECT_TRUE(drop.pointResult) << "client coordinates";
    EXPECT_TRUE(drop.goneAfterFinish) << "the receiver's DragFinish releases the block";
}

TEST_F(DropTest, TheExampleBlockIsThirtyBytes) {
    // D:\a.mp3 need not exist on this machine: the same name in the root of the temporary folder's
    // drive is made to exist, and the block received for it is compared byte for byte.
    std::string name = folder.substr(0, 3) + "a.mp3";
    ASSERT_EQ(name.size(), 8u) << name;
    HANDLE handle = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) GTEST_SKIP() << name << " cannot be made here (error " << GetLastError() << ")";
    CloseHandle(handle);
    StartThreadPlayer();
    Drop(name.c_str());
    DeleteFileA(name.c_str());
    ASSERT_EQ(PlayerDropCount(), 1);
    const uint8_t drive = static_cast<uint8_t>(name[0]);
    EXPECT_EQ(PlayerDropList()[0].blockSize, 30u);
    EXPECT_EQ(PlayerDropList()[0].bytes, (std::vector<uint8_t>{0x14, 0, 0, 0, 5, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                            drive, 0x3a, 0x5c, 0x61, 0x2e, 0x6d, 0x70, 0x33, 0, 0}));
}

TEST_F(DropTest, NamesThatAreNoFileFailBeforeAnyWindowIsLookedFor) {
    // No player at all: the file test comes first, so every case is ERROR2, never ERROR1.
    std::string wildcard = folder + "\\*.mp3";
    std::string question = folder + "\\track one.mp?";
    std::string missing = folder + "\\missing.mp3";
    for (const std::string &name : {std::string(""), folder, wildcard, question, std::string("C:"),
                                     std::string("D:"), missing, folder + "\\"}) {
        HostClearRecords();
        Run(1, {name.c_str(), ""});
        EXPECT_EQ(ResultWrites(), std::vector<std::string>{"ERROR2"}) << "name: " << name;
    }
}

TEST_F(DropTest, TheVisualizerIsFoundByItsNamesOrReportedMissing) {
    struct Case {
        const char *what;
        bool frame;
        const char *frameClass;
        const char *frameTitle;
        const char *innerClass;
        InnerPlacement inner;
        const char *expected;  // nullptr: the drop arrives and nothing is written
    };
    const Case cases[] = {
        {"capitals", true, "WINAMP GEN", "AVS", "AVSWND", kInnerChild, nullptr},
        {"small letters", true, "winamp gen", "avs", "avswnd", kInnerChild, nullptr},
        {"a grandchild of the frame", true, "Winamp Gen", "avs", "avswnd", kInnerGrandchild, nullptr},
        {"no player", false, "Winamp Gen", "avs", "avswnd", kInnerNone, "ERROR1"},
        {"a frame with another title", true, "Winamp Gen", "avs2", "avswnd", kInnerChild, "ERROR1"},
        {"a frame with an empty title", true, "Winamp Gen", "", "avswnd", kInnerChild, "ERROR1"},
        {"a frame without inner window", true, "Winamp Gen", "avs", "avswnd", kInnerNone, "ERROR6"},
        {"the inner window outside the frame", true, "Winamp Gen", "avs", "avswnd", kInnerTopLevel, "ERROR6"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        PlayerOptions options;
        options.frame = c.frame;
        options.frameClass = c.frameClass;
        options.frameTitle = c.frameTitle;
        options.innerClass = c.innerClass;
        options.inner = c.inner;
        StartThreadPlayer(options);
        HostClearRecords();
        Drop(file.c_str());
        if (c.expected == nullptr) {
            EXPECT_TRUE(gHost.variableWrites.empty());
            EXPECT_EQ(PlayerDropCount(), 1);
        } else {
            EXPECT_EQ(ResultWrites(), std::vector<std::string>{c.expected});
            EXPECT_EQ(PlayerDropCount(), 0);
        }
        // The next case's windows are new: the handle kept from this one is no window any more.
        StopPlayer();
    }
}

TEST_F(DropTest, FramesWithOtherTitlesArePassedOver) {
    // Decoys are made after the frame, so the search meets them first; each holds an inner window of
    // its own that must not receive the drop.
    PlayerOptions options;
    options.decoyFrameTitles = {"avs ", "avs2", "", "Avs editor"};
    options.decoyFramesHaveInner = true;
    StartThreadPlayer(options);
    Drop(file.c_str());
    EXPECT_TRUE(gHost.variableWrites.empty());
    ASSERT_EQ(PlayerDropCount(), 1);
    EXPECT_EQ(PlayerDropList()[0].window, CurrentPlayerWindows().inner);
}

TEST_F(DropTest, TheFoundInnerWindowIsReusedWhileItIsAWindow) {
    StartThreadPlayer();
    Drop(file.c_str());
    // Renamed, the frame could no longer be found; the kept inner window is used without a search.
    SetWindowTextA(CurrentPlayerWindows().frame, "renamed");
    Drop(file.c_str());
    EXPECT_TRUE(gHost.variableWrites.empty());
    EXPECT_EQ(PlayerDropCount(), 2);
    // Once the player is gone, the next drop searches again and reports what it finds.
    StopPlayer();
    Run(1, {file.c_str(), ""});
    EXPECT_EQ(ResultWrites(), std::vector<std::string>{"ERROR1"});
}

TEST_F(DropTest, ASuccessfulDropKeepsTheEarlierValue) {
    StartThreadPlayer();
    for (const char *earlier : {"ERROR2", "-25536"}) {
        HostClearRecords();
        gHost.variables["vxAVSDrop"] = earlier;
        int before = PlayerDropCount();
        Drop(file.c_str());
        EXPECT_TRUE(gHost.variableWrites.empty());
        EXPECT_EQ(HostVariable("vxAVSDrop"), earlier);
        EXPECT_EQ(PlayerDropCount(), before + 1) << "the drop never arrived";
    }
}

TEST_F(DropTest, TheSecondParameterChangesNothing) {
    StartThreadPlayer();
    for (const char *second : {"", "anything at all", "true"}) Drop(file.c_str(), second);
    Run(1, {file.c_str(), nullptr});
    WaitForPlayerDrops(4, 5000);
    std::vector<PlayerDrop> drops = PlayerDropList();
    ASSERT_EQ(drops.size(), 4u);
    for (const PlayerDrop &drop : drops) EXPECT_EQ(drop.bytes, drops[0].bytes);
    EXPECT_TRUE(gHost.variableWrites.empty());
}

TEST_F(DropTest, ARelativeNameIsTestedHereAndPostedAsItsFullName) {
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    SetCurrentDirectoryA(folder.c_str());
    StartThreadPlayer();
    Drop("track one.mp3");
    SetCurrentDirectoryA(previous);
    EXPECT_TRUE(gHost.variableWrites.empty());
    ASSERT_EQ(PlayerDropCount(), 1);
    EXPECT_EQ(PlayerDropList()[0].name, file);
}

// The player in a program of its own, as the real one is. Wine does not carry a posted block's bytes
// across processes, so there the player only counts the drop and the window it arrived at; on Windows
// it reads the block too.
class ProcessDropTest : public DropTest {
protected:
    void TearDown() override {
        StopPlayer();
        DropTest::TearDown();
    }
};

TEST_F(ProcessDropTest, ADropIntoAnotherProgramReachesItsInnerWindow) {
    PlayerOptions options;
    options.decoyFrameTitles = {"avs2"};
    options.decoyFramesHaveInner = true;
    ASSERT_TRUE(StartPlayer(options));
    PlayerWindows windows = CurrentPlayerWindows();
    Run(1, {file.c_str(), ""});
    EXPECT_TRUE(gHost.variableWrites.empty());
    ASSERT_TRUE(WaitForPlayerDrops(1, 10000)) << "the drop never reached the player";
    PlayerDrop drop;
    ASSERT_TRUE(GetPlayerDrop(-1, &drop));
    EXPECT_EQ(drop.window, windows.inner);
    EXPECT_NE(drop.handle, 0u);
    if (drop.read) {
        EXPECT_EQ(drop.fileCount, 1u);
        EXPECT_TRUE(WaitForPlayerLine("\"" + file + "\"", 5000)) << "the player read another name";
    }
    PumpMessages(200);
    EXPECT_EQ(PlayerDropCount(), 1);
}
