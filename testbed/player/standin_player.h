// vxavs test bed: a stand-in for the media player and its visualizer. It offers the windows the plug-in
// looks for, answers and records player commands, and reads back dropped file blocks.
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
    DropReading drops = kDropsRead;
    int32_t reply = 0;        // what WM_COMMAND and WM_USER are answered with until changed
    int lifetimeSeconds = 0;  // 0: no limit; otherwise the player quits by itself after that long
    bool echo = false;        // print a "player: " line to stdout for everything the player sees
};

// Every window the player made; 0 for those not made. Handles may go stale once the player stops.
struct PlayerWindows {
    HWND control = nullptr;  // message-only; queries and steering from another process go here
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

// ---- The player itself, on the calling thread (vxplayer.exe runs it on its main thread).

// Creates the player's windows; false when one could not be made (those made are destroyed again).
bool CreatePlayerWindows(const PlayerOptions &options);
// Pumps the calling thread's messages until the player quits: a quit request, WM_CLOSE on a main
// window or the frame, or the end of its lifetime.
void RunPlayerLoop();
// Destroys whatever player windows this thread still owns, wherever they were moved, and unregisters
// the classes. Safe when windows are already gone.
void DestroyPlayerWindows();
// "player: ready control=N main=N,N frame=N pane=N inner=N decoys=N,N decoyinners=N,N", handles in decimal.
std::string PlayerReadyLine();

// ---- Thread mode: the player on a thread of the calling process (drop blocks can be read back).

// Starts the player thread and waits until its windows exist; false (and no thread) on failure.
bool StartPlayerThread(const PlayerOptions &options);
// Quits the player, destroys its windows and ends the thread. Processes messages sent to the calling
// thread meanwhile, since the inner window may have been re-parented into one of its windows. Waits
// for a hanging player to wake. Safe when not started or already quit.
void StopPlayerThread();
PlayerWindows PlayerThreadWindows();
HWND PlayerMainWindow();  // the first main window
HWND PlayerFrame();
HWND PlayerInnerWindow();

// Records and steering of the player of this process; callable from any thread.
std::vector<PlayerCommand> PlayerCommands();
std::vector<PlayerDrop> PlayerDrops();
void PlayerClearRecords();
void PlayerSetReply(int32_t reply);
void PlayerSetBehaviour(const PlayerBehaviour &behaviour);
// The player's thread hangs for ms from now: it returns once the thread is asleep.
bool PlayerHangNow(DWORD ms);
// The visualizer frame is destroyed (with whatever is still inside it), and with makeNew a new empty
// frame of the same names is made, as a visualizer that closes or recreates its window. The windows
// reported afterwards show the new frame, or none.
bool PlayerDestroyFrame(bool makeNew);
// Waits until at least `count` drops were recorded; false on timeout.
bool WaitForPlayerDrops(size_t count, DWORD timeoutMs);

// ---- Process mode: vxplayer.exe in a process of its own, steered through its control window.

struct PlayerProcessOptions {
    std::string exePath;       // empty: vxplayer.exe next to the calling program
    int lifetimeSeconds = 300;  // passed as --lifetime; 0 for none
    bool echo = false;          // copy the player's lines to this process's stdout as they come
    DWORD readyTimeoutMs = 20000;
    std::string drops = "auto";  // --drops: auto (count only under Wine), read or count
    bool quiet = false;          // --quiet: the ready line only, nothing per event (for timing)
};

// Starts vxplayer.exe with options mirroring `options`, waits for its ready line and reads its window
// handles from it. Its stdout is drained by a reader thread. False (and nothing left running) on failure.
bool StartPlayerProcess(const PlayerOptions &options, const PlayerProcessOptions &processOptions = {});
// Asks the player to quit, waits up to timeoutMs, then terminates it. True when it quit by itself.
bool StopPlayerProcess(DWORD timeoutMs = 5000);
PlayerWindows PlayerProcessWindows();
DWORD PlayerProcessId();
// Every line the player printed so far, "\r\n" removed.
std::vector<std::string> PlayerProcessLines();
// Waits until a printed line contains `fragment`; false on timeout.
bool WaitForPlayerProcessLine(const std::string &fragment, DWORD timeoutMs);

// Queries through the control window. They wait up to 10 s (the player may be made to hang);
// counts are -1 and setters false when the player does not answer.
int PlayerProcessCommandCount();
bool PlayerProcessCommand(int index, PlayerCommand *command);  // index -1: the last one
int PlayerProcessDropCount();
// Everything but the name and the bytes, which stay in the player (its printed line shows the name).
bool PlayerProcessDrop(int index, PlayerDrop *drop);  // index -1: the last one
bool PlayerProcessSetReply(int32_t reply);
bool PlayerProcessSetBehaviour(const PlayerBehaviour &behaviour);
bool PlayerProcessClearRecords();
bool PlayerProcessHangNow(DWORD ms);               // as PlayerHangNow
bool PlayerProcessDestroyFrame(bool makeNew);      // as PlayerDestroyFrame; PlayerProcessWindows follows
bool WaitForPlayerProcessDrops(int count, DWORD timeoutMs);

// The control protocol, for anyone talking to a player's control window directly.
enum PlayerControlRequest {
    kControlQuit = WM_APP + 1,     // -> 1; the player quits once it returns to its loop
    kControlCommandCount,          // -> number of commands recorded
    kControlCommandField,          // wParam index (-1 last), lParam 0 message 1 wParam 2 lParam 3 reply 4 answered 5 window
    kControlSetReply,              // lParam the reply -> 1
    kControlDropCount,             // -> number of drops recorded
    kControlClearRecords,          // -> 1
    kControlDropField,             // wParam index (-1 last), lParam 0 window 1 handle 2 read 3 blockSize 4 fileCount
                                   //   5 point x 6 point y 7 pointResult 8 goneAfterFinish
    kControlHangNow,               // wParam ms -> 1, answered before the thread goes to sleep
    kControlDestroyFrame,          // wParam 1: make a new empty frame -> the new frame, or 1 when none made
};
// WM_COPYDATA with this dwData carries a PlayerBehaviourData and sets the behaviour.
const ULONG_PTR kControlSetBehaviour = 0x76786231;  // "vxb1"
struct PlayerBehaviourData {
    uint32_t kind, ms, target, message, wParam, keep, onMessage, trigger;
};
