// vxavs: sending WM_COMMAND or WM_USER to the player's main window and handing its reply back.

#include <cstdint>

#include "../host/actions.h"
#include "../text/text_to_number.h"
#include "player_windows.h"

// One record per wait in progress, on the waiting frame's stack. Waits nest when a message sent to
// us while we wait runs another command; the reply callback finds its record by sequence number, so a
// reply we gave up on finds none and is dropped.
struct PendingReply {
    DWORD sequence;
    bool replied;
    LRESULT result;
    PendingReply *outer;
};
static PendingReply *pPendingReplies;
static DWORD dwReplySequence;

void ResetPlayerCommand() {
    pPendingReplies = nullptr;
    dwReplySequence = 0;
}

static VOID CALLBACK ReceiveWnpReply(HWND /*window*/, UINT /*message*/, ULONG_PTR sequence, LRESULT result) {
    for (PendingReply *pending = pPendingReplies; pending != nullptr; pending = pending->outer) {
        if (pending->sequence == sequence) {
            pending->replied = true;
            pending->result = result;
            return;
        }
    }
}

// The system may still deliver a reply we gave up on, whenever the host next reads its queue: the
// code it calls must stay loaded for the rest of the process.
static void KeepLoadedForLateReplies() {
    HMODULE module;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCSTR>(&ReceiveWnpReply), &module);
}

// The player's thread, opened once the reply is not prompt, so that its end can be waited for; null
// when it has ended already or cannot be opened.
static HANDLE OpenPlayerThread(DWORD threadId) { return threadId ? OpenThread(SYNCHRONIZE, FALSE, threadId) : nullptr; }

// How long a thread that closed its window may take to finish the command before we stop waiting, and
// how long a thread that answered 0 without a window may take to end before its answer counts as its own.
static const DWORD kClosedWindowGraceMs = kRespondMs;
static const DWORD kThreadEndingMs = 50;

// The system makes up a reply of 0 for a player thread that ended before answering; every other reply
// is the player's own, 0 from a handler that closed its own window included. A thread with a window
// has not ended. Without one, a thread that is ending has its reply made up while it is cleaned up,
// moments before it counts as ended.
static bool ReplyMadeUp(HWND window, DWORD threadId, LRESULT result) {
    if (result != 0 || IsWindow(window)) return false;
    HANDLE thread = OpenPlayerThread(threadId);
    if (thread == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER;  // no such thread any more
    bool ended = WaitForSingleObject(thread, kThreadEndingMs) == WAIT_OBJECT_0;
    CloseHandle(thread);
    return ended;
}

// As SendMessageA, except that the wait ends when the player cannot answer: a player the system
// reports hung (before the request or while it handles it), whose thread ends, or that closed its
// window and still has not answered a while later. While waiting, only messages sent to this thread
// are handled, as inside SendMessageA; posted messages and input stay queued.
static WindowCallOutcome SendToPlayer(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT *reply) {
    if (IsHungAppWindow(window)) return kNotResponding;
    DWORD threadId = GetWindowThreadProcessId(window, nullptr);
    PendingReply pending = {++dwReplySequence, false, 0, pPendingReplies};
    pPendingReplies = &pending;
    WindowCallOutcome outcome = kCallDone;
    if (!SendMessageCallbackA(window, message, wParam, lParam, ReceiveWnpReply, pending.sequence)) {
        outcome = FailedCallOutcome();
        if (outcome == kNotResponding) outcome = kRefused;  // refused without a reason given
    }
    HANDLE thread = nullptr;
    bool threadOpened = false;
    DWORD closedAt = 0;
    bool closed = false;
    while (outcome == kCallDone && !pending.replied) {
        MSG unused;
        PeekMessageA(&unused, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        if (pending.replied) break;
        DWORD count = thread != nullptr ? 1 : 0;
        DWORD woke = MsgWaitForMultipleObjects(count, &thread, FALSE, 100, QS_SENDMESSAGE);
        // Only after a quiet spell is the player looked at: a prompt reply costs no extra calls.
        bool ended = count == 1 && woke == WAIT_OBJECT_0;
        if (!ended && woke != WAIT_TIMEOUT) continue;
        if (!threadOpened) {
            thread = OpenPlayerThread(threadId);
            threadOpened = true;
        }
        if (!ended) {
            if (IsWindow(window)) {
                if (!IsHungAppWindow(window)) continue;
            } else {
                if (!closed) closedAt = GetTickCount();
                closed = true;
                if (thread != nullptr && GetTickCount() - closedAt < kClosedWindowGraceMs) continue;
            }
        }
        // A reply already on its way is taken; otherwise we give up on it.
        PeekMessageA(&unused, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        if (pending.replied) break;
        KeepLoadedForLateReplies();
        outcome = kNotResponding;
    }
    if (thread != nullptr) CloseHandle(thread);
    pPendingReplies = pending.outer;
    if (outcome == kCallDone && ReplyMadeUp(window, threadId, pending.result)) outcome = kNotResponding;
    *reply = pending.result;
    return outcome;
}

// wParam and lParam are read the same way: nearest integer, ties to even, low 32 bits.
static uint32_t ReadParameter(std::string_view text) { return RoundToLow32(TextToNumber(text)); }

// Plain decimal: a "-" for negative values, no leading zeros, "0" for zero.
struct ShortDecimal {
    char text[8];
};
static ShortDecimal DecimalText(int16_t value) {
    ShortDecimal decimal;
    char digits[8];
    int count = 0;
    int magnitude = value < 0 ? -static_cast<int>(value) : value;
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    int length = 0;
    if (value < 0) decimal.text[length++] = '-';
    while (count > 0) decimal.text[length++] = digits[--count];
    decimal.text[length] = '\0';
    return decimal;
}

void SendWnpCommand(std::string_view messageName, std::string_view wParamText, std::string_view lParamText) {
    WriteResult("");
    if (FindWnpMain() == nullptr) {
        WriteOutcome(kCommandAction, kNoPlayer);
        return;
    }
    int16_t reply = 0;
    UINT message = 0;
    if (NamesMatch(messageName, "WM_COMMAND")) message = WM_COMMAND;
    if (NamesMatch(messageName, "WM_USER")) message = WM_USER;
    if (message != 0) {
        uint32_t wParam = ReadParameter(wParamText), lParam = ReadParameter(lParamText);
        LRESULT result = 0;
        // Closed between the lookup and the send: a player that is there now gets the command.
        WindowCallOutcome outcome =
            CallWithSecondLookup([&] { return SendToPlayer(hWnpMain, message, wParam, lParam, &result); },
                                 [] { return FindWnpMain() != nullptr ? kCallDone : kNoPlayer; });
        if (outcome != kCallDone) {
            WriteOutcome(kCommandAction, outcome);
            return;
        }
        reply = static_cast<int16_t>(static_cast<uint16_t>(result));
    }
    WriteResult(DecimalText(reply).text);
}
