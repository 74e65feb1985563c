// vxavs: showing the visualizer's inner window inside a host window, keeping it sized to that
// window, and giving it back to the visualizer's frame.

#include <cstdint>

#include "../host/actions.h"
#include "../host/host_services.h"
#include "player_windows.h"
#include "visualizer_mover.h"

static HWND hAVSHost;          // the host window the inner window was embedded into
static RECT rcAVS;             // the last outer rectangle read here; kept when a read fails
static int16_t fAVSEmbedded;   // 1 while embedded
static bool fAVSReleasing;     // a release is under way: resizes no longer place the inner window

// Our procedure's place in a host window's chain: the procedure it forwards to. It stays in a chain
// for as long as it cannot leave it whole (another procedure was installed over it), and then only
// passes messages on.
struct HostSubclass {
    HWND window;  // null: a free entry
    WNDPROC oldProc;
    bool unicode;  // replaced with the W functions: the window keeps receiving Unicode
};
static HostSubclass hsSubclasses[8];

static const UINT kHostResizeMessage = WM_USER + 206;

void ResetEmbedding() {
    hAVSHost = nullptr;
    rcAVS = RECT{};
    fAVSEmbedded = 0;
    fAVSReleasing = false;
    for (HostSubclass &entry : hsSubclasses) entry = HostSubclass{};
}

// Covers the host window from its client origin with the host window's outer size. The move is the
// helper's: the host's thread never waits for the visualizer's.
static void FitInnerWindowTo(HWND host) {
    GetWindowRect(host, &rcAVS);
    PlaceLater(hAVSChild, 0, 0, rcAVS.right - rcAVS.left, rcAVS.bottom - rcAVS.top, false);
}

// A window the publication itself owns; anything else is no place for the visualizer.
static bool IsPublicationWindow(HWND window) {
    DWORD process = 0;
    return window != nullptr && IsWindow(window) && GetWindowThreadProcessId(window, &process) != 0 &&
           process == GetCurrentProcessId();
}

// Makes `parent` the inner window's parent, through the helper thread, waiting kRespondMs at most.
static WindowCallOutcome Reparent(HWND child, HWND parent, bool release) {
    if (!StartReparentJob(child, parent, hAVSFrame, release ? hAVSHost : parent, release)) return kNotResponding;
    return WaitForReparentJob();
}

static HostSubclass *FindSubclass(HWND window) {
    for (HostSubclass &entry : hsSubclasses)
        if (entry.window == window) return &entry;
    return nullptr;
}

static bool AnySubclass() {
    for (const HostSubclass &entry : hsSubclasses)
        if (entry.window != nullptr) return true;
    return false;
}

static LONG WindowProcedure(const HostSubclass &entry) {
    return entry.unicode ? GetWindowLongW(entry.window, GWL_WNDPROC) : GetWindowLongA(entry.window, GWL_WNDPROC);
}

static LONG SetWindowProcedure(const HostSubclass &entry, LONG procedure) {
    return entry.unicode ? SetWindowLongW(entry.window, GWL_WNDPROC, procedure)
                         : SetWindowLongA(entry.window, GWL_WNDPROC, procedure);
}

static LRESULT CALLBACK HostSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Puts our procedure in the host window's chain, once: a window whose chain already holds it keeps it.
// While any chain holds it, the library holds a reference to itself, so that it is never unloaded
// under a window that may still call it.
static void InstallHostSubclass(HWND window) {
    if (FindSubclass(window) != nullptr) return;
    HostSubclass *entry = FindSubclass(nullptr);
    if (entry == nullptr) return;  // eight windows holding a procedure of ours: this one goes unguarded
    bool first = !AnySubclass();
    // Filled before the switch, so a message arriving at once already finds the host's procedure.
    *entry = HostSubclass{window, nullptr, IsWindowUnicode(window) != FALSE};
    entry->oldProc = reinterpret_cast<WNDPROC>(WindowProcedure(*entry));
    LONG previous = SetWindowProcedure(*entry, reinterpret_cast<LONG>(HostSubclassProc));
    if (previous == 0) {
        *entry = HostSubclass{};
        return;
    }
    entry->oldProc = reinterpret_cast<WNDPROC>(previous);
    if (first) HoldLibraryForSubclass(true);
}

static void ForgetSubclass(HostSubclass *entry) {
    *entry = HostSubclass{};
    if (!AnySubclass()) HoldLibraryForSubclass(false);
}

// Takes our procedure out of the host window's chain, only while it is the window's procedure: a
// procedure installed over ours saved ours, and putting the old one back would cut it out. Ours then
// stays as a pass-through until the window is destroyed, and the library with it.
static void RemoveHostSubclass(HWND window) {
    HostSubclass *entry = FindSubclass(window);
    if (entry == nullptr || WindowProcedure(*entry) != reinterpret_cast<LONG>(HostSubclassProc)) return;
    SetWindowProcedure(*entry, reinterpret_cast<LONG>(entry->oldProc));
    ForgetSubclass(entry);
}

// The inner window has left the host window (or is gone): the host window gets its procedure back.
static void EndEmbedding() {
    RemoveHostSubclass(hAVSHost);
    fAVSEmbedded = 0;
    fAVSReleasing = false;
}

// Gives the inner window back to the frame. When it cannot (no frame, a visualizer that does not
// answer, Windows refusing), the embedding stays as it is, guarded by our procedure, so that a later
// release can try again; the `false` action reports the code, the host's message 2 and the closing of
// the host window write nothing. True when released.
static bool ReleaseEmbedding(bool report) {
    if (!fAVSEmbedded) return true;
    WindowCallOutcome outcome = kCallDone;
    HWND child = hAVSChild;
    if (ReparentJobBusy()) {
        outcome = kNotResponding;  // the last job is still under way
    } else if (IsWindow(child)) {
        // The frame may have been closed or made anew since the embedding.
        if (!IsWindow(hAVSFrame) && FindAVSFrame() == nullptr) {
            outcome = kNoFrame;
        } else {
            fAVSReleasing = true;
            outcome = CallWithSecondLookup([child] { return Reparent(child, hAVSFrame, true); },
                                           [child] {
                                               if (!IsWindow(child)) return kWindowGone;
                                               return FindAVSFrame() != nullptr ? kCallDone : kNoFrame;
                                           });
            // Left with the helper: it has the host window's thread finish the release when it can.
            if (outcome == kNotResponding && ReparentJobBusy()) {
                if (report) WriteOutcome(kReleaseAction, outcome);
                return false;
            }
            fAVSReleasing = false;
        }
    }
    // An inner window that has gone (a player that closed) has nothing to give back.
    if (outcome == kWindowGone && !IsWindow(child)) outcome = kCallDone;
    if (outcome != kCallDone) {
        if (report) WriteOutcome(kReleaseAction, outcome);
        return false;
    }
    EndEmbedding();
    return true;
}

// A release the helper was left with has ended.
static void FinishAbandonedRelease(WindowCallOutcome outcome) {
    if (!fAVSEmbedded || !fAVSReleasing) return;
    fAVSReleasing = false;
    if (outcome == kCallDone || !IsWindow(hAVSChild)) {
        EndEmbedding();
        return;
    }
    FitInnerWindowTo(hAVSHost);  // still ours: sized to the window again
}

static LRESULT CALLBACK HostSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    HostSubclass *entry = FindSubclass(window);
    WNDPROC next = entry != nullptr ? entry->oldProc : nullptr;
    bool unicode = entry != nullptr ? entry->unicode : IsWindowUnicode(window) != FALSE;
    bool embeddedHere = fAVSEmbedded && window == hAVSHost;
    if (embeddedHere) {
        if (message == WM_SIZE || message == kHostResizeMessage) {
            if (!fAVSReleasing) FitInnerWindowTo(window);
        } else if (message == WM_DESTROY) {
            // A dying window takes its children along: the player's window goes back to its frame first.
            // Whatever stops that, the window is going, and our procedure leaves it now.
            if (!ReleaseEmbedding(false)) EndEmbedding();
        } else if (message == MoverReleaseFinishedMessage()) {
            FinishAbandonedRelease(static_cast<WindowCallOutcome>(wParam));
            return 0;  // ours alone
        }
    }
    LRESULT result;
    if (next == nullptr)
        result = unicode ? DefWindowProcW(window, message, wParam, lParam) : DefWindowProcA(window, message, wParam, lParam);
    else
        result = unicode ? CallWindowProcW(next, window, message, wParam, lParam)
                         : CallWindowProcA(next, window, message, wParam, lParam);
    // The window is gone, and our place in its chain with it.
    if (message == WM_NCDESTROY) {
        entry = FindSubclass(window);
        if (entry != nullptr) ForgetSubclass(entry);
        if (window == hAVSHost) {
            fAVSEmbedded = 0;
            fAVSReleasing = false;
        }
    }
    return result;
}

static void EmbedInto(std::string_view objectName) {
    WindowCallOutcome outcome = LocateAVS();
    if (outcome != kCallDone) {
        WriteOutcome(kEmbedAction, outcome);
        return;
    }
    HWND host = reinterpret_cast<HWND>(static_cast<intptr_t>(QueryHostObjectHandle(objectName)));
    if (!IsPublicationWindow(host)) {
        WriteOutcome(kEmbedAction, kNoHostWindow);
        return;
    }
    // Another embedding or release is under way (held by the visualizer, or waiting further up this
    // thread's stack): nothing is done.
    if (ReparentJobBusy()) {
        WriteOutcome(kEmbedAction, kNotResponding);
        return;
    }
    if (fAVSEmbedded) {
        // Already showing in that window: nothing to do. Another window (a publication moving to
        // another page), or a new inner window from a restarted player: move the embedding there.
        if (host == hAVSHost && GetParent(hAVSChild) == hAVSHost) return;
        if (!ReleaseEmbedding(true)) return;  // not given back: its code is written
    }
    // All or nothing: until the inner window is in the host window, nothing else changes.
    HWND child = hAVSChild;
    MoverReleaseFinishedMessage();
    outcome = CallWithSecondLookup([&] { return Reparent(child, host, false); },
                                   [&] {
                                       // SetParent fails the same way when the new parent is gone.
                                       if (!IsWindow(host)) return kNoHostWindow;
                                       ForgetAVS();
                                       WindowCallOutcome found = LocateAVS();
                                       child = hAVSChild;
                                       return found;
                                   });
    // While we waited, messages sent to this thread ran: the windows are looked at again.
    if (!IsWindow(host)) outcome = kNoHostWindow;
    if (outcome == kCallDone && !IsWindow(child)) outcome = kWindowGone;
    if (outcome != kCallDone) {
        WriteOutcome(kEmbedAction, outcome);
        return;
    }
    hAVSChild = child;
    hAVSHost = host;
    InstallHostSubclass(host);
    fAVSEmbedded = 1;
    FitInnerWindowTo(host);
}

void EmbedAVS(std::string_view objectName, std::string_view mode) {
    if (NamesMatch(mode, "true")) {
        EmbedInto(objectName);
        return;
    }
    if (NamesMatch(mode, "false")) ReleaseEmbedding(true);
}

// The host's message 2: writes nothing, whatever happens.
void UnembedAVS() { ReleaseEmbedding(false); }
