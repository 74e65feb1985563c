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
    bool windowGone;  // the reply came when the window no longer existed
    LRESULT result;
    PendingReply *outer;
};
static PendingReply *pPendingReplies;
static DWORD dwReplySequence;

static VOID CALLBACK ReceiveWnpReply(HWND window, UINT /*message*/, ULONG_PTR sequence, LRESULT result) {
    for (PendingReply *pending = pPendingReplies; pending != nullptr; pending = pending->outer) {
        if (pending->sequence == sequence) {
            pending->replied = true;
            // A player that closes or is ended while it handles the command has its reply made up by
            // the system, as 0: that is no answer of the player's. Any other reply is its own, and
            // costs no question about the window.
            pending->windowGone = result == 0 && !IsWindow(window);
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

// As SendMessageA, except that the wait ends when the player cannot answer: a player the system
// reports hung (before the request or while it handles it), or whose window is destroyed before it
// replies. While waiting, only messages sent to this thread are handled, as inside SendMessageA;
// posted messages and input stay queued.
static WindowCallOutcome SendToPlayer(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT *reply) {
    if (IsHungAppWindow(window)) return kNotResponding;
    PendingReply pending = {++dwReplySequence, false, false, 0, pPendingReplies};
    pPendingReplies = &pending;
    WindowCallOutcome outcome = kCallDone;
    if (!SendMessageCallbackA(window, message, wParam, lParam, ReceiveWnpReply, pending.sequence)) {
        outcome = FailedCallOutcome();
        if (outcome == kNotResponding) outcome = kRefused;  // refused without a reason given
    }
    while (outcome == kCallDone && !pending.replied) {
        MSG unused;
        PeekMessageA(&unused, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        if (pending.replied) break;
        // Only after a quiet spell is the player looked at: a prompt reply costs no extra calls.
        if (MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_SENDMESSAGE) != WAIT_TIMEOUT) continue;
        if (IsWindow(window) && !IsHungAppWindow(window)) continue;
        // A reply already on its way is taken; otherwise we give up on it.
        PeekMessageA(&unused, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        if (pending.replied) break;
        KeepLoadedForLateReplies();
        outcome = kNotResponding;
    }
    if (outcome == kCallDone && pending.windowGone) outcome = kNotResponding;
    pPendingReplies = pending.outer;
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
        WriteResult("ERROR5");
        return;
    }
    int16_t reply = 0;
    UINT message = 0;
    if (NamesMatch(messageName, "WM_COMMAND")) message = WM_COMMAND;
    if (NamesMatch(messageName, "WM_USER")) message = WM_USER;
    if (message != 0) {
        uint32_t wParam = ReadParameter(wParamText), lParam = ReadParameter(lParamText);
        LRESULT result = 0;
        WindowCallOutcome outcome = SendToPlayer(hWnpMain, message, wParam, lParam, &result);
        // Closed between the lookup and the send: a player that is there now gets the command.
        if (outcome == kWindowGone && FindWnpMain() != nullptr)
            outcome = SendToPlayer(hWnpMain, message, wParam, lParam, &result);
        if (outcome != kCallDone) {
            // Windows refusing is the one cause the player is not to blame for.
            WriteResult(outcome == kRefused ? "ERROR7" : "ERROR5");
            return;
        }
        reply = static_cast<int16_t>(static_cast<uint16_t>(result));
    }
    WriteResult(DecimalText(reply).text);
}
