// vxavs test bed: the waits, message handling and file lookup that the stand-ins, the tests and the
// benchmark all need, written once.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// A file next to the running program: where the build puts the DLL, the stand-ins and the tests.
// Empty when the program's own name cannot be had.
std::string FileBesideProgram(const char *name);

// Starts a program with its stdout and stderr on a pipe of 64 KiB; *output receives the read end, which
// the program does not inherit. application and desktop may be null (from the command line; the
// caller's desktop). False, and nothing left open, on failure.
bool StartWithOutputPipe(const char *application, const std::string &commandLine, DWORD creationFlags,
                         const char *desktop, PROCESS_INFORMATION *process, HANDLE *output);

// Handles the calling thread's messages for the given time, as a window's message loop would (0: only
// what is queued now). A quit is left in the queue for the thread's own loop, and ends the pumping.
void PumpMessages(DWORD milliseconds);

// Waits for a handle while handling messages sent to this thread, which a window of ours being
// re-parented, destroyed or called back may need; posted messages stay queued.
bool WaitHandlingSentMessages(HANDLE object, DWORD timeoutMs);

// How many threads this process has now; 0 when the system cannot say.
int ProcessThreadCount();
// How many of this process's threads started at an address inside the module (a DLL's own threads);
// -1 when the system cannot say.
int ThreadsStartedIn(HMODULE module);

// What the thread does between two looks at a condition.
enum WaitMeanwhile {
    kWaitSleeping,  // nothing: the condition changes on another thread or in another process
    kWaitPumping,   // handles its messages, for conditions that need this thread's windows to answer
    kWaitHandlingSent,  // handles only messages other threads send it: a thread whose windows are being
                        // made may send to this thread's (activation) and wait for the answer
};
// Looks at `done` every sliceMs until it holds or timeoutMs has passed; true when it held. It is
// looked at once more when the time is up, so a timeout of 0 is a single look.
bool WaitUntil(const std::function<bool()> &done, DWORD timeoutMs, WaitMeanwhile meanwhile = kWaitSleeping,
               DWORD sliceMs = 10);
