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

// Whole-string comparison after the system's ANSI lower-case mapping of both sides.
bool NamesMatch(const char *text, size_t length, const char *literal);
inline bool NamesMatch(std::string_view text, const char *literal) {
    return NamesMatch(text.data(), text.size(), literal);
}

// Writes an outcome into the result variable.
void WriteResult(const char *value);
