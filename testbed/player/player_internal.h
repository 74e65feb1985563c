// vxavs test bed: what the stand-in player's own files share with each other and not with the tests.
#pragma once

#include "player_protocol.h"
#include "standin_player.h"

#include <cstddef>
#include <cstdint>

// ---- From player_windows.cpp: the player itself, on the calling thread (vxplayer.exe's main thread,
// or the thread thread mode starts).

// Where the player's "player: " lines go: to the sink when there is one, else to stdout.
typedef void (*PlayerLineSink)(const std::string &line);
// Creates the player's windows; false when one could not be made (those made are destroyed again).
// Of the start, lifetimeSeconds and quiet count; kDropsAuto is taken as kDropsRead.
bool CreatePlayerWindows(const PlayerOptions &options, const PlayerStart &start, PlayerLineSink sink);
// Pumps the calling thread's messages until the player quits: a quit request, WM_CLOSE on a main
// window or the frame, or the end of its lifetime.
void RunPlayerLoop();
// Destroys whatever player windows this thread still owns, wherever they were moved, and unregisters
// the classes. Safe when windows are already gone.
void DestroyPlayerWindows();
// The windows of the last CreatePlayerWindows call; stale handles stay once they are destroyed.
const PlayerWindows &PlayerWindowsMade();
// A "player: " line for an event, unless quiet.
void PlayerLog(const char *format, ...);

// ---- From player_records.cpp, for the windows that fill the records.

// A new player starts with empty records, the given reply and no behaviour pending.
void ResetPlayerRecords(int32_t reply);

// A command recorded as it arrives, with the behaviour it takes; its answer is written back later.
struct CommandTicket {
    size_t index;
    unsigned generation;  // the records' at arrival: a clear meanwhile leaves the new list alone
    PlayerBehaviour behaviour;
};
CommandTicket RecordCommand(const PlayerCommand &command);
// The reply is the one set for the player unless the command called back, which answers with what it got.
int32_t RecordAnswer(const CommandTicket &ticket, bool calledBack, int32_t calledBackReply);
void RecordDrop(const PlayerDrop &drop);
void RecordProbe(const PlayerProbe &probe);
// The behaviour waiting for this message, taken unless kept; false when none waits for it.
bool TakeMessageBehaviour(UINT message, PlayerBehaviour *behaviour);
void SetRecordedReply(int32_t reply);
void SetRecordedBehaviour(const PlayerBehaviour &behaviour);
void ClearRecords();

// One record copied out; index -1 is the last. False when there is none such. The player's control
// window answers from these, and thread mode reads them here directly.
size_t RecordedCommandCount();
size_t RecordedDropCount();
size_t RecordedProbeCount();
bool RecordedProbe(int index, PlayerProbe *probe);
bool RecordedCommand(int index, PlayerCommand *command);
bool RecordedDrop(int index, PlayerDrop *drop);

// ---- From player_start.cpp, for player_control.cpp.

// The control window of the player started, nullptr when none runs.
HWND StartedPlayerControl();
// The windows as steering left them, for CurrentPlayerWindows.
void FollowPlayerWindows(const PlayerWindows &windows);
// Whether the player runs on a thread of this process.
bool PlayerOnThread();
