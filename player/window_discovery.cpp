// vxavs: finding the player's main window and the visualizer's frame and inner window by their names.

#include <cstring>

#include "player_windows.h"

HWND hWnpMain;
HWND hAVSFrame;
HWND hAVSChild;

void ResetWindowDiscovery() { hWnpMain = hAVSFrame = hAVSChild = nullptr; }

// Reads a class name or title into a zero-filled buffer, so a failed read is the empty text.
struct WindowText {
    char text[256];
};

static bool ClassNameIs(HWND window, WindowText &buffer, const char *literal) {
    memset(buffer.text, 0, sizeof buffer.text);
    GetClassNameA(window, buffer.text, 255);
    return NamesMatch(buffer.text, strlen(buffer.text), literal);
}

static BOOL CALLBACK EnumWnpMainProc(HWND window, LPARAM /*unused*/) {
    WindowText buffer;
    if (!ClassNameIs(window, buffer, kWnpMainClass)) return TRUE;
    hWnpMain = window;
    return FALSE;
}

static BOOL CALLBACK EnumAVSFrameProc(HWND window, LPARAM /*unused*/) {
    WindowText buffer;
    if (!ClassNameIs(window, buffer, kAVSFrameClass)) return TRUE;
    // A failed title read leaves the class name or nothing in the buffer, and neither is "avs".
    GetWindowTextA(window, buffer.text, 255);
    if (!NamesMatch(buffer.text, strlen(buffer.text), kAVSFrameTitle)) return TRUE;
    hAVSFrame = window;
    return FALSE;
}

static BOOL CALLBACK EnumAVSChildProc(HWND window, LPARAM /*unused*/) {
    WindowText buffer;
    if (!ClassNameIs(window, buffer, kAVSInnerClass)) return TRUE;
    hAVSChild = window;
    return FALSE;
}

HWND FindWnpMain() {
    hWnpMain = nullptr;
    EnumWindows(EnumWnpMainProc, 0);  // only what the callback stored counts
    return hWnpMain;
}

HWND FindAVSFrame() {
    hAVSFrame = nullptr;
    EnumWindows(EnumAVSFrameProc, 0);
    return hAVSFrame;
}

HWND FindAVSChild() {
    hAVSChild = nullptr;
    EnumChildWindows(hAVSFrame, EnumAVSChildProc, 0);  // every depth below the frame
    return hAVSChild;
}

WindowCallOutcome LocateAVS() {
    if (hAVSChild != nullptr && IsWindow(hAVSChild)) return kCallDone;
    if (FindAVSFrame() == nullptr) return kNoFrame;
    if (FindAVSChild() == nullptr) return kNoInner;
    return kCallDone;
}

void ForgetAVS() { hAVSChild = nullptr; }
