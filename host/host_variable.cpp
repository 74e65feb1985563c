// vxavs: writing a host variable through the host's set-variable callback.

#include "callback_table.h"

const char kResultVariable[] = "vxAVSDrop";

void SetHostVariable(std::string_view name, std::string_view value) {
    // Zero-terminated copies that live until the call returns, so the host copies what it keeps.
    // An empty text, or one there was no memory to copy, goes to the host as a null address.
    char *nameCopy = name.empty() ? nullptr : CopyToHeap(name);
    char *valueCopy = value.empty() ? nullptr : CopyToHeap(value);
    uint32_t words[2] = {reinterpret_cast<uint32_t>(nameCopy), reinterpret_cast<uint32_t>(valueCopy)};
    CallHostCallback(pfnHostSetVariable, words, 2);
    ReleaseCopy(nameCopy);
    ReleaseCopy(valueCopy);
}
