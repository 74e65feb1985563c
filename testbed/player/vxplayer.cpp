// vxavs test bed: vxplayer.exe, the stand-in player in a process of its own, for tests that need the
// player in another process and for trying the plug-in by hand. Prints what it sees, prefixed "player: ".

#include "player_internal.h"

#include <cstdio>
#include <cstring>

static const char kUsage[] =
    "usage: vxplayer [options]\n"
    "  --mains N              number of main windows (default 1; 0 for none)\n"
    "  --main-class NAME      main window class (default \"Winamp v1.x\")\n"
    "  --main-title TEXT      main window title (default \"Winamp\")\n"
    "  --no-frame             no visualizer frame\n"
    "  --frame-class NAME     frame class (default \"Winamp Gen\")\n"
    "  --frame-title TEXT     frame title (default \"avs\")\n"
    "  --frame-rect X,Y,W,H   frame's outer rectangle (default 120,120,300,250)\n"
    "  --inner PLACE          child, grandchild, toplevel or none (default child)\n"
    "  --inner-class NAME     inner window class (default \"avswnd\")\n"
    "  --pane-class NAME      class of the window between frame and inner window in grandchild placement\n"
    "  --decoy-frame TITLE    an extra frame-class window with this title, above the frame (repeatable)\n"
    "  --decoy-inner          each decoy frame holds an inner-class window\n"
    "  --hidden               create the windows without showing them\n"
    "  --reply N              answer to WM_COMMAND and WM_USER (default 0)\n"
    "  --drops MODE           auto, read or count: whether dropped blocks are read (auto: count only under Wine)\n"
    "  --lifetime SECONDS     quit by itself after that long (default 300; 0 for never)\n"
    "  --quiet                print the ready line only, not a line per event\n"
    "Quits on a quit request to its control window, on closing the main window or the frame, or at the end\n"
    "of its lifetime. The first line it prints after starting gives every window handle in decimal.\n";

// Under Wine a drop block posted from another process arrives as that process's handle, which names
// nothing here or, worse, an unrelated block of ours; real Windows hands the receiver its own copy.
static bool RunningUnderWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

int main(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "/?") == 0) {
            fputs(kUsage, stdout);
            return 0;
        }
    }
    PlayerOptions options;
    PlayerStart start;
    std::string error;
    if (!ParsePlayerArguments(argc, argv, &options, &start, &error)) {
        fprintf(stderr, "vxplayer: %s\n", error.c_str());
        fputs(kUsage, stderr);
        return 2;
    }
    bool underWine = RunningUnderWine();
    if (options.drops == kDropsAuto) options.drops = underWine ? kDropsCountOnly : kDropsRead;

    if (!CreatePlayerWindows(options, start, nullptr)) {
        fprintf(stdout, "player: could not create the windows (error %lu)\n", GetLastError());
        fflush(stdout);
        return 1;
    }
    printf("%s\n", PlayerReadyLine(PlayerWindowsMade()).c_str());
    if (!start.quiet)
        printf("player: process %lu%s, drops %s, lifetime %d s\n", GetCurrentProcessId(),
               underWine ? " under Wine" : "", options.drops == kDropsRead ? "read" : "counted only",
               start.lifetimeSeconds);
    fflush(stdout);
    RunPlayerLoop();
    DestroyPlayerWindows();
    if (!start.quiet) printf("player: windows destroyed, exiting\n");
    fflush(stdout);
    return 0;
}
