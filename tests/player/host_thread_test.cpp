// vxavs tests: the publication's thread never waits on the visualizer's. The calls that do (the sign
// of life asked of it, SetParent, every move of its window) are made by the plug-in's helper thread;
// the host window's chain of procedures stays whole; a host window that closes while an action waits
// is seen. The stand-in player runs in a process of its own.

#include <algorithm>

#include "embed_fixture.h"
#include "plugin_faults.h"

std::vector<HostMessage> gHostMessages;

// Far longer than the plug-in may wait.
static const DWORD kHangMs = 10000;
// What an action may take on the host's thread: the plug-in's 2 s bound and a margin for a slow machine.
static const DWORD kActionBoundMs = 2500;

// The procedure a test installs over the plug-in's, as another plug-in or the host itself would.
static WNDPROC gOverProcNext;
static int gOverProcMessages;
static LRESULT CALLBACK OverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ++gOverProcMessages;
    return CallWindowProcA(gOverProcNext, window, message, wParam, lParam);
}

// The host window's own procedure counts the texts it is given.
static int gOwnTextMessages;
static LRESULT CALLBACK CountingHostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETTEXT) ++gOwnTextMessages;
    return DefWindowProcA(window, message, wParam, lParam);
}

class HostThreadTest : public EmbedFixture {
protected:
    static void SetUpTestSuite() {
        EmbedFixture::SetUpTestSuite();
        WNDCLASSA counting = {};
        counting.lpfnWndProc = CountingHostProc;
        counting.hInstance = GetModuleHandleA(nullptr);
        counting.lpszClassName = "vxavs counting host";
        RegisterClassA(&counting);
    }

    HWND NewCountingHostWindow(const char *objectName) {
        HWND window = CreateWindowExA(0, "vxavs counting host", objectName, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 500, 80,
                                      400, 300, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        hostWindows.push_back(window);
        HostSetObjectWindow(objectName, window);
        return window;
    }

    DWORD TimedEmbed(const char *mode) {
        DWORD start = GetTickCount();
        EmbedOnce("Panel", mode);
        return GetTickCount() - start;
    }

    // Every recorded call on the inner window, with the thread that made it.
    std::vector<ImportCall> CallsOnInnerWindow(const char *function) {
        std::vector<ImportCall> calls;
        for (const ImportCall &call : HostImportCalls(function))
            if (call.words.at(0) == reinterpret_cast<uintptr_t>(windows.inner)) calls.push_back(call);
        return calls;
    }
};

TEST_F(HostThreadTest, CallsThatWaitForTheVisualizerNeverRunOnTheHostsThread) {
    const char *const waiting[] = {"SendMessageTimeoutA", "SetParent", "SetWindowPos", "MoveWindow"};
    // Recorded, not refused. MoveWindow is watched only where the plug-in imports it.
    for (const char *function : waiting)
        ASSERT_TRUE(HostRefuseImport(function, 0, 0) || std::string(function) == "MoveWindow") << function;
    HWND host = NewHostWindow("Panel", 400, 300);
    Embed("Panel");
    ASSERT_EQ(WaitForPlacement(windows.inner, EmbeddedPlacement(host)), EmbeddedPlacement(host));
    SetWindowPos(host, nullptr, 0, 0, 360, 280, SWP_NOMOVE | SWP_NOZORDER);
    SendMessageA(host, WM_USER + 206, 0, 0);
    EXPECT_EQ(WaitForPlacement(windows.inner, EmbeddedPlacement(host)), EmbeddedPlacement(host));
    Embed("Panel", "false");
    EXPECT_EQ(WaitForPlacement(windows.inner, FramePlacement(windows.frame)), FramePlacement(windows.frame));
    EXPECT_TRUE(gHost.variableWrites.empty());

    size_t made = 0;
    for (const char *function : waiting) {
        for (const ImportCall &call : CallsOnInnerWindow(function)) {
            ++made;
            EXPECT_NE(call.thread, GetCurrentThreadId()) << function << " ran on the host window's thread";
        }
    }
    EXPECT_GE(CallsOnInnerWindow("SetParent").size(), 2u);
    EXPECT_GE(made, 4u) << "the calls were not seen at all";
}

TEST_F(HostThreadTest, AVisualizerThatStopsInsideSetParentHoldsNeitherAnEmbeddingNorARelease) {
    int threadsBefore = ProcessThreadCount();
    for (bool release : {false, true}) {
        SCOPED_TRACE(release ? "release" : "embedding");
        ASSERT_TRUE(StartPlayer(PlayerOptions()));
        windows = CurrentPlayerWindows();
        HWND host = NewHostWindow("Panel", 400, 300);
        LONG ownProc = Procedure(host);
        if (release) {
            Embed("Panel");
            ASSERT_EQ(WaitForPlacement(windows.inner, EmbeddedPlacement(host)), EmbeddedPlacement(host));
        }
        HostClearRecords();
        // It answers the question whether it runs, and stops inside the re-parenting that follows.
        HangOnNext(WM_WINDOWPOSCHANGING, kHangMs);
        DWORD elapsed = TimedEmbed(release ? "false" : "true");
        EXPECT_LT(elapsed, kActionBoundMs) << "the action waited for the visualizer";
        EXPECT_EQ(ResultWrites(), std::vector<std::string>{"ERROR5"});
        EXPECT_TRUE(WaitForPlayerLine("hanging", 0)) << "the visualizer was never made to stop";
        // The helper is the one held there, and the only thread of the plug-in's.
        EXPECT_EQ(ThreadsStartedIn(gHost.module), 1);
        // Held meanwhile: another embedding or release answers at once, without acting.
        HostClearRecords();
        elapsed = TimedEmbed(release ? "false" : "true");
        EXPECT_LT(elapsed, 1000u);
        EXPECT_EQ(ResultWrites(), std::vector<std::string>{"ERROR5"});

        // Awake again, the job ends in one consistent place: an embedding nobody waited for is undone,
        // a release is finished, and the host window gets its own procedure back either way.
        WaitUntilAwake(kHangMs);
        EXPECT_EQ(WaitForPlacement(windows.inner, FramePlacement(windows.frame)), FramePlacement(windows.frame));
        EXPECT_TRUE(WaitUntil([&] { return Procedure(host) == ownProc; }, 5000, kWaitPumping));
        EXPECT_TRUE(WaitUntil([] { return ThreadsStartedIn(gHost.module) == 0; }, 10000, kWaitPumping))
            << "the helper thread did not end: " << ThreadsStartedIn(gHost.module) << " of the plug-in's threads, "
            << ProcessThreadCount() << " in all, " << threadsBefore << " before";
        ExpectEmbedsAndReleasesAsUsual("Panel", host);
        DestroyWindow(host);
    }
    // Nothing outstanding: the library goes with the host's FreeLibrary.
    HostUnloadPlugIn();
    EXPECT_EQ(GetModuleHandleA("vxavs.dll"), nullptr);
    ASSERT_TRUE(HostLoadPlugIn(FileBesideProgram("vxavs.dll").c_str()));
    HostHandshake();
}

TEST_F(HostThreadTest, ResizesOfAHungEmbeddedVisualizerNeverWaitForIt) {
    HWND host = NewHostWindow("Panel", 400, 300);
    Embed("Panel");
    ASSERT_EQ(WaitForPlacement(windows.inner, EmbeddedPlacement(host)), EmbeddedPlacement(host));
    ASSERT_TRUE(HostRefuseImport("SetWindowPos", 0, 0));
    HostRefuseImport("MoveWindow", 0, 0);
    ASSERT_TRUE(PlayerHangNow(kHangMs));
    DWORD slowest = 0;
    for (int i = 0; i < 20; ++i) {
        DWORD start = GetTickCount();
        SetWindowPos(host, nullptr, 0, 0, 300 + 5 * i, 200 + 3 * i, SWP_NOMOVE | SWP_NOZORDER);
        slowest = std::max(slowest, GetTickCount() - start);
    }
    // Bounded by what it must not do: no move of the inner window from the host's thread. The time
    // only guards against a wait for the hang itself.
    for (const ImportCall &call : CallsOnInnerWindow(nullptr))
        EXPECT_NE(call.thread, GetCurrentThreadId()) << call.function << " ran on the host window's thread";
    EXPECT_LT(slowest, 1000u) << "a resize waited for the hung visualizer";
    WaitUntilAwake(kHangMs);
    EXPECT_EQ(WaitForPlacement(windows.inner, EmbeddedPlacement(host)), EmbeddedPlacement(host));
}

TEST_F(HostThreadTest, AProcedureInstalledOverOursIsNeverCutOutOfTheChain) {
    HWND host = NewCountingHostWindow("Panel");
    LONG ownProc = Procedure(host);
    Embed("Panel");
    ASSERT_EQ(WaitForPlacement(windows.inner, EmbeddedPlacement(host)), EmbeddedPlacement(host));
    gOverProcNext = reinterpret_cast<WNDPROC>(SetWindowLongA(host, GWL_WNDPROC, reinterpret_cast<LONG>(OverProc)));
    Embed("Panel", "false");
    EXPECT_TRUE(gHost.variableWrites.empty());
    EXPECT_EQ(WaitForPlacement(windows.inner, FramePlacement(windows.frame)), FramePlacement(windows.frame));
    EXPECT_EQ(Procedure(host), reinterpret_cast<LONG>(OverProc)) << "the procedure installed over ours was cut out";

    // Ours passes messages on and moves nothing any more.
    SetWindowPos(host, nullptr, 0, 0, 350, 250, SWP_NOMOVE | SWP_NOZORDER);
    PumpMessages(300);
    EXPECT_EQ(PlacementOf(windows.inner), FramePlacement(windows.frame));
    // The other procedure leaves, putting back what it saved (ours): the host's own still gets every message.
    SetWindowLongA(host, GWL_WNDPROC, reinterpret_cast<LONG>(gOverProcNext));
    gOwnTextMessages = 0;
    SendMessageA(host, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("after"));
    EXPECT_EQ(gOwnTextMessages, 1);
    // Embedding again in that window uses our procedure where it is: one of ours in the chain, not two.
    Embed("Panel");
    EXPECT_EQ(WaitForPlacement(windows.inner, EmbeddedPlacement(host)), EmbeddedPlacement(host));
    gOwnTextMessages = 0;
    SendMessageA(host, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("again"));
    EXPECT_EQ(gOwnTextMessages, 1);
    Embed("Panel", "false");
    EXPECT_EQ(WaitForPlacement(windows.inner, FramePlacement(windows.frame)), FramePlacement(windows.frame));
    EXPECT_EQ(Procedure(host), ownProc);
}

TEST_F(HostThreadTest, UnloadingWhileAnotherProcedureSitsOverOursRunsNoUnloadedCode) {
    void *faults = WatchPlugInFaults();
    ASSERT_NE(faults, nullptr);
    HWND host = NewCountingHostWindow("Panel");
    Embed("Panel");
    ASSERT_EQ(WaitForPlacement(windows.inner, EmbeddedPlacement(host)), EmbeddedPlacement(host));
    gOverProcNext = reinterpret_cast<WNDPROC>(SetWindowLongA(host, GWL_WNDPROC, reinterpret_cast<LONG>(OverProc)));
    HostUnloadPlugIn();
    gOwnTextMessages = 0;
    SendMessageA(host, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("unloaded"));
    SetWindowPos(host, nullptr, 0, 0, 320, 240, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(gPlugInFaults, 0) << "a message ran where the plug-in's code used to be";
    EXPECT_EQ(gOwnTextMessages, 1);
    // The embedding lives on, and the host window closing still gives the player's window back.
    EXPECT_EQ(WaitForPlacement(windows.inner, EmbeddedPlacement(host)), EmbeddedPlacement(host));
    DestroyWindow(host);
    ASSERT_TRUE(IsWindow(windows.inner)) << "the player's window died with the host window";
    EXPECT_EQ(WaitForPlacement(windows.inner, FramePlacement(windows.frame)), FramePlacement(windows.frame));
    EXPECT_EQ(gPlugInFaults, 0);
    RemoveVectoredExceptionHandler(faults);
    EXPECT_TRUE(WaitUntil([] { return GetModuleHandleA("vxavs.dll") == nullptr; }, 10000, kWaitPumping))
        << "the library stayed loaded after its last window procedure left";
    ASSERT_TRUE(HostLoadPlugIn(FileBesideProgram("vxavs.dll").c_str()));
    HostHandshake();
}

// Sends WM_CLOSE to a window from a thread of its own, a while after it starts.
struct CloseLater {
    HWND window;
    DWORD afterMs;
};
static DWORD WINAPI CloseWindowLater(void *parameter) {
    auto *close = static_cast<CloseLater *>(parameter);
    Sleep(close->afterMs);
    SendMessageA(close->window, WM_CLOSE, 0, 0);
    return 0;
}

TEST_F(HostThreadTest, AHostWindowClosedWhileTheActionWaitsIsError4AndNothingIsHalfDone) {
    HWND host = NewHostWindow("Panel", 400, 300);
    Placement before = PlacementOf(windows.inner);
    // The visualizer takes its time answering whether it runs; meanwhile the host window is closed.
    HangOnNext(WM_NULL, 1500);
    CloseLater close = {host, 300};
    HANDLE closer = CreateThread(nullptr, 0, CloseWindowLater, &close, 0, nullptr);
    ASSERT_NE(closer, nullptr);
    Embed("Panel");
    WaitHandlingSentMessages(closer, 10000);
    CloseHandle(closer);
    EXPECT_FALSE(IsWindow(host));
    EXPECT_EQ(ResultWrites(), std::vector<std::string>{"ERROR4"});
    WaitUntilAwake(kHangMs);
    ASSERT_TRUE(IsWindow(windows.inner)) << "the player's window died with the host window";
    PumpMessages(300);
    EXPECT_EQ(PlacementOf(windows.inner), before) << "the inner window moved";
    // Nothing is left embedded: a new window embeds afresh.
    HostClearRecords();
    HWND next = NewHostWindow("Panel", 300, 200);
    Embed("Panel");
    EXPECT_TRUE(gHost.variableWrites.empty());
    EXPECT_EQ(WaitForPlacement(windows.inner, EmbeddedPlacement(next)), EmbeddedPlacement(next));
}
