// vxavs test bed: thread mode: the stand-in player on a thread of the test's own process, where drop
// blocks can be read back, and the wait that lets a test's windows answer while a player ends.

#include "player_internal.h"

#include <algorithm>
#include <cstring>

static HANDLE hPlayerThread;
static HANDLE evPlayerReady;
static bool fPlayerThreadReady;
static PlayerOptions optThread;

static DWORD WINAPI PlayerThreadProc(void *desktop) {
    // On the starter's desktop, which need not be the process's first one: the plug-in looks there.
    SetThreadDesktop(static_cast<HDESK>(desktop));
    fPlayerThreadReady = CreatePlayerWindows(optThread);
    bool ready = fPlayerThreadReady;
    SetEvent(evPlayerReady);
    if (ready) {
        PlayerLog("%s", PlayerReadyLine().c_str() + strlen("player: "));
        RunPlayerLoop();
        DestroyPlayerWindows();
    }
    return 0;
}

bool WaitHandlingSentMessages(HANDLE object, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        DWORD elapsed = GetTickCount() - start;
        if (timeoutMs != INFINITE && elapsed >= timeoutMs) return WaitForSingleObject(object, 0) == WAIT_OBJECT_0;
        DWORD slice = timeoutMs == INFINITE ? 50 : std::min<DWORD>(50, timeoutMs - elapsed);
        DWORD result = MsgWaitForMultipleObjects(1, &object, FALSE, slice, QS_SENDMESSAGE);
        if (result == WAIT_OBJECT_0) return true;
        if (result == WAIT_FAILED) return false;
    }
}

bool StartPlayerThread(const PlayerOptions &options) {
    StopPlayerThread();
    optThread = options;
    evPlayerReady = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (evPlayerReady == nullptr) return false;
    fPlayerThreadReady = false;
    DWORD threadId;
    hPlayerThread = CreateThread(nullptr, 0, PlayerThreadProc, GetThreadDesktop(GetCurrentThreadId()), 0, &threadId);
    if (hPlayerThread != nullptr) WaitForSingleObject(evPlayerReady, INFINITE);
    CloseHandle(evPlayerReady);
    evPlayerReady = nullptr;
    if (hPlayerThread == nullptr) return false;
    if (!fPlayerThreadReady) {
        WaitForSingleObject(hPlayerThread, INFINITE);
        CloseHandle(hPlayerThread);
        hPlayerThread = nullptr;
        return false;
    }
    return true;
}

void StopPlayerThread() {
    if (hPlayerThread == nullptr) return;
    // The control window is the player's own and lives as long as its loop; a failed post means the loop is over.
    HWND control = PlayerWindowsMade().control;
    if (IsWindow(control)) PostMessageA(control, kControlQuit, 0, 0);
    WaitHandlingSentMessages(hPlayerThread, INFINITE);
    CloseHandle(hPlayerThread);
    hPlayerThread = nullptr;
}

// Asks the player thread's control window, answering calls to this thread meanwhile; false when the
// player does not answer within 10 s.
static bool AskPlayerThread(UINT request, WPARAM wParam, LRESULT *answer) {
    HWND control = PlayerWindowsMade().control;
    if (hPlayerThread == nullptr || !IsWindow(control)) return false;
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(control, request, wParam, 0, SMTO_NORMAL, 10000, &result)) return false;
    *answer = static_cast<LRESULT>(result);
    return true;
}

bool PlayerHangNow(DWORD ms) {
    LRESULT done = 0;
    return AskPlayerThread(kControlHangNow, ms, &done) && done == 1;
}

bool PlayerDestroyFrame(bool makeNew) {
    LRESULT frame = 0;
    return AskPlayerThread(kControlDestroyFrame, makeNew ? 1 : 0, &frame) && (frame != 1) == makeNew;
}

PlayerWindows PlayerThreadWindows() { return PlayerWindowsMade(); }
HWND PlayerMainWindow() {
    const PlayerWindows &windows = PlayerWindowsMade();
    return windows.mains.empty() ? nullptr : windows.mains[0];
}
HWND PlayerFrame() { return PlayerWindowsMade().frame; }
HWND PlayerInnerWindow() { return PlayerWindowsMade().inner; }
