// vxavs: the names the plug-in finds the player's windows by, how it compares them, and how long it
// lets their threads take to answer. The test bed's machine check reads them from here too.
#pragma once

#include <windows.h>

#include <string_view>

constexpr char kWnpMainClass[] = "Winamp v1.x";  // the player's main window, top level
constexpr char kAVSFrameClass[] = "Winamp Gen";  // the visualizer's frame, top level,
constexpr char kAVSFrameTitle[] = "avs";         // titled so
constexpr char kAVSInnerClass[] = "avswnd";      // the visualizer's inner window, anywhere below the frame

// How long a visualizer's or player's thread may take to show it is alive before we act on its window.
constexpr DWORD kRespondMs = 2000;

// Whole-string comparison after the system's ANSI lower-case mapping of both sides.
bool NamesMatch(const char *text, size_t length, const char *literal);
inline bool NamesMatch(std::string_view text, const char *literal) {
    return NamesMatch(text.data(), text.size(), literal);
}
