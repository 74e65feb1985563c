// vxavs test bed: vxhost.exe, the stand-in host as a program. It loads a plug-in, makes the hand-shake,
// then carries out the steps given on its command line, printing everything that passes.
//
// Every option and step is one row of kOptions or kSteps below: its words, its help line and the
// procedure that carries it out. `vxhost --help` prints the rows.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "../../player/window_names.h"
#include "host_check.h"
#include "standin_host.h"
#include "standin_player.h"
#include "vxavs_version.h"

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
    if (!NamesMatch(className, kAVSInnerClass)) return TRUE;
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

static int ActionNumber(const std::string &word) {
    int registered = HostActionNumber(word);
    return registered >= 0 ? registered : atoi(word.c_str());
}

// What the options set; the steps and `--check` act on it.
static std::string gPlugInPath = "vxavs.dll";
static bool gPlugInGiven;
static AddActionShape gShape = kAddActionSixWords;
static bool gCheck;
static std::vector<std::string> gRefusals;

static bool LoadAndShake() {
    if (!HostLoadPlugIn(gPlugInPath.c_str())) {
        printf("host: cannot load %s (error %lu)\n", gPlugInPath.c_str(), GetLastError());
        return false;
    }
    printf("host: loaded %s\n", gPlugInPath.c_str());
    HostHandshake(gShape);
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

// What an option or a step handler answers: go on with the next word, or end vxhost with this code.
static const int kGoOn = -1;

// ---- Options: the words before the first step, each beginning with "--".

typedef int (*OptionHandler)(const char *argument);  // argument: the next word, or null for a flag

struct Option {
    const char *name;
    const char *argument;  // null: a flag
    const char *help;      // a "\n" in it continues the help in the column
    OptionHandler handler;
};

static int PlugInOption(const char *path) {
    gPlugInPath = path;
    gPlugInGiven = true;
    return kGoOn;
}

static int FiveWordAddActionOption(const char *) {
    gShape = kAddActionFiveWords;
    return kGoOn;
}

static int RefuseOption(const char *refusal) {
    std::string function;
    DWORD error;
    int times;
    if (!ParseRefusal(refusal, &function, &error, &times)) {
        printf("vxhost: --refuse %s: expected NAME=ERROR or NAME=ERROR*TIMES\n", refusal);
        return 2;
    }
    gRefusals.push_back(refusal);  // refused again at every load
    return kGoOn;
}

static int CheckOption(const char *) {
    gCheck = true;
    return kGoOn;
}

static int VersionOption(const char *) {
    printf("vxhost %s, the stand-in host of vxavs\n", VXAVS_VERSION);
    return 0;
}

static int HelpOption(const char *);

static const Option kOptions[] = {
    {"--plugin", "PATH", "loads the plug-in at PATH, not the vxavs.dll that Windows finds first", PlugInOption},
    {"--five-word-add-action", nullptr,
     "hands over an add-action callback declared with five words, not six:\n"
     "hosts differ on the sixth",
     FiveWordAddActionOption},
    {"--refuse", "NAME=ERROR[*TIMES]",
     "makes the plug-in's calls to the USER32 function NAME fail with\n"
     "GetLastError ERROR, as Windows refuses them (5: the player runs with\n"
     "higher rights; 1816: its queue is full; 1400: its window went away):\n"
     "every call, or only the next TIMES calls. Repeatable; applied again at\n"
     "every `load`.",
     RefuseOption},
    {"--check", nullptr,
     "says what the plug-in would find on this machine now: the player's\n"
     "windows, whether they respond, whether the player runs with higher\n"
     "rights, the DPI awareness of both and the plug-in's version (vxavs.dll\n"
     "beside vxhost.exe or in the folder above, or the one named by\n"
     "--plugin). It loads nothing and takes no steps. Exit code 0: every\n"
     "action could work now; 1: at least one would fail, and the last line\n"
     "says which and with what code.",
     CheckOption},
    {"--version", nullptr, "prints the release vxhost came with", VersionOption},
    {"--help", nullptr, "prints this text", HelpOption},
};

// ---- Steps: the words after the options, carried out in order.

// The command line's words; a handler takes the ones its step uses.
struct Words {
    int count;
    char **word;
    int next;
    bool Left(int n) const { return next + n <= count; }
    const char *Peek() const { return word[next]; }
    const char *Take() { return word[next++]; }
};

typedef int (*StepHandler)(Words &words);  // words: at the step's first argument

struct Step {
    const char *name;       // one word, or two where the first names a group ("player start")
    const char *arguments;  // each word before the first "[" must be there: checked before the handler
    const char *help;
    StepHandler handler;
};

// The texts that follow an action, up to the next step word; "-" stands for a null address.
struct ActionTexts {
    int number;
    std::vector<std::string> texts;
    std::vector<bool> isNull;
};

static bool IsStepWord(const char *word);

static ActionTexts TakeActionTexts(Words &words) {
    ActionTexts action;
    action.number = ActionNumber(words.Take());
    while (words.Left(1) && !IsStepWord(words.Peek())) {
        const char *text = words.Take();
        action.isNull.push_back(strcmp(text, "-") == 0);
        action.texts.push_back(text);
    }
    return action;
}

static int RunStep(Words &words) {
    ActionTexts action = TakeActionTexts(words);
    std::vector<const char *> parameters;
    for (size_t k = 0; k < action.texts.size(); ++k)
        parameters.push_back(action.isNull[k] ? nullptr : action.texts[k].c_str());
    while (parameters.size() < 3) parameters.push_back(nullptr);  // a host always supplies every entry
    printf("host: run action %d\n", action.number);
    BOOL known = HostExecAction(action.number, parameters);
    printf("host: action %d answered %d; vxAVSDrop holds \"%s\"\n", action.number, known,
           HostVariable("vxAVSDrop").c_str());
    return kGoOn;
}

static int EditStep(Words &words) {
    ActionTexts action = TakeActionTexts(words);
    std::vector<HostStringSlot> slots;
    for (size_t k = 0; k < action.texts.size(); ++k) {
        HostStringSlot block = nullptr;
        if (!action.isNull[k]) {
            block = static_cast<char *>(GlobalAlloc(GMEM_ZEROINIT, action.texts[k].size() + 1));
            if (block) memcpy(block, action.texts[k].c_str(), action.texts[k].size());
        }
        slots.push_back(block);
    }
    while (slots.size() < 3) slots.push_back(nullptr);
    BOOL answer = gHost.entry.editAction(action.number, slots.data());
    printf("host: edit action %d answered %d; slots now:", action.number, answer);
    for (HostStringSlot slot : slots) printf(" %s", slot ? ("\"" + std::string(slot) + "\"").c_str() : "0");
    printf("\n");
    for (HostStringSlot slot : slots)
        if (slot) GlobalFree(slot);
    return kGoOn;
}

static int MessageStep(Words &words) {
    int message = atoi(words.Take());
    gHost.entry.message(message, 0);
    printf("host: message %d sent\n", message);
    return kGoOn;
}

static int AboutStep(Words &) {
    printf("host: About box open until closed\n");
    gHost.entry.about();
    return kGoOn;
}

static int WindowStep(Words &words) {
    std::string name = words.Take();
    int width = 320, height = 240;
    if (words.Left(2) && atoi(words.Peek()) > 0) {
        width = atoi(words.Take());
        height = atoi(words.Take());
    }
    HWND window = CreateWindowExA(0, kHostWindowClass, name.c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE, 400, 100,
                                  width, height, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    gWindows[name] = window;
    HostSetObjectWindow(name, window);
    printf("host: window %s is %lu, %d x %d\n", name.c_str(),
           static_cast<unsigned long>(reinterpret_cast<uintptr_t>(window)), width, height);
    return kGoOn;
}

static int AnswerStep(Words &words) {
    std::string name = words.Take();
    HostSetObjectAnswer(name, words.Take());
    return kGoOn;
}

static int ResizeStep(Words &words) {
    const char *name = words.Take();
    HWND window = gWindows[name];
    int width = atoi(words.Take());
    int height = atoi(words.Take());
    SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER);
    printf("host: window %s resized to %d x %d\n", name, width, height);
    return kGoOn;
}

static int CloseStep(Words &words) {
    std::string name = words.Take();
    DestroyWindow(gWindows[name]);
    gWindows.erase(name);
    printf("host: window %s destroyed\n", name.c_str());
    return kGoOn;
}

static int WaitStep(Words &words) {
    PumpMessages(static_cast<DWORD>(atoi(words.Take())));
    return kGoOn;
}

static int WhereStep(Words &) {
    PrintWhere();
    return kGoOn;
}

static int UnloadStep(Words &) {
    HostUnloadPlugIn();
    printf("host: plug-in unloaded\n");
    return kGoOn;
}

static int LoadStep(Words &) { return LoadAndShake() ? kGoOn : 1; }

static void StartStandInPlayer(PlayerMode mode, const char *started) {
    PlayerStart start;
    start.mode = mode;
    start.echo = true;
    printf("host: stand-in player %s\n", StartPlayer(PlayerOptions(), start) ? started : "did not start");
}

static int PlayerStartStep(Words &) {
    StartStandInPlayer(kPlayerOwnProcess, "started in its own process");
    return kGoOn;
}

static int PlayerThreadStep(Words &) {
    StartStandInPlayer(kPlayerOnThread, "started on a thread of the host");
    return kGoOn;
}

static int PlayerReplyStep(Words &words) {
    int32_t reply = static_cast<int32_t>(strtoll(words.Take(), nullptr, 0));
    PlayerSetReply(reply);
    printf("host: the player will answer %ld\n", static_cast<long>(reply));
    return kGoOn;
}

static int PlayerStopStep(Words &) {
    PumpMessages(200);  // let the player report what it received
    StopPlayer();
    printf("host: stand-in player stopped\n");
    return kGoOn;
}

static const Step kSteps[] = {
    {"run", "ACTION [TEXT...]", "runs an action by name or number; \"-\" passes a null address", RunStep},
    {"edit", "ACTION [TEXT...]", "hands the texts over in host-owned slots and prints them afterwards", EditStep},
    {"message", "N", "notifies the plug-in with message N", MessageStep},
    {"about", "", "shows the About box", AboutStep},
    {"window", "NAME [W H]", "creates a host window that object queries for NAME answer with", WindowStep},
    {"answer", "NAME TEXT", "object queries for NAME answer with TEXT", AnswerStep},
    {"resize", "NAME W H", "resizes a host window", ResizeStep},
    {"close", "NAME", "destroys a host window", CloseStep},
    {"wait", "MS", "handles the host's messages for MS milliseconds", WaitStep},
    {"where", "", "prints where the visualizer's inner window is and how large", WhereStep},
    {"unload", "", "unloads the plug-in (the hand-shake is made again by `load`)", UnloadStep},
    {"load", "", "loads the plug-in again and makes the hand-shake", LoadStep},
    {"player start", "", "starts the stand-in player, vxplayer.exe, in a process of its own", PlayerStartStep},
    {"player thread", "",
     "starts the stand-in player on a thread of this process instead\n"
     "(under Wine, the only way a drop block can be read back)",
     PlayerThreadStep},
    {"player reply", "N", "the player answers commands with N from now on", PlayerReplyStep},
    {"player stop", "", "stops the stand-in player", PlayerStopStep},
};

// The first word of a row's name, and the second ("" for a one-word name).
static std::string GroupOf(const Step &step) {
    const char *blank = strchr(step.name, ' ');
    return blank ? std::string(step.name, blank) : step.name;
}
static const char *SecondWordOf(const Step &step) {
    const char *blank = strchr(step.name, ' ');
    return blank ? blank + 1 : "";
}

static bool IsStepWord(const char *word) {
    for (const Step &step : kSteps)
        if (GroupOf(step) == word) return true;
    return false;
}

// How many words a step needs: those of its arguments before the first optional one, in "[...]".
static int RequiredWords(const Step &step) {
    int count = 0;
    for (const char *c = step.arguments; *c != '\0' && *c != '['; ++c)
        if (*c != ' ' && (c == step.arguments || c[-1] == ' ')) ++count;
    return count;
}

// Whether `count` more words follow the word just taken; if not, says so for that word.
static bool WordsFollow(const Words &words, int count) {
    if (words.Left(count)) return true;
    printf("vxhost: step \"%s\" needs %d more words\n", words.word[words.next - 1], count);
    return false;
}

// Carries out the step at the next word and takes its words.
static int TakeStep(Words &words) {
    std::string group = words.Take();
    if (!IsStepWord(group.c_str())) {
        printf("vxhost: unknown step \"%s\"\n", group.c_str());
        return 2;
    }
    const Step *found = nullptr;
    for (const Step *step = kSteps; found == nullptr && step != std::end(kSteps); ++step) {
        if (GroupOf(*step) != group) continue;
        if (*SecondWordOf(*step) == '\0') {
            found = step;
        } else {
            // A group's row is picked by the word after the group's name.
            if (!WordsFollow(words, 1)) return 2;
            if (strcmp(SecondWordOf(*step), words.Peek()) == 0) found = step;
        }
    }
    if (found == nullptr) {
        printf("vxhost: unknown %s step \"%s\"\n", group.c_str(), words.Peek());
        return 2;
    }
    if (*SecondWordOf(*found) != '\0') words.Take();
    if (!WordsFollow(words, RequiredWords(*found))) return 2;
    return found->handler(words);
}

// Takes the option at the next word, with its argument.
static int TakeOption(Words &words) {
    const char *name = words.Take();
    for (const Option &option : kOptions) {
        if (strcmp(option.name, name) != 0) continue;
        if (option.argument == nullptr) return option.handler(nullptr);
        if (words.Left(1)) return option.handler(words.Take());
        break;
    }
    HelpOption(nullptr);  // an unknown option, or one without its argument
    return 2;
}

// One help row: the words in the first column, the help beside them, its continuations below.
static void PrintHelpRow(const std::string &words, const char *help) {
    const int kColumn = 29;
    printf("  %s", words.c_str());
    int used = 2 + static_cast<int>(words.size());
    if (used >= kColumn) {
        printf("\n");
        used = 0;
    }
    printf("%*s", kColumn - used, "");
    for (const char *c = help; *c != '\0'; ++c) {
        putchar(*c);
        if (*c == '\n') printf("%*s", kColumn, "");
    }
    printf("\n");
}

static int HelpOption(const char *) {
    printf("usage: vxhost [OPTION]... STEP...\n"
           "       vxhost [--plugin PATH] --check\n"
           "       vxhost --version | --help\n"
           "\n"
           "Options:\n");
    for (const Option &option : kOptions)
        PrintHelpRow(option.argument ? std::string(option.name) + " " + option.argument : option.name, option.help);
    printf("\nSteps (each word is one argument; quote texts that hold blanks):\n");
    for (const Step &step : kSteps)
        PrintHelpRow(*step.arguments ? std::string(step.name) + " " + step.arguments : step.name, step.help);
    printf("\nWithout the player steps it works against the real player.\n");
    return 0;
}

static void RegisterHostWindowClass() {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = HostObjectProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kHostWindowClass;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    RegisterClassA(&windowClass);
}

int main(int argc, char **argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    gHost.echo = true;
    Words words = {argc, argv, 1};
    while (words.Left(1) && strncmp(words.Peek(), "--", 2) == 0) {
        int exitCode = TakeOption(words);
        if (exitCode != kGoOn) return exitCode;
    }
    if (gCheck) {
        if (words.Left(1)) {
            printf("vxhost: --check takes no steps\n");
            return 2;
        }
        return RunHostCheck(gPlugInGiven ? gPlugInPath : std::string());
    }

    RegisterHostWindowClass();
    if (!LoadAndShake()) return 1;
    while (words.Left(1)) {
        int exitCode = TakeStep(words);
        if (exitCode != kGoOn) return exitCode;
        PumpMessages(0);
    }
    StopPlayer();
    if (gHost.module) HostUnloadPlugIn();
    return 0;
}
