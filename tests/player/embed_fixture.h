// vxavs tests: host windows to embed the visualizer into, the stand-in player in a process of its own,
// and the placements the inner window must reach. Moves of the player's window are applied by its own
// thread when it gets to them, so placements are waited for (bounded), then checked exactly.
#pragma once

#include "plugin_fixture.h"
#include "standin_player.h"
#include "visualizer_bound.h"

inline SIZE OuterSize(HWND window) {
    RECT box = {};
    GetWindowRect(window, &box);
    return SIZE{box.right - box.left, box.bottom - box.top};
}

// Where a window sits: its parent, its origin in the parent's client area, its outer size.
struct Placement {
    HWND parent;
    POINT origin;
    SIZE size;
};
inline bool operator==(const Placement &a, const Placement &b) {
    return a.parent == b.parent && a.origin.x == b.origin.x && a.origin.y == b.origin.y && a.size.cx == b.size.cx &&
           a.size.cy == b.size.cy;
}
inline std::ostream &operator<<(std::ostream &out, const Placement &p) {
    return out << "in " << p.parent << " at " << p.origin.x << "," << p.origin.y << ", " << p.size.cx << " x "
               << p.size.cy;
}

inline Placement PlacementOf(HWND window) {
    Placement placement = {GetParent(window), {0, 0}, OuterSize(window)};
    RECT box = {};
    GetWindowRect(window, &box);
    placement.origin = POINT{box.left, box.top};
    ScreenToClient(placement.parent, &placement.origin);
    return placement;
}

// Embedded: from the host window's client origin, with the host window's outer size.
inline Placement EmbeddedPlacement(HWND host) { return Placement{host, {0, 0}, OuterSize(host)}; }
// In the frame: at 11,20, the frame's outer width less 19 and height less 34.
inline Placement FramePlacement(HWND frame) {
    SIZE outer = OuterSize(frame);
    return Placement{frame, {11, 20}, {outer.cx - 19, outer.cy - 34}};
}

// Handles this thread's messages until the window is placed so, or the time is up; its placement then.
inline Placement WaitForPlacement(HWND window, const Placement &expected, DWORD timeoutMs = 10000) {
    Placement now;
    WaitUntil([&] { return (now = PlacementOf(window)) == expected; }, timeoutMs, kWaitPumping, 20);
    return now;
}

// Host windows of the tests record the messages the plug-in must pass on.
struct HostMessage {
    HWND window;
    UINT message;
    WPARAM wParam;
};
extern std::vector<HostMessage> gHostMessages;

class EmbedFixture : public PlugInTest {
protected:
    static LRESULT CALLBACK HostProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_SIZE || message == WM_CHAR || message == WM_USER + 206)
            gHostMessages.push_back({window, message, wParam});
        return DefWindowProcA(window, message, wParam, lParam);
    }
    static LRESULT CALLBACK HostProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_SIZE || message == WM_CHAR || message == WM_USER + 206)
            gHostMessages.push_back({window, message, wParam});
        return DefWindowProcW(window, message, wParam, lParam);
    }
    static void SetUpTestSuite() {
        WNDCLASSA ansi = {};
        ansi.lpfnWndProc = HostProcA;
        ansi.hInstance = GetModuleHandleA(nullptr);
        ansi.lpszClassName = "vxavs outcome host";
        RegisterClassA(&ansi);
        WNDCLASSW wide = {};
        wide.lpfnWndProc = HostProcW;
        wide.hInstance = GetModuleHandleA(nullptr);
        wide.lpszClassName = L"vxavs outcome host W";
        RegisterClassW(&wide);
    }
    void SetUp() override {
        PlugInTest::SetUp();
        PlayerStart playerStart;
        playerStart.lifetimeSeconds = 120;
        ASSERT_TRUE(StartPlayer(PlayerOptions(), playerStart));
        windows = CurrentPlayerWindows();
        gHostMessages.clear();
    }
    void TearDown() override {
        for (HWND window : hostWindows)
            if (IsWindow(window)) DestroyWindow(window);
        PlugInTest::TearDown();
        StopPlayer();
    }

    HWND NewHostWindow(const char *objectName, int width, int height, bool unicode = false) {
        HWND window = unicode ? CreateWindowExW(0, L"vxavs outcome host W", L"", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 500, 80,
                                                width, height, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr)
                              : CreateWindowExA(0, "vxavs outcome host", objectName, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 500,
                                                80, width, height, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        hostWindows.push_back(window);
        HostSetObjectWindow(objectName, window);
        return window;
    }

    // An embedding or release that needs the visualizer to answer within the bound: an honest timeout is
    // tried again, a fault fails the test (see RunWithinTheBound). `gaveUp` for one that writes nothing.
    static void WithinTheBound(const std::function<void()> &action, const std::function<bool()> &gaveUp = nullptr) {
        EXPECT_EQ(RunWithinTheBound(action, gaveUp), "") << "an embedding or release";
    }
    void Embed(const char *objectName, const char *mode = "true") {
        WithinTheBound([=] { EmbedOnce(objectName, mode); });
    }
    // Once, whatever it writes: for a visualizer made to miss the bound, or Windows made to say it did.
    static void EmbedOnce(const char *objectName, const char *mode = "true") { Run(2, {objectName, mode}); }
    // Embeds into the named host window and waits until the player's thread has placed the inner window
    // there; false (and the placement reported) when it does not get there.
    bool EmbedInto(const char *objectName, HWND host) {
        Embed(objectName);
        Placement now = WaitForPlacement(windows.inner, EmbeddedPlacement(host));
        EXPECT_EQ(now, EmbeddedPlacement(host));
        return now == EmbeddedPlacement(host);
    }
    // A new player in place of the one running, its windows read again.
    bool RestartPlayer() {
        if (!StartPlayer(PlayerOptions())) return false;
        windows = CurrentPlayerWindows();
        return true;
    }
    // The same reading before and after, so that any change of procedure shows.
    static LONG Procedure(HWND window) { return GetWindowLongA(window, GWL_WNDPROC); }

    // The player's thread sleeps ms without reading its queue at the next message of that number its
    // windows get (WM_NULL: while the plug-in asks whether it runs).
    void HangOnNext(UINT message, DWORD ms) {
        PlayerBehaviour behaviour;
        behaviour.kind = kHang;
        behaviour.ms = ms;
        behaviour.onMessage = true;
        behaviour.trigger = message;
        ASSERT_TRUE(PlayerSetBehaviour(behaviour));
    }
    // Awake again (or never hung), the visualizer embeds into the host window and goes back to its frame
    // as usual, with nothing written.
    void ExpectEmbedsAndReleasesAsUsual(const char *objectName, HWND host) {
        HostClearRecords();
        Embed(objectName);
        EXPECT_TRUE(gHost.variableWrites.empty());
        EXPECT_EQ(WaitForPlacement(windows.inner, EmbeddedPlacement(host)), EmbeddedPlacement(host));
        Embed(objectName, "false");
        EXPECT_EQ(WaitForPlacement(windows.inner, FramePlacement(windows.frame)), FramePlacement(windows.frame));
    }
    // Ends the player's hang, once the test has seen what happens while it lasts, and waits until it
    // answers again (it may never have slept, for a plug-in that did not ask), as its lines tell: its
    // control window shares the sleeping thread.
    void WaitUntilAwake(DWORD hangMs) {
        if (!WaitForPlayerLine("hanging", 0)) return;
        PlayerWakeNow();
        WaitUntil([] { return WaitForPlayerLine("awake after hanging", 0); }, hangMs + 20000, kWaitPumping, 100);
        // Awake is not yet answering: the system counts the thread hung until it reads its queue again.
        WaitUntil([this] {
            DWORD_PTR unused;
            return SendMessageTimeoutA(windows.inner, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 500, &unused) != 0;
        }, 10000, kWaitPumping, 100);
    }

    PlayerWindows windows;
    std::vector<HWND> hostWindows;
};
