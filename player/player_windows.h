// vxavs: the player's windows as the actions find them, and the helpers the actions share.
#pragma once

#include <windows.h>
#include <string_view>

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
// How long a visualizer's or player's thread may take to show it is alive before we act on its window.
constexpr DWORD kRespondMs = 2000;
// Asks the window's thread for a sign of life within kRespondMs, so that the calls that follow, which
// wait for that thread, find it running.
WindowCallOutcome ProbeWindow(HWND window);

// Whole-string comparison after the system's ANSI lower-case mapping of both sides.
bool NamesMatch(const char *text, size_t length, const char *literal);
inline bool NamesMatch(std::string_view text, const char *literal) {
    return NamesMatch(text.data(), text.size(), literal);
}

// Writes an outcome into the result variable.
void WriteResult(const char *value);
