// vxavs test bed: questions and steering for the stand-in player. Steering goes to its control window
// whichever mode it runs in; a player on a thread of ours has its records read where it keeps them.

#include "player_internal.h"
#include "testbed_common.h"

#include <algorithm>

// Requests wait for a player that was told to hang, but not forever; SMTO_NORMAL lets this thread
// answer a call-back meanwhile.
static bool AskPlayer(UINT request, WPARAM wParam, LPARAM lParam, LRESULT *answer) {
    // Handles outlive the player; a stale one could name someone else's window by now.
    HWND control = StartedPlayerControl();
    if (control == nullptr) return false;
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(control, request, wParam, lParam, SMTO_NORMAL, 10000, &result)) return false;
    *answer = static_cast<LRESULT>(result);
    return true;
}

// A request answered with 1 when done.
static bool TellPlayer(UINT request, WPARAM wParam, LPARAM lParam) {
    LRESULT done = 0;
    return AskPlayer(request, wParam, lParam, &done) && done == 1;
}

static int AskCount(UINT request) {
    LRESULT count = 0;
    return AskPlayer(request, 0, 0, &count) ? static_cast<int>(count) : -1;
}

// A thread-mode player's records are in this process, whole (a drop's name and bytes too), and each
// request to the control window costs milliseconds under an emulated machine, where the soak test
// reads thousands of records: so they are read directly. Process mode asks for them field by field.
int PlayerCommandCount() {
    return PlayerOnThread() ? static_cast<int>(RecordedCommandCount()) : AskCount(kControlCommandCount);
}

int PlayerDropCount() { return PlayerOnThread() ? static_cast<int>(RecordedDropCount()) : AskCount(kControlDropCount); }

// A record asked for field by field; false when the player does not answer.
template <typename Record>
static bool AskRecord(UINT request, int index, int fieldCount, void (*setField)(Record *, int, LRESULT),
                      Record *record) {
    for (int field = 0; field < fieldCount; ++field) {
        LRESULT value = 0;
        if (!AskPlayer(request, static_cast<WPARAM>(index), field, &value)) return false;
        setField(record, field, value);
    }
    return true;
}

bool GetPlayerCommand(int index, PlayerCommand *command) {
    *command = PlayerCommand();
    if (PlayerOnThread()) return RecordedCommand(index, command);
    return AskRecord(kControlCommandField, index, kCommandFieldCount, SetCommandField, command) &&
           command->message != 0;
}

bool GetPlayerDrop(int index, PlayerDrop *drop) {
    *drop = PlayerDrop();
    if (PlayerOnThread()) return RecordedDrop(index, drop);
    return AskRecord(kControlDropField, index, kDropFieldCount, SetDropField, drop) && drop->window != nullptr;
}

// Every record, asked for one by one; empty when the player stops answering on the way.
template <typename Record>
static std::vector<Record> RecordList(int count, bool (*get)(int, Record *)) {
    std::vector<Record> records(static_cast<size_t>(std::max(count, 0)));
    for (size_t i = 0; i < records.size(); ++i)
        if (!get(static_cast<int>(i), &records[i])) return {};
    return records;
}

int PlayerProbeCount() {
    return PlayerOnThread() ? static_cast<int>(RecordedProbeCount()) : AskCount(kControlProbeCount);
}

static bool GetPlayerProbe(int index, PlayerProbe *probe) {
    *probe = PlayerProbe();
    if (PlayerOnThread()) return RecordedProbe(index, probe);
    return AskRecord(kControlProbeField, index, kProbeFieldCount, SetProbeField, probe) && probe->window != nullptr;
}

std::vector<PlayerProbe> PlayerProbes() { return RecordList(PlayerProbeCount(), GetPlayerProbe); }

std::vector<PlayerCommand> PlayerCommandList() { return RecordList(PlayerCommandCount(), GetPlayerCommand); }
std::vector<PlayerDrop> PlayerDropList() { return RecordList(PlayerDropCount(), GetPlayerDrop); }

bool PlayerSetReply(int32_t reply) { return TellPlayer(kControlSetReply, 0, static_cast<LPARAM>(reply)); }
bool PlayerClearRecords() { return TellPlayer(kControlClearRecords, 0, 0); }
bool PlayerHangNow(DWORD ms) { return TellPlayer(kControlHangNow, ms, 0); }

bool PlayerWakeNow() {
    if (PlayerProcessId() == 0) return false;
    HANDLE wake = OpenEventA(EVENT_MODIFY_STATE, FALSE, PlayerWakeEventName(PlayerProcessId()).c_str());
    if (wake == nullptr) return false;
    BOOL set = SetEvent(wake);
    CloseHandle(wake);
    return set != FALSE;
}

bool PlayerSetBehaviour(const PlayerBehaviour &behaviour) {
    PlayerBehaviourData wire = PackBehaviour(behaviour);
    COPYDATASTRUCT data = {kControlSetBehaviour, sizeof wire, &wire};
    return TellPlayer(WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
}

bool PlayerDestroyFrame(bool makeNew) {
    LRESULT frame = 0;
    if (!AskPlayer(kControlDestroyFrame, makeNew ? 1 : 0, 0, &frame)) return false;
    HWND now = frame != 1 ? reinterpret_cast<HWND>(frame) : nullptr;
    PlayerWindows windows = CurrentPlayerWindows();
    windows.frame = now;
    FollowPlayerWindows(windows);
    return (now != nullptr) == makeNew;
}

bool PlayerReopenVisualizer() {
    LRESULT inner = 0;
    if (!AskPlayer(kControlReopenVisualizer, 0, 0, &inner) || inner == 1) return false;
    PlayerWindows windows = CurrentPlayerWindows();
    windows.inner = reinterpret_cast<HWND>(inner);
    windows.frame = GetAncestor(windows.inner, GA_ROOT);
    windows.pane = GetParent(windows.inner) != windows.frame ? GetParent(windows.inner) : nullptr;
    FollowPlayerWindows(windows);
    return true;
}

bool PlayerReplaceMain() {
    LRESULT main = 0;
    if (!AskPlayer(kControlReplaceMain, 0, 0, &main) || main == 1) return false;
    PlayerWindows windows = CurrentPlayerWindows();
    windows.mains.at(0) = reinterpret_cast<HWND>(main);
    FollowPlayerWindows(windows);
    return true;
}

bool WaitForPlayerDrops(int count, DWORD timeoutMs) {
    return WaitUntil([count] { return PlayerDropCount() >= count; }, timeoutMs);
}
