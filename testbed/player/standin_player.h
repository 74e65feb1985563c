// vxavs test bed: a stand-in for the media player and its visualizer. It offers the windows the plug-in
// looks for, answers and records player commands, and reads back dropped file blocks; one interface
// runs it in a process of its own (vxplayer.exe) or on a thread of the caller.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// Where the visualizer's inner window lives.
enum InnerPlacement {
    kInnerNone,        // no inner window at all
    kInnerChild,       // a direct child of the frame
    kInnerGrandchild,  // a child of a pane window that is a child of the frame
    kInnerTopLevel,    // a top-level window of its own, outside the frame
};

// What the player does with dropped blocks.
enum DropReading {
    kDropsAuto,       // read, but count only where a block from another process means nothing (under Wine)
    kDropsRead,       // read the block, query it with the shell calls, release it with DragFinish
    kDropsCountOnly,  // count and log the drop, never touch the handle (a foreign handle means nothing here)
};

// Which windows exist and how they are named. Windows are created on the player's thread in this order:
// main windows, frame (with pane and inner window), decoy frames, top-level inner window; the control window first of all.
struct PlayerOptions {
    int mainWindowCount = 1;  // 0: no main window; 2: a second one, made after the first
    std::string mainClass = "Winamp v1.x";
    std::string mainTitle = "Winamp";

    bool frame = true;
    std::string frameClass = "Winamp Gen";
    std::string frameTitle = "avs";
    int frameX = 120, frameY = 120, frameWidth = 300, frameHeight = 250;  // outer rectangle, screen coordinates

    InnerPlacement inner = kInnerChild;
    std::string innerClass = "avswnd";
    std::string paneClass = "vxplayer pane";  // the intermediate window of kInnerGrandchild

    // Extra top-level windows of frameClass, one per title, made after the frame and so above it in z-order.
    std::vector<std::string> decoyFrameTitles;
    bool decoyFramesHaveInner = false;  // each decoy holds a child of innerClass

    bool visible = true;
    DropReading drops = kDropsAuto;
    int32_t reply = 0;  // what WM_COMMAND and WM_USER are answered with until changed
};

// Every window the player made; 0 for those not made. Handles may go stale once the player stops.
struct PlayerWindows {
    HWND control = nullptr;  // message-only; every query and steering request goes here
    std::vector<HWND> mains;
    HWND frame = nullptr;
    HWND pane = nullptr;
    HWND inner = nullptr;
    std::vector<HWND> decoyFrames;
    std::vector<HWND> decoyInners;
};

struct PlayerCommand {
    HWND window;   // the main window that received it
    UINT message;  // WM_COMMAND or WM_USER
    uint32_t wParam;
    uint32_t lParam;
    int32_t reply;  // what the window answered; 0 while still being handled
    bool answered;
};

struct PlayerDrop {
    HWND window;               // the inner window (or a decoy's) that received it
    uint32_t handle;           // the wParam as received
    bool read;                 // false: counted only (block unreadable, or reading switched off)
    uint32_t blockSize;        // GlobalSize before reading; 0 when the handle names no block here
    std::vector<uint8_t> bytes;  // the whole block, byte for byte
    UINT fileCount;            // DragQueryFileA(h, 0xFFFFFFFF, ...)
    std::string name;          // DragQueryFileA(h, 0, ...)
    POINT point;               // DragQueryPoint
    BOOL pointResult;          // DragQueryPoint's own result: TRUE for client coordinates
    bool goneAfterFinish;      // GlobalSize reported 0 after DragFinish
};

// A sign of life asked of the player's thread: WM_NULL sent from another thread to one of its windows
// (its control window aside), recorded as it was answered. A sender that gave up before has its message
// taken back by the system, and no record.
struct PlayerProbe {
    HWND window;
    DWORD answeredTick;  // GetTickCount as the answer went back (after any behaviour it triggered)
};

// How the main window handles the next WM_COMMAND or WM_USER, or, onMessage, how any window of
// the player but its control window handles the next message of that number before handling it as
// usual. It falls back to kReplyAtOnce after that one message unless `keep` is set. A command
// behaviour and a trigger behaviour are held apart: setting one leaves the other pending.
enum CommandBehaviourKind {
    kReplyAtOnce,
    kHang,      // Sleep(ms) without touching the message queue, then reply
    kBusy,      // keep pumping messages for ms, then reply
    kCallBack,  // SendMessageA(target, message, wParam, 0) and reply with what it returned
    kDestroyThenHang,  // DestroyWindow on the receiving window, then as kHang: it replies late, from a dead window
};

struct PlayerBehaviour {
    CommandBehaviourKind kind = kReplyAtOnce;
    uint32_t ms = 0;
    HWND target = nullptr;
    UINT message = 0;
    uint32_t wParam = 0;
    bool keep = false;
    bool onMessage = false;  // false: the next command; true: the next message numbered `trigger`
    UINT trigger = 0;
};

// ---- Starting, querying and steering the player: one player at a time per process, in either mode.

enum PlayerMode {
    kPlayerOwnProcess,  // vxplayer.exe in a process of its own, as the real player runs
    kPlayerOnThread,    // a thread of this process: drop blocks can be read back whole, even under Wine
};

// How the player runs, as opposed to which windows it makes.
struct PlayerStart {
    PlayerMode mode = kPlayerOwnProcess;
    std::string exePath;         // process mode: empty for vxplayer.exe beside the calling program
    int lifetimeSeconds = 300;   // process mode: it quits by itself after that long (0: never); a thread ends with us
    bool echo = false;           // copy the player's lines to this process's stdout as they come
    DWORD readyTimeoutMs = 20000;
    bool quiet = false;          // the ready line only, nothing per event (for timing, and for long runs)
};
// A player on a thread, otherwise as by default.
inline PlayerStart ThreadPlayerStart(bool quiet = false) {
    PlayerStart start;
    start.mode = kPlayerOnThread;
    start.quiet = quiet;
    return start;
}

// Starts the player (stopping any earlier one), waits for its ready line and reads its window handles
// from it. False, and nothing left running, on failure.
bool StartPlayer(const PlayerOptions &options, const PlayerStart &start = PlayerStart());
// Asks the player to quit and waits up to timeoutMs; true when it quit by itself. A process is then
// terminated; a thread cannot be, and is waited for still. Processes messages sent to the calling thread
// meanwhile, since the inner window may sit in one of its windows. Safe when none runs.
bool StopPlayer(DWORD timeoutMs = 5000);
// The handles from the ready line, the frame following PlayerDestroyFrame. They go stale once it stops.
PlayerWindows CurrentPlayerWindows();
DWORD PlayerProcessId();  // thread mode: this process
// Every "player: " line so far, "\r\n" removed, in both modes.
std::vector<std::string> PlayerLines();
// Waits until a line contains `fragment`; false on timeout or once the player has ended without one.
bool WaitForPlayerLine(const std::string &fragment, DWORD timeoutMs);

// Steering goes through the player's control window in both modes, and so do queries in process mode;
// a player on a thread has its records read directly. Requests wait up to 10 s (the player may be made
// to hang); counts are -1 and the rest false when the player does not answer.
int PlayerCommandCount();
bool GetPlayerCommand(int index, PlayerCommand *command);  // index -1: the last one
int PlayerDropCount();
// The drop's name and bytes stay in the player: only thread mode fills them in (a process's printed
// line shows the name).
bool GetPlayerDrop(int index, PlayerDrop *drop);  // index -1: the last one
// Every record so far, in order; empty when the player does not answer.
std::vector<PlayerCommand> PlayerCommandList();
std::vector<PlayerDrop> PlayerDropList();
// Every probe answered so far, in order; empty too when the player does not answer (the count then -1).
int PlayerProbeCount();
std::vector<PlayerProbe> PlayerProbes();
bool PlayerSetReply(int32_t reply);
// The next command's or message's behaviour (see PlayerBehaviour).
bool PlayerSetBehaviour(const PlayerBehaviour &behaviour);
bool PlayerClearRecords();
// The player's thread hangs for ms from now: it returns once the thread is about to sleep.
bool PlayerHangNow(DWORD ms);
// Ends the player's hang now (one of PlayerHangNow or a kHang or kDestroyThenHang behaviour), once a
// test has seen what it waited for; the player logs "woken by the test". False when no player runs.
bool PlayerWakeNow();
// The visualizer frame is destroyed (with whatever is still inside it), and with makeNew a new empty
// frame of the same names is made, as a visualizer that closes or recreates its window.
// CurrentPlayerWindows shows the new frame, or none.
bool PlayerDestroyFrame(bool makeNew);
// The visualizer closes and opens again: its frame and inner window are destroyed (wherever the inner
// window was moved) and made anew, with other handles, the inner window at its place in the frame.
// The main window is made anew likewise, as a player that recreates it. CurrentPlayerWindows follows.
bool PlayerReopenVisualizer();
bool PlayerReplaceMain();
// Waits until at least `count` drops were recorded; false on timeout.
bool WaitForPlayerDrops(int count, DWORD timeoutMs);
