// vxavs test bed: the stand-in player's windows: making them, answering what they receive, and the
// control window through which a test steers the player and a test in another process reads its records.

#include "player_internal.h"
#include "testbed_common.h"

#include <shellapi.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

enum WindowRole { kRoleNone, kRoleControl, kRoleMain, kRoleFrame, kRolePane, kRoleInner, kRoleDecoy };

static const char kControlClass[] = "vxplayer control";
static HWND MakeWindow(WindowRole role, const std::string &className, const std::string &title, DWORD style,
                       DWORD exStyle, int x, int y, int width, int height, HWND parent);
static const UINT_PTR kLifetimeTimer = 1;
static bool MakeVisualizerWindows(bool inside);

// All owned by the thread that ran CreatePlayerWindows.
static PlayerOptions optPlayer;
static PlayerWindows wndPlayer;
static std::vector<std::string> classesRegistered;
static HBRUSH hbrInner;
static bool fQuiet;
static PlayerLineSink pfnLineSink;
static HANDLE hWake;  // set by PlayerWakeNow

// Sleeps as a hung thread does, without touching its queue, until ms have passed or a test wakes it.
// A wake meant for an earlier hang is dropped first: it must not cut this one short.
static void Hang(DWORD ms) {
    if (hWake == nullptr) {
        Sleep(ms);
        return;
    }
    ResetEvent(hWake);
    if (WaitForSingleObject(hWake, ms) == WAIT_OBJECT_0) PlayerLog("woken by the test");
}

void PlayerLog(const char *format, ...) {
    if (fQuiet) return;
    va_list args;
    va_start(args, format);
    char line[1024];
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (pfnLineSink != nullptr) {
        pfnLineSink(std::string("player: ") + line);
        return;
    }
    // One call per line, flushed at once: a reader on a pipe sees each event as it happens.
    printf("player: %s\n", line);
    fflush(stdout);
}

static const char *CommandName(UINT message) { return message == WM_COMMAND ? "WM_COMMAND" : "WM_USER"; }

static void QuitPlayer(const char *reason) {
    PlayerLog("quitting: %s", reason);
    // Windows are destroyed after the loop ends, not here: a quit can arrive in the middle of a command.
    PostQuitMessage(0);
}

// Carries out a behaviour on receiving a message, before the message is answered; `what` names the
// message in the log. True and the result when it called back.
static bool Behave(const PlayerBehaviour &behaviour, HWND window, const char *what, LRESULT *calledBackResult) {
    switch (behaviour.kind) {
    case kHang:
        PlayerLog("%s received, hanging %lu ms without handling messages", what, static_cast<unsigned long>(behaviour.ms));
        Hang(behaviour.ms);
        PlayerLog("awake after hanging %lu ms", static_cast<unsigned long>(behaviour.ms));
        break;
    case kBusy:
        PlayerLog("%s received, busy %lu ms while handling messages", what, static_cast<unsigned long>(behaviour.ms));
        // Responsive all along: every message is handled, a quit is left for the player's loop.
        PumpMessages(behaviour.ms);
        break;
    case kCallBack:
        PlayerLog("%s received, calling back window %lu with message 0x%X wParam %lu", what,
            static_cast<unsigned long>(reinterpret_cast<uintptr_t>(behaviour.target)), behaviour.message,
            static_cast<unsigned long>(behaviour.wParam));
        // A window that is gone answers 0, as SendMessageA reports it.
        *calledBackResult = SendMessageA(behaviour.target, behaviour.message, behaviour.wParam, 0);
        return true;
    case kDestroyThenHang:
        PlayerLog("%s received, destroying window %lu, then hanging %lu ms before answering", what,
            static_cast<unsigned long>(reinterpret_cast<uintptr_t>(window)), static_cast<unsigned long>(behaviour.ms));
        DestroyWindow(window);
        Hang(behaviour.ms);
        break;
    case kReplyAtOnce:
        break;
    }
    return false;
}

static LRESULT HandleCommand(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    CommandTicket ticket =
        RecordCommand({window, message, static_cast<uint32_t>(wParam), static_cast<uint32_t>(lParam), 0, false});
    LRESULT calledBackResult = 0;
    bool calledBack = Behave(ticket.behaviour, window, CommandName(message), &calledBackResult);
    int32_t reply = RecordAnswer(ticket, calledBack, static_cast<int32_t>(calledBackResult));
    PlayerLog("%s wParam %lu (0x%08lX) lParam %lu (0x%08lX), answered %ld (0x%08lX)", CommandName(message),
        static_cast<unsigned long>(wParam), static_cast<unsigned long>(wParam), static_cast<unsigned long>(lParam),
        static_cast<unsigned long>(lParam), static_cast<long>(reply),
        static_cast<unsigned long>(static_cast<uint32_t>(reply)));
    return static_cast<LRESULT>(reply);
}

// A visualizer that closes its window, or closes and makes it again: whatever is still inside the old
// frame goes with it; the new one is empty.
static LRESULT DestroyFrame(bool makeNew) {
    HWND old = wndPlayer.frame;
    if (old != nullptr && IsWindow(old)) DestroyWindow(old);
    wndPlayer.frame = nullptr;
    if (wndPlayer.pane != nullptr && !IsWindow(wndPlayer.pane)) wndPlayer.pane = nullptr;
    if (makeNew) MakeVisualizerWindows(false);
    PlayerLog("frame %lu destroyed%s%lu", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(old)),
        makeNew ? ", new frame " : "", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(wndPlayer.frame)));
    return wndPlayer.frame != nullptr ? reinterpret_cast<LRESULT>(wndPlayer.frame) : 1;
}

// A visualizer that closes and opens again: a new frame with a new inner window (made before the old
// ones go, so that no handle comes back), wherever the old inner window was. -> the new inner window, or 1.
static LRESULT ReopenVisualizer() {
    PlayerWindows old = wndPlayer;
    wndPlayer.pane = nullptr;
    wndPlayer.inner = nullptr;
    bool made = MakeVisualizerWindows(true);
    for (HWND window : {old.inner, old.pane, old.frame})
        if (window != nullptr && IsWindow(window)) DestroyWindow(window);
    PlayerLog("visualizer reopened: frame %lu, inner %lu (were %lu, %lu)",
        static_cast<unsigned long>(reinterpret_cast<uintptr_t>(wndPlayer.frame)),
        static_cast<unsigned long>(reinterpret_cast<uintptr_t>(wndPlayer.inner)),
        static_cast<unsigned long>(reinterpret_cast<uintptr_t>(old.frame)),
        static_cast<unsigned long>(reinterpret_cast<uintptr_t>(old.inner)));
    return made && wndPlayer.inner != nullptr ? reinterpret_cast<LRESULT>(wndPlayer.inner) : 1;
}

// A player that makes its main window anew: same class and title, another handle. -> the new one, or 1.
static LRESULT ReplaceMainWindow() {
    if (wndPlayer.mains.empty()) return 1;
    HWND old = wndPlayer.mains[0];
    HWND main = MakeWindow(kRoleMain, optPlayer.mainClass, optPlayer.mainTitle,
                           WS_OVERLAPPEDWINDOW | (optPlayer.visible ? WS_VISIBLE : 0), 0, 40, 40, 400, 116, nullptr);
    if (main == nullptr) return 1;
    wndPlayer.mains[0] = main;
    if (IsWindow(old)) DestroyWindow(old);
    PlayerLog("main window %lu replaced by %lu", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(old)),
        static_cast<unsigned long>(reinterpret_cast<uintptr_t>(main)));
    return reinterpret_cast<LRESULT>(main);
}

// The receiver owns a posted drop block: it is read here and released with DragFinish.
static void ReceiveDrop(HWND window, WPARAM wParam) {
    PlayerDrop drop = {};
    drop.window = window;
    drop.handle = static_cast<uint32_t>(wParam);
    HDROP block = reinterpret_cast<HDROP>(wParam);
    if (optPlayer.drops != kDropsCountOnly) {
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
    RecordDrop(drop);
    if (drop.read) {
        PlayerLog("drop into window %lu: \"%s\" (%u file%s) at %ld,%ld (DragQueryPoint %d), block %lu bytes, %s after DragFinish",
            static_cast<unsigned long>(reinterpret_cast<uintptr_t>(window)), drop.name.c_str(), drop.fileCount, drop.fileCount == 1 ? "" : "s", static_cast<long>(drop.point.x),
            static_cast<long>(drop.point.y), drop.pointResult, static_cast<unsigned long>(drop.blockSize),
            drop.goneAfterFinish ? "released" : "still allocated");
    } else {
        PlayerLog("drop into window %lu with handle %lu counted, not read: %s",
            static_cast<unsigned long>(reinterpret_cast<uintptr_t>(window)), static_cast<unsigned long>(drop.handle),
            optPlayer.drops == kDropsCountOnly
                ? "unreadable under Wine, where a block from another process means nothing here"
                : "no block of this process");
    }
}

// The inner window is filled as a visualizer's picture would fill it; a main window says what it is.
static void Paint(HWND window, WindowRole role) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (dc == nullptr) return;
    RECT client;
    GetClientRect(window, &client);
    if (role == kRoleInner) {
        FillRect(dc, &client, hbrInner ? hbrInner : static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    } else {
        SetBkMode(dc, TRANSPARENT);
        DrawTextA(dc, "Stand-in player: answers WM_COMMAND and WM_USER", -1, &client,
                  DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    }
    EndPaint(window, &paint);
}

static LRESULT HandleControl(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case kControlQuit:
        QuitPlayer("quit requested");
        return 1;
    case kControlCommandCount:
        return static_cast<LRESULT>(RecordedCommandCount());
    case kControlCommandField: {
        PlayerCommand command;
        return RecordedCommand(static_cast<int>(wParam), &command) ? CommandFieldValue(command, static_cast<int>(lParam))
                                                                   : 0;
    }
    case kControlSetReply:
        SetRecordedReply(static_cast<int32_t>(lParam));
        PlayerLog("reply set to %ld", static_cast<long>(lParam));
        return 1;
    case kControlDropCount:
        return static_cast<LRESULT>(RecordedDropCount());
    case kControlClearRecords:
        ClearRecords();
        return 1;
    case kControlDropField: {
        PlayerDrop drop;
        return RecordedDrop(static_cast<int>(wParam), &drop) ? DropFieldValue(drop, static_cast<int>(lParam)) : 0;
    }
    case kControlHangNow:
        // The asker is let go first: it learns that the thread is about to sleep, not that it woke.
        ReplyMessage(1);
        PlayerLog("hanging %lu ms now without handling messages", static_cast<unsigned long>(wParam));
        Hang(static_cast<DWORD>(wParam));
        PlayerLog("awake after hanging %lu ms", static_cast<unsigned long>(wParam));
        return 1;
    case kControlDestroyFrame:
        return DestroyFrame(wParam != 0);
    case kControlProbeCount:
        return static_cast<LRESULT>(RecordedProbeCount());
    case kControlProbeField: {
        PlayerProbe probe;
        return RecordedProbe(static_cast<int>(wParam), &probe) ? ProbeFieldValue(probe, static_cast<int>(lParam)) : 0;
    }
    case kControlReopenVisualizer:
        return ReopenVisualizer();
    case kControlReplaceMain:
        return ReplaceMainWindow();
    case WM_COPYDATA: {
        const COPYDATASTRUCT *data = reinterpret_cast<const COPYDATASTRUCT *>(lParam);
        PlayerBehaviour behaviour;
        if (data == nullptr || data->dwData != kControlSetBehaviour ||
            !UnpackBehaviour(data->lpData, data->cbData, &behaviour))
            return 0;
        SetRecordedBehaviour(behaviour);
        static const char *const kinds[] = {"reply at once", "hang", "busy", "call back", "destroy, then hang"};
        char on[64] = "next command";
        if (behaviour.onMessage) snprintf(on, sizeof on, "next message 0x%X", behaviour.trigger);
        PlayerLog("%s: %s, %lu ms, target %lu, message 0x%X, wParam %lu%s", on, kinds[behaviour.kind],
            static_cast<unsigned long>(behaviour.ms),
            static_cast<unsigned long>(reinterpret_cast<uintptr_t>(behaviour.target)), behaviour.message,
            static_cast<unsigned long>(behaviour.wParam), behaviour.keep ? ", kept for every one" : "");
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

static LRESULT HandlePlayerMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// A WM_NULL another thread sent to a window of the player is recorded as it is answered: it held its
// sender until then.
static LRESULT CALLBACK PlayerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WindowRole role = static_cast<WindowRole>(GetWindowLongPtrA(window, GWLP_USERDATA));
    bool probe = message == WM_NULL && role != kRoleControl && role != kRoleNone &&
                 (InSendMessageEx(nullptr) & (ISMEX_SEND | ISMEX_CALLBACK)) != 0;
    LRESULT result = HandlePlayerMessage(window, message, wParam, lParam);
    if (probe) RecordProbe({window, GetTickCount()});
    return result;
}

static LRESULT HandlePlayerMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // The role travels in the creation parameters, since one class name may serve several roles.
    if (message == WM_NCCREATE) {
        const CREATESTRUCTA *create = reinterpret_cast<const CREATESTRUCTA *>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    WindowRole role = static_cast<WindowRole>(GetWindowLongPtrA(window, GWLP_USERDATA));
    PlayerBehaviour behaviour;
    if (role != kRoleControl && role != kRoleNone && TakeMessageBehaviour(message, &behaviour)) {
        char what[64];
        snprintf(what, sizeof what, "message 0x%X to window %lu", message,
                 static_cast<unsigned long>(reinterpret_cast<uintptr_t>(window)));
        LRESULT calledBackResult = 0;
        Behave(behaviour, window, what, &calledBackResult);
        if (!IsWindow(window)) return 0;  // destroyed by the behaviour: nothing left to handle it
    }
    switch (role) {
    case kRoleControl:
        return HandleControl(window, message, wParam, lParam);
    case kRoleMain:
        if (message == WM_COMMAND || message == WM_USER) return HandleCommand(window, message, wParam, lParam);
        if (message == WM_PAINT) {
            Paint(window, role);
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
            Paint(window, role);
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

// The frame, and with `inside` its pane and inner window as the options place them.
static bool MakeVisualizerWindows(bool inside) {
    DWORD visible = optPlayer.visible ? WS_VISIBLE : 0;
    wndPlayer.frame = MakeWindow(kRoleFrame, optPlayer.frameClass, optPlayer.frameTitle,
                                 WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | visible, 0, optPlayer.frameX, optPlayer.frameY,
                                 optPlayer.frameWidth, optPlayer.frameHeight, nullptr);
    if (wndPlayer.frame == nullptr || !inside) return wndPlayer.frame != nullptr;
    HWND parent = wndPlayer.frame;
    if (optPlayer.inner == kInnerGrandchild) {
        RECT client;
        GetClientRect(wndPlayer.frame, &client);
        wndPlayer.pane = MakeWindow(kRolePane, optPlayer.paneClass, "", WS_CHILD | WS_CLIPCHILDREN | visible, 0, 0, 0,
                                    client.right, client.bottom, wndPlayer.frame);
        if (wndPlayer.pane == nullptr) return false;
        parent = wndPlayer.pane;
    }
    if (optPlayer.inner == kInnerChild || optPlayer.inner == kInnerGrandchild) {
        wndPlayer.inner = MakeInner(wndPlayer.frame, parent, visible);
        if (wndPlayer.inner == nullptr) return false;
    }
    return true;
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

    if (optPlayer.frame && !MakeVisualizerWindows(true)) return false;

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

bool CreatePlayerWindows(const PlayerOptions &options, const PlayerStart &start, PlayerLineSink sink) {
    optPlayer = options;
    fQuiet = start.quiet;
    pfnLineSink = sink;
    wndPlayer = PlayerWindows();
    ResetPlayerRecords(options.reply);
    hbrInner = CreateSolidBrush(RGB(16, 48, 96));
    if (hWake == nullptr) hWake = CreateEventA(nullptr, TRUE, FALSE, PlayerWakeEventName(GetCurrentProcessId()).c_str());
    if (!MakePlayerWindows()) {
        DestroyPlayerWindows();
        return false;
    }
    if (start.lifetimeSeconds > 0)
        SetTimer(wndPlayer.control, kLifetimeTimer, static_cast<UINT>(start.lifetimeSeconds) * 1000u, nullptr);
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
    if (hWake != nullptr) CloseHandle(hWake);
    hWake = nullptr;
}

const PlayerWindows &PlayerWindowsMade() { return wndPlayer; }
