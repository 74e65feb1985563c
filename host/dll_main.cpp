// vxavs: the library's load and unload notifications.

#include "actions.h"
#include "callback_table.h"

// Answers 1 for every reason and does nothing else: no state is set up at load.
extern "C" BOOL WINAPI LibraryNotify(HINSTANCE /*instance*/, DWORD /*reason*/, LPVOID /*reserved*/) { return TRUE; }

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        OSVERSIONINFOA version = {};
        version.dwOSVersionInfoSize = sizeof version;  // 148
        GetVersionExA(&version);
        if (version.dwPlatformId != VER_PLATFORM_WIN32_NT) return FALSE;
        ResetHostState();
        ResetObjectQuery();
        ResetPlayerState();
    } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        // FreeLibrary while the process goes on; at process exit (reserved non-null) nothing is let go.
        ClosePlayerState();
    }
    return LibraryNotify(instance, reason, reserved);
}
