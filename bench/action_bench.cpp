// vxavs benchmark: what each action costs through the real plug-in in the stand-in host, next to the
// bare Windows calls the action cannot do without. Prints figures; never judges them.

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "standin_host.h"
#include "player_protocol.h"
#include "standin_player.h"

// ---- Timing.

static LARGE_INTEGER liFrequency;

static double Seconds() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(liFrequency.QuadPart);
}

// One call: its whole time, and the part spent in the call itself (a drop's whole time runs until
// the receiver has taken the block). In seconds.
struct Sample {
    double total;
    double sending;
};

struct Variant {
    const char *label;
    Sample (*once)();
};

// A measured variant, per call in microseconds.
struct Figure {
    double median, p10, sendingMedian, sendingP10;
};

// The variants take turns call by call, the first of each round rotating, so that a busy spell of the
// shared machine falls on all of them alike; medians of single calls shrug off the calls it stretched.
static const double kSecondsPerCase = 6;
static const int kMinimumRounds = 200;
static const int kRoundsPerReset = 64;

static double Percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(fraction * static_cast<double>(values.size() - 1))];
}

static std::string strFile;           // the file the drop cases drop, made at the start

// What the run is doing now, for the watchdog: a stage that never ends is reported and the run stopped,
// so a stuck run says where it stuck instead of holding the caller until its own limit.
static const char *volatile pszStage = "starting";
static volatile LONG nStageCalls;
static const DWORD kStageLimitMs = 300000;

static void EnterStage(const char *stage) {
    pszStage = stage;
    InterlockedExchange(&nStageCalls, 0);
}

static DWORD WINAPI Watchdog(LPVOID) {
    const char *seen = nullptr;
    DWORD since = GetTickCount();
    for (;;) {
        Sleep(1000);
        if (pszStage != seen) {
            seen = pszStage;
            since = GetTickCount();
        } else if (GetTickCount() - since > kStageLimitMs) {
            printf("action_bench: stuck for %lu s in \"%s\" after %ld timed calls\n",
                   static_cast<unsigned long>((GetTickCount() - since) / 1000), seen, nStageCalls);
            fflush(stdout);
            ExitProcess(3);
        }
    }
}

static void Fail(const char *what) {
    printf("action_bench: %s\n", what);
    for (const std::string &line : PlayerLines()) printf("  %s\n", line.c_str());
    fflush(stdout);
    StopPlayer(0);
    if (!strFile.empty()) DeleteFileA(strFile.c_str());
    ExitProcess(1);
}

// The first variant is the plug-in. `reset` clears the records the calls leave, between rounds.
static std::vector<Figure> Measure(const std::vector<Variant> &variants, void (*reset)()) {
    size_t n = variants.size();
    reset();
    for (const Variant &variant : variants) {
        for (int i = 0; i < 10; ++i) variant.once();  // warm caches and lazily made state
    }
    std::vector<std::vector<double>> totals(n), sendings(n);
    double start = Seconds();
    int round = 0;
    for (; round < kMinimumRounds || Seconds() - start < kSecondsPerCase; ++round) {
        if (round % kRoundsPerReset == 0) reset();
        for (size_t k = 0; k < n; ++k) {
            size_t v = (k + static_cast<size_t>(round)) % n;
            Sample sample = variants[v].once();
            InterlockedIncrement(&nStageCalls);
            totals[v].push_back(sample.total * 1e6);
            sendings[v].push_back(sample.sending * 1e6);
        }
    }
    reset();
    std::vector<Figure> figures;
    for (size_t v = 0; v < n; ++v) {
        figures.push_back({Percentile(totals[v], 0.5), Percentile(totals[v], 0.1), Percentile(sendings[v], 0.5),
                           Percentile(sendings[v], 0.1)});
    }
    printf("    %d calls per variant, taking turns call by call\n", round);
    return figures;
}

struct SummaryRow {
    std::string what;
    Figure plugIn, raw;
};
static std::vector<SummaryRow> rowsSummary;

static void PrintRatio(double plugIn, double raw) {
    double ratio = plugIn / raw;
    printf("  %.3f (%+5.1f%%)", ratio, (ratio - 1) * 100);
}

// Every variant after the first is a raw way of doing what the plug-in does.
static void Report(const std::string &caseName, const std::vector<Variant> &variants,
                   const std::vector<Figure> &figures, bool showSending) {
    printf("    %-46s %9s %11s   %-16s %-16s\n", "per call", "median", "(10th pct)", "plug-in/raw:", "");
    printf("    %-46s %9s %11s   %-16s %-16s\n", "", "", "", "  of medians", "  of 10th pcts");
    for (size_t v = 0; v < variants.size(); ++v) {
        const Figure &f = figures[v];
        printf("    %-46s %9.2f us (%9.2f)", variants[v].label, f.median, f.p10);
        if (v > 0) {
            PrintRatio(figures[0].median, f.median);
            PrintRatio(figures[0].p10, f.p10);
        }
        printf("\n");
        if (showSending) {
            printf("    %-46s %9.2f us (%9.2f)", "  of which in the call itself", f.sendingMedian, f.sendingP10);
            if (v > 0) {
                PrintRatio(figures[0].sendingMedian, f.sendingMedian);
                PrintRatio(figures[0].sendingP10, f.sendingP10);
            }
            printf("\n");
        }
    }
    rowsSummary.push_back({caseName, figures[0], figures[1]});
    fflush(stdout);
}

// ---- Extra top-level windows: ordinary static controls, made after the player's windows and raised
// above them, so a search of the top-level windows meets all of them first.

static std::vector<HWND> wndFillers;

static void AddFillerWindows(int count) {
    for (int i = 0; i < count; ++i) {
        HWND window = CreateWindowExA(0, "Static", "filler", WS_POPUP, 0, 0, 16, 16, nullptr, nullptr,
                                      GetModuleHandleA(nullptr), nullptr);
        if (window == nullptr) Fail("could not make the extra windows");
        SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        wndFillers.push_back(window);
    }
}

static void RemoveFillerWindows() {
    for (HWND window : wndFillers) DestroyWindow(window);
    wndFillers.clear();
}

// ---- vxWnpCommand.

static const char kMainClass[] = "Winamp v1.x";
static const int32_t kPlayerReply = 1234;
static const WPARAM kCommandWParam = 40044;
static const std::vector<const char *> kCommandParameters = {"WM_COMMAND", "40044", "0"};

static HWND hRawFound;
static int nRawVisited;

// The walk the plug-in is bound to: every top-level window's class name read into a 256-byte buffer
// and compared whole, ignoring case, until the first match.
static BOOL CALLBACK RawFindMainProc(HWND window, LPARAM) {
    ++nRawVisited;
    char name[256];
    if (GetClassNameA(window, name, sizeof name) == 0) return TRUE;
    if (_stricmp(name, kMainClass) != 0) return TRUE;
    hRawFound = window;
    return FALSE;
}

static HWND RawFindMain() {
    hRawFound = nullptr;
    nRawVisited = 0;
    EnumWindows(RawFindMainProc, 0);
    return hRawFound;
}

static Sample Timed(void (*call)()) {
    double start = Seconds();
    call();
    double elapsed = Seconds() - start;
    return {elapsed, elapsed};
}

static Sample PlugInCommand() {
    return Timed([] { HostExecAction(3, kCommandParameters); });
}

static Sample RawWalkCommand() {
    return Timed([] { SendMessageA(RawFindMain(), WM_COMMAND, kCommandWParam, 0); });
}

static Sample FindWindowCommand() {
    return Timed([] { SendMessageA(FindWindowA(kMainClass, nullptr), WM_COMMAND, kCommandWParam, 0); });
}

// ---- The player for commands: vxplayer.exe in a process of its own, as the real player runs, quiet:
// its line per command, read back through a pipe, would cost more than the command itself and hide
// the difference measured here. It is steered through its control window.

static HWND hMain, hControl;

static void StartQuietPlayer(int32_t reply) {
    PlayerOptions options;
    options.reply = reply;
    PlayerStart playerStart;
    playerStart.quiet = true;
    if (!StartPlayer(options, playerStart)) Fail("could not start vxplayer.exe");
    PlayerWindows windows = CurrentPlayerWindows();
    hControl = windows.control;
    hMain = windows.mains.empty() ? nullptr : windows.mains[0];
    if (!IsWindow(hControl) || !IsWindow(hMain)) Fail("vxplayer.exe did not report its windows");
}

static void ResetCommandRecords() {
    HostClearRecords();
    if (!PlayerClearRecords()) Fail("the player does not answer");
}

// Makes sure every variant does what the plug-in does before any of them is timed.
static void CheckCommandVariants() {
    ResetCommandRecords();
    HostExecAction(3, kCommandParameters);
    if (HostVariable("vxAVSDrop") != std::to_string(kPlayerReply))
        Fail("the plug-in did not hand back the player's reply");
    PlayerCommand command;
    if (PlayerCommandCount() != 1 || !GetPlayerCommand(0, &command) || command.message != WM_COMMAND ||
        command.wParam != kCommandWParam || command.window != hMain)
        Fail("the player did not receive the plug-in's command");
    // Another program's window of the player's class above ours would take every command.
    if (RawFindMain() != hMain || FindWindowA(kMainClass, nullptr) != hRawFound)
        Fail("another player's main window comes first in the window list; run with no other player open");
    if (SendMessageA(hRawFound, WM_COMMAND, kCommandWParam, 0) != kPlayerReply)
        Fail("the raw command got another reply");
    ResetCommandRecords();
}

// ---- Pieces: single calls timed alone, to tell where an action's time goes.

// A batch is made long enough to time by doubling it until it takes 10 ms on the clock, never from
// one short reading: a clock that steps coarsely (a freshly booted virtual machine's, before its
// kernel settles on a finer one) reads a short batch as no time at all, and a count worked out from
// that once made this take hours. Each piece stops after kPieceSeconds whatever the clock does.
static const double kPieceSeconds = 3;

static void ReportPiece(const char *label, void (*piece)(), void (*reset)() = nullptr) {
    EnterStage(label);
    for (int i = 0; i < 5; ++i) piece();
    int count = 1;
    double pieceStart = Seconds();
    for (;;) {
        double start = Seconds();
        for (int i = 0; i < count; ++i) piece();
        if (Seconds() - start >= 0.01 || count >= 500000 || Seconds() - pieceStart > kPieceSeconds) break;
        count *= 2;
    }
    std::vector<double> perCalls;
    for (int round = 0; round < 31 && (round < 3 || Seconds() - pieceStart < kPieceSeconds); ++round) {
        double start = Seconds();
        for (int i = 0; i < count; ++i) piece();
        perCalls.push_back((Seconds() - start) / count * 1e6);
        InterlockedIncrement(&nStageCalls);
        if (reset != nullptr) reset();
    }
    printf("    %-62s %9.2f us (%8.2f)\n", label, Percentile(perCalls, 0.5),
           *std::min_element(perCalls.begin(), perCalls.end()));
    fflush(stdout);
}

// As the plug-in waits for the player: the reply comes back through a callback, and only messages
// sent to this thread are handled meanwhile.
static bool fPieceReplied;
static VOID CALLBACK PieceReply(HWND, UINT, ULONG_PTR, LRESULT) { fPieceReplied = true; }

static void SendWithCallbackAndWait() {
    fPieceReplied = false;
    if (!SendMessageCallbackA(hMain, WM_COMMAND, kCommandWParam, 0, PieceReply, 0)) return;
    while (!fPieceReplied) {
        MSG unused;
        PeekMessageA(&unused, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        if (fPieceReplied) break;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_SENDMESSAGE);
    }
}

static void CommandPieces() {
    printf("\nPieces of vxWnpCommand (player in its own process, no extra windows), per call: median (min)\n");
    ReportPiece("EnumWindows walk to the player's main window", [] { RawFindMain(); });
    ReportPiece("FindWindowA", [] { FindWindowA(kMainClass, nullptr); });
    ReportPiece("SendMessageA WM_COMMAND to the main window",
                [] { SendMessageA(hMain, WM_COMMAND, kCommandWParam, 0); }, ResetCommandRecords);
    ReportPiece("SendMessageCallbackA + wait as the plug-in waits", SendWithCallbackAndWait, ResetCommandRecords);
    ReportPiece("SendMessageA to the player's control window (nothing logged)", [] {
        SendMessageA(hControl, kControlCommandCount, 0, 0);
    });
    ReportPiece("IsHungAppWindow(main window)", [] { IsHungAppWindow(hMain); });
    ReportPiece("IsWindow(main window)", [] { IsWindow(hMain); });
    ReportPiece("the stand-in host's set-variable callback", [] { HostSetVariable("vxAVSDrop", "1234"); },
                HostClearRecords);
    ReportPiece("plug-in: vxWnpCommand with an unknown message name (nothing sent)", [] {
        static const std::vector<const char *> unknown = {"WM_NONE", "40044", "0"};
        HostExecAction(3, unknown);
    }, HostClearRecords);
}

static void BenchCommands(int extraWindows) {
    EnterStage(extraWindows ? "commands among extra windows" : "commands");
    AddFillerWindows(extraWindows);
    CheckCommandVariants();
    RawFindMain();
    printf("\nvxWnpCommand WM_COMMAND %u, player in its own process, %d extra windows (%d windows visited up to "
           "the player's main window)\n",
           static_cast<unsigned>(kCommandWParam), extraWindows, nRawVisited);
    std::vector<Variant> variants = {
        {"plug-in: nbExecAction vxWnpCommand", PlugInCommand},
        {"raw: EnumWindows walk + SendMessageA", RawWalkCommand},
        {"raw: FindWindowA + SendMessageA", FindWindowCommand},
    };
    std::vector<Figure> figures = Measure(variants, ResetCommandRecords);
    Report("vxWnpCommand, " + std::to_string(extraWindows) + " extra windows", variants, figures, false);
    RemoveFillerWindows();
}

// ---- vxAVSDropFile.

static std::wstring wstrFile;
static HWND hInner;
static size_t nDropsExpected;  // drops posted since the player's records were last cleared

// The receiver reads and releases every block on its own thread.
static void WaitForReceiver() {
    double start = Seconds();
    while (!WaitForPlayerDrops(nDropsExpected, 0)) {
        if (Seconds() - start > 10) Fail("the player stopped taking drops");
        SwitchToThread();
    }
}

static const std::vector<const char *> &DropParameters() {
    static const std::vector<const char *> parameters = {strFile.c_str(), ""};
    return parameters;
}

static void RawDrop() {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(wstrFile.c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT | GMEM_SHARE, strFile.size() + 22);
    auto *bytes = static_cast<unsigned char *>(GlobalLock(block));
    DROPFILES header = {};
    header.pFiles = sizeof header;
    header.pt.x = 5;
    header.pt.y = 5;
    memcpy(bytes, &header, sizeof header);
    memcpy(bytes + sizeof header, strFile.data(), strFile.size());
    GlobalUnlock(block);
    // Posted, the block is the receiver's.
    if (!PostMessageA(hInner, WM_DROPFILES, reinterpret_cast<WPARAM>(block), 0)) GlobalFree(block);
}

// The same, with the name first resolved to the full name that the drop hands over.
static void RawFullNameDrop() {
    char full[MAX_PATH];
    GetFullPathNameA(strFile.c_str(), MAX_PATH, full, nullptr);
    RawDrop();
}

static void PlugInDrop() { HostExecAction(1, DropParameters()); }

// One drop at a time, each waited for until the receiver has read and released it: its queue stays
// empty, and both variants meet the receiver in the same state.
static Sample TimedDrop(void (*drop)()) {
    double start = Seconds();
    drop();
    double posted = Seconds();
    ++nDropsExpected;
    WaitForReceiver();
    return {Seconds() - start, posted - start};
}

static Sample PlugInDrops() { return TimedDrop(PlugInDrop); }
static Sample RawDrops() { return TimedDrop(RawDrop); }
static Sample RawFullNameDrops() { return TimedDrop(RawFullNameDrop); }

static void ResetDropRecords() {
    HostClearRecords();
    PlayerClearRecords();
    nDropsExpected = 0;
}

static void CheckDropVariants() {
    for (void (*drop)() : {PlugInDrop, RawDrop}) {
        ResetDropRecords();
        drop();
        nDropsExpected = 1;
        WaitForReceiver();
        std::vector<PlayerDrop> drops = PlayerDropList();
        if (!gHost.variableWrites.empty() || drops.size() != 1 || drops[0].window != hInner || !drops[0].read ||
            drops[0].name != strFile || drops[0].blockSize != strFile.size() + 22 || !drops[0].goneAfterFinish)
            Fail("a drop did not arrive as a whole, released block with the file's name");
    }
    ResetDropRecords();
}

static void DropPieces() {
    printf("\nPieces of vxAVSDropFile, per call: median (min)\n");
    ReportPiece("FindFirstFileW + FindClose", [] {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW(wstrFile.c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) FindClose(search);
    });
    ReportPiece("MultiByteToWideChar of the name, twice", [] {
        wchar_t wide[MAX_PATH];
        MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, strFile.data(), static_cast<int>(strFile.size()), nullptr, 0);
        MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, strFile.data(), static_cast<int>(strFile.size()), wide, MAX_PATH);
    });
    ReportPiece("GetFullPathNameA of the name", [] {
        char full[MAX_PATH];
        GetFullPathNameA(strFile.c_str(), MAX_PATH, full, nullptr);
    });
    ReportPiece("IsWindow(inner window)", [] { IsWindow(hInner); });
    ReportPiece("GlobalAlloc + GlobalLock + GlobalUnlock + GlobalFree", [] {
        HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT | GMEM_SHARE, strFile.size() + 22);
        GlobalLock(block);
        GlobalUnlock(block);
        GlobalFree(block);
    });
}

static void BenchDrops(int extraWindows) {
    EnterStage(extraWindows ? "drops among extra windows" : "drops");
    AddFillerWindows(extraWindows);
    // The first drop finds the visualizer; the timed ones reuse the window it found.
    PlugInDrop();
    nDropsExpected = 1;
    WaitForReceiver();
    CheckDropVariants();
    printf("\nvxAVSDropFile of an existing file to the found inner window, player on a thread of this process, "
           "%d extra windows;\neach drop timed until the receiver has read and released it\n",
           extraWindows);
    std::vector<Variant> variants = {
        {"plug-in: nbExecAction vxAVSDropFile", PlugInDrops},
        {"raw: FindFirstFileW/FindClose + block + Post", RawDrops},
        {"raw: the same after GetFullPathNameA", RawFullNameDrops},
    };
    std::vector<Figure> figures = Measure(variants, ResetDropRecords);
    Report("vxAVSDropFile, " + std::to_string(extraWindows) + " extra windows", variants, figures, true);
    RemoveFillerWindows();
}

// ---- The run.

static void MakeDropFile() {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    strFile = std::string(temp) + "vxavs bench " + std::to_string(GetCurrentProcessId()) + ".mp3";
    HANDLE handle = CreateFileA(strFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) Fail("could not make the file to drop");
    CloseHandle(handle);
    int count = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, strFile.c_str(), -1, nullptr, 0);
    std::vector<wchar_t> wide(static_cast<size_t>(count));
    MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, strFile.c_str(), -1, wide.data(), count);
    wstrFile = wide.data();
}

// ---- vxAVSEmbed: an embedding, a release and a resize of the host window while embedded, each as long
// as it holds the host's thread. The player runs in a process of its own, as the real one does.

static HWND hStage;

static LRESULT CALLBACK StageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

static void MakeStage() {
    WNDCLASSA stageClass = {};
    stageClass.lpfnWndProc = StageProc;
    stageClass.hInstance = GetModuleHandleA(nullptr);
    stageClass.lpszClassName = "vxavs bench stage";
    RegisterClassA(&stageClass);
    hStage = CreateWindowExA(0, "vxavs bench stage", "Stage", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 400, 80, 400, 300,
                             nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    if (hStage == nullptr) Fail("could not make the host window");
    HostSetObjectWindow("Stage", hStage);
}

static int nStageStep;

static double TimedAction(const char *mode) {
    double start = Seconds();
    HostExecAction(2, {"Stage", mode});
    double elapsed = Seconds() - start;
    InterlockedIncrement(&nStageCalls);
    PumpMessages(0);
    return elapsed * 1e6;
}

static double TimedResize() {
    int step = ++nStageStep % 8;
    double start = Seconds();
    SetWindowPos(hStage, nullptr, 0, 0, 380 + 10 * step, 280 + 6 * step, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    double elapsed = Seconds() - start;
    InterlockedIncrement(&nStageCalls);
    PumpMessages(0);
    return elapsed * 1e6;
}

static void ReportTimes(const char *label, const std::vector<double> &times) {
    printf("    %-46s %9.2f us (%9.2f) %11.2f us   %zu calls\n", label, Percentile(times, 0.5),
           Percentile(times, 0.1), *std::max_element(times.begin(), times.end()), times.size());
    fflush(stdout);
}

static void BenchEmbedding() {
    EnterStage("embedding");
    printf("\nvxAVSEmbed, player in its own process: time on the host's thread\n");
    MakeStage();
    HostClearRecords();
    HostExecAction(2, {"Stage", "true"});
    if (HostVariableWritten("vxAVSDrop")) Fail("the plug-in did not embed the visualizer");
    HostExecAction(2, {"Stage", "false"});
    std::vector<double> embeds, releases, resizes, firstEmbeds;
    double start = Seconds();
    for (int round = 0; round < 100 || (Seconds() - start < kSecondsPerCase && round < 2000); ++round) {
        embeds.push_back(TimedAction("true"));
        for (int i = 0; i < 4; ++i) resizes.push_back(TimedResize());
        releases.push_back(TimedAction("false"));
    }
    // After a pause, as an author's page would embed it: whatever the plug-in sets up afresh counts.
    for (int i = 0; i < 5; ++i) {
        PumpMessages(600);
        firstEmbeds.push_back(TimedAction("true"));
        PumpMessages(600);
        TimedAction("false");
    }
    if (HostVariableWritten("vxAVSDrop")) Fail("an embedding or release failed while timed");
    printf("    %-46s %9s %11s %14s\n", "per call", "median", "(10th pct)", "slowest");
    ReportTimes("embed (\"true\")", embeds);
    ReportTimes("release (\"false\")", releases);
    ReportTimes("resize of the host window while embedded", resizes);
    ReportTimes("embed after 600 ms without an action", firstEmbeds);
    DestroyWindow(hStage);
    hStage = nullptr;
}

// The clock's finest step seen: a coarse one makes single short calls read 0.
static void ReportClockStep() {
    double smallest = 1;
    for (int i = 0; i < 2000; ++i) {
        double a = Seconds(), b;
        while ((b = Seconds()) == a) {
        }
        smallest = std::min(smallest, b - a);
    }
    printf("Clock: finest step %.3f us\n", smallest * 1e6);
}

int main() {
    QueryPerformanceFrequency(&liFrequency);
    double start = Seconds();
    typedef const char *(__cdecl * WineVersion)();
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    FARPROC found = ntdll ? GetProcAddress(ntdll, "wine_get_version") : nullptr;
    WineVersion wineVersion = reinterpret_cast<WineVersion>(reinterpret_cast<void *>(found));
    printf("vxavs action benchmark%s%s\n", wineVersion ? ", Wine " : "", wineVersion ? wineVersion() : "");
    printf("Plug-in: the real vxavs.dll in the stand-in host. Raw: the Windows calls the action has to make.\n");

    CloseHandle(CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr));
    ReportClockStep();
    MakeDropFile();
    if (!HostLoadPlugIn(FileBesideProgram("vxavs.dll").c_str())) Fail("could not load vxavs.dll");
    HostHandshake();

    EnterStage("starting the player");
    StartQuietPlayer(kPlayerReply);
    BenchEmbedding();
    BenchCommands(0);
    BenchCommands(300);
    CommandPieces();
    EnterStage("stopping the player");
    StopPlayer();

    // Quiet, as the command player: no line per drop.
    // Its start is timed: a window made on a new thread of the host's process must not wait for anything
    // the actions before left behind.
    PlayerStart threadStart = ThreadPlayerStart(true);
    threadStart.readyTimeoutMs = 120000;
    double threadStarting = Seconds();
    if (!StartPlayer(PlayerOptions(), threadStart)) Fail("could not start the player thread");
    printf("\nThe player on a thread of this process started in %.1f ms\n", (Seconds() - threadStarting) * 1e3);
    hInner = CurrentPlayerWindows().inner;
    BenchDrops(0);
    BenchDrops(300);
    DropPieces();
    EnterStage("stopping the player");
    StopPlayer();
    EnterStage("unloading the plug-in");
    HostUnloadPlugIn();
    DeleteFileA(strFile.c_str());

    printf("\nSummary per call: plug-in against the calls it has to make\n");
    printf("    %-32s %10s %10s   %-16s %-16s\n", "action", "plug-in", "raw", "ratio of medians", "of 10th pcts");
    for (const SummaryRow &row : rowsSummary) {
        printf("    %-32s %7.2f us %7.2f us", row.what.c_str(), row.plugIn.median, row.raw.median);
        PrintRatio(row.plugIn.median, row.raw.median);
        PrintRatio(row.plugIn.p10, row.raw.p10);
        printf("\n");
    }
    printf("    (raw: the EnumWindows walk + SendMessageA for commands; the file test, the block and the post for "
           "drops,\n     until the receiver has taken the block)\n");
    printf("Finished in %.1f s\n", Seconds() - start);
    return 0;
}
