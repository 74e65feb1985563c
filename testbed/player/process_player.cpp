// vxavs test bed: process mode: the test side of vxplayer.exe, which it starts, reads the output of,
// questions through the player's control window and stops.

#include "player_internal.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>

static PROCESS_INFORMATION piPlayer;
static HANDLE hPlayerJob;
static HANDLE hPlayerPipe;
static HANDLE hPlayerReader;
static HANDLE evPlayerLine;  // set at every line and at the end of the output
static bool fEchoPlayerLines;
static std::mutex lockLines;
static std::vector<std::string> linesPlayer;
static bool fPlayerOutputEnded;
static PlayerWindows wndProcess;

static DWORD WINAPI PlayerReaderProc(void *) {
    std::string pending;
    char buffer[4096];
    DWORD got;
    while (ReadFile(hPlayerPipe, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        pending.append(buffer, got);
        size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
            if (fEchoPlayerLines) {
                printf("%s\n", line.c_str());
                fflush(stdout);
            }
            {
                std::lock_guard<std::mutex> hold(lockLines);
                linesPlayer.push_back(line);
            }
            SetEvent(evPlayerLine);
        }
    }
    {
        std::lock_guard<std::mutex> hold(lockLines);
        if (!pending.empty()) linesPlayer.push_back(pending);
        fPlayerOutputEnded = true;
    }
    SetEvent(evPlayerLine);
    return 0;
}

// One argument quoted as the C runtime splits command lines: backslashes double only before a quote.
static std::string QuoteArgument(const std::string &argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}

static std::string PlayerCommandLine(const std::string &exe, const PlayerOptions &options,
                                     const PlayerProcessOptions &processOptions) {
    static const char *const placements[] = {"none", "child", "grandchild", "toplevel"};
    std::string line = QuoteArgument(exe);
    auto add = [&line](const std::string &name, const std::string &value) {
        line += " " + name + " " + QuoteArgument(value);
    };
    add("--mains", std::to_string(options.mainWindowCount));
    add("--main-class", options.mainClass);
    add("--main-title", options.mainTitle);
    if (!options.frame) line += " --no-frame";
    add("--frame-class", options.frameClass);
    add("--frame-title", options.frameTitle);
    add("--frame-rect", std::to_string(options.frameX) + "," + std::to_string(options.frameY) + "," +
                            std::to_string(options.frameWidth) + "," + std::to_string(options.frameHeight));
    add("--inner", placements[options.inner]);
    add("--inner-class", options.innerClass);
    add("--pane-class", options.paneClass);
    for (const std::string &title : options.decoyFrameTitles) add("--decoy-frame", title);
    if (options.decoyFramesHaveInner) line += " --decoy-inner";
    if (!options.visible) line += " --hidden";
    add("--reply", std::to_string(options.reply));
    add("--drops", processOptions.drops);
    add("--lifetime", std::to_string(processOptions.lifetimeSeconds));
    if (processOptions.quiet) line += " --quiet";
    return line;
}

static void ParseHandles(const std::string &text, std::vector<HWND> *windows) {
    const char *at = text.c_str();
    while (*at != '\0') {
        char *end;
        unsigned long value = strtoul(at, &end, 10);
        if (end == at) break;
        windows->push_back(reinterpret_cast<HWND>(static_cast<uintptr_t>(value)));
        at = *end == ',' ? end + 1 : end;
    }
}

static bool ParseReadyLine(const std::string &line, PlayerWindows *windows) {
    const std::string prefix = "player: ready ";
    if (line.compare(0, prefix.size(), prefix) != 0) return false;
    *windows = PlayerWindows();
    size_t at = prefix.size();
    while (at < line.size()) {
        size_t end = line.find(' ', at);
        if (end == std::string::npos) end = line.size();
        std::string field = line.substr(at, end - at);
        at = end + 1;
        size_t equals = field.find('=');
        if (equals == std::string::npos) continue;
        std::string key = field.substr(0, equals), value = field.substr(equals + 1);
        std::vector<HWND> handles;
        ParseHandles(value, &handles);
        HWND first = handles.empty() ? nullptr : handles[0];
        if (key == "control") windows->control = first;
        else if (key == "main") windows->mains = handles;
        else if (key == "frame") windows->frame = first;
        else if (key == "pane") windows->pane = first;
        else if (key == "inner") windows->inner = first;
        else if (key == "decoys") windows->decoyFrames = handles;
        else if (key == "decoyinners") windows->decoyInners = handles;
    }
    return windows->control != nullptr;
}

static void ClosePlayerProcessHandles() {
    if (hPlayerReader != nullptr) {
        // The reader ends when the last writer of the pipe is gone; a stuck one is left, its pipe kept.
        if (WaitForSingleObject(hPlayerReader, 5000) == WAIT_OBJECT_0 && hPlayerPipe != nullptr) {
            CloseHandle(hPlayerPipe);
        }
        CloseHandle(hPlayerReader);
    } else if (hPlayerPipe != nullptr) {
        CloseHandle(hPlayerPipe);
    }
    hPlayerReader = nullptr;
    hPlayerPipe = nullptr;
    if (piPlayer.hThread != nullptr) CloseHandle(piPlayer.hThread);
    if (piPlayer.hProcess != nullptr) CloseHandle(piPlayer.hProcess);
    piPlayer = PROCESS_INFORMATION();
    // Closing the job ends nothing now: its one process has exited.
    if (hPlayerJob != nullptr) CloseHandle(hPlayerJob);
    hPlayerJob = nullptr;
    if (evPlayerLine != nullptr) CloseHandle(evPlayerLine);
    evPlayerLine = nullptr;
}

static std::string ReadyLineSoFar() {
    std::lock_guard<std::mutex> hold(lockLines);
    for (const std::string &line : linesPlayer)
        if (line.compare(0, 14, "player: ready ") == 0) return line;
    return "";
}

bool StartPlayerProcess(const PlayerOptions &options, const PlayerProcessOptions &processOptions) {
    StopPlayerProcess();
    std::string exe = processOptions.exePath;
    if (exe.empty()) {
        char path[MAX_PATH];
        DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
        if (length == 0 || length >= sizeof path) return false;
        exe.assign(path, length);
        size_t slash = exe.find_last_of("\\/");
        exe = (slash == std::string::npos ? std::string() : exe.substr(0, slash + 1)) + "vxplayer.exe";
    }
    std::string commandLine = PlayerCommandLine(exe, options, processOptions);

    {
        std::lock_guard<std::mutex> hold(lockLines);
        linesPlayer.clear();
        fPlayerOutputEnded = false;
    }
    wndProcess = PlayerWindows();
    fEchoPlayerLines = processOptions.echo;
    evPlayerLine = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE pipeWrite = nullptr;
    if (evPlayerLine == nullptr || !CreatePipe(&hPlayerPipe, &pipeWrite, &inheritable, 0)) {
        hPlayerPipe = nullptr;
        ClosePlayerProcessHandles();
        return false;
    }
    // Only the write end goes to the player; a read end it held would keep the pipe open forever.
    SetHandleInformation(hPlayerPipe, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = pipeWrite;
    startup.hStdError = pipeWrite;
    std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back('\0');
    BOOL started = CreateProcessA(exe.c_str(), mutableLine.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                                  nullptr, &startup, &piPlayer);
    CloseHandle(pipeWrite);
    if (!started) {
        piPlayer = PROCESS_INFORMATION();
        ClosePlayerProcessHandles();
        return false;
    }
    // A job that kills the player when this process goes, however it goes. Best effort: where jobs
    // cannot nest the player still ends by its lifetime limit.
    hPlayerJob = CreateJobObjectA(nullptr, nullptr);
    if (hPlayerJob != nullptr) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (!SetInformationJobObject(hPlayerJob, JobObjectExtendedLimitInformation, &limits, sizeof limits) ||
            !AssignProcessToJobObject(hPlayerJob, piPlayer.hProcess)) {
            CloseHandle(hPlayerJob);
            hPlayerJob = nullptr;
        }
    }
    ResumeThread(piPlayer.hThread);
    hPlayerReader = CreateThread(nullptr, 0, PlayerReaderProc, nullptr, 0, nullptr);
    if (hPlayerReader == nullptr) {
        TerminateProcess(piPlayer.hProcess, 1);
        WaitForSingleObject(piPlayer.hProcess, 5000);
        ClosePlayerProcessHandles();
        return false;
    }

    DWORD start = GetTickCount();
    std::string ready;
    for (;;) {
        ready = ReadyLineSoFar();
        bool ended;
        {
            std::lock_guard<std::mutex> hold(lockLines);
            ended = fPlayerOutputEnded;
        }
        DWORD elapsed = GetTickCount() - start;
        if (!ready.empty() || ended || elapsed >= processOptions.readyTimeoutMs) break;
        WaitForSingleObject(evPlayerLine, std::min<DWORD>(100, processOptions.readyTimeoutMs - elapsed));
    }
    if (ready.empty() || !ParseReadyLine(ready, &wndProcess)) {
        TerminateProcess(piPlayer.hProcess, 1);
        WaitForSingleObject(piPlayer.hProcess, 5000);
        ClosePlayerProcessHandles();
        wndProcess = PlayerWindows();
        return false;
    }
    return true;
}

bool StopPlayerProcess(DWORD timeoutMs) {
    if (piPlayer.hProcess == nullptr) return true;
    bool quitByItself = true;
    if (wndProcess.control != nullptr) PostMessageA(wndProcess.control, kControlQuit, 0, 0);
    // The player's inner window may sit in one of our windows; destroying it sends to this thread.
    if (!WaitHandlingSentMessages(piPlayer.hProcess, timeoutMs)) {
        quitByItself = false;
        TerminateProcess(piPlayer.hProcess, 1);
        WaitHandlingSentMessages(piPlayer.hProcess, 5000);
    }
    ClosePlayerProcessHandles();
    return quitByItself;
}

PlayerWindows PlayerProcessWindows() { return wndProcess; }
DWORD PlayerProcessId() { return piPlayer.dwProcessId; }

std::vector<std::string> PlayerProcessLines() {
    std::lock_guard<std::mutex> hold(lockLines);
    return linesPlayer;
}

bool WaitForPlayerProcessLine(const std::string &fragment, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        {
            std::lock_guard<std::mutex> hold(lockLines);
            for (const std::string &line : linesPlayer)
                if (line.find(fragment) != std::string::npos) return true;
            if (fPlayerOutputEnded) return false;
        }
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs) return false;
        Sleep(std::min<DWORD>(10, timeoutMs - elapsed));
    }
}

// Requests wait for a player that was told to hang, but not forever; SMTO_NORMAL lets this thread
// answer a call-back meanwhile.
static bool AskPlayer(UINT request, WPARAM wParam, LPARAM lParam, LRESULT *answer) {
    // Handles outlive the player; a stale one could name someone else's window by now.
    if (piPlayer.hProcess == nullptr || wndProcess.control == nullptr) return false;
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(wndProcess.control, request, wParam, lParam, SMTO_NORMAL, 10000, &result)) return false;
    if (answer != nullptr) *answer = static_cast<LRESULT>(result);
    return true;
}

int PlayerProcessCommandCount() {
    LRESULT count;
    return AskPlayer(kControlCommandCount, 0, 0, &count) ? static_cast<int>(count) : -1;
}

bool PlayerProcessCommand(int index, PlayerCommand *command) {
    LRESULT fields[6];
    for (int field = 0; field < 6; ++field)
        if (!AskPlayer(kControlCommandField, static_cast<WPARAM>(index), field, &fields[field])) return false;
    command->message = static_cast<UINT>(fields[0]);
    command->wParam = static_cast<uint32_t>(fields[1]);
    command->lParam = static_cast<uint32_t>(fields[2]);
    command->reply = static_cast<int32_t>(fields[3]);
    command->answered = fields[4] != 0;
    command->window = reinterpret_cast<HWND>(fields[5]);
    return command->message != 0;
}

int PlayerProcessDropCount() {
    LRESULT count;
    return AskPlayer(kControlDropCount, 0, 0, &count) ? static_cast<int>(count) : -1;
}

bool PlayerProcessDrop(int index, PlayerDrop *drop) {
    LRESULT fields[9];
    for (int field = 0; field < 9; ++field)
        if (!AskPlayer(kControlDropField, static_cast<WPARAM>(index), field, &fields[field])) return false;
    *drop = PlayerDrop();
    drop->window = reinterpret_cast<HWND>(fields[0]);
    drop->handle = static_cast<uint32_t>(fields[1]);
    drop->read = fields[2] != 0;
    drop->blockSize = static_cast<uint32_t>(fields[3]);
    drop->fileCount = static_cast<UINT>(fields[4]);
    drop->point.x = static_cast<LONG>(fields[5]);
    drop->point.y = static_cast<LONG>(fields[6]);
    drop->pointResult = static_cast<BOOL>(fields[7]);
    drop->goneAfterFinish = fields[8] != 0;
    return drop->window != nullptr;
}

bool PlayerProcessSetReply(int32_t reply) {
    LRESULT done;
    return AskPlayer(kControlSetReply, 0, static_cast<LPARAM>(reply), &done) && done == 1;
}

bool PlayerProcessSetBehaviour(const PlayerBehaviour &behaviour) {
    PlayerBehaviourData wire = {static_cast<uint32_t>(behaviour.kind), behaviour.ms,
                                static_cast<uint32_t>(reinterpret_cast<uintptr_t>(behaviour.target)),
                                behaviour.message, behaviour.wParam, behaviour.keep ? 1u : 0u,
                                behaviour.onMessage ? 1u : 0u, behaviour.trigger};
    COPYDATASTRUCT data = {kControlSetBehaviour, sizeof wire, &wire};
    LRESULT done;
    return AskPlayer(WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), &done) && done == 1;
}

bool PlayerProcessClearRecords() {
    LRESULT done;
    return AskPlayer(kControlClearRecords, 0, 0, &done) && done == 1;
}

bool PlayerProcessHangNow(DWORD ms) {
    LRESULT done;
    return AskPlayer(kControlHangNow, ms, 0, &done) && done == 1;
}

bool PlayerProcessDestroyFrame(bool makeNew) {
    LRESULT frame;
    if (!AskPlayer(kControlDestroyFrame, makeNew ? 1 : 0, 0, &frame)) return false;
    wndProcess.frame = frame != 1 ? reinterpret_cast<HWND>(frame) : nullptr;
    return (wndProcess.frame != nullptr) == makeNew;
}

bool WaitForPlayerProcessDrops(int count, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        if (PlayerProcessDropCount() >= count) return true;
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs) return false;
        Sleep(std::min<DWORD>(10, timeoutMs - elapsed));
    }
}
