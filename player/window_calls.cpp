// vxavs: calls on the player's windows as Windows answers them: how a refused call failed, and
// whether a window's thread answers at all before we wait on it.

#include "player_windows.h"

WindowCallOutcome FailedCallOutcome() {
    switch (GetLastError()) {
    case ERROR_INVALID_WINDOW_HANDLE:
        return kWindowGone;
    case ERROR_NOT_ENOUGH_QUOTA:  // the receiving thread's queue is full
        return kQueueFull;
    case 0:
    case ERROR_TIMEOUT:
        return kNotResponding;
    default:
        // Access denied (a player with higher rights than the publication) and anything unforeseen:
        // Windows would not let us act on the window.
        return kRefused;
    }
}

WindowCallOutcome ProbeWindow(HWND window) {
    DWORD_PTR unused;
    SetLastError(0);
    // A thread the system already reports hung is not waited for at all; a fresh hang costs the bound.
    if (SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kRespondMs, &unused) != 0) return kCallDone;
    return FailedCallOutcome();
}
