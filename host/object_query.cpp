// vxavs: asking the host for the window handle of one of its objects.

#include "callback_table.h"

#include <cstring>

#include "../text/text_to_number.h"

// The exchange block: its first four bytes carry the name's address to the host and the answer's back.
static uint8_t bufObjectQuery[64];

int32_t QueryHostObjectHandle(std::string_view objectName) {
    // A zero-terminated copy; without memory for it the host is asked about the empty name.
    char *copy = CopyToHeap(objectName);
    const char *name = copy ? copy : "";
    memcpy(bufObjectQuery, &name, sizeof name);
    uint32_t words[2] = {7, reinterpret_cast<uint32_t>(bufObjectQuery)};
    CallHostCallback(pfnHostInterfaceAccess, words, 2);

    // The answer is read where the host keeps it, at once; the host neither expects it kept nor freed.
    // A host that left the block alone has the name itself read as the answer.
    const char *answer;
    memcpy(&answer, bufObjectQuery, sizeof answer);
    int32_t handle = RoundToInt32(TextToNumber(HostText(answer)));
    ReleaseCopy(copy);
    return handle;
}

void ResetObjectQuery() { memset(bufObjectQuery, 0, sizeof bufObjectQuery); }
