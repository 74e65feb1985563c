// vxavs test bed: starting and stopping the stand-in player in either mode, vxplayer.exe in a process
// of its own or a thread of ours, and the lines it prints, which both modes record alike.

#include "player_internal.h"
#include "testbed_common.h"

#include <cstdio>
#include <cstring>
#include <mutex>

static PlayerMode modePlayer;
static HANDLE hPlayerEnds;      // the player's process or thread: signalled once it has ended
static DWORD dwPlayerProcessId;
static PlayerWindows wndStarted;
static bool fEchoPlayerLines;

static std::mutex lockLines;
static std::vector<std::string> linesPlayer;
static bool fPlayerOutputEnded;
static unsigned nPlayerStarts;  // which start the lines above belong to

// Process mode only.
static HANDLE hPlayerJob;
static HANDLE hPlayerPipe;
static HANDLE hPlayerReader;

// Thread mode only: what the thread is started with.
static PlayerOptions optThread;
static PlayerStart startThread;

// Both modes: a line the player of the given start printed (process) or logged (thread). A reader
// that outlived its player's stop (a slow machine) must neither add to nor end the next one's lines.
static void RecordLineOf(unsigned start, const std::string &line) {
    std::lock_guard<std::mutex> hold(lockLines);
    if (start != nPlayerStarts) return;
    if (fEchoPlayerLines) {
        printf("%s\n", line.c_str());
        fflush(stdout);
    }
    linesPlayer.push_back(line);
}

static void EndOutputOf(unsigned start) {
    std::lock_guard<std::mutex> hold(lockLines);
    if (start == nPlayerStarts) fPlayerOutputEnded = true;
}

// A thread player is always the current start's: the next start waits until it has ended.
static void RecordPlayerLine(const std::string &line) { RecordLineOf(nPlayerStarts, line); }

// The reader owns its pipe: one it has to leave behind still closes it when its player's output ends.
struct ReaderStart {
    HANDLE pipe;
    unsigned start;
};

static DWORD WINAPI PlayerReaderProc(void *parameter) {
    ReaderStart reader = *static_cast<ReaderStart *>(parameter);
    delete static_cast<ReaderStart *>(parameter);
    std::string pending;
    char buffer[4096];
    DWORD got;
    while (ReadFile(reader.pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        pending.append(buffer, got);
        size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
            RecordLineOf(reader.start, line);
        }
    }
    if (!pending.empty()) RecordLineOf(reader.start, pending);
    CloseHandle(reader.pipe);
    EndOutputOf(reader.start);
    return 0;
}

static DWORD WINAPI PlayerThreadProc(void *desktop) {
    // On the starter's desktop, which need not be the process's first one: the plug-in looks there.
    SetThreadDesktop(static_cast<HDESK>(desktop));
    if (CreatePlayerWindows(optThread, startThread, RecordPlayerLine)) {
        RecordPlayerLine(PlayerReadyLine(PlayerWindowsMade()));
        RunPlayerLoop();
        DestroyPlayerWindows();
    } else {
        RecordPlayerLine("player: could not create the windows (error " + std::to_string(GetLastError()) + ")");
    }
    EndOutputOf(nPlayerStarts);
    return 0;
}

static void ClosePlayerHandles() {
    if (hPlayerReader != nullptr) {
        // The reader ends when the last writer of the pipe is gone, and closes the pipe itself; a slow
        // one is left to finish on its own.
        WaitForSingleObject(hPlayerReader, 5000);
        CloseHandle(hPlayerReader);
    } else if (hPlayerPipe != nullptr) {
        CloseHandle(hPlayerPipe);
    }
    hPlayerReader = nullptr;
    hPlayerPipe = nullptr;
    if (hPlayerEnds != nullptr) CloseHandle(hPlayerEnds);
    hPlayerEnds = nullptr;
    dwPlayerProcessId = 0;
    // Closing the job ends nothing now: its one process has exited.
    if (hPlayerJob != nullptr) CloseHandle(hPlayerJob);
    hPlayerJob = nullptr;
    wndStarted = PlayerWindows();
}

// vxplayer.exe, suspended until it is in the job, its output on a pipe that a reader thread drains.
static bool StartPlayerProcess(const PlayerOptions &options, const PlayerStart &start) {
    std::string exe = start.exePath.empty() ? FileBesideProgram("vxplayer.exe") : start.exePath;
    if (exe.empty()) return false;
    std::string commandLine = PlayerCommandLine(exe, options, start);
    PROCESS_INFORMATION process;
    if (!StartWithOutputPipe(exe.c_str(), commandLine, CREATE_SUSPENDED, nullptr, &process, &hPlayerPipe)) return false;
    hPlayerEnds = process.hProcess;
    dwPlayerProcessId = process.dwProcessId;
    // A job that kills the player when this process goes, however it goes. Best effort: where jobs
    // cannot nest the player still ends by its lifetime limit.
    hPlayerJob = CreateJobObjectA(nullptr, nullptr);
    if (hPlayerJob != nullptr) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (!SetInformationJobObject(hPlayerJob, JobObjectExtendedLimitInformation, &limits, sizeof limits) ||
            !AssignProcessToJobObject(hPlayerJob, process.hProcess)) {
            CloseHandle(hPlayerJob);
            hPlayerJob = nullptr;
        }
    }
    ResumeThread(process.hThread);
    CloseHandle(process.hThread);
    auto *reader = new ReaderStart{hPlayerPipe, nPlayerStarts};
    hPlayerReader = CreateThread(nullptr, 0, PlayerReaderProc, reader, 0, nullptr);
    if (hPlayerReader == nullptr) delete reader;
    return hPlayerReader != nullptr;
}

static bool StartPlayerThread(const PlayerOptions &options, const PlayerStart &start) {
    optThread = options;
    if (optThread.drops == kDropsAuto) optThread.drops = kDropsRead;  // our own blocks are readable here
    startThread = start;
    startThread.lifetimeSeconds = 0;
    hPlayerEnds = CreateThread(nullptr, 0, PlayerThreadProc, GetThreadDesktop(GetCurrentThreadId()), 0, nullptr);
    dwPlayerProcessId = GetCurrentProcessId();
    return hPlayerEnds != nullptr;
}

// The first line so far that holds `fragment`; false when there is none. *ended: the output is over.
static bool FindPlayerLine(const std::string &fragment, std::string *found, bool *ended) {
    std::lock_guard<std::mutex> hold(lockLines);
    *ended = fPlayerOutputEnded;
    for (const std::string &line : linesPlayer) {
        if (line.find(fragment) != std::string::npos) {
            *found = line;
            return true;
        }
    }
    return false;
}

// A player that did not quit when asked: a process is ended; a thread cannot be, and is told to quit
// through its queue (one late to start has no control window yet, or never had it reported) until it
// ends.
static void EndPlayerNow() {
    if (modePlayer == kPlayerOwnProcess) {
        TerminateProcess(hPlayerEnds, 1);
        WaitHandlingSentMessages(hPlayerEnds, 5000);
        return;
    }
    do {
        PostThreadMessageA(GetThreadId(hPlayerEnds), WM_QUIT, 0, 0);
    } while (!WaitHandlingSentMessages(hPlayerEnds, 1000));
}

bool StartPlayer(const PlayerOptions &options, const PlayerStart &start) {
    StopPlayer();
    {
        std::lock_guard<std::mutex> hold(lockLines);
        linesPlayer.clear();
        fPlayerOutputEnded = false;
        ++nPlayerStarts;
    }
    modePlayer = start.mode;
    fEchoPlayerLines = start.echo;
    bool started = start.mode == kPlayerOnThread ? StartPlayerThread(options, start) : StartPlayerProcess(options, start);
    std::string ready;
    bool ended = false;
    if (started)
        WaitUntil([&] { return FindPlayerLine("player: ready ", &ready, &ended) || ended; }, start.readyTimeoutMs,
                  kWaitHandlingSent);
    if (!ready.empty() && ParsePlayerReadyLine(ready, &wndStarted)) return true;
    // A thread that failed has ended by itself.
    if (hPlayerEnds != nullptr) EndPlayerNow();
    ClosePlayerHandles();
    return false;
}

bool StopPlayer(DWORD timeoutMs) {
    if (hPlayerEnds == nullptr) return true;
    // The control window lives as long as the player's loop; a failed post means the loop is over.
    if (wndStarted.control != nullptr) PostMessageA(wndStarted.control, kControlQuit, 0, 0);
    // The player's inner window may sit in one of our windows; destroying it sends to this thread.
    bool quitByItself = WaitHandlingSentMessages(hPlayerEnds, timeoutMs);
    if (!quitByItself) EndPlayerNow();
    ClosePlayerHandles();
    return quitByItself;
}

PlayerWindows CurrentPlayerWindows() { return wndStarted; }
DWORD PlayerProcessId() { return dwPlayerProcessId; }
HWND StartedPlayerControl() { return hPlayerEnds != nullptr ? wndStarted.control : nullptr; }
void FollowPlayerWindows(const PlayerWindows &windows) { wndStarted = windows; }
bool PlayerOnThread() { return hPlayerEnds != nullptr && modePlayer == kPlayerOnThread; }

std::vector<std::string> PlayerLines() {
    std::lock_guard<std::mutex> hold(lockLines);
    return linesPlayer;
}

bool WaitForPlayerLine(const std::string &fragment, DWORD timeoutMs) {
    std::string line;
    bool ended = false;
    WaitUntil([&] { return FindPlayerLine(fragment, &line, &ended) || ended; }, timeoutMs);
    return FindPlayerLine(fragment, &line, &ended);
}
