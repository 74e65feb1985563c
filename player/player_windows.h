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

// How a call on one of the player's windows, or an action, went: Windows' answers become these, and
// these become the publication's result codes in one table (WriteOutcome).
enum WindowCallOutcome {
    kCallDone,
    kNoFrame,        // no visualizer frame
    kWindowGone,     // the window went away after the lookup, and again after a second one
    kNoFile,         // no existing file by that name
    kNoMemory,       // no memory for the drop
    kQueueFull,      // its thread's message queue is full
    kNoHostWindow,   // the host's answer is no window of the publication, or that window went away
    kNoPlayer,       // no player main window
    kNotResponding,  // its thread did not answer within the bound, or the system reports it hung
    kNoInner,        // a frame without the inner window
    kRefused,        // Windows refused: the player runs with higher rights, or another refusal
};

// The cached inner window while it is a window, else a fresh search: kCallDone, kNoFrame or kNoInner.
WindowCallOutcome LocateAVS();
// Drops the cached inner window, so that the next LocateAVS searches afresh.
void ForgetAVS();

// The outcome of a call that just failed, from its last-error value.
WindowCallOutcome FailedCallOutcome();
// Asks the window's thread for a sign of life within kRespondMs, so that the calls that follow, which
// wait for that thread, find it running.
WindowCallOutcome ProbeWindow(HWND window);

// The window went away between the lookup and the call: look again and, if there is one now, try once
// more on it. `lookAgain` answers whether a window was found.
template <class Call, class LookAgain>
WindowCallOutcome CallWithSecondLookup(Call call, LookAgain lookAgain) {
    WindowCallOutcome outcome = call();
    if (outcome != kWindowGone) return outcome;
    WindowCallOutcome found = lookAgain();
    return found == kCallDone ? call() : found;
}

// The actions that report, as columns of the outcome table.
enum ReportingAction { kDropAction, kEmbedAction, kReleaseAction, kCommandAction };
// Writes the action's code for the outcome into the result variable, or nothing where it has none.
void WriteOutcome(ReportingAction action, WindowCallOutcome outcome);
// Writes a text into the result variable.
void WriteResult(const char *value);

// Each file's process-wide variables to zero, at load.
void ResetWindowDiscovery();
void ResetEmbedding();
void ResetPlayerCommand();
