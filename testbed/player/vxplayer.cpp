// vxavs test bed: vxplayer.exe, the stand-in player in a process of its own, for tests that need the
// player in another process and for trying the plug-in by hand. Prints what it sees, prefixed "player: ".

#include "standin_player.h"

#include <cstdio>
#include <cstdlib>
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

static bool ParseInt(const char *text, long long low, long long high, long long *value) {
    char *end;
    // Numbers may be written in decimal or 0x hex; a reply may also be given as its unsigned 32-bit form.
    long long parsed = text[0] == '-' ? strtoll(text, &end, 0) : static_cast<long long>(strtoull(text, &end, 0));
    if (end == text || *end != '\0' || parsed < low || parsed > high) return false;
    *value = parsed;
    return true;
}

static bool ParseRect(const char *text, PlayerOptions *options) {
    int x, y, width, height;
    char tail;
    if (sscanf(text, "%d,%d,%d,%d%c", &x, &y, &width, &height, &tail) != 4) return false;
    options->frameX = x;
    options->frameY = y;
    options->frameWidth = width;
    options->frameHeight = height;
    return true;
}

// Under Wine a drop block posted from another process arrives as that process's handle, which names
// nothing here or, worse, an unrelated block of ours; real Windows hands the receiver its own copy.
static bool RunningUnderWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

static bool ParseArguments(int argc, char **argv, PlayerOptions *options, int *lifetime, const char **drops) {
    for (int i = 1; i < argc; ++i) {
        const char *name = argv[i];
        // Options without a value first.
        if (strcmp(name, "--no-frame") == 0) {
            options->frame = false;
            continue;
        }
        if (strcmp(name, "--decoy-inner") == 0) {
            options->decoyFramesHaveInner = true;
            continue;
        }
        if (strcmp(name, "--hidden") == 0) {
            options->visible = false;
            continue;
        }
        if (strcmp(name, "--quiet") == 0) {
            options->echo = false;
            continue;
        }
        if (i + 1 >= argc) {
            fprintf(stderr, "vxplayer: %s: unknown option or missing value\n", name);
            return false;
        }
        const char *value = argv[++i];
        long long number;
        bool ok = true;
        if (strcmp(name, "--mains") == 0) {
            ok = ParseInt(value, 0, 16, &number);
            if (ok) options->mainWindowCount = static_cast<int>(number);
        } else if (strcmp(name, "--main-class") == 0) {
            options->mainClass = value;
        } else if (strcmp(name, "--main-title") == 0) {
            options->mainTitle = value;
        } else if (strcmp(name, "--frame-class") == 0) {
            options->frameClass = value;
        } else if (strcmp(name, "--frame-title") == 0) {
            options->frameTitle = value;
        } else if (strcmp(name, "--frame-rect") == 0) {
            ok = ParseRect(value, options);
        } else if (strcmp(name, "--inner") == 0) {
            if (strcmp(value, "child") == 0) options->inner = kInnerChild;
            else if (strcmp(value, "grandchild") == 0) options->inner = kInnerGrandchild;
            else if (strcmp(value, "toplevel") == 0) options->inner = kInnerTopLevel;
            else if (strcmp(value, "none") == 0) options->inner = kInnerNone;
            else ok = false;
        } else if (strcmp(name, "--inner-class") == 0) {
            options->innerClass = value;
        } else if (strcmp(name, "--pane-class") == 0) {
            options->paneClass = value;
        } else if (strcmp(name, "--decoy-frame") == 0) {
            options->decoyFrameTitles.push_back(value);
        } else if (strcmp(name, "--reply") == 0) {
            ok = ParseInt(value, INT32_MIN, UINT32_MAX, &number);
            if (ok) options->reply = static_cast<int32_t>(static_cast<uint32_t>(number));
        } else if (strcmp(name, "--drops") == 0) {
            ok = strcmp(value, "auto") == 0 || strcmp(value, "read") == 0 || strcmp(value, "count") == 0;
            if (ok) *drops = value;
        } else if (strcmp(name, "--lifetime") == 0) {
            ok = ParseInt(value, 0, 86400, &number);
            if (ok) *lifetime = static_cast<int>(number);
        } else {
            fprintf(stderr, "vxplayer: %s: unknown option\n", name);
            return false;
        }
        if (!ok) {
            fprintf(stderr, "vxplayer: %s: bad value \"%s\"\n", name, value);
            return false;
        }
    }
    return true;
}

int main(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "/?") == 0) {
            fputs(kUsage, stdout);
            return 0;
        }
    }
    PlayerOptions options;
    options.echo = true;
    int lifetime = 300;
    const char *drops = "auto";
    if (!ParseArguments(argc, argv, &options, &lifetime, &drops)) {
        fputs(kUsage, stderr);
        return 2;
    }
    bool underWine = RunningUnderWine();
    if (strcmp(drops, "read") == 0) options.drops = kDropsRead;
    else if (strcmp(drops, "count") == 0) options.drops = kDropsCountOnly;
    else options.drops = underWine ? kDropsCountOnly : kDropsRead;
    options.lifetimeSeconds = lifetime;

    if (!CreatePlayerWindows(options)) {
        fprintf(stdout, "player: could not create the windows (error %lu)\n", GetLastError());
        fflush(stdout);
        return 1;
    }
    printf("%s\n", PlayerReadyLine().c_str());
    if (options.echo)
        printf("player: process %lu%s, drops %s, lifetime %d s\n", GetCurrentProcessId(),
               underWine ? " under Wine" : "", options.drops == kDropsRead ? "read" : "counted only", lifetime);
    fflush(stdout);
    RunPlayerLoop();
    DestroyPlayerWindows();
    if (options.echo) printf("player: windows destroyed, exiting\n");
    fflush(stdout);
    return 0;
}
