// vxavs test bed: the stand-in player's library: its windows and their handling, the player thread,
// and the test side of vxplayer.exe (start, control window requests, stop).

#include "standin_player.h"

#include <shellapi.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

// ---- The player's windows, all owned by the thread that ran CreatePlayerWindows.

enum WindowRole { kRoleNone, kRoleControl, kRoleMain, kRoleFrame, kRolePane, kRoleInner, kRoleDecoy };

static const char kControlClass[] = "vxplayer control";
static const UINT_PTR kLifetimeTimer = 1;

static PlayerOptions optPlayer;
static PlayerWindows wndPlayer;
static std::vector<std::string> classesRegistered;
static HBRUSH hbrInner;

// Records and steering are touched by the player's thread and by any thread of a test.
static std::mutex lockPlayer;
static std::vector<PlayerCommand> cmdRecords;
static std::vector<PlayerDrop> dropRecords;
static unsigned dwRecordGeneration;  // bumped by a clear, so a command still being handled is not written into a new list
static int32_t dwReply;
static PlayerBehaviour behNext;

static void Log(const char *format, ...) {
    if (!optPlayer.echo) return;
    va_list args;
    va_start(args, format);
    char line[1024];
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    // One call per line, flushed at once: a reader on a pipe sees each event as it happens.
    printf("player: %s\n", line);
    fflush(stdout);
}

static const char *CommandName(UINT message) { return message == WM_COMMAND ? "WM_COMMAND" : "WM_USER"; }

static void QuitPlayer(const char *reason) {
    Log("quitting: %s", reason);
    // Windows are destroyed after the loop ends, not here: a quit can arrive in the middle of a command.
    PostQuitMessage(0);
}

// Keeps the thread responsive for ms: every pending message is handled, the queue is looked at every 50 ms.
static void StayBusy(DWORD ms) {
    DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                // Leave the quit for the outer loop.
                PostQuitMessage(static_cast<int>(msg.wParam));
                return;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= ms) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, std::min<DWORD>(ms - elapsed, 50), QS_ALLINPUT);
    }
}

static LRESULT HandleCommand(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    PlayerBehaviour behaviour;
    size_t index;
    unsigned generation;
    {
        std::lock_guard<std::mutex> hold(lockPlayer);
        PlayerCommand command = {window, message, static_cast<uint32_t>(wParam), static_cast<uint32_t>(lParam), 0, false};
        index = cmdRecords.size();
        cmdRecords.push_back(command);
        generation = dwRecordGeneration;
        behaviour = behNext;
        if (!behaviour.keep) behNext = PlayerBehaviour();
    }

    bool calledBack = false;
    LRESULT calledBackResult = 0;
    switch (behaviour.kind) {
    case kHang:
        Log("%s received, hanging %lu ms without handling messages", CommandName(message),
            static_cast<unsigned long>(behaviour.ms));
        Sleep(behaviour.ms);
        break;
    case kBusy:
        Log("%s received, busy %lu ms while handling messages", CommandName(message),
            static_cast<unsigned long>(behaviour.ms));
        StayBusy(behaviour.ms);
        break;
    case kCallBack:
        Log("%s received, calling back window %lu with message 0x%X wParam %lu", CommandName(message),
            static_cast<unsigned long>(reinterpret_cast<uintptr_t>(behaviour.target)), behaviour.message,
            static_cast<unsigned long>(behaviour.wParam));
        // A window that is gone answers 0, as SendMessageA reports it.
        calledBackResult = SendMessageA(behaviour.target, behaviour.message, behaviour.wParam, 0);
        calledBack = true;
        break;
    case kReplyAtOnce:
        break;
    }

    int32_t reply;
    {
        std::lock_guard<std::mutex> hold(lockPlayer);
        reply = calledBack ? static_cast<int32_t>(calledBackResult) : dwReply;
        if (generation == dwRecordGeneration && index < cmdRecords.size()) {
            cmdRecords[index].reply = reply;
            cmdRecords[index].answered = true;
        }
    }
    Log("%s wParam %lu (0x%08lX) lParam %lu (0x%08lX), answered %ld (0x%08lX)", CommandName(message),
        static_cast<unsigned long>(wParam), static_cast<unsigned long>(wParam), static_cast<unsigned long>(lParam),
        static_cast<unsigned long>(lParam), static_cast<long>(reply),
        static_cast<unsigned long>(static_cast<uint32_t>(reply)));
    return static_cast<LRESULT>(reply);
}

// The receiver owns a posted drop block: it is read here and released with DragFinish.
static void ReceiveDrop(HWND window, WPARAM wParam) {
    PlayerDrop drop = {};
    drop.window = window;
    drop.handle = static_cast<uint32_t>(wParam);
    HDROP block = reinterpret_cast<HDROP>(wParam);
    if (optPlayer.drops == kDropsRead) {
        // GlobalSize tells whether the handle names a block of this process at all; a 0 leaves it untouched.
        SIZE_T size = GlobalSize(reinterpret_cast<HGLOBAL>(block));
        drop.blockSize = static_cast<uint32_t>(size);
        const uint8_t *bytes = size ? static_cast<const uint8_t *>(GlobalLock(reinterpret_cast<HGLOBAL>(block))) : nullptr;
        if (bytes != nullptr) {
            drop.bytes.assign(bytes, bytes + size);
            GlobalUnlock(reinterpret_cast<HGLOBAL>(block));
            drop.read = true;
        }
    }
    if (drop.read) {
        drop.fileCount = DragQueryFileA(block, 0xFFFFFFFF, nullptr, 0);
        UINT length = DragQueryFileA(block, 0, nullptr, 0);
        std::vector<char> name(length + 1, '\0');
        UINT copied = DragQueryFileA(block, 0, name.data(), length + 1);
        drop.name.assign(name.data(), std::min(copied, length));
        drop.pointResult = DragQueryPoint(block, &drop.point);
        DragFinish(block);
        drop.goneAfterFinish = GlobalSize(reinterpret_cast<HGLOBAL>(block)) == 0;
    }
    {
        std::lock_guard<std::mutex> hold(lockPlayer);
        dropRecords.push_back(drop);
    }
    if (drop.read) {
        Log("drop into window %lu: \"%s\" (%u file%s) at %ld,%ld (DragQueryPoint %d), block %lu bytes, %s after DragFinish",
            static_cast<unsigned long>(reinterpret_cast<uintptr_t>(window)), drop.name.c_str(), drop.fileCount, drop.fileCount == 1 ? "" : "s", static_cast<long>(drop.point.x),
            static_cast<long>(drop.point.y), drop.pointResult, static_cast<unsigned long>(drop.blockSize),
            drop.goneAfterFinish ? "released" : "still allocated");
    } else if (optPlayer.drops == kDropsCountOnly) {
        Log("drop into window %lu with handle %lu counted, not read: unreadable under Wine, where a block from "
            "another process means nothing here",
            static_cast<unsigned long>(reinterpret_cast<uintptr_t>(window)), static_cast<unsigned long>(drop.handle));
    } else {
        Log("drop into window %lu with handle %lu counted, not read: no block of this process",
            static_cast<unsigned long>(reinterpret_cast<uintptr_t>(window)), static_cast<unsigned long>(drop.handle));
    }
}

static void PaintInner(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (dc != nullptr) {
        RECT client;
        GetClientRect(window, &client);
        FillRect(dc, &client, hbrInner ? hbrInner : static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        EndPaint(window, &paint);
    }
}

static void PaintMain(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (dc != nullptr) {
        RECT client;
        GetClientRect(window, &client);
        SetBkMode(dc, TRANSPARENT);
        DrawTextA(dc, "Stand-in player: answers WM_COMMAND and WM_USER", -1, &client,
                  DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        EndPaint(window, &paint);
    }
}

static LRESULT HandleControl(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case kControlQuit:
        QuitPlayer("quit requested");
        return 1;
    case kControlCommandCount: {
        std::lock_guard<std::mutex> hold(lockPlayer);
        return static_cast<LRESULT>(cmdRecords.size());
    }
    case kControlCommandField: {
        std::lock_guard<std::mutex> hold(lockPlayer);
        int index = static_cast<int>(wParam);
        if (index == -1) index = static_cast<int>(cmdRecords.size()) - 1;
        if (index < 0 || index >= static_cast<int>(cmdRecords.size())) return 0;
        const PlayerCommand &command = cmdRecords[index];
        switch (lParam) {
        case 0: return command.message;
        case 1: return static_cast<LRESULT>(command.wParam);
        case 2: return static_cast<LRESULT>(command.lParam);
        case 3: return static_cast<LRESULT>(command.reply);
        case 4: return command.answered ? 1 : 0;
        case 5: return reinterpret_cast<LRESULT>(command.window);
        default: return 0;
        }
    }
    case kControlSetReply:
        PlayerSetReply(static_cast<int32_t>(lParam));
        Log("reply set to %ld", static_cast<long>(lParam));
        return 1;
    case kControlDropCount: {
        std::lock_guard<std::mutex> hold(lockPlayer);
        return static_cast<LRESULT>(dropRecords.size());
    }
    case kControlClearRecords:
        PlayerClearRecords();
        return 1;
    case kControlDropField: {
        std::lock_guard<std::mutex> hold(lockPlayer);
        int index = static_cast<int>(wParam);
        if (index == -1) index = static_cast<int>(dropRecords.size()) - 1;
        if (index < 0 || index >= static_cast<int>(dropRecords.size())) return 0;
        const PlayerDrop &drop = dropRecords[index];
        switch (lParam) {
        case 0: return reinterpret_cast<LRESULT>(drop.window);
        case 1: return static_cast<LRESULT>(drop.handle);
        case 2: return drop.read ? 1 : 0;
        case 3: return static_cast<LRESULT>(drop.blockSize);
        case 4: return static_cast<LRESULT>(drop.fileCount);
        case 5: return drop.point.x;
        case 6: return drop.point.y;
        case 7: return drop.pointResult;
        case 8: return drop.goneAfterFinish ? 1 : 0;
        default: return 0;
        }
    }
    case WM_COPYDATA: {
        const COPYDATASTRUCT *data = reinterpret_cast<const COPYDATASTRUCT *>(lParam);
        if (data == nullptr || data->dwData != kControlSetBehaviour || data->cbData < sizeof(PlayerBehaviourData) ||
            data->lpData == nullptr)
            return 0;
        PlayerBehaviourData wire;
        memcpy(&wire, data->lpData, sizeof wire);
        if (wire.kind > kCallBack) return 0;
        PlayerBehaviour behaviour;
        behaviour.kind = static_cast<CommandBehaviourKind>(wire.kind);
        behaviour.ms = wire.ms;
        behaviour.target = reinterpret_cast<HWND>(static_cast<uintptr_t>(wire.target));
        behaviour.message = wire.message;
        behaviour.wParam = wire.wParam;
        behaviour.keep = wire.keep != 0;
        PlayerSetBehaviour(behaviour);
        static const char *const kinds[] = {"reply at once", "hang", "busy", "call back"};
        Log("next command: %s, %lu ms, target %lu, message 0x%X, wParam %lu%s", kinds[wire.kind],
            static_cast<unsigned long>(wire.ms), static_cast<unsigned long>(wire.target), wire.message,
            static_cast<unsigned long>(wire.wParam), behaviour.keep ? ", kept for every command" : "");
        return 1;
    }
    case WM_TIMER:
        if (wParam == kLifetimeTimer) {
            KillTimer(window, kLifetimeTimer);
            QuitPlayer("lifetime over");
        }
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

static LRESULT CALLBACK PlayerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // The role travels in the creation parameters, since one class name may serve several roles.
    if (message == WM_NCCREATE) {
        const CREATESTRUCTA *create = reinterpret_cast<const CREATESTRUCTA *>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    WindowRole role = static_cast<WindowRole>(GetWindowLongPtrA(window, GWLP_USERDATA));
    switch (role) {
    case kRoleControl:
        return HandleControl(window, message, wParam, lParam);
    case kRoleMain:
        if (message == WM_COMMAND || message == WM_USER) return HandleCommand(window, message, wParam, lParam);
        if (message == WM_PAINT) {
            PaintMain(window);
            return 0;
        }
        if (message == WM_CLOSE) {
            QuitPlayer("main window closed");
            return 0;
        }
        break;
    case kRoleFrame:
        if (message == WM_CLOSE) {
            QuitPlayer("visualizer frame closed");
            return 0;
        }
        break;
    case kRoleInner:
        if (message == WM_DROPFILES) {
            ReceiveDrop(window, wParam);
            return 0;
        }
        if (message == WM_ERASEBKGND) return 1;
        if (message == WM_PAINT) {
            PaintInner(window);
            return 0;
        }
        break;
    case kRolePane:
    case kRoleDecoy:
    case kRoleNone:
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

static bool RegisterPlayerClass(const std::string &name) {
    for (const std::string &done : classesRegistered)
        if (lstrcmpiA(done.c_str(), name.c_str()) == 0) return true;
    WNDCLASSA windowClass = {};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = PlayerWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = name.c_str();
    if (!RegisterClassA(&windowClass)) return false;
    classesRegistered.push_back(name);
    return true;
}

static HWND MakeWindow(WindowRole role, const std::string &className, const std::string &title, DWORD style,
                       DWORD exStyle, int x, int y, int width, int height, HWND parent) {
    if (!RegisterPlayerClass(className)) return nullptr;
    return CreateWindowExA(exStyle, className.c_str(), title.c_str(), style, x, y, width, height, parent, nullptr,
                           GetModuleHandleA(nullptr), reinterpret_cast<void *>(static_cast<uintptr_t>(role)));
}

// The inner window as the visualizer places it: 11,20 in its parent, frame's outer size less 19 by 34.
static HWND MakeInner(HWND frame, HWND parent, DWORD visible) {
    RECT outer = {0, 0, 0, 0};
    GetWindowRect(frame, &outer);
    return MakeWindow(kRoleInner, optPlayer.innerClass, "", WS_CHILD | visible,
                      WS_EX_ACCEPTFILES | WS_EX_NOPARENTNOTIFY, 11, 20, (outer.right - outer.left) - 19,
                      (outer.bottom - outer.top) - 34, parent);
}

static bool MakePlayerWindows() {
    DWORD visible = optPlayer.visible ? WS_VISIBLE : 0;
    wndPlayer.control = MakeWindow(kRoleControl, kControlClass, "", 0, 0, 0, 0, 0, 0, HWND_MESSAGE);
    if (wndPlayer.control == nullptr) return false;

    for (int i = 0; i < optPlayer.mainWindowCount; ++i) {
        HWND main = MakeWindow(kRoleMain, optPlayer.mainClass, optPlayer.mainTitle, WS_OVERLAPPEDWINDOW | visible, 0,
                               40 + 30 * i, 40 + 30 * i, 400, 116, nullptr);
        if (main == nullptr) return false;
        wndPlayer.mains.push_back(main);
    }

    if (optPlayer.frame) {
        wndPlayer.frame = MakeWindow(kRoleFrame, optPlayer.frameClass, optPlayer.frameTitle,
                                     WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | visible, 0, optPlayer.frameX,
                                     optPlayer.frameY, optPlayer.frameWidth, optPlayer.frameHeight, nullptr);
        if (wndPlayer.frame == nullptr) return false;
        HWND parent = wndPlayer.frame;
        if (optPlayer.inner == kInnerGrandchild) {
            RECT client;
            GetClientRect(wndPlayer.frame, &client);
            wndPlayer.pane = MakeWindow(kRolePane, optPlayer.paneClass, "", WS_CHILD | WS_CLIPCHILDREN | visible, 0,
                                        0, 0, client.right, client.bottom, wndPlayer.frame);
            if (wndPlayer.pane == nullptr) return false;
            parent = wndPlayer.pane;
        }
        if (optPlayer.inner == kInnerChild || optPlayer.inner == kInnerGrandchild) {
            wndPlayer.inner = MakeInner(wndPlayer.frame, parent, visible);
            if (wndPlayer.inner == nullptr) return false;
        }
    }

    for (size_t i = 0; i < optPlayer.decoyFrameTitles.size(); ++i) {
        int offset = 30 * static_cast<int>(i + 1);
        HWND decoy = MakeWindow(kRoleDecoy, optPlayer.frameClass, optPlayer.decoyFrameTitles[i],
                                WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | visible, 0, optPlayer.frameX + offset,
                                optPlayer.frameY + offset, optPlayer.frameWidth, optPlayer.frameHeight, nullptr);
        if (decoy == nullptr) return false;
        wndPlayer.decoyFrames.push_back(decoy);
        // Newer windows start on top; made explicit so the decoys come first in EnumWindows.
        SetWindowPos(decoy, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        if (optPlayer.decoyFramesHaveInner) {
            HWND inner = MakeInner(decoy, decoy, visible);
            if (inner == nullptr) return false;
            wndPlayer.decoyInners.push_back(inner);
        }
    }

    if (optPlayer.inner == kInnerTopLevel) {
        wndPlayer.inner = MakeWindow(kRoleInner, optPlayer.innerClass, "stray visualizer window",
                                     WS_OVERLAPPEDWINDOW | visible, WS_EX_ACCEPTFILES, optPlayer.frameX + 320,
                                     optPlayer.frameY, optPlayer.frameWidth, optPlayer.frameHeight, nullptr);
        if (wndPlayer.inner == nullptr) return false;
    }
    return true;
}

bool CreatePlayerWindows(const PlayerOptions &options) {
    optPlayer = options;
    wndPlayer = PlayerWindows();
    {
        std::lock_guard<std::mutex> hold(lockPlayer);
        cmdRecords.clear();
        dropRecords.clear();
        ++dwRecordGeneration;
        dwReply = options.reply;
        behNext = PlayerBehaviour();
    }
    hbrInner = CreateSolidBrush(RGB(16, 48, 96));
    if (!MakePlayerWindows()) {
        DestroyPlayerWindows();
        return false;
    }
    if (optPlayer.lifetimeSeconds > 0)
        SetTimer(wndPlayer.control, kLifetimeTimer, static_cast<UINT>(optPlayer.lifetimeSeconds) * 1000u, nullptr);
    return true;
}

void RunPlayerLoop() {
    MSG msg;
    // GetMessageA answers -1 on a broken queue; that ends the player as a quit does.
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

static void DestroyIfOurs(HWND window) {
    // The inner window may sit in another thread's or process's window by now, or be gone with it.
    if (window != nullptr && IsWindow(window) && GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId())
        DestroyWindow(window);
}

void DestroyPlayerWindows() {
    // Children that may have been moved elsewhere first, then the windows that held them.
    DestroyIfOurs(wndPlayer.inner);
    for (HWND inner : wndPlayer.decoyInners) DestroyIfOurs(inner);
    DestroyIfOurs(wndPlayer.pane);
    DestroyIfOurs(wndPlayer.frame);
    for (HWND decoy : wndPlayer.decoyFrames) DestroyIfOurs(decoy);
    for (HWND main : wndPlayer.mains) DestroyIfOurs(main);
    DestroyIfOurs(wndPlayer.control);
    // A class still in use somewhere fails to unregister; registering it again later then finds it.
    for (const std::string &name : classesRegistered) UnregisterClassA(name.c_str(), GetModuleHandleA(nullptr));
    classesRegistered.clear();
    if (hbrInner != nullptr) DeleteObject(hbrInner);
    hbrInner = nullptr;
}

static std::string HandleList(const std::vector<HWND> &windows) {
    std::string list;
    for (HWND window : windows) {
        if (!list.empty()) list += ",";
        list += std::to_string(reinterpret_cast<uintptr_t>(window));
    }
    return list;
}

static std::string HandleText(HWND window) { return std::to_string(reinterpret_cast<uintptr_t>(window)); }

std::string PlayerReadyLine() {
    return "player: ready control=" + HandleText(wndPlayer.control) + " main=" + HandleList(wndPlayer.mains) +
           " frame=" + HandleText(wndPlayer.frame) + " pane=" + HandleText(wndPlayer.pane) +
           " inner=" + HandleText(wndPlayer.inner) + " decoys=" + HandleList(wndPlayer.decoyFrames) +
           " decoyinners=" + HandleList(wndPlayer.decoyInners);
}

// ---- Records and steering.

std::vector<PlayerCommand> PlayerCommands() {
    std::lock_guard<std::mutex> hold(lockPlayer);
    return cmdRecords;
}

std::vector<PlayerDrop> PlayerDrops() {
    std::lock_guard<std::mutex> hold(lockPlayer);
    return dropRecords;
}

void PlayerClearRecords() {
    std::lock_guard<std::mutex> hold(lockPlayer);
    cmdRecords.clear();
    dropRecords.clear();
    ++dwRecordGeneration;
}

void PlayerSetReply(int32_t reply) {
    std::lock_guard<std::mutex> hold(lockPlayer);
    dwReply = reply;
}

void PlayerSetBehaviour(const PlayerBehaviour &behaviour) {
    std::lock_guard<std::mutex> hold(lockPlayer);
    behNext = behaviour;
}

bool WaitForPlayerDrops(size_t count, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        {
            std::lock_guard<std::mutex> hold(lockPlayer);
            if (dropRecords.size() >= count) return true;
        }
        if (GetTickCount() - start >= timeoutMs) return false;
        Sleep(10);
    }
}

// ---- Thread mode.

static HANDLE hPlayerThread;
static HANDLE evPlayerReady;
static bool fPlayerThreadReady;
static PlayerOptions optThread;

static DWORD WINAPI PlayerThreadProc(void *desktop) {
    // On the starter's desktop, which need not be the process's first one: the plug-in looks there.
    SetThreadDesktop(static_cast<HDESK>(desktop));
    fPlayerThreadReady = CreatePlayerWindows(optThread);
    bool ready = fPlayerThreadReady;
    SetEvent(evPlayerReady);
    if (ready) {
        if (optPlayer.echo) Log("%s", PlayerReadyLine().c_str() + strlen("player: "));
        RunPlayerLoop();
        DestroyPlayerWindows();
    }
    return 0;
}

// Waits for a handle while handling messages sent to this thread, which a window of ours being
// re-parented, destroyed or called back may need; posted messages stay queued.
static bool WaitHandlingSentMessages(HANDLE object, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        DWORD elapsed = GetTickCount() - start;
        if (timeoutMs != INFINITE && elapsed >= timeoutMs) return WaitForSingleObject(object, 0) == WAIT_OBJECT_0;
        DWORD slice = timeoutMs == INFINITE ? 50 : std::min<DWORD>(50, timeoutMs - elapsed);
        DWORD result = MsgWaitForMultipleObjects(1, &object, FALSE, slice, QS_SENDMESSAGE);
        if (result == WAIT_OBJECT_0) return true;
        if (result == WAIT_FAILED) return false;
    }
}

bool StartPlayerThread(const PlayerOptions &options) {
    StopPlayerThread();
    optThread = options;
    evPlayerReady = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (evPlayerReady == nullptr) return false;
    fPlayerThreadReady = false;
    DWORD threadId;
    hPlayerThread = CreateThread(nullptr, 0, PlayerThreadProc, GetThreadDesktop(GetCurrentThreadId()), 0, &threadId);
    if (hPlayerThread != nullptr) WaitForSingleObject(evPlayerReady, INFINITE);
    CloseHandle(evPlayerReady);
    evPlayerReady = nullptr;
    if (hPlayerThread == nullptr) return false;
    if (!fPlayerThreadReady) {
        WaitForSingleObject(hPlayerThread, INFINITE);
        CloseHandle(hPlayerThread);
        hPlayerThread = nullptr;
        return false;
    }
    return true;
}

void StopPlayerThread() {
    if (hPlayerThread == nullptr) return;
    // The control window is the player's own and lives as long as its loop; a failed post means the loop is over.
    if (IsWindow(wndPlayer.control)) PostMessageA(wndPlayer.control, kControlQuit, 0, 0);
    WaitHandlingSentMessages(hPlayerThread, INFINITE);
    CloseHandle(hPlayerThread);
    hPlayerThread = nullptr;
}

PlayerWindows PlayerThreadWindows() { return wndPlayer; }
HWND PlayerMainWindow() { return wndPlayer.mains.empty() ? nullptr : wndPlayer.mains[0]; }
HWND PlayerFrame() { return wndPlayer.frame; }
HWND PlayerInnerWindow() { return wndPlayer.inner; }

// ---- Process mode.

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
                                behaviour.message, behaviour.wParam, behaviour.keep ? 1u : 0u};
    COPYDATASTRUCT data = {kControlSetBehaviour, sizeof wire, &wire};
    LRESULT done;
    return AskPlayer(WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), &done) && done == 1;
}

bool PlayerProcessClearRecords() {
    LRESULT done;
    return AskPlayer(kControlClearRecords, 0, 0, &done) && done == 1;
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
