// vxavs host services: texts handed to the host, the result variable, object queries,
// and the process-wide callback table the entry points fill.
#pragma once

#include <windows.h>
#include <cstdint>
#include <string_view>

#include "vxavs.h"

// Host callback table; zero at load, overwritten by each registering call, never cleared.
extern void *pfnHostAddAction;
extern void *pfnHostCallback2;
extern void *pfnHostCallback3;
extern void *pfnHostSetVariable;
extern void *pfnHostInterfaceAccess;
extern void *pfnHostScriptProcessor;
extern DWORD dwHostInitValue;

// The one host variable the actions write their outcome into.
extern const char kResultVariable[];

// Calls a stdcall host callback with `count` 32-bit words, first word first. The caller's stack is
// restored afterwards whatever number of words the callee removed (defined in call_host.S).
extern "C" uint32_t __cdecl CallHostCallback(void *callback, const uint32_t *words, uint32_t count);

// Longest text read from a host address, in bytes.
constexpr size_t kMaxHostText = 0x2000000;

// Length of a host text: up to its first zero byte, at most kMaxHostText; 0 for a null address.
size_t HostTextLength(const char *text);
// A host text as a counted text, read where it lies.
inline std::string_view HostText(const char *text) { return std::string_view(text ? text : "", HostTextLength(text)); }

// A zero-terminated copy on the process heap, or nullptr when memory runs out; ReleaseCopy frees it.
char *CopyToHeap(std::string_view text);
void ReleaseCopy(void *copy);

void FreeHostString(HostStringSlot *slot);
void AssignHostString(HostStringSlot *slot, std::string_view text);
void SetHostVariable(std::string_view name, std::string_view value);
int32_t QueryHostObjectHandle(std::string_view objectName);

// Set every process-wide variable of the plug-in to zero (load time).
void ResetHostState();
void ResetObjectQuery();
void ResetPlayerState();
