// vxavs tests: faults at the plug-in's addresses, for tests where a late reply may call into it.
#pragma once

#include <windows.h>

#include <cstdint>

#include "standin_host.h"

// Wine ignores an exception raised inside a call the system makes back into the program, as a late
// reply is: a call into code that has gone away would pass unseen. Faults at the addresses the
// plug-in occupied when WatchPlugInFaults was called are counted instead.
inline uintptr_t gPlugInStart, gPlugInEnd;
inline volatile LONG gPlugInFaults;

inline LONG CALLBACK CountPlugInFaults(EXCEPTION_POINTERS *info) {
    uintptr_t at = reinterpret_cast<uintptr_t>(info->ExceptionRecord->ExceptionAddress);
    if (info->ExceptionRecord->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && at >= gPlugInStart && at < gPlugInEnd)
        InterlockedIncrement(&gPlugInFaults);
    return EXCEPTION_CONTINUE_SEARCH;
}

// Starts counting from 0 for the loaded plug-in; the handle goes to RemoveVectoredExceptionHandler.
inline void *WatchPlugInFaults() {
    const uint8_t *image = reinterpret_cast<const uint8_t *>(gHost.module);
    const IMAGE_NT_HEADERS *headers =
        reinterpret_cast<const IMAGE_NT_HEADERS *>(image + reinterpret_cast<const IMAGE_DOS_HEADER *>(image)->e_lfanew);
    gPlugInStart = reinterpret_cast<uintptr_t>(image);
    gPlugInEnd = gPlugInStart + headers->OptionalHeader.SizeOfImage;
    gPlugInFaults = 0;
    return AddVectoredExceptionHandler(1, CountPlugInFaults);
}
