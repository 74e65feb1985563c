// vxavs: what each action writes into the result variable for each outcome, in one table that reads
// like the author's guide.

#include "../host/host_services.h"
#include "player_windows.h"

void WriteResult(const char *value) { SetHostVariable(kResultVariable, value); }

struct OutcomeCodes {
    WindowCallOutcome outcome;
    const char *code[4];  // by ReportingAction: drop, embed, release, command; null writes nothing
};

// Rows in the order of the codes. A command writes its reply when done; a release asked for by the
// host's message 2, or by the closing of the host window, writes nothing at all.
static const OutcomeCodes kOutcomeCodes[] = {
    //                  drop      embed     release   command
    {kNoFrame,        {"ERROR1", "ERROR1", "ERROR1", nullptr}},
    {kWindowGone,     {"ERROR1", "ERROR1", "ERROR1", "ERROR5"}},
    {kNoFile,         {"ERROR2", nullptr, nullptr, nullptr}},
    {kNoMemory,       {"ERROR3", nullptr, nullptr, nullptr}},
    // A post never waits: only a full queue keeps a drop out; a command or an embedding waits for a
    // thread that cannot take it.
    {kQueueFull,      {"ERROR3", "ERROR5", "ERROR5", "ERROR5"}},
    {kNoHostWindow,   {nullptr, "ERROR4", "ERROR4", nullptr}},
    {kNoPlayer,       {nullptr, nullptr, nullptr, "ERROR5"}},
    // A post that failed without a reason was refused: it waits for nobody.
    {kNotResponding,  {"ERROR7", "ERROR5", "ERROR5", "ERROR5"}},
    {kNoInner,        {"ERROR6", "ERROR6", "ERROR6", nullptr}},
    {kRefused,        {"ERROR7", "ERROR7", "ERROR7", "ERROR7"}},
};

void WriteOutcome(ReportingAction action, WindowCallOutcome outcome) {
    for (const OutcomeCodes &row : kOutcomeCodes) {
        if (row.outcome != outcome) continue;
        if (row.code[action] != nullptr) WriteResult(row.code[action]);
        return;
    }
}
