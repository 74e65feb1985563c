// vxavs: texts crossing the host boundary, and the host-owned string slots.

#include "callback_table.h"

#include <cstring>

size_t HostTextLength(const char *text) {
    if (text == nullptr) return 0;
    const void *end = memchr(text, 0, kMaxHostText);
    return end ? static_cast<size_t>(static_cast<const char *>(end) - text) : kMaxHostText;
}

char *CopyToHeap(std::string_view text) {
    auto *copy = static_cast<char *>(HeapAlloc(GetProcessHeap(), 0, text.size() + 1));
    if (copy == nullptr) return nullptr;
    memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    return copy;
}

void ReleaseCopy(void *copy) {
    if (copy != nullptr) HeapFree(GetProcessHeap(), 0, copy);
}

void FreeHostString(HostStringSlot *slot) {
    // Whoever allocated the block, it is a GlobalAlloc block; a failed free goes unnoticed.
    if (*slot != nullptr) GlobalFree(*slot);
    *slot = nullptr;
}

void AssignHostString(HostStringSlot *slot, std::string_view text) {
    if (text.empty()) {
        FreeHostString(slot);
        return;
    }
    // Allocate before releasing: a failed allocation leaves the slot as it was, and the text may lie in
    // the very block the slot holds.
    // Fixed zero-initialised memory: the handle is the address, and the last byte ends the text.
    void *block = GlobalAlloc(GMEM_ZEROINIT, text.size() + 1);
    if (block == nullptr) return;
    memcpy(block, text.data(), text.size());
    FreeHostString(slot);
    *slot = static_cast<char *>(block);  // the host owns the block from here on
}
