// vxavs test bed: vxhost.exe, the stand-in host as a program. It loads a plug-in, makes the hand-shake,
// then carries out the steps given on its command line, printing everything that passes.
//
// `vxhost --help` prints the steps (kUsage below).

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "host_check.h"
#include "standin_host.h"
#include "standin_player.h"
#include "vxavs_version.h"

static const char kUsage[] =
    "usage: vxhost [--plugin PATH] [--five-word-add-action] [--refuse NAME=ERROR[*TIMES]]... STEP...\n"
    "       vxhost [--plugin PATH] --check\n"
    "       vxhost --version | --help\n"
    "\n"
    "--refuse makes the plug-in's calls to the USER32 function NAME fail with GetLastError ERROR, as\n"
    "Windows refuses them (5: the player runs with higher rights; 1816: its queue is full; 1400: its window\n"
    "went away): every call, or only the next TIMES calls. Repeatable; applied again at every `load`.\n"
    "\n"
    "Steps (each word is one argument; quote texts that hold blanks):\n"
    "  run ACTION [TEXT...]       runs an action by name or number; \"-\" passes a null address\n"
    "  edit ACTION [TEXT...]      hands the texts over in host-owned slots and prints them afterwards\n"
    "  message N                  notifies the plug-in with message N\n"
    "  about                      shows the About box\n"
    "  window NAME [W H]          creates a host window that object queries for NAME answer with\n"
    "  answer NAME TEXT           object queries for NAME answer with TEXT\n"
    "  resize NAME W H            resizes a host window\n"
    "  close NAME                 destroys a host window\n"
    "  wait MS                    handles the host's messages for MS milliseconds\n"
    "  where                      prints where the visualizer's inner window is and how large\n"
    "  unload                     unloads the plug-in (the hand-shake is made again by `load`)\n"
    "  load                       loads the plug-in again and makes the hand-shake\n"
    "  player start               starts the stand-in player, vxplayer.exe, in a process of its own\n"
    "  player thread              starts the stand-in player on a thread of this process instead\n"
    "                             (under Wine, the only way a drop block can be read back)\n"
    "  player reply N             the player answers commands with N from now on\n"
    "  player stop                stops the stand-in player\n"
    "\n"
    "Without the player steps it works against the real player.\n"
    "\n"
    "--check says what the plug-in would find on this machine now: the player's windows, whether they\n"
    "respond, whether the player runs with higher rights, the DPI awareness of both and the plug-in's\n"
    "version (vxavs.dll beside vxhost.exe or in the folder above, or the one named by --plugin). It loads\n"
    "nothing and takes no steps. Exit code 0: every action could work now; 1: at least one would fail,\n"
    "and the last line says which and with what code.\n";

static std::map<std::string, HWND> gWindows;
static const char kHostWindowClass[] = "vxhost object";

static LRESULT CALLBACK HostObjectProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        FillRect(dc, &paint.rcPaint, static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH)));
        EndPaint(window, &paint);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

static std::string Describe(HWND window) {
    if (window == nullptr) return "nothing";
    for (const auto &named : gWindows)
        if (named.second == window) return "host window " + named.first;
    char className[256] = {}, title[256] = {};
    GetClassNameA(window, className, 255);
    GetWindowTextA(window, title, 255);
    return std::string("\"") + className + "\" window \"" + title + "\"";
}

static BOOL CALLBACK FindInner(HWND window, LPARAM found) {
    char className[256] = {};
    GetClassNameA(window, className, 255);
    if (lstrcmpiA(className, "avswnd") != 0) return TRUE;
    *reinterpret_cast<HWND *>(found) = window;
    return FALSE;
}

static BOOL CALLBACK FindInnerBelowTopLevel(HWND window, LPARAM found) {
    FindInner(window, found);
    if (*reinterpret_cast<HWND *>(found) == nullptr) EnumChildWindows(window, FindInner, found);
    return *reinterpret_cast<HWND *>(found) == nullptr;
}

static void PrintWhere() {
    HWND inner = nullptr;
    EnumWindows(FindInnerBelowTopLevel, reinterpret_cast<LPARAM>(&inner));
    if (inner == nullptr) {
        printf("where: no visualizer inner window\n");
        return;
    }
    RECT box;
    GetWindowRect(inner, &box);
    POINT origin = {box.left, box.top};
    HWND parent = GetParent(inner);
    ScreenToClient(parent, &origin);
    printf("where: inner window in %s at %ld,%ld, %ld x %ld\n", Describe(parent).c_str(), origin.x, origin.y,
           box.right - box.left, box.bottom - box.top);
}

static bool IsStepWord(const char *word) {
    static const char *const kSteps[] = {"run",    "edit", "message", "about", "window", "answer",
                                         "resize", "close", "wait",   "where", "unload", "load", "player"};
    for (const char *step : kSteps)
        if (strcmp(word, step) == 0) return true;
    return false;
}

static int ActionNumber(const std::string &word) {
    int registered = HostActionNumber(word);
    return registered >= 0 ? registered : atoi(word.c_str());
}

static std::vector<std::string> gRefusals;

static bool LoadAndShake(const std::string &path, AddActionShape shape) {
    if (!HostLoadPlugIn(path.c_str())) {
        printf("host: cannot load %s (error %lu)\n", path.c_str(), GetLastError());
        return false;
    }
    printf("host: loaded %s\n", path.c_str());
    HostHandshake(shape);
    printf("host: title \"%s\", author \"%s\", description \"%s\"\n", gHost.identity[0], gHost.identity[1],
           gHost.identity[2]);
    for (const std::string &refusal : gRefusals) {
        std::string function;
        DWORD error;
        int times;
        ParseRefusal(refusal.c_str(), &function, &error, &times);
        if (HostRefuseImport(function.c_str(), error, times))
            printf("host: the plug-in's calls to %s fail with error %lu (%s)\n", function.c_str(), error,
                   times < 0 ? "every call" : ("the next " + std::to_string(times)).c_str());
        else
            printf("host: cannot refuse %s: not a USER32 function the plug-in imports\n", function.c_str());
    }
    return true;
}

int main(int argc, char **argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    gHost.echo = true;
    std::string plugInPath = "vxavs.dll";
    AddActionShape shape = kAddActionSixWords;
    bool check = false, plugInGiven = false;
    int i = 1;
    for (; i < argc && strncmp(argv[i], "--", 2) == 0; ++i) {
        if (strcmp(argv[i], "--plugin") == 0 && i + 1 < argc) {
            plugInPath = argv[++i];
            plugInGiven = true;
        } else if (strcmp(argv[i], "--check") == 0) check = true;
        else if (strcmp(argv[i], "--five-word-add-action") == 0) shape = kAddActionFiveWords;
        else if (strcmp(argv[i], "--refuse") == 0 && i + 1 < argc) {
            std::string function;
            DWORD error;
            int times;
            if (!ParseRefusal(argv[++i], &function, &error, &times)) {
                printf("vxhost: --refuse %s: expected NAME=ERROR or NAME=ERROR*TIMES\n", argv[i]);
                return 2;
            }
            gRefusals.push_back(argv[i]);
        }
        else if (strcmp(argv[i], "--version") == 0) {
            printf("vxhost %s, the stand-in host of vxavs\n", VXAVS_VERSION);
            return 0;
        } else {
            fputs(kUsage, stdout);
            return strcmp(argv[i], "--help") == 0 ? 0 : 2;
        }
    }

    if (check) {
        if (i < argc) {
            printf("vxhost: --check takes no steps\n");
            return 2;
        }
        return RunHostCheck(plugInGiven ? plugInPath : std::string());
    }

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = HostObjectProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kHostWindowClass;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    RegisterClassA(&windowClass);

    if (!LoadAndShake(plugInPath, shape)) return 1;

    auto need = [&](int count) {
        if (i + count < argc) return true;
        printf("vxhost: step \"%s\" needs %d more words\n", argv[i], count);
        exit(2);
    };
    for (; i < argc; ++i) {
        std::string step = argv[i];
        if (step == "run" || step == "edit") {
            need(1);
            int number = ActionNumber(argv[++i]);
            std::vector<std::string> texts;
            std::vector<bool> isNull;
            while (i + 1 < argc && !IsStepWord(argv[i + 1])) {
                ++i;
                isNull.push_back(strcmp(argv[i], "-") == 0);
                texts.push_back(argv[i]);
            }
            if (step == "run") {
                std::vector<const char *> parameters;
                for (size_t k = 0; k < texts.size(); ++k) parameters.push_back(isNull[k] ? nullptr : texts[k].c_str());
                while (parameters.size() < 3) parameters.push_back(nullptr);  // a host always supplies every entry
                printf("host: run action %d\n", number);
                BOOL known = HostExecAction(number, parameters);
                printf("host: action %d answered %d; vxAVSDrop holds \"%s\"\n", number, known,
                       HostVariable("vxAVSDrop").c_str());
            } else {
                std::vector<HostStringSlot> slots;
                for (size_t k = 0; k < texts.size(); ++k) {
                    HostStringSlot block = nullptr;
                    if (!isNull[k]) {
                        block = static_cast<char *>(GlobalAlloc(GMEM_ZEROINIT, texts[k].size() + 1));
                        if (block) memcpy(block, texts[k].c_str(), texts[k].size());
                    }
                    slots.push_back(block);
                }
                while (slots.size() < 3) slots.push_back(nullptr);
                BOOL answer = gHost.entry.editAction(number, slots.data());
                printf("host: edit action %d answered %d; slots now:", number, answer);
                for (HostStringSlot slot : slots) printf(" %s", slot ? ("\"" + std::string(slot) + "\"").c_str() : "0");
                printf("\n");
                for (HostStringSlot slot : slots)
                    if (slot) GlobalFree(slot);
            }
        } else if (step == "message") {
            need(1);
            int message = atoi(argv[++i]);
            gHost.entry.message(message, 0);
            printf("host: message %d sent\n", message);
        } else if (step == "about") {
            printf("host: About box open until closed\n");
            gHost.entry.about();
        } else if (step == "window") {
            need(1);
            std::string name = argv[++i];
            int width = 320, height = 240;
            if (i + 2 < argc && atoi(argv[i + 1]) > 0) {
                width = atoi(argv[++i]);
                height = atoi(argv[++i]);
            }
            HWND window = CreateWindowExA(0, kHostWindowClass, name.c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                          400, 100, width, height, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
            gWindows[name] = window;
            HostSetObjectWindow(name, window);
            printf("host: window %s is %lu, %d x %d\n", name.c_str(), static_cast<unsigned long>(
                   reinterpret_cast<uintptr_t>(window)), width, height);
        } else if (step == "answer") {
            need(2);
            std::string name = argv[++i];
            HostSetObjectAnswer(name, argv[++i]);
        } else if (step == "resize") {
            need(3);
            HWND window = gWindows[argv[++i]];
            int width = atoi(argv[++i]);
            int height = atoi(argv[++i]);
            SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER);
            printf("host: window %s resized to %d x %d\n", argv[i - 2], width, height);
        } else if (step == "close") {
            need(1);
            std::string name = argv[++i];
            DestroyWindow(gWindows[name]);
            gWindows.erase(name);
            printf("host: window %s destroyed\n", name.c_str());
        } else if (step == "wait") {
            need(1);
            PumpMessages(static_cast<DWORD>(atoi(argv[++i])));
        } else if (step == "where") {
            PrintWhere();
        } else if (step == "player") {
            need(1);
            std::string what = argv[++i];
            if (what == "start" || what == "thread") {
                PlayerStart start;
                start.mode = what == "thread" ? kPlayerOnThread : kPlayerOwnProcess;
                start.echo = true;
                bool started = StartPlayer(PlayerOptions(), start);
                printf("host: stand-in player %s\n", !started             ? "did not start"
                                                     : what == "thread" ? "started on a thread of the host"
                                                                        : "started in its own process");
            } else if (what == "reply") {
                need(1);
                int32_t reply = static_cast<int32_t>(strtoll(argv[++i], nullptr, 0));
                PlayerSetReply(reply);
                printf("host: the player will answer %ld\n", static_cast<long>(reply));
            } else if (what == "stop") {
                PumpMessages(200);  // let the player report what it received
                StopPlayer();
                printf("host: stand-in player stopped\n");
            } else {
                printf("vxhost: unknown player step \"%s\"\n", what.c_str());
                return 2;
            }
        } else if (step == "unload") {
            HostUnloadPlugIn();
            printf("host: plug-in unloaded\n");
        } else if (step == "load") {
            if (!LoadAndShake(plugInPath, shape)) return 1;
        } else {
            printf("vxhost: unknown step \"%s\"\n", step.c_str());
            return 2;
        }
        PumpMessages(0);
    }
    StopPlayer();
    if (gHost.module) HostUnloadPlugIn();
    return 0;
}
