// vxavs test bed: the stand-in player's records of commands and drops, and the steering of its answers.
// The player's thread writes them and any thread of a test reads or changes them, hence the one lock.

#include "player_internal.h"

#include <mutex>

static std::mutex lockPlayer;
static std::vector<PlayerCommand> cmdRecords;
static std::vector<PlayerDrop> dropRecords;
static std::vector<PlayerProbe> probeRecords;
static unsigned dwRecordGeneration;  // bumped by a clear, so a command still being handled is not written into a new list
static int32_t dwReply;
static PlayerBehaviour behNext;
static PlayerBehaviour behOnMessage;  // waits for its trigger message; kReplyAtOnce when none

void ResetPlayerRecords(int32_t reply) {
    std::lock_guard<std::mutex> hold(lockPlayer);
    cmdRecords.clear();
    dropRecords.clear();
    probeRecords.clear();
    ++dwRecordGeneration;
    dwReply = reply;
    behNext = PlayerBehaviour();
    behOnMessage = PlayerBehaviour();
}

CommandTicket RecordCommand(const PlayerCommand &command) {
    std::lock_guard<std::mutex> hold(lockPlayer);
    CommandTicket ticket = {cmdRecords.size(), dwRecordGeneration, behNext};
    cmdRecords.push_back(command);
    if (!behNext.keep) behNext = PlayerBehaviour();
    return ticket;
}

int32_t RecordAnswer(const CommandTicket &ticket, bool calledBack, int32_t calledBackReply) {
    std::lock_guard<std::mutex> hold(lockPlayer);
    int32_t reply = calledBack ? calledBackReply : dwReply;
    if (ticket.generation == dwRecordGeneration && ticket.index < cmdRecords.size()) {
        cmdRecords[ticket.index].reply = reply;
        cmdRecords[ticket.index].answered = true;
    }
    return reply;
}

void RecordDrop(const PlayerDrop &drop) {
    std::lock_guard<std::mutex> hold(lockPlayer);
    dropRecords.push_back(drop);
}

void RecordProbe(const PlayerProbe &probe) {
    std::lock_guard<std::mutex> hold(lockPlayer);
    probeRecords.push_back(probe);
}

size_t RecordedProbeCount() {
    std::lock_guard<std::mutex> hold(lockPlayer);
    return probeRecords.size();
}

size_t RecordedCommandCount() {
    std::lock_guard<std::mutex> hold(lockPlayer);
    return cmdRecords.size();
}

size_t RecordedDropCount() {
    std::lock_guard<std::mutex> hold(lockPlayer);
    return dropRecords.size();
}

template <typename Record>
static bool CopyRecord(const std::vector<Record> &records, int index, Record *record) {
    if (index == -1) index = static_cast<int>(records.size()) - 1;
    if (index < 0 || index >= static_cast<int>(records.size())) return false;
    *record = records[index];
    return true;
}

bool RecordedCommand(int index, PlayerCommand *command) {
    std::lock_guard<std::mutex> hold(lockPlayer);
    return CopyRecord(cmdRecords, index, command);
}

bool RecordedDrop(int index, PlayerDrop *drop) {
    std::lock_guard<std::mutex> hold(lockPlayer);
    return CopyRecord(dropRecords, index, drop);
}

bool RecordedProbe(int index, PlayerProbe *probe) {
    std::lock_guard<std::mutex> hold(lockPlayer);
    return CopyRecord(probeRecords, index, probe);
}

void ClearRecords() {
    std::lock_guard<std::mutex> hold(lockPlayer);
    cmdRecords.clear();
    dropRecords.clear();
    probeRecords.clear();
    ++dwRecordGeneration;
}

void SetRecordedReply(int32_t reply) {
    std::lock_guard<std::mutex> hold(lockPlayer);
    dwReply = reply;
}

void SetRecordedBehaviour(const PlayerBehaviour &behaviour) {
    std::lock_guard<std::mutex> hold(lockPlayer);
    (behaviour.onMessage ? behOnMessage : behNext) = behaviour;
}

bool TakeMessageBehaviour(UINT message, PlayerBehaviour *behaviour) {
    std::lock_guard<std::mutex> hold(lockPlayer);
    if (behOnMessage.kind == kReplyAtOnce || behOnMessage.trigger != message) return false;
    *behaviour = behOnMessage;
    if (!behOnMessage.keep) behOnMessage = PlayerBehaviour();
    return true;
}
