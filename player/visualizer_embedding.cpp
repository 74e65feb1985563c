// vxavs: showing the visualizer's inner window inside a host window, keeping it sized to that
// window, and giving it back to the visualizer's frame.

#include <cstdint>

#include "../host/actions.h"
#include "../host/host_services.h"
#include "player_windows.h"

static HWND hAVSHost;            // the host window the inner window was embedded into
static RECT rcAVS;               // the last outer rectangle read here; kept when a read fails
static int16_t fAVSEmbedded;     // 1 while embedded
static WNDPROC pfnHostOldProc;   // the host window's own procedure while ours is installed, else 0
static bool fAVSHostUnicode;     // the host window's procedure was replaced with the W functions

static const UINT kHostResizeMessage = WM_USER + 206;

void ResetPlayerState() {
    hWnpMain = hAVSFrame = hAVSChild = nullptr;
    hAVSHost = nullptr;
    rcAVS = RECT{};
    fAVSEmbedded = 0;
    pfnHostOldProc = nullptr;
    fAVSHostUnicode = false;
}

// Moves the inner window without waiting for the visualizer's thread, which applies the move when it
// next runs: a visualizer that has stopped responding cannot hold the host's window procedure.
static void PlaceInnerWindow(int x, int y, int width, int height, bool repaint) {
    UINT flags = SWP_NOZORDER | SWP_NOACTIVATE | SWP_ASYNCWINDOWPOS;
    if (!repaint) flags |= SWP_NOREDRAW;
    SetWindowPos(hAVSChild, nullptr, x, y, width, height, flags);
}

// Covers the host window from its client origin with the host window's outer size.
static void FitInnerWindowTo(HWND host) {
    GetWindowRect(host, &rcAVS);
    PlaceInnerWindow(0, 0, rcAVS.right - rcAVS.left, rcAVS.bottom - rcAVS.top, false);
}

// A window the publication itself owns; anything else is no place for the visualizer.
static bool IsPublicationWindow(HWND window) {
    DWORD process = 0;
    return window != nullptr && IsWindow(window) && GetWindowThreadProcessId(window, &process) != 0 &&
           process == GetCurrentProcessId();
}

// Makes `parent` the inner window's parent, once the visualizer's thread has shown it is running:
// SetParent waits for that thread without a bound.
static WindowCallOutcome ReparentInnerWindow(HWND parent) {
    WindowCallOutcome outcome = ProbeWindow(hAVSChild);
    if (outcome != kCallDone) return outcome;
    SetLastError(0);
    // A window without a parent before has none to return: only a set error means failure.
    if (SetParent(hAVSChild, parent) != nullptr || GetLastError() == 0) return kCallDone;
    return FailedCallOutcome();
}

static const char *EmbeddingFailureCode(WindowCallOutcome outcome) {
    switch (outcome) {
    case kWindowGone:
        return "ERROR1";
    case kRefused:
        return "ERROR7";
    default:
        return "ERROR5";
    }
}

static LONG GetHostProcedure() {
    return fAVSHostUnicode ? GetWindowLongW(hAVSHost, GWL_WNDPROC) : GetWindowLongA(hAVSHost, GWL_WNDPROC);
}

static LONG SetHostProcedure(LONG procedure) {
    return fAVSHostUnicode ? SetWindowLongW(hAVSHost, GWL_WNDPROC, procedure)
                           : SetWindowLongA(hAVSHost, GWL_WNDPROC, procedure);
}

// The host window gets its own procedure back and the plug-in no longer counts as embedded.
static void RestoreHostProcedure() {
    if (pfnHostOldProc != nullptr) SetHostProcedure(reinterpret_cast<LONG>(pfnHostOldProc));
    pfnHostOldProc = nullptr;
    fAVSEmbedded = 0;
}

static bool ReleaseEmbedding(bool report);

static LRESULT CALLBACK HostSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WNDPROC hostProc = pfnHostOldProc;
    bool unicode = fAVSHostUnicode;
    if (message == WM_SIZE || message == kHostResizeMessage) {
        FitInnerWindowTo(window);
    } else if (message == WM_DESTROY && fAVSEmbedded && window == hAVSHost) {
        // A dying window takes its children along: the player's window goes back to its frame first.
        // Whatever stops that, the window is going, and our procedure leaves it now.
        if (!ReleaseEmbedding(false)) RestoreHostProcedure();
    }
    // A Unicode window keeps receiving Unicode: the A functions would pass its text through the ANSI code page.
    if (hostProc == nullptr)
        return unicode ? DefWindowProcW(window, message, wParam, lParam) : DefWindowProcA(window, message, wParam, lParam);
    return unicode ? CallWindowProcW(hostProc, window, message, wParam, lParam)
                   : CallWindowProcA(hostProc, window, message, wParam, lParam);
}

static void InstallHostSubclass() {
    fAVSHostUnicode = IsWindowUnicode(hAVSHost) != FALSE;
    LONG current = GetHostProcedure();
    if (current == reinterpret_cast<LONG>(HostSubclassProc)) return;  // never forward to ourselves
    // Saved before the switch, so a message arriving at once already finds the host's procedure.
    pfnHostOldProc = reinterpret_cast<WNDPROC>(current);
    pfnHostOldProc = reinterpret_cast<WNDPROC>(SetHostProcedure(reinterpret_cast<LONG>(HostSubclassProc)));
}

void EmbedAVS(std::string_view objectName, std::string_view mode) {
    if (NamesMatch(mode, "true")) {
        if (!LocateAVS()) return;
        HWND host = reinterpret_cast<HWND>(static_cast<intptr_t>(QueryHostObjectHandle(objectName)));
        if (!IsPublicationWindow(host)) {
            WriteResult("ERROR4");
            return;
        }
        if (fAVSEmbedded) {
            // Already showing in that window: nothing to do. Another window (a publication moving to
            // another page), or a new inner window from a restarted player: move the embedding there.
            if (host == hAVSHost && GetParent(hAVSChild) == hAVSHost) return;
            UnembedAVS();
            if (fAVSEmbedded) return;  // not given back: its code is written
        }
        // All or nothing: until the inner window is in the host window, nothing else changes.
        WindowCallOutcome outcome = ReparentInnerWindow(host);
        if (outcome == kWindowGone) {
            ForgetAVS();
            if (!LocateAVS()) return;
            outcome = ReparentInnerWindow(host);
        }
        if (outcome != kCallDone) {
            WriteResult(EmbeddingFailureCode(outcome));
            return;
        }
        hAVSHost = host;
        FitInnerWindowTo(hAVSHost);
        InstallHostSubclass();
        fAVSEmbedded = 1;
        return;
    }
    if (NamesMatch(mode, "false")) UnembedAVS();
}

// Gives the inner window back to the frame. When it cannot (no frame, a visualizer that does not
// answer, Windows refusing), the embedding stays as it is, guarded by our procedure, so that a later
// release can try again; the code goes to the publication when `report` is set. True when released.
static bool ReleaseEmbedding(bool report) {
    if (!fAVSEmbedded) return true;
    const char *failure = nullptr;
    // An inner window that has gone (a player that closed) has nothing to give back.
    if (IsWindow(hAVSChild)) {
        // The frame may have been closed or made anew since the embedding.
        if (!IsWindow(hAVSFrame) && FindAVSFrame() == nullptr) {
            failure = "ERROR1";
        } else {
            WindowCallOutcome outcome = ReparentInnerWindow(hAVSFrame);
            // The frame went away after the lookup: once more, to the frame there is now.
            if (outcome == kWindowGone && IsWindow(hAVSChild))
                outcome = FindAVSFrame() != nullptr ? ReparentInnerWindow(hAVSFrame) : kWindowGone;
            if (outcome == kWindowGone && !IsWindow(hAVSChild)) outcome = kCallDone;
            if (outcome != kCallDone) failure = EmbeddingFailureCode(outcome);
        }
    }
    if (failure != nullptr) {
        if (report) WriteResult(failure);
        return false;
    }
    // The host window gets its procedure back only once the inner window has left it.
    RestoreHostProcedure();
    if (IsWindow(hAVSChild)) {
        GetWindowRect(hAVSFrame, &rcAVS);
        PlaceInnerWindow(11, 20, rcAVS.right - rcAVS.left - 19, rcAVS.bottom - rcAVS.top - 34, true);
        // Repainted as soon as the frame's thread runs; UpdateWindow would wait for it.
        RedrawWindow(hAVSFrame, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
    }
    return true;
}

void UnembedAVS() { ReleaseEmbedding(true); }

void ReleaseHostSubclassAtUnload() {
    // Only the host's own window is touched here: under the loader lock nothing may wait on the
    // player's process, so the inner window stays where it is.
    if (!fAVSEmbedded || pfnHostOldProc == nullptr) return;
    if (GetHostProcedure() == reinterpret_cast<LONG>(HostSubclassProc)) SetHostProcedure(reinterpret_cast<LONG>(pfnHostOldProc));
    pfnHostOldProc = nullptr;
    fAVSEmbedded = 0;
}
