// vxavs test bed: what the stand-in player's own files share with each other and not with the tests.
#pragma once

#include "standin_player.h"

#include <cstddef>
#include <cstdint>

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
// The behaviour waiting for this message, taken unless kept; false when none waits for it.
bool TakeMessageBehaviour(UINT message, PlayerBehaviour *behaviour);

// One record copied out for the control window; index -1 is the last. False when there is none such.
size_t RecordedCommandCount();
size_t RecordedDropCount();
bool RecordedCommand(int index, PlayerCommand *command);
bool RecordedDrop(int index, PlayerDrop *drop);

// ---- From player_windows.cpp, for thread mode.

// A "player: " line on stdout when the player echoes; silent otherwise.
void PlayerLog(const char *format, ...);
// The windows of the last CreatePlayerWindows call; stale handles stay once they are destroyed.
const PlayerWindows &PlayerWindowsMade();

// ---- From thread_player.cpp, for process mode too.

// Waits for a handle while handling messages sent to this thread, which a window of ours being
// re-parented, destroyed or called back may need; posted messages stay queued.
bool WaitHandlingSentMessages(HANDLE object, DWORD timeoutMs);
