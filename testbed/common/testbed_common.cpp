// vxavs test bed: the shared waits, message pumping and file lookup (see testbed_common.h).

#include "testbed_common.h"

#include <tlhelp32.h>

#include <cstdint>

#include <algorithm>
#include <vector>

std::string FileBesideProgram(const char *name) {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) return std::string();
    std::string directory(path, length);
    return directory.substr(0, directory.find_last_of("\\/") + 1) + name;
}

bool StartWithOutputPipe(const char *application, const std::string &commandLine, DWORD creationFlags,
                         const char *desktop, PROCESS_INFORMATION *process, HANDLE *output) {
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 1 << 16)) return false;
    // Only the write end goes to the program; a read end it held would keep the pipe open forever.
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.lpDesktop = const_cast<char *>(desktop);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back('\0');
    *process = PROCESS_INFORMATION();
    BOOL started = CreateProcessA(application, mutableLine.data(), nullptr, nullptr, TRUE, creationFlags, nullptr,
                                  nullptr, &startup, process);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        return false;
    }
    *output = readEnd;
    return true;
}

void PumpMessages(DWORD milliseconds) {
    DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(msg.wParam));
                return;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= milliseconds) return;
        // Short waits, so that replies delivered outside the queue are seen promptly too.
        MsgWaitForMultipleObjects(0, nullptr, FALSE, std::min<DWORD>(20, milliseconds - elapsed), QS_ALLINPUT);
    }
}

// Handles the messages other threads have sent this one, then waits up to sliceMs for the objects or
// for the next such message; MsgWaitForMultipleObjects' answer. Posted messages stay queued.
static DWORD HandleSentMessagesThenWait(DWORD count, const HANDLE *objects, DWORD sliceMs) {
    MSG unused;
    PeekMessageA(&unused, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    return MsgWaitForMultipleObjects(count, objects, FALSE, sliceMs, QS_SENDMESSAGE);
}

bool WaitHandlingSentMessages(HANDLE object, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        bool last = timeoutMs != INFINITE && elapsed >= timeoutMs;  // one more look, without waiting
        DWORD slice = timeoutMs == INFINITE ? 50 : last ? 0 : std::min<DWORD>(50, timeoutMs - elapsed);
        DWORD result = HandleSentMessagesThenWait(1, &object, slice);
        if (result == WAIT_OBJECT_0) return true;
        if (result == WAIT_FAILED || last) return false;
    }
}

bool WaitUntil(const std::function<bool()> &done, DWORD timeoutMs, WaitMeanwhile meanwhile, DWORD sliceMs) {
    DWORD start = GetTickCount();
    for (;;) {
        if (done()) return true;
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs) return false;
        DWORD slice = std::min(sliceMs, timeoutMs - elapsed);
        if (meanwhile == kWaitPumping) {
            PumpMessages(slice);
        } else if (meanwhile == kWaitHandlingSent) {
            HandleSentMessagesThenWait(0, nullptr, slice);
        } else {
            Sleep(slice);
        }
    }
}

int ProcessThreadCount() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    int count = 0;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
    CloseHandle(snapshot);
    return count;
}

int ThreadsStartedIn(HMODULE module) {
    typedef LONG(WINAPI * QueryThreadFn)(HANDLE, int, void *, ULONG, ULONG *);
    auto query = reinterpret_cast<QueryThreadFn>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationThread")));
    if (query == nullptr || module == nullptr) return -1;
    auto *image = reinterpret_cast<const uint8_t *>(module);
    auto *headers = reinterpret_cast<const IMAGE_NT_HEADERS *>(image + reinterpret_cast<const IMAGE_DOS_HEADER *>(image)->e_lfanew);
    const uint8_t *end = image + headers->OptionalHeader.SizeOfImage;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    int count = 0;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != GetCurrentProcessId()) continue;
        HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID);
        if (thread == nullptr) continue;
        const uint8_t *start = nullptr;
        const int kThreadStartAddress = 9;  // ThreadQuerySetWin32StartAddress
        if (query(thread, kThreadStartAddress, &start, sizeof start, nullptr) == 0 && start >= image && start < end)
            ++count;
        CloseHandle(thread);
    }
    CloseHandle(snapshot);
    return count;
}
