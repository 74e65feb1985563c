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

static const UINT kHostResizeMessage = WM_USER + 206;

void ResetPlayerState() {
    hWnpMain = hAVSFrame = hAVSChild = nullptr;
    hAVSHost = nullptr;
    rcAVS = RECT{};
    fAVSEmbedded = 0;
    pfnHostOldProc = nullptr;
}

// Covers the host window from its client origin with the host window's outer size.
static void FitInnerWindowTo(HWND host) {
    GetWindowRect(host, &rcAVS);
    MoveWindow(hAVSChild, 0, 0, rcAVS.right - rcAVS.left, rcAVS.bottom - rcAVS.top, FALSE);
}

static LRESULT CALLBACK HostSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WNDPROC hostProc = pfnHostOldProc;
    if (message == WM_SIZE || message == kHostResizeMessage) {
        FitInnerWindowTo(window);
    } else if (message == WM_DESTROY && fAVSEmbedded && window == hAVSHost) {
        // A dying window takes its children along: the player's window goes back to its frame first.
        UnembedAVS();
    }
    if (hostProc == nullptr) return DefWindowProcA(window, message, wParam, lParam);
    return CallWindowProcA(hostProc, window, message, wParam, lParam);
}

static void InstallHostSubclass() {
    LONG current = GetWindowLongA(hAVSHost, GWL_WNDPROC);
    if (current == reinterpret_cast<LONG>(HostSubclassProc)) return;  // never forward to ourselves
    // Saved before the switch, so a message arriving at once already finds the host's procedure.
    pfnHostOldProc = reinterpret_cast<WNDPROC>(current);
    pfnHostOldProc = reinterpret_cast<WNDPROC>(
        SetWindowLongA(hAVSHost, GWL_WNDPROC, reinterpret_cast<LONG>(HostSubclassProc)));
}

void EmbedAVS(std::string_view objectName, std::string_view mode) {
    if (NamesMatch(mode, "true")) {
        if (!LocateAVS()) return;
        HWND host = reinterpret_cast<HWND>(static_cast<intptr_t>(QueryHostObjectHandle(objectName)));
        if (host == nullptr) {
            WriteResult("ERROR4");
            return;
        }
        if (fAVSEmbedded) {
            // Already showing in that window: nothing to do. Another window (a publication moving to
            // another page), or a new inner window from a restarted player: move the embedding there.
            if (host == hAVSHost && GetParent(hAVSChild) == hAVSHost) return;
            UnembedAVS();
        }
        hAVSHost = host;
        SetParent(hAVSChild, hAVSHost);
        FitInnerWindowTo(hAVSHost);
        InstallHostSubclass();
        fAVSEmbedded = 1;
        return;
    }
    if (NamesMatch(mode, "false")) UnembedAVS();
}

void UnembedAVS() {
    if (!fAVSEmbedded) return;
    // The host window gets its procedure back before the inner window leaves it.
    if (pfnHostOldProc != nullptr) SetWindowLongA(hAVSHost, GWL_WNDPROC, reinterpret_cast<LONG>(pfnHostOldProc));
    pfnHostOldProc = nullptr;
    GetWindowRect(hAVSFrame, &rcAVS);
    SetParent(hAVSChild, hAVSFrame);
    MoveWindow(hAVSChild, 11, 20, rcAVS.right - rcAVS.left - 19, rcAVS.bottom - rcAVS.top - 34, TRUE);
    fAVSEmbedded = 0;
    UpdateWindow(hAVSFrame);
}

void ReleaseHostSubclassAtUnload() {
    // Only the host's own window is touched here: under the loader lock nothing may wait on the
    // player's process, so the inner window stays where it is.
    if (!fAVSEmbedded || pfnHostOldProc == nullptr) return;
    if (GetWindowLongA(hAVSHost, GWL_WNDPROC) == reinterpret_cast<LONG>(HostSubclassProc))
        SetWindowLongA(hAVSHost, GWL_WNDPROC, reinterpret_cast<LONG>(pfnHostOldProc));
    pfnHostOldProc = nullptr;
    fAVSEmbedded = 0;
}
