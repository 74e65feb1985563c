// vxavs test bed: makes chosen USER32 functions that the loaded plug-in imports fail as Windows would,
// by pointing its import address table at stubs; every other call still reaches the real function.

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

#include "standin_host.h"

// The stack arguments of a stdcall function of N words: a stub taking this by value removes exactly
// what the real function would, and passes it on unchanged.
template <int N>
struct StackWords {
    DWORD word[N];
};

// The functions that can be refused, with the number of stack words each takes; USER32's unless named.
struct RefusableFunction {
    const char *name;
    int words;
    const char *library = "user32.dll";
};
static constexpr RefusableFunction kRefusableFunctions[] = {
    {"PostMessageA", 4},      {"SendMessageCallbackA", 6}, {"SendMessageTimeoutA", 7}, {"SetParent", 2},
    {"SetWindowPos", 7},      {"RedrawWindow", 4},         {"SetWindowLongA", 3},      {"SetWindowLongW", 3},
    {"MoveWindow", 6},        {"UpdateWindow", 1},         {"IsWindow", 1},            {"GetWindowRect", 2},
    {"SendMessageA", 4},      {"CallWindowProcA", 5},      {"CallWindowProcW", 5},     {"GetWindowLongA", 2},
    {"GetWindowLongW", 2},    {"EnumWindows", 2},          {"EnumChildWindows", 3},    {"GetClassNameA", 3},
    {"GetWindowTextA", 3},    {"GetWindowThreadProcessId", 2}, {"IsWindowUnicode", 1}, {"GetParent", 1},
    // Watched rather than refused: which blocks the plug-in frees, and how often.
    {"GlobalFree", 1, "kernel32.dll"}, {"GlobalAlloc", 2, "kernel32.dll"},
};
static const size_t kRefusableCount = sizeof kRefusableFunctions / sizeof kRefusableFunctions[0];

// What is redirected now, one per function above.
struct Refusal {
    void **slot;     // the plug-in's import entry while redirected, else null
    void *original;  // what the entry held before
    DWORD error;
    volatile LONG remaining;  // calls still to refuse; -1: every call
    ImportCallHook before;    // runs ahead of the next `beforeRemaining` calls
    volatile LONG beforeRemaining;  // -1: every call
};
static Refusal rfRefusals[kRefusableCount];

static std::mutex lockImportCalls;
static std::vector<ImportCall> importCalls;
static unsigned importCallsCleared;  // a call that ends after a clear has no record to complete

// Takes one refusal if any is left; several threads may call the same function at once.
static bool TakeRefusal(Refusal &entry) {
    for (;;) {
        LONG left = entry.remaining;
        if (left == 0) return false;
        if (left < 0) return true;
        if (InterlockedCompareExchange(&entry.remaining, left - 1, left) == left) return true;
    }
}

// Takes one run of the hook if any is left.
static bool TakeHookRun(Refusal &entry) {
    for (;;) {
        LONG left = entry.beforeRemaining;
        if (left == 0) return false;
        if (left < 0) return true;
        if (InterlockedCompareExchange(&entry.beforeRemaining, left - 1, left) == left) return true;
    }
}

template <size_t Index>
static DWORD __stdcall RefusingStub(StackWords<kRefusableFunctions[Index].words> args) {
    const int words = kRefusableFunctions[Index].words;
    Refusal &entry = rfRefusals[Index];
    // Before anything is decided, so that a real call that follows meets the situation the hook made.
    if (entry.before != nullptr && TakeHookRun(entry))
        entry.before(std::vector<DWORD>(args.word, args.word + words));
    bool refuse = TakeRefusal(entry);
    size_t record;
    unsigned generation;
    {
        std::lock_guard<std::mutex> hold(lockImportCalls);
        record = importCalls.size();
        generation = importCallsCleared;
        importCalls.push_back({kRefusableFunctions[Index].name, std::vector<DWORD>(args.word, args.word + words),
                               refuse, refuse ? entry.error : 0, GetTickCount(), GetCurrentThreadId(), 0, 0});
    }
    if (refuse) {
        std::lock_guard<std::mutex> hold(lockImportCalls);
        if (generation == importCallsCleared) importCalls[record].returnTick = GetTickCount();
        SetLastError(entry.error);
        return 0;
    }
    DWORD result = reinterpret_cast<DWORD(__stdcall *)(StackWords<words>)>(entry.original)(args);
    DWORD error = GetLastError();
    {
        std::lock_guard<std::mutex> hold(lockImportCalls);
        if (generation == importCallsCleared) {
            importCalls[record].result = result;
            importCalls[record].returnTick = GetTickCount();
        }
    }
    SetLastError(error);
    return result;
}

// One stub per function, each knowing its own index and size.
template <size_t... Index>
static std::vector<void *> MakeStubs(std::index_sequence<Index...>) {
    return {reinterpret_cast<void *>(&RefusingStub<Index>)...};
}
static const std::vector<void *> kStubs = MakeStubs(std::make_index_sequence<kRefusableCount>());

static bool WriteImportEntry(void **slot, void *value) {
    DWORD previous;
    if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &previous)) return false;
    *slot = value;
    VirtualProtect(slot, sizeof *slot, previous, &previous);
    FlushInstructionCache(GetCurrentProcess(), slot, sizeof *slot);
    return true;
}

// The plug-in's import address table entry for a function of `dll` imported by name; null when none.
static void **FindImport(HMODULE module, const char *dll, const char *function) {
    auto *image = reinterpret_cast<uint8_t *>(module);
    auto *headers = reinterpret_cast<IMAGE_NT_HEADERS *>(image + reinterpret_cast<IMAGE_DOS_HEADER *>(image)->e_lfanew);
    const IMAGE_DATA_DIRECTORY &directory = headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0) return nullptr;
    for (auto *library = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(image + directory.VirtualAddress);
         library->Name != 0; ++library) {
        if (lstrcmpiA(reinterpret_cast<const char *>(image + library->Name), dll) != 0) continue;
        // The name table stays as linked; the address table now holds the resolved addresses.
        DWORD names = library->OriginalFirstThunk ? library->OriginalFirstThunk : library->FirstThunk;
        auto *name = reinterpret_cast<IMAGE_THUNK_DATA *>(image + names);
        auto *address = reinterpret_cast<IMAGE_THUNK_DATA *>(image + library->FirstThunk);
        for (; name->u1.AddressOfData != 0; ++name, ++address) {
            if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal)) continue;
            auto *byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(image + name->u1.AddressOfData);
            if (strcmp(reinterpret_cast<const char *>(byName->Name), function) == 0)
                return reinterpret_cast<void **>(&address->u1.Function);
        }
    }
    return nullptr;
}

// The entry of a refusable function, its import redirected to the stub; null when it cannot be.
static Refusal *RedirectImport(const char *function) {
    if (gHost.module == nullptr) return nullptr;
    for (size_t i = 0; i < kRefusableCount; ++i) {
        if (strcmp(kRefusableFunctions[i].name, function) != 0) continue;
        Refusal &entry = rfRefusals[i];
        if (entry.slot != nullptr) return &entry;
        void **slot = FindImport(gHost.module, kRefusableFunctions[i].library, function);
        if (slot == nullptr) return nullptr;
        entry.original = *slot;
        if (!WriteImportEntry(slot, kStubs[i])) return nullptr;
        entry.slot = slot;
        return &entry;
    }
    return nullptr;
}

// The entry of a refusable function, redirected or not; null for any other function.
static Refusal *FindRefusal(const char *function) {
    for (size_t i = 0; i < kRefusableCount; ++i)
        if (strcmp(kRefusableFunctions[i].name, function) == 0) return &rfRefusals[i];
    return nullptr;
}

bool HostRefuseImport(const char *function, DWORD error, int times) {
    Refusal *entry = FindRefusal(function);
    if (entry == nullptr) return false;
    // Set before the entry changes, so the first call through the stub already refuses.
    entry->error = error;
    InterlockedExchange(&entry->remaining, times < 0 ? -1 : times);
    return RedirectImport(function) != nullptr;
}

bool HostWatchImport(const char *function) { return RedirectImport(function) != nullptr; }

bool HostBeforeImport(const char *function, ImportCallHook before, int times) {
    Refusal *entry = FindRefusal(function);
    if (entry == nullptr) return false;
    entry->before = before;
    InterlockedExchange(&entry->beforeRemaining, times < 0 ? -1 : times);
    return RedirectImport(function) != nullptr;
}

void HostClearRefusals() {
    for (Refusal &entry : rfRefusals) {
        if (entry.slot != nullptr) WriteImportEntry(entry.slot, entry.original);
        entry.slot = nullptr;
        entry.original = nullptr;
        entry.remaining = 0;
        entry.before = nullptr;
        entry.beforeRemaining = 0;
    }
    std::lock_guard<std::mutex> hold(lockImportCalls);
    importCalls.clear();
    ++importCallsCleared;
}

bool HostWatchBlocks() { return HostWatchImport("GlobalAlloc") && HostWatchImport("GlobalFree"); }

int HostFreesOf(const void *block) {
    auto handle = reinterpret_cast<uintptr_t>(block);
    int frees = 0;
    for (const ImportCall &call : HostImportCalls()) {
        // An address handed out again is a new block: its frees count from there.
        if (call.function == "GlobalAlloc" && call.result == handle) frees = 0;
        if (call.function == "GlobalFree" && call.words[0] == handle) ++frees;
    }
    return frees;
}

int HostFreesOfHostBlock(const void *block) {
    auto handle = reinterpret_cast<uintptr_t>(block);
    int frees = 0;
    for (const ImportCall &call : HostImportCalls()) {
        if (call.function == "GlobalAlloc" && call.result == handle) break;
        if (call.function == "GlobalFree" && call.words[0] == handle) ++frees;
    }
    return frees;
}

std::vector<ImportCall> HostImportCalls(const char *function) {
    std::lock_guard<std::mutex> hold(lockImportCalls);
    std::vector<ImportCall> calls;
    for (const ImportCall &call : importCalls)
        if (function == nullptr || call.function == function) calls.push_back(call);
    return calls;
}

bool ParseRefusal(const char *text, std::string *function, DWORD *error, int *times) {
    const char *equals = strchr(text, '=');
    if (equals == nullptr || equals == text) return false;
    char *end;
    unsigned long code = strtoul(equals + 1, &end, 0);
    if (end == equals + 1) return false;
    long count = -1;
    if (*end == '*') {
        const char *digits = end + 1;
        count = strtol(digits, &end, 10);
        if (end == digits || count < 0) return false;
    }
    if (*end != '\0') return false;
    function->assign(text, equals);
    *error = static_cast<DWORD>(code);
    *times = static_cast<int>(count);
    return true;
}
