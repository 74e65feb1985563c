// vxavs: the player's windows as the actions find them, and the helpers the actions share.
#pragma once

#include <windows.h>
#include "window_names.h"

// Found by class name (and, for the frame, title); the plug-in never owns these windows.
extern HWND hWnpMain;   // "Winamp v1.x", top level
extern HWND hAVSFrame;  // "Winamp Gen" titled "avs", top level
extern HWND hAVSChild;  // "avswnd", anywhere below hAVSFrame

HWND FindWnpMain();
HWND FindAVSFrame();
HWND FindAVSChild();
// The cached inner window while it is a window, else a fresh search; on failure "ERROR1" or
// "ERROR6" is already in the result variable.
bool LocateAVS();

// Drops the cached inner window, so that the next LocateAVS searches afresh.
void ForgetAVS();

// How a call on one of the player's windows went.
enum WindowCallOutcome {
    kCallDone,
    kWindowGone,     // the window went away after the lookup
    kNotResponding,  // its thread did not answer within the bound, or the system reports it hung
    kQueueFull,      // its thread's message queue is full
    kRefused,        // Windows refused: the player runs with higher rights, or another refusal
};
// The outcome of a call that just failed, from its last-error value.
WindowCallOutcome FailedCallOutcome();
// Asks the window's thread for a sign of life within kRespondMs, so that the calls that follow, which
// wait for that thread, find it running.
WindowCallOutcome ProbeWindow(HWND window);

// Writes an outcome into the result variable.
void WriteResult(const char *value);
