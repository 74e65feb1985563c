// vxavs tests: embedding the visualizer's inner window into host windows and giving it back. The
// stand-in player runs in a process of its own, as the real one does. Its thread applies the moves
// of its window when it gets to them: placements are waited for (bounded), then checked exactly.

#include <cstring>

#include "plugin_fixture.h"
#include "standin_player.h"
#include "visualizer_bound.h"

// Host windows of the test: their procedure records, for each resize, the size the inner window had
// when the message reached it.
struct HostWindowRecord {
    UINT message;
    SIZE innerSize;
};
static std::vector<HostWindowRecord> gHostWindowRecords;
static HWND gInner;

static SIZE OuterSize(HWND window) {
    RECT box = {};
    GetWindowRect(window, &box);
    return SIZE{box.right - box.left, box.bottom - box.top};
}

// Handles this thread's messages until the window sits in `parent` at x,y with the given outer size,
// or 10 s have passed.
static void WaitForPlacement(HWND window, HWND parent, int x, int y, SIZE size) {
    WaitUntil([=] {
        RECT box = {};
        GetWindowRect(window, &box);
        POINT origin = {box.left, box.top};
        ScreenToClient(parent, &origin);
        SIZE now = OuterSize(window);
        return GetParent(window) == parent && origin.x == x && origin.y == y && now.cx == size.cx && now.cy == size.cy;
    }, 10000, kWaitPumping, 20);
}

static LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SIZE || message == WM_USER + 206) gHostWindowRecords.push_back({message, OuterSize(gInner)});
    if (message == WM_USER + 206) return 0x5A5A;  // a result of the host's own, passed back unchanged
    return DefWindowProcA(window, message, wParam, lParam);
}

class EmbedTest : public PlugInTest {
protected:
    static void SetUpTestSuite() {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = HostWindowProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "vxavs test host window";
        RegisterClassA(&windowClass);
    }
    void SetUp() override {
        PlugInTest::SetUp();
        ASSERT_TRUE(StartPlayer(PlayerOptions()));
        windows = CurrentPlayerWindows();
        gInner = windows.inner;
        gHostWindowRecords.clear();
    }
    void TearDown() override {
        for (HWND window : hostWindows) DestroyWindow(window);
        PlugInTest::TearDown();
        StopPlayer();
    }

    HWND NewHostWindow(const char *objectName, int width, int height) {
        HWND window = CreateWindowExA(0, "vxavs test host window", objectName, WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                      500, 80, width, height, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        hostWindows.push_back(window);
        HostSetObjectWindow(objectName, window);
        return window;
    }

    // Every embedding and release here ought to succeed: an honest timeout is tried again, a fault fails
    // the test (see RunWithinTheBound).
    void Embed(const char *objectName, const char *mode = "true") {
        EXPECT_EQ(RunWithinTheBound([=] { Run(2, {objectName, mode}); }), "") << "mode \"" << mode << "\"";
    }

    // The inner window covers the host window from its client origin, with the host's outer size.
    void ExpectEmbeddedIn(HWND host) {
        WaitForPlacement(windows.inner, host, 0, 0, OuterSize(host));
        EXPECT_EQ(GetParent(windows.inner), host);
        RECT box;
        GetWindowRect(windows.inner, &box);
        POINT origin = {box.left, box.top};
        ScreenToClient(host, &origin);
        EXPECT_EQ(origin.x, 0);
        EXPECT_EQ(origin.y, 0);
        SIZE inner = OuterSize(windows.inner), outer = OuterSize(host);
        EXPECT_EQ(inner.cx, outer.cx);
        EXPECT_EQ(inner.cy, outer.cy);
    }

    // Back in the frame at 11,20, with the frame's outer width less 19 and height less 34.
    void ExpectInFrame() {
        SIZE frame = OuterSize(windows.frame);
        WaitForPlacement(windows.inner, windows.frame, 11, 20, SIZE{frame.cx - 19, frame.cy - 34});
        EXPECT_EQ(GetParent(windows.inner), windows.frame);
        RECT box;
        GetWindowRect(windows.inner, &box);
        POINT origin = {box.left, box.top};
        ScreenToClient(windows.frame, &origin);
        EXPECT_EQ(origin.x, 11);
        EXPECT_EQ(origin.y, 20);
        SIZE inner = OuterSize(windows.inner);
        EXPECT_EQ(inner.cx, frame.cx - 19);
        EXPECT_EQ(inner.cy, frame.cy - 34);
    }

    PlayerWindows windows;
    std::vector<HWND> hostWindows;
};

TEST_F(EmbedTest, EmbedsIntoTheHostWindowAndGivesItBack) {
    HWND host = NewHostWindow("Rectangle1", 420, 310);
    WNDPROC ownProc = reinterpret_cast<WNDPROC>(GetWindowLongA(host, GWL_WNDPROC));
    Embed("Rectangle1");
    EXPECT_TRUE(gHost.variableWrites.empty()) << "a successful embedding writes nothing";
    ASSERT_EQ(gHost.objectQueries.size(), 1u);
    EXPECT_EQ(gHost.objectQueries[0].requestCode, 7u);
    EXPECT_EQ(gHost.objectQueries[0].name, "Rectangle1");
    // Only the first four bytes of the exchange block carry anything.
    EXPECT_EQ(std::vector<uint8_t>(gHost.lastExchangeBlock + 4, gHost.lastExchangeBlock + 64), std::vector<uint8_t>(60, 0));
    ExpectEmbeddedIn(host);

    Embed("Rectangle1", "false");
    EXPECT_TRUE(gHost.variableWrites.empty());
    ExpectInFrame();
    EXPECT_EQ(reinterpret_cast<WNDPROC>(GetWindowLongA(host, GWL_WNDPROC)), ownProc);
    // The host window's messages no longer reach the plug-in.
    SIZE before = OuterSize(windows.inner);
    SetWindowPos(host, nullptr, 0, 0, 200, 150, SWP_NOMOVE | SWP_NOZORDER);
    PumpMessages(300);  // time for a move left to the player's thread to show
    EXPECT_EQ(OuterSize(windows.inner).cx, before.cx);
}

// The size is applied by the player's thread, without the host waiting for it: it is checked once applied.
TEST_F(EmbedTest, TheInnerWindowFollowsEveryResize) {
    HWND host = NewHostWindow("Panel", 400, 300);
    Embed("Panel");
    ExpectEmbeddedIn(host);
    gHostWindowRecords.clear();
    SetWindowPos(host, nullptr, 0, 0, 333, 222, SWP_NOMOVE | SWP_NOZORDER);
    ASSERT_FALSE(gHostWindowRecords.empty());
    EXPECT_EQ(gHostWindowRecords.back().message, static_cast<UINT>(WM_SIZE));
    ExpectEmbeddedIn(host);
    EXPECT_EQ(OuterSize(windows.inner).cx, 333);
    EXPECT_EQ(OuterSize(windows.inner).cy, 222);

    // The host's resize message sizes it too, from the window's own rectangle, whatever its parameters.
    MoveWindow(windows.inner, 0, 0, 10, 10, FALSE);
    gHostWindowRecords.clear();
    EXPECT_EQ(SendMessageA(host, WM_USER + 206, 1, 2), 0x5A5A);
    ASSERT_EQ(gHostWindowRecords.size(), 1u);
    ExpectEmbeddedIn(host);
    EXPECT_EQ(OuterSize(windows.inner).cx, 333);
    EXPECT_EQ(OuterSize(windows.inner).cy, 222);
}

TEST_F(EmbedTest, ModesAreMatchedWholeLetterCaseAside) {
    HWND host = NewHostWindow("Panel", 400, 300);
    for (const char *ignored : {"yes", " true", "true ", "1", "", "truefalse"}) {
        Embed("Panel", ignored);
        EXPECT_EQ(GetParent(windows.inner), windows.frame) << "mode \"" << ignored << "\"";
    }
    EXPECT_TRUE(gHost.variableWrites.empty());
    EXPECT_TRUE(gHost.objectQueries.empty());
    for (const char *embed : {"TRUE", "True", "tRuE"}) {
        Embed("Panel", embed);
        EXPECT_EQ(GetParent(windows.inner), host) << embed;
        Embed("Panel", embed == std::string("TRUE") ? "FALSE" : "False");
        EXPECT_EQ(GetParent(windows.inner), windows.frame) << embed;
    }
}

TEST_F(EmbedTest, WhileEmbeddedOnlyFalseGivesTheWindowBack) {
    HWND host = NewHostWindow("Panel", 400, 300);
    Embed("Panel");
    ASSERT_EQ(GetParent(windows.inner), host);
    HostClearRecords();
    // Near misses of "false" too: a mode that is trimmed, or any unknown mode taken as a release, would
    // give the window back here.
    for (const char *ignored : {"yes", " true", "true ", "1", "", "truefalse", " false", "false ", "fals", "false\t",
                                "0", "no"}) {
        Embed("Panel", ignored);
        EXPECT_EQ(GetParent(windows.inner), host) << "mode \"" << ignored << "\"";
    }
    EXPECT_TRUE(gHost.variableWrites.empty());
    EXPECT_TRUE(gHost.objectQueries.empty()) << "an ignored mode asks the host nothing";
    // A name the host knows no window for is reported, and what is embedded stays.
    Embed("NoSuchObject");
    EXPECT_EQ(ResultWrites(), std::vector<std::string>{"ERROR4"});
    EXPECT_EQ(GetParent(windows.inner), host);
    Embed("Panel", "false");
    EXPECT_EQ(GetParent(windows.inner), windows.frame);
}

TEST_F(EmbedTest, FailuresAreReportedAndEmbedNothing) {
    NewHostWindow("Panel", 400, 300);
    // No host window for the name: the host answers "0".
    Embed("NoSuchObject");
    EXPECT_EQ(ResultWrites(), std::vector<std::string>{"ERROR4"});
    EXPECT_EQ(GetParent(windows.inner), windows.frame);

    StopPlayer();
    HostClearRecords();
    Embed("Panel");
    EXPECT_EQ(ResultWrites(), std::vector<std::string>{"ERROR1"});
    EXPECT_TRUE(gHost.objectQueries.empty()) << "the host is asked only once the visualizer is found";

    PlayerOptions noInner;
    noInner.inner = kInnerNone;
    ASSERT_TRUE(StartPlayer(noInner));
    HostClearRecords();
    Embed("Panel");
    EXPECT_EQ(ResultWrites(), std::vector<std::string>{"ERROR6"});
    EXPECT_TRUE(gHost.objectQueries.empty());
}

TEST_F(EmbedTest, ReleasingWhatIsNotEmbeddedDoesNothing) {
    NewHostWindow("Panel", 400, 300);
    MoveWindow(windows.inner, 3, 4, 50, 60, FALSE);
    Embed("Panel", "false");
    gHost.entry.message(2, 0);
    RECT box;
    GetWindowRect(windows.inner, &box);
    POINT origin = {box.left, box.top};
    ScreenToClient(windows.frame, &origin);
    EXPECT_EQ(origin.x, 3);
    EXPECT_EQ(OuterSize(windows.inner).cx, 50);
    EXPECT_TRUE(gHost.variableWrites.empty());
}

TEST_F(EmbedTest, HostMessageTwoGivesTheWindowBackAndNoOtherDoes) {
    HWND host = NewHostWindow("Panel", 400, 300);
    Embed("Panel");
    for (int message : {1, 3, 5, 10, -2}) {
        gHost.entry.message(message, 2);
        EXPECT_EQ(GetParent(windows.inner), host) << message;
    }
    // Message 2 writes nothing: it gave up where the window is still in the host window.
    EXPECT_EQ(RunWithinTheBound([] { gHost.entry.message(2, 0); }, [&] { return GetParent(windows.inner) == host; }), "");
    ExpectInFrame();
}

TEST_F(EmbedTest, ANewRequestAfterAReleaseMayNameAnotherWindow) {
    HWND first = NewHostWindow("Page1", 400, 300);
    HWND second = NewHostWindow("Page2", 250, 180);
    Embed("Page1");
    ExpectEmbeddedIn(first);
    Embed("Page1", "false");
    Embed("Page2");
    ExpectEmbeddedIn(second);
    EXPECT_EQ(gHost.objectQueries.size(), 2u);
}

TEST_F(EmbedTest, EmbeddingAgainMovesTheWindowToTheNamedHostWindow) {
    HWND first = NewHostWindow("Page1", 400, 300);
    WNDPROC firstProc = reinterpret_cast<WNDPROC>(GetWindowLongA(first, GWL_WNDPROC));
    HWND second = NewHostWindow("Page2", 250, 180);
    Embed("Page1");
    ExpectEmbeddedIn(first);
    // The same window again: nothing is moved, and the window keeps a single subclass.
    MoveWindow(windows.inner, 0, 0, 40, 40, FALSE);
    Embed("Page1");
    PumpMessages(300);  // time for a move left to the player's thread to show
    EXPECT_EQ(OuterSize(windows.inner).cx, 40);
    // Another window: the first gets its own procedure back and the inner window moves over.
    Embed("Page2");
    ExpectEmbeddedIn(second);
    EXPECT_EQ(reinterpret_cast<WNDPROC>(GetWindowLongA(first, GWL_WNDPROC)), firstProc);
    // Releasing restores the second window and puts the inner window back in its frame.
    Embed("Page2", "false");
    ExpectInFrame();
    EXPECT_EQ(reinterpret_cast<WNDPROC>(GetWindowLongA(second, GWL_WNDPROC)), firstProc);
    EXPECT_TRUE(gHost.variableWrites.empty());
}

TEST_F(EmbedTest, ASuccessfulEmbeddingKeepsAnEarlierCode) {
    NewHostWindow("Panel", 400, 300);
    Embed("Missing");
    Embed("Panel");
    EXPECT_EQ(HostVariable("vxAVSDrop"), "ERROR4");
    EXPECT_EQ(ResultWrites(), std::vector<std::string>{"ERROR4"});
}

TEST_F(EmbedTest, ClosingTheHostWindowGivesThePlayersWindowBackFirst) {
    HWND host = NewHostWindow("Panel", 400, 300);
    Embed("Panel");
    ExpectEmbeddedIn(host);
    DestroyWindow(host);
    hostWindows.clear();
    ASSERT_TRUE(IsWindow(windows.inner)) << "the player's window died with the host window";
    ExpectInFrame();
    // Nothing is embedded any more: a new request embeds afresh.
    HWND next = NewHostWindow("Panel", 300, 200);
    Embed("Panel");
    ExpectEmbeddedIn(next);
}

TEST_F(EmbedTest, UnloadingTheLibraryWhileEmbeddedKeepsItUntilTheHostWindowCloses) {
    HWND host = NewHostWindow("Panel", 400, 300);
    Embed("Panel");
    ExpectEmbeddedIn(host);
    HostUnloadPlugIn();
    ASSERT_NE(GetModuleHandleA("vxavs.dll"), nullptr) << "unloaded under a window that still calls it";
    // The embedding goes on without the host's hold on the library: resizes are still followed.
    gHostWindowRecords.clear();
    SetWindowPos(host, nullptr, 0, 0, 280, 190, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(SendMessageA(host, WM_USER + 206, 0, 0), 0x5A5A);
    EXPECT_EQ(gHostWindowRecords.size(), 2u);
    ExpectEmbeddedIn(host);
    // Closing the window gives the player's window back, and then the library goes.
    DestroyWindow(host);
    hostWindows.clear();
    ASSERT_TRUE(IsWindow(windows.inner)) << "the player's window died with the host window";
    ExpectInFrame();
    EXPECT_TRUE(WaitUntil([] { return GetModuleHandleA("vxavs.dll") == nullptr; }, 10000, kWaitPumping))
        << "the library stayed loaded after its last window procedure left";
    ASSERT_TRUE(HostLoadPlugIn(FileBesideProgram("vxavs.dll").c_str()));
    HostHandshake();
}

TEST_F(EmbedTest, ObjectQueryAnswersAreReadAsNumbers) {
    HWND host = NewHostWindow("Panel", 400, 300);
    uintptr_t handle = reinterpret_cast<uintptr_t>(host);
    ASSERT_EQ(handle % 2, 0u) << "the cases below round to an even handle";
    char hex[32];
    sprintf(hex, "&H%lX", static_cast<unsigned long>(handle));
    struct Case {
        std::string answer;
        bool embedsIntoHost;
        bool error4;
    };
    const Case cases[] = {
        {std::to_string(handle), true, false},
        {"  " + std::to_string(handle) + "xyz", true, false},
        {hex, true, false},
        {std::to_string(handle) + ".5", true, false},      // a tie goes to the even neighbour
        {std::to_string(handle - 1) + ".5", true, false},  // from below too
        {std::to_string(handle) + ".4999", true, false},
        {"", false, true},
        {"Panel", false, true},
        {"0.4", false, true},
        {"4294967296", false, true},  // out of range: -2147483648, no window
        {std::string(33554432, ' ') + std::to_string(handle), false, true},  // read no further than 32 MiB
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("answer \"" + c.answer.substr(0, 40) + "\"");
        HostSetObjectAnswer("Panel", c.answer);
        HostClearRecords();
        Embed("Panel");
        EXPECT_EQ(GetParent(windows.inner), c.embedsIntoHost ? host : windows.frame);
        EXPECT_EQ(ResultWrites(), c.error4 ? std::vector<std::string>{"ERROR4"} : std::vector<std::string>{});
        Embed("Panel", "false");
        ASSERT_EQ(GetParent(windows.inner), windows.frame);
    }
}

TEST_F(EmbedTest, AHostThatLeavesTheExchangeBlockAloneHasTheNameRead) {
    struct Case {
        const char *name;
        bool error4;
    };
    gHost.answerMode = kLeaveBlockUnchanged;
    // 42 is no window of the publication either.
    for (Case c : {Case{"Rectangle1", true}, Case{"42abc", true}}) {
        HostClearRecords();
        Embed(c.name);
        EXPECT_EQ(ResultWrites(), c.error4 ? std::vector<std::string>{"ERROR4"} : std::vector<std::string>{}) << c.name;
        Embed(c.name, "false");
    }
    gHost.answerMode = kAnswerNullAddress;
    HostClearRecords();
    Embed("Panel");
    EXPECT_EQ(ResultWrites(), std::vector<std::string>{"ERROR4"});
}
