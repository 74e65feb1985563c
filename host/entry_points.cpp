// vxavs: the host's entry points, the callback table they fill and the table of the three actions.

#include "actions.h"
#include "callback_table.h"
#include "number_mode.h"

#include <cstring>

void *pfnHostAddAction;
void *pfnHostCallback2;
void *pfnHostCallback3;
void *pfnHostSetVariable;
void *pfnHostInterfaceAccess;
void *pfnHostScriptProcessor;
DWORD dwHostInitValue;

static const char kTitle[] = "zoVAVArorev";
static const char kAuthor[] = "The vxavs developers";
static const char kDescription[] = "Control AVS and Winamp player from NeoBook";

struct ActionRow {
    int number;
    const char *name;
    uint8_t parameterCount;
};

// Every parameter has type code 1; no action has a hint.
static const ActionRow kActions[] = {
    {1, "vxAVSDropFile", 2},
    {2, "vxAVSEmbed", 2},
    {3, "vxWnpCommand", 3},
};

void ResetHostState() {
    pfnHostAddAction = pfnHostCallback2 = pfnHostCallback3 = pfnHostSetVariable = nullptr;
    pfnHostInterfaceAccess = pfnHostScriptProcessor = nullptr;
    dwHostInitValue = 0;
}

static void RegisterAction(const ActionRow &row) {
    // Temporary copies: the host copies what it keeps before the callback returns.
    char name[32];
    memcpy(name, row.name, strlen(row.name) + 1);
    uint8_t typeCodes[3] = {1, 1, 1};
    // The count goes twice, as the sixth word too; the stack survives hosts that take only five.
    uint32_t words[6] = {static_cast<uint32_t>(row.number), reinterpret_cast<uint32_t>(name), 0,
                         reinterpret_cast<uint32_t>(typeCodes), row.parameterCount, row.parameterCount};
    CallHostCallback(pfnHostAddAction, words, 6);
}

// Called once after load: title, author and description go to the host in blocks it then owns.
extern "C" void __stdcall nbInitPlugIn(DWORD value, HostStringSlot *titleSlot, HostStringSlot *authorSlot,
                                       HostStringSlot *descriptionSlot) {
    dwHostInitValue = value;
    AssignHostString(titleSlot, kTitle);
    AssignHostString(authorSlot, kAuthor);
    AssignHostString(descriptionSlot, kDescription);
}

// Called to hand over the callbacks; every call registers the three actions again.
extern "C" void __stdcall nbRegisterPlugIn(void *addAction, void *callback2, void *callback3, void *setVariable) {
    pfnHostAddAction = addAction;
    pfnHostCallback2 = callback2;
    pfnHostCallback3 = callback3;
    pfnHostSetVariable = setVariable;
    for (const ActionRow &row : kActions) RegisterAction(row);
}

// Called to hand over the object-query callback.
extern "C" void __stdcall nbRegisterInterfaceAccess(void *interfaceAccess) { pfnHostInterfaceAccess = interfaceAccess; }

// Called to hand over a value the plug-in keeps and never uses.
extern "C" void __stdcall nbRegisterScriptProcessor(void *scriptProcessor) { pfnHostScriptProcessor = scriptProcessor; }

// Called when a publication runs an action. The answer says only whether the number is known;
// the outcome goes to the publication through the result variable.
extern "C" BOOL __stdcall nbExecAction(int number, const char *const *parameters) {
    const ActionRow *row = nullptr;
    for (const ActionRow &candidate : kActions)
        if (candidate.number == number) row = &candidate;
    if (row == nullptr) return FALSE;

    NumberMode numberMode;
    // The texts are copied for the length of the action, since the action calls back into the host,
    // which may change its own texts meanwhile. A text there is no memory for is the empty text.
    char *copies[3] = {};
    std::string_view texts[3];
    for (int i = 0; i < row->parameterCount; ++i) {
        std::string_view text = HostText(parameters[i]);
        copies[i] = CopyToHeap(text);
        if (copies[i] != nullptr) texts[i] = std::string_view(copies[i], text.size());
    }
    switch (number) {
    case 1:
        DropAVSFile(texts[0], texts[1]);
        break;
    case 2:
        EmbedAVS(texts[0], texts[1]);
        break;
    case 3:
        SendWnpCommand(texts[0], texts[1], texts[2]);
        break;
    }
    for (char *copy : copies) ReleaseCopy(copy);
    return TRUE;
}

// Called when an author edits an action: the slots of actions 1 and 2 get fresh blocks with the same
// texts; nothing is shown.
extern "C" BOOL __stdcall nbEditAction(int number, HostStringSlot *slots) {
    if (number != 1 && number != 2) return TRUE;
    // Both addresses are read before either slot changes. Each new block is filled from the old one
    // before that is released.
    const char *first = slots[0];
    const char *second = slots[1];
    AssignHostString(&slots[0], HostText(first));
    if (second != nullptr && second == first) {
        // One block in both slots: it went with slot 0, whose new block holds the same text.
        slots[1] = nullptr;
        second = slots[0];
    }
    AssignHostString(&slots[1], HostText(second));
    return TRUE;
}

// Called to notify the plug-in; message 2 gives an embedded visualizer window back.
extern "C" void __stdcall nbMessage(int message, DWORD /*extra*/) {
    if (message == 2) UnembedAVS();
}
