// vxavs host services the actions call: the result variable, object queries and temporary copies.
#pragma once

#include <windows.h>
#include <cstdint>
#include <string_view>

// The one host variable the actions write their outcome into.
extern const char kResultVariable[];

// A zero-terminated copy on the process heap, or nullptr when memory runs out; ReleaseCopy frees it.
char *CopyToHeap(std::string_view text);
void ReleaseCopy(void *copy);

void SetHostVariable(std::string_view name, std::string_view value);
int32_t QueryHostObjectHandle(std::string_view objectName);
