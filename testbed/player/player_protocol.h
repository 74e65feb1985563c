// vxavs test bed: what passes between the stand-in player and whoever steers it, written once for both
// sides: the ready line, the control window's requests and fields, the behaviour block, the command line.
#pragma once

#include "standin_player.h"

#include <string>

// ---- The ready line, the first the player prints (thread mode records it too):
// "player: ready control=N main=N,N frame=N pane=N inner=N decoys=N,N decoyinners=N,N", handles in decimal.
std::string PlayerReadyLine(const PlayerWindows &windows);
// False unless it is a ready line naming a control window.
bool ParsePlayerReadyLine(const std::string &line, PlayerWindows *windows);

// ---- The event that ends a hang early, named after the player's process: a test that has seen what it
// waited for ends the hang instead of sitting it out, from this process or another.
std::string PlayerWakeEventName(DWORD processId);

// ---- Requests to the control window, a message-only window on the player's thread.
enum PlayerControlRequest {
    kControlQuit = WM_APP + 1,  // -> 1; the player quits once it returns to its loop
    kControlCommandCount,       // -> number of commands recorded
    kControlCommandField,       // wParam index (-1 last), lParam a PlayerCommandField -> its value, 0 when no such command
    kControlSetReply,           // lParam the reply -> 1
    kControlDropCount,          // -> number of drops recorded
    kControlClearRecords,       // -> 1
    kControlDropField,          // wParam index (-1 last), lParam a PlayerDropField -> its value, 0 when no such drop
    kControlHangNow,            // wParam ms -> 1, answered before the thread goes to sleep
    kControlDestroyFrame,       // wParam 1: make a new empty frame -> the new frame, or 1 when none made
    kControlReopenVisualizer,   // -> the new inner window (in a new frame), or 1 when not made
    kControlReplaceMain,        // -> the first main window's successor, or 1 when not made
    kControlProbeCount,          // -> number of probes recorded
    kControlProbeField,          // wParam index (-1 last), lParam a PlayerProbeField -> its value, 0 when no such record
};

// A record crosses one field per request, each field a message result.
enum PlayerCommandField {
    kCommandFieldMessage, kCommandFieldWParam, kCommandFieldLParam, kCommandFieldReply, kCommandFieldAnswered, kCommandFieldWindow,
    kCommandFieldCount
};
enum PlayerDropField {
    kDropFieldWindow, kDropFieldHandle, kDropFieldRead, kDropFieldBlockSize, kDropFieldFileCount, kDropFieldPointX, kDropFieldPointY,
    kDropFieldPointResult, kDropFieldGoneAfterFinish,
    kDropFieldCount
};
enum PlayerProbeField { kProbeFieldWindow, kProbeFieldTick, kProbeFieldCount };
// The player's side: one field's value. The asker's side: the field written back from it. The drop's
// name and bytes do not cross: only a thread-mode player's records hold them for the asker.
LRESULT CommandFieldValue(const PlayerCommand &command, int field);
void SetCommandField(PlayerCommand *command, int field, LRESULT value);
LRESULT DropFieldValue(const PlayerDrop &drop, int field);
void SetDropField(PlayerDrop *drop, int field, LRESULT value);
LRESULT ProbeFieldValue(const PlayerProbe &probe, int field);
void SetProbeField(PlayerProbe *probe, int field, LRESULT value);

// ---- WM_COPYDATA with this dwData carries a PlayerBehaviourData and sets the behaviour (-> 1).
const ULONG_PTR kControlSetBehaviour = 0x76786231;  // "vxb1"
struct PlayerBehaviourData {
    uint32_t kind, ms, target, message, wParam, keep, onMessage, trigger;
};
PlayerBehaviourData PackBehaviour(const PlayerBehaviour &behaviour);
// False for a block of another size or a kind the player does not know.
bool UnpackBehaviour(const void *data, size_t size, PlayerBehaviour *behaviour);

// ---- vxplayer.exe's command line.

// The whole line, exe first, quoted as the C runtime splits it; every option is written out.
std::string PlayerCommandLine(const std::string &exe, const PlayerOptions &options, const PlayerStart &start);
// Reads vxplayer.exe's arguments (argv[0] is skipped) over the defaults already in *options and *start;
// false with the reason in *error ("--name: bad value ..."). --help is not among them.
bool ParsePlayerArguments(int argc, const char *const *argv, PlayerOptions *options, PlayerStart *start,
                          std::string *error);
