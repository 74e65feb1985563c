// vxavs test bed: the stand-in host's library (loading, hand-shake, callbacks and their records).

#include "standin_host.h"

#include <cstdio>
#include <cstring>

StandinHost gHost;

const char *const kEntryPointNames[8] = {
    "_nbInitPlugIn@16",   "_nbRegisterPlugIn@16", "_nbRegisterInterfaceAccess@4", "_nbRegisterScriptProcessor@4",
    "_nbExecAction@8",    "_nbEditAction@8",      "_nbMessage@8",                 "_nbAbout@0",
};

static std::string Quoted(const char *text) { return text ? "\"" + std::string(text) + "\"" : "(null)"; }

static void RecordAddAction(uint32_t number, const char *name, const char *hint, const uint8_t *types,
                            uint32_t count, uint32_t countAgain, bool sixWords) {
    AddActionCall call;
    call.number = number;
    call.name = name ? name : "";
    call.hintIsNull = hint == nullptr;
    if (types != nullptr) call.typeCodes.assign(types, types + (count & 0xFF));
    call.count = count;
    call.countAgain = countAgain;
    gHost.addActions.push_back(call);
    if (gHost.echo) {
        std::string codes;
        for (uint8_t code : call.typeCodes) codes += (codes.empty() ? "" : ",") + std::to_string(code);
        printf("host: add-action %u %s, hint %s, type codes %s, count %u", number, Quoted(name).c_str(),
               Quoted(hint).c_str(), codes.c_str(), count);
        if (sixWords) printf(" and %u", countAgain);
        printf("\n");
        fflush(stdout);
    }
}

void __stdcall HostAddActionSixWords(uint32_t number, const char *name, const char *hint, const uint8_t *types,
                                     uint32_t count, uint32_t countAgain) {
    RecordAddAction(number, name, hint, types, count, countAgain, true);
}

void __stdcall HostAddActionFiveWords(uint32_t number, const char *name, const char *hint, const uint8_t *types,
                                      uint32_t count) {
    RecordAddAction(number, name, hint, types, count, 0, false);
}

void __stdcall HostSetVariable(const char *name, const char *value) {
    VariableWrite write = {name == nullptr, name ? name : "", value == nullptr, value ? value : ""};
    gHost.variableWrites.push_back(write);
    gHost.variables[write.name] = write.value;
    if (gHost.echo) {
        printf("host: %s set to %s\n", Quoted(name).c_str(), Quoted(value).c_str());
        fflush(stdout);
    }
}

void __stdcall HostInterfaceAccess(uint32_t requestCode, uint8_t *block) {
    memcpy(gHost.lastExchangeBlock, block, sizeof gHost.lastExchangeBlock);
    const char *name;
    memcpy(&name, block, sizeof name);
    ObjectQuery query = {requestCode, name ? name : ""};
    gHost.objectQueries.push_back(query);

    // The answer lives in the host until the next query, as a host's own variable would.
    static std::string answer;
    const char *answerAddress = nullptr;
    switch (gHost.answerMode) {
    case kAnswerFromTable: {
        auto found = gHost.objectAnswers.find(query.name);
        answer = found != gHost.objectAnswers.end() ? found->second : "0";
        answerAddress = answer.c_str();
        memcpy(block, &answerAddress, sizeof answerAddress);
        break;
    }
    case kLeaveBlockUnchanged:
        answerAddress = name;
        break;
    case kAnswerNullAddress:
        memcpy(block, &answerAddress, sizeof answerAddress);
        break;
    }
    if (gHost.echo) {
        std::string shown = answerAddress ? std::string(answerAddress).substr(0, 40) : "";
        printf("host: object query %u for %s answered %s\n", requestCode, Quoted(name).c_str(),
               answerAddress ? Quoted(shown.c_str()).c_str() : "(null)");
        fflush(stdout);
    }
}

void HostClearRecords() {
    gHost.addActions.clear();
    gHost.variableWrites.clear();
    gHost.variables.clear();
    gHost.objectQueries.clear();
}

bool HostLoadPlugIn(const char *dllPath) {
    int threads = ProcessThreadCount();
    HMODULE module = LoadLibraryA(dllPath);
    if (module == nullptr) return false;
    FARPROC found[8];
    for (int i = 0; i < 8; ++i) {
        found[i] = GetProcAddress(module, kEntryPointNames[i]);
        if (found[i] == nullptr) {
            FreeLibrary(module);
            return false;
        }
    }
    gHost.module = module;
    const char *name = strrchr(dllPath, '\\');
    gHost.moduleName = name != nullptr ? name + 1 : dllPath;
    gHost.threadsAtLoad = threads;
    memcpy(&gHost.entry, found, sizeof gHost.entry);
    static_assert(sizeof gHost.entry == sizeof found, "eight entry points");
    return true;
}

void HostHandshake(AddActionShape shape) {
    gHost.initValue = 0x4E42;
    gHost.entry.initPlugIn(gHost.initValue, &gHost.identity[0], &gHost.identity[1], &gHost.identity[2]);
    void *addAction = shape == kAddActionSixWords ? reinterpret_cast<void *>(HostAddActionSixWords)
                                                  : reinterpret_cast<void *>(HostAddActionFiveWords);
    // The two middle callbacks are never called by the plug-in; a host still hands something over.
    gHost.entry.registerPlugIn(addAction, reinterpret_cast<void *>(0xC0DE0002), reinterpret_cast<void *>(0xC0DE0003),
                               reinterpret_cast<void *>(HostSetVariable));
    gHost.entry.registerInterfaceAccess(reinterpret_cast<void *>(HostInterfaceAccess));
    gHost.entry.registerScriptProcessor(reinterpret_cast<void *>(0xC0DE0005));
}

void HostUnloadPlugIn() {
    // The import entries are the module's: put back while it is surely still mapped.
    HostClearRefusals();
    for (HostStringSlot &slot : gHost.identity) {
        if (slot != nullptr) GlobalFree(slot);  // the host owns the blocks the plug-in handed over
        slot = nullptr;
    }
    if (gHost.module != nullptr) {
        FreeLibrary(gHost.module);
        // Gone, or its helper thread has ended and it stays of its own accord.
        WaitUntil([] {
            return GetModuleHandleA(gHost.moduleName.c_str()) == nullptr || ProcessThreadCount() <= gHost.threadsAtLoad;
        }, 5000);
    }
    gHost.module = nullptr;
    memset(&gHost.entry, 0, sizeof gHost.entry);
    HostClearRecords();
    gHost.objectAnswers.clear();
    gHost.answerMode = kAnswerFromTable;
}

BOOL HostExecAction(int number, const std::vector<const char *> &parameters) {
    return gHost.entry.execAction(number, parameters.empty() ? nullptr : parameters.data());
}

int HostActionNumber(const std::string &name) {
    for (const AddActionCall &call : gHost.addActions)
        if (call.name == name) return static_cast<int>(call.number);
    return -1;
}

void HostSetObjectAnswer(const std::string &name, const std::string &answer) { gHost.objectAnswers[name] = answer; }

void HostSetObjectWindow(const std::string &name, HWND window) {
    HostSetObjectAnswer(name, std::to_string(reinterpret_cast<uintptr_t>(window)));
}

std::string HostVariable(const std::string &name) {
    auto found = gHost.variables.find(name);
    return found != gHost.variables.end() ? found->second : std::string();
}

bool HostVariableWritten(const std::string &name) { return gHost.variables.count(name) != 0; }
