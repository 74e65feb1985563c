// vxavs test bed: makes chosen USER32 functions that the loaded plug-in imports fail as Windows would,
// by pointing its import address table at stubs; every other call still reaches the real function.

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "standin_host.h"

// The stack arguments of a stdcall function of N words: a stub taking this by value removes exactly
// what the real function would, and passes it on unchanged.
template <int N>
struct StackWords {
    DWORD word[N];
};

struct Refusable {
    const char *function;
    int words;
    void *stub;
    void **slot;     // the plug-in's import entry while redirected, else null
    void *original;  // what the entry held before
    DWORD error;
    volatile LONG remaining;  // calls still to refuse; -1: every call
};

static std::mutex lockImportCalls;
static std::vector<ImportCall> importCalls;

template <int Index, int N>
static DWORD __stdcall RefusingStub(StackWords<N> args);

#define REFUSABLE(index, name, words) {name, words, reinterpret_cast<void *>(&RefusingStub<index, words>), nullptr, nullptr, 0, 0}
static Refusable kRefusable[] = {
    REFUSABLE(0, "PostMessageA", 4),          REFUSABLE(1, "SendMessageCallbackA", 6),
    REFUSABLE(2, "SendMessageTimeoutA", 7),   REFUSABLE(3, "SetParent", 2),
    REFUSABLE(4, "SetWindowPos", 7),          REFUSABLE(5, "RedrawWindow", 4),
    REFUSABLE(6, "SetWindowLongA", 3),        REFUSABLE(7, "SetWindowLongW", 3),
    REFUSABLE(8, "MoveWindow", 6),            REFUSABLE(9, "UpdateWindow", 1),
    REFUSABLE(10, "IsWindow", 1),             REFUSABLE(11, "GetWindowRect", 2),
    REFUSABLE(12, "SendMessageA", 4),         REFUSABLE(13, "CallWindowProcA", 5),
    REFUSABLE(14, "CallWindowProcW", 5),      REFUSABLE(15, "GetWindowLongA", 2),
    REFUSABLE(16, "GetWindowLongW", 2),       REFUSABLE(17, "EnumWindows", 2),
    REFUSABLE(18, "EnumChildWindows", 3),     REFUSABLE(19, "GetClassNameA", 3),
    REFUSABLE(20, "GetWindowTextA", 3),       REFUSABLE(21, "GetWindowThreadProcessId", 2),
    REFUSABLE(22, "IsWindowUnicode", 1),      REFUSABLE(23, "GetParent", 1),
};
#undef REFUSABLE

// Takes one refusal if any is left; several threads may call the same function at once.
static bool TakeRefusal(Refusable &entry) {
    for (;;) {
        LONG left = entry.remaining;
        if (left == 0) return false;
        if (left < 0) return true;
        if (InterlockedCompareExchange(&entry.remaining, left - 1, left) == left) return true;
    }
}

template <int Index, int N>
static DWORD __stdcall RefusingStub(StackWords<N> args) {
    Refusable &entry = kRefusable[Index];
    bool refuse = TakeRefusal(entry);
    {
        std::lock_guard<std::mutex> hold(lockImportCalls);
        importCalls.push_back({entry.function, std::vector<DWORD>(args.word, args.word + N), refuse,
                               refuse ? entry.error : 0, GetTickCount()});
    }
    if (refuse) {
        SetLastError(entry.error);
        return 0;
    }
    return reinterpret_cast<DWORD(__stdcall *)(StackWords<N>)>(entry.original)(args);
}

static bool WriteImportEntry(void **slot, void *value) {
    DWORD previous;
    if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &previous)) return false;
    *slot = value;
    VirtualProtect(slot, sizeof *slot, previous, &previous);
    FlushInstructionCache(GetCurrentProcess(), slot, sizeof *slot);
    return true;
}

// The plug-in's import address table entry for a USER32 function imported by name; null when none.
static void **FindUser32Import(HMODULE module, const char *function) {
    auto *image = reinterpret_cast<uint8_t *>(module);
    auto *headers = reinterpret_cast<IMAGE_NT_HEADERS *>(image + reinterpret_cast<IMAGE_DOS_HEADER *>(image)->e_lfanew);
    const IMAGE_DATA_DIRECTORY &directory = headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0) return nullptr;
    for (auto *library = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(image + directory.VirtualAddress);
         library->Name != 0; ++library) {
        if (lstrcmpiA(reinterpret_cast<const char *>(image + library->Name), "user32.dll") != 0) continue;
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

bool HostRefuseImport(const char *function, DWORD error, int times) {
    if (gHost.module == nullptr) return false;
    for (Refusable &entry : kRefusable) {
        if (strcmp(entry.function, function) != 0) continue;
        if (entry.slot == nullptr) {
            void **slot = FindUser32Import(gHost.module, function);
            if (slot == nullptr) return false;
            entry.original = *slot;
            // Set before the entry changes, so the first call through the stub already refuses.
            entry.error = error;
            entry.remaining = times < 0 ? -1 : times;
            if (!WriteImportEntry(slot, entry.stub)) return false;
            entry.slot = slot;
            return true;
        }
        entry.error = error;
        InterlockedExchange(&entry.remaining, times < 0 ? -1 : times);
        return true;
    }
    return false;
}

void HostClearRefusals() {
    for (Refusable &entry : kRefusable) {
        if (entry.slot != nullptr) WriteImportEntry(entry.slot, entry.original);
        entry.slot = nullptr;
        entry.original = nullptr;
        entry.remaining = 0;
    }
    std::lock_guard<std::mutex> hold(lockImportCalls);
    importCalls.clear();
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
