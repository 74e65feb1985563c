// vxavs: the helper thread that carries SetParent and the moves of the visualizer's inner window. Once
// that window is a child of a host window, the two windows' threads share their input queues and
// Windows makes every move of it from the host's thread wait for the visualizer's thread, even with
// SWP_ASYNCWINDOWPOS; this thread owns no window, shares no queue, and waits instead.

#include "visualizer_mover.h"

// Everything below is shared with the helper thread, under csMover; nobody holds the lock while
// calling a window function.
static CRITICAL_SECTION csMover;
static HANDLE hMoverWake;     // auto-reset: there is work
static HANDLE hMoverJobDone;  // manual-reset: the job has ended
static bool fMoverAlive;      // the helper thread runs (at most one does)
static LONG cMoverReferences; // the library's own references for the helper to let go of

// The reparenting job: at most one at a time.
enum JobState { kJobIdle, kJobQueued, kJobRunning, kJobEnded };
static JobState jsMoverJob;
static bool fJobWaitedFor;  // an action on the host's thread is waiting for it
static bool fJobAbandoned;  // that action stopped waiting
static HWND hJobChild, hJobParent, hJobFrame, hJobHost;
static bool fJobRelease;
static WindowCallOutcome wcoJobOutcome;

// The newest placement not yet made.
static bool fPlacePending;
static HWND hPlaceWindow;
static RECT rcPlace;  // x, y, width, height
static bool fPlaceRepaint;

static UINT msgReleaseFinished;

// An idle helper ends after this long; the next job starts another.
static const DWORD kMoverIdleMs = 250;

void ResetMover() {
    InitializeCriticalSection(&csMover);
    hMoverWake = hMoverJobDone = nullptr;
    fMoverAlive = false;
    cMoverReferences = 0;
    jsMoverJob = kJobIdle;
    fJobWaitedFor = fJobAbandoned = fJobRelease = false;
    hJobChild = hJobParent = hJobFrame = hJobHost = nullptr;
    wcoJobOutcome = kCallDone;
    fPlacePending = fPlaceRepaint = false;
    hPlaceWindow = nullptr;
    rcPlace = RECT{};
    msgReleaseFinished = 0;
}

// Only at FreeLibrary: the helper held a reference while it ran, so it has ended by now.
void CloseMover() {
    if (hMoverWake != nullptr) CloseHandle(hMoverWake);
    if (hMoverJobDone != nullptr) CloseHandle(hMoverJobDone);
    DeleteCriticalSection(&csMover);
}

UINT MoverReleaseFinishedMessage() {
    if (msgReleaseFinished == 0) msgReleaseFinished = RegisterWindowMessageA("vxavs release finished");
    return msgReleaseFinished;
}

static void Place(HWND window, const RECT &box, bool repaint) {
    UINT flags = SWP_NOZORDER | SWP_NOACTIVATE | SWP_ASYNCWINDOWPOS;
    if (!repaint) flags |= SWP_NOREDRAW;
    // This thread shares no input queue with the visualizer's, so the move is handed to it and we go on.
    SetWindowPos(window, nullptr, box.left, box.top, box.right, box.bottom, flags);
}

static void PlaceInFrame(HWND child, HWND frame) {
    RECT outer = {};
    GetWindowRect(frame, &outer);
    Place(child, RECT{11, 20, outer.right - outer.left - 19, outer.bottom - outer.top - 34}, true);
    RedrawWindow(frame, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
}

static bool JobAbandoned() {
    EnterCriticalSection(&csMover);
    bool abandoned = fJobAbandoned;
    LeaveCriticalSection(&csMover);
    return abandoned;
}

// The job itself, on the helper thread.
static WindowCallOutcome Reparent(HWND child, HWND parent) {
    WindowCallOutcome outcome = ProbeWindow(child);
    if (outcome != kCallDone) return outcome;
    // Nobody waits for the answer any longer: the embedding or release is not made at all.
    if (JobAbandoned()) return kNotResponding;
    SetLastError(0);
    // A window without a parent before has none to return: only a set error means failure.
    if (SetParent(child, parent) != nullptr || GetLastError() == 0) return kCallDone;
    return FailedCallOutcome();
}

// A job nobody waited for to its end: an embedding is undone, a release is finished.
static void SettleAbandonedJob(WindowCallOutcome outcome) {
    if (!fJobRelease) {
        if (outcome != kCallDone) return;
        SetParent(hJobChild, hJobFrame);
        PlaceInFrame(hJobChild, hJobFrame);
        return;
    }
    if (outcome == kCallDone) PlaceInFrame(hJobChild, hJobFrame);
    // The host window's thread owns the embedding's state; if the window has gone, so has the state.
    PostMessageA(hJobHost, MoverReleaseFinishedMessage(), static_cast<WPARAM>(outcome), 0);
}

static DWORD WINAPI MoverThread(void *library) {
    for (;;) {
        EnterCriticalSection(&csMover);
        if (jsMoverJob == kJobQueued) {
            jsMoverJob = kJobRunning;
            HWND child = hJobChild, parent = hJobParent, frame = hJobFrame;
            bool release = fJobRelease;
            LeaveCriticalSection(&csMover);
            WindowCallOutcome outcome = Reparent(child, parent);
            if (outcome == kCallDone && release) PlaceInFrame(child, frame);
            EnterCriticalSection(&csMover);
            wcoJobOutcome = outcome;
            bool abandoned = fJobAbandoned;
            // An abandoned job is settled before the next one may start.
            if (!abandoned) jsMoverJob = kJobEnded;
            SetEvent(hMoverJobDone);
            LeaveCriticalSection(&csMover);
            if (abandoned) {
                SettleAbandonedJob(outcome);
                EnterCriticalSection(&csMover);
                jsMoverJob = kJobIdle;
                fJobAbandoned = false;
                LeaveCriticalSection(&csMover);
            }
            continue;
        }
        // Placements wait while a job runs: the window may be changing hands.
        if (fPlacePending && jsMoverJob != kJobRunning) {
            fPlacePending = false;
            HWND window = hPlaceWindow;
            RECT box = rcPlace;
            bool repaint = fPlaceRepaint;
            LeaveCriticalSection(&csMover);
            Place(window, box, repaint);
            continue;
        }
        LeaveCriticalSection(&csMover);
        if (WaitForSingleObject(hMoverWake, kMoverIdleMs) != WAIT_TIMEOUT) continue;
        EnterCriticalSection(&csMover);
        bool idle = jsMoverJob != kJobQueued && !fPlacePending;
        if (idle) fMoverAlive = false;
        LONG references = idle ? cMoverReferences : 0;
        if (idle) cMoverReferences = 0;
        LeaveCriticalSection(&csMover);
        if (!idle) continue;
        // The library's own references go first; the thread's own last, with the thread: neither
        // FreeLibrary returns into unloaded code.
        while (references-- > 0) FreeLibrary(static_cast<HMODULE>(library));
        FreeLibraryAndExitThread(static_cast<HMODULE>(library), 0);
    }
}

// Called with csMover held: wakes the helper, or starts one. The thread holds a counted reference to
// the library until it ends, so that the library cannot be unloaded under it.
static void WakeMover() {
    if (hMoverWake == nullptr) hMoverWake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (hMoverJobDone == nullptr) hMoverJobDone = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetEvent(hMoverWake);
    if (fMoverAlive) return;
    HMODULE library = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&MoverThread), &library))
        return;
    // It calls a handful of window functions: a small stack, not the program's default.
    HANDLE thread = CreateThread(nullptr, 64 * 1024, MoverThread, library, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread == nullptr) {
        FreeLibrary(library);  // another reference is held by our caller's caller: this never unloads
        return;
    }
    CloseHandle(thread);
    fMoverAlive = true;
}

bool ReparentJobBusy() {
    EnterCriticalSection(&csMover);
    bool busy = jsMoverJob != kJobIdle || fJobWaitedFor;
    LeaveCriticalSection(&csMover);
    return busy;
}

bool StartReparentJob(HWND child, HWND parent, HWND frame, HWND host, bool release) {
    EnterCriticalSection(&csMover);
    bool started = false;
    if (jsMoverJob == kJobIdle && !fJobWaitedFor) {
        WakeMover();
        if (fMoverAlive && hMoverJobDone != nullptr) {
            ResetEvent(hMoverJobDone);
            hJobChild = child;
            hJobParent = parent;
            hJobFrame = frame;
            hJobHost = host;
            fJobRelease = release;
            fJobAbandoned = false;
            fJobWaitedFor = true;
            jsMoverJob = kJobQueued;
            // A placement from before belongs to the window's old place.
            fPlacePending = false;
            started = true;
        }
    }
    LeaveCriticalSection(&csMover);
    return started;
}

WindowCallOutcome WaitForReparentJob() {
    // The helper's own wait for a sign of life takes kRespondMs at most; this one allows for handing over.
    const DWORD bound = kRespondMs + 50;
    DWORD start = GetTickCount();
    for (;;) {
        MSG unused;
        PeekMessageA(&unused, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        DWORD elapsed = GetTickCount() - start;
        bool late = elapsed >= bound;
        EnterCriticalSection(&csMover);
        bool ended = jsMoverJob == kJobEnded;
        WindowCallOutcome outcome = wcoJobOutcome;
        if (ended) {
            jsMoverJob = kJobIdle;
        } else if (late) {
            fJobAbandoned = true;
            outcome = kNotResponding;
        }
        if (ended || late) fJobWaitedFor = false;
        LeaveCriticalSection(&csMover);
        if (ended || late) return outcome;
        MsgWaitForMultipleObjects(1, &hMoverJobDone, FALSE, bound - elapsed, QS_SENDMESSAGE);
    }
}

void PlaceLater(HWND window, int x, int y, int width, int height, bool repaint) {
    EnterCriticalSection(&csMover);
    fPlacePending = true;
    hPlaceWindow = window;
    rcPlace = RECT{x, y, width, height};
    fPlaceRepaint = repaint;
    WakeMover();
    LeaveCriticalSection(&csMover);
}


void HoldLibraryForSubclass(bool held) {
    if (held) {
        HMODULE library;
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&MoverThread), &library);
        return;
    }
    // Let go of by the helper on its way out: this may run in the host window's last messages, after
    // the host has already let the library go.
    EnterCriticalSection(&csMover);
    ++cMoverReferences;
    WakeMover();
    LeaveCriticalSection(&csMover);
}
