// vxavs: the process-wide callback table the entry points fill, how the host is called through it, and
// the texts and string slots at the host boundary. Only host/ sees these.
#pragma once

#include "host_services.h"
#include "vxavs.h"

// Host callback table; zero at load, overwritten by each registering call, never cleared.
extern void *pfnHostAddAction;
extern void *pfnHostCallback2;
extern void *pfnHostCallback3;
extern void *pfnHostSetVariable;
extern void *pfnHostInterfaceAccess;
extern void *pfnHostScriptProcessor;
extern DWORD dwHostInitValue;

// Calls a stdcall host callback with `count` 32-bit words, first word first. The caller's stack is
// restored afterwards whatever number of words the callee removed (defined in call_host.S).
extern "C" uint32_t __cdecl CallHostCallback(void *callback, const uint32_t *words, uint32_t count);

// Longest text read from a host address, in bytes.
constexpr size_t kMaxHostText = 0x2000000;

// Length of a host text: up to its first zero byte, at most kMaxHostText; 0 for a null address.
size_t HostTextLength(const char *text);
// A host text as a counted text, read where it lies.
inline std::string_view HostText(const char *text) { return std::string_view(text ? text : "", HostTextLength(text)); }

void FreeHostString(HostStringSlot *slot);
void AssignHostString(HostStringSlot *slot, std::string_view text);

// Each file's process-wide variables to zero, at load.
void ResetHostState();
void ResetObjectQuery();
