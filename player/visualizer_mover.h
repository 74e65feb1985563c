// vxavs: the plug-in's one helper thread, which makes the calls that wait for the visualizer's thread
// (SetParent, and every move of its inner window), so that the host's thread never does.
#pragma once

#include "player_windows.h"

// Starts making `child` a child of `parent` on the helper thread: first a sign of life from the child's
// thread, then SetParent; a release (`releaseTo` = the frame) also places the window in the frame.
// `frame` is where an embedding we stop waiting for is put back; `host` the window whose thread finishes
// a release we stopped waiting for (it is posted MoverReleaseFinishedMessage). False when a job is still
// under way (the visualizer holds it, or an action waiting for it is still on the stack): nothing starts.
bool StartReparentJob(HWND child, HWND parent, HWND frame, HWND host, bool release);
// Waits for the job at most kRespondMs, handling messages sent to this thread meanwhile (SetParent sends
// the new parent's thread messages). Past the bound the job is left to the helper and the answer is
// kNotResponding; the helper then undoes an embedding, or has the host window's thread finish a release.
WindowCallOutcome WaitForReparentJob();
// True while a job is under way.
bool ReparentJobBusy();

// Hands the newest placement of `window` to the helper and returns at once; an older one not yet made
// is dropped. Placements made while a job is under way wait for it.
void PlaceLater(HWND window, int x, int y, int width, int height, bool repaint);

// The library holds one counted reference of its own while `held`; the helper lets go of it on its way
// out, so that the last FreeLibrary never runs in code of the library it unloads.
void HoldLibraryForSubclass(bool held);

// The message the helper posts to the host window once a release it was left with is done; wParam is
// the WindowCallOutcome.
UINT MoverReleaseFinishedMessage();

// Load and unload: the lock and the events.
void ResetMover();
void CloseMover();
