// vxavs: dropping a file into the visualizer as a file manager would, with a posted WM_DROPFILES.

#include <shlobj.h>

#include <cstring>

#include "../host/actions.h"
#include "../host/host_services.h"
#include "player_windows.h"

// An existing file, not a directory or volume label. `name` is a full name.
static bool IsExistingFile(const char *name, size_t length) {
    int count = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, name, static_cast<int>(length), nullptr, 0);
    if (count <= 0) return false;
    wchar_t wide[MAX_PATH];  // a full name shorter than MAX_PATH bytes has fewer characters still
    if (count >= MAX_PATH) return false;
    MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, name, static_cast<int>(length), wide, count);
    wide[count] = L'\0';

    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(wide, &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    bool isFile = (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | 0x08 /* volume label */)) == 0;
    FindClose(search);
    return isFile;
}

// The full name of the existing file that `name` denotes, resolved against the publication's current
// folder: the player resolves names against a folder of its own, so only a full name reaches the file
// we tested. Wildcard patterns, bare drive names and full names of MAX_PATH bytes or more (which a
// receiver reading into a MAX_PATH buffer would cut off) are no file. Returns the full name's length,
// 0 when there is no such file.
static size_t ResolveExistingFile(std::string_view name, char (&full)[MAX_PATH]) {
    // Checked on the bytes: no lead byte of a double-byte code page is followed by one of these.
    if (name.empty() || name.find_first_of("?*") != std::string_view::npos || name.back() == ':') return 0;
    char *copy = CopyToHeap(name);
    // Without memory to resolve the name with, it is no file we can vouch for.
    if (copy == nullptr) return 0;
    DWORD length = GetFullPathNameA(copy, MAX_PATH, full, nullptr);
    ReleaseCopy(copy);
    if (length == 0 || length >= MAX_PATH) return 0;
    return IsExistingFile(full, length) ? length : 0;
}

// A shell drop block in movable shared memory: 20-byte header, the name as the host gave it, and the
// two zero bytes that end the name and the list. Returns the unlocked handle, or 0 without memory.
static HGLOBAL BuildDropBlock(LONG fNC, LONG fWide, std::string_view name) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT | GMEM_SHARE, name.size() + 22);
    if (block == nullptr) return nullptr;
    auto *bytes = static_cast<unsigned char *>(GlobalLock(block));
    if (bytes == nullptr) {
        // Cannot be written: as good as no memory.
        GlobalFree(block);
        return nullptr;
    }
    static_assert(sizeof(DROPFILES) == 20, "the drop header is 20 bytes");
    DROPFILES header = {};
    header.pFiles = sizeof header;
    header.pt.x = 5;
    header.pt.y = 5;
    header.fNC = fNC;
    header.fWide = fWide;
    memcpy(bytes, &header, sizeof header);
    // The zero-initialised block already holds both terminators.
    memcpy(bytes + reinterpret_cast<DROPFILES *>(bytes)->pFiles, name.data(), name.size());
    GlobalUnlock(block);
    return block;
}

// Posts the drop to the inner window there is now; once posted the block is the receiver's, released
// with DragFinish.
static WindowCallOutcome PostDrop(HGLOBAL block) {
    if (PostMessageA(hAVSChild, WM_DROPFILES, reinterpret_cast<WPARAM>(block), 0)) return kCallDone;
    return FailedCallOutcome();
}

void DropAVSFile(std::string_view path, std::string_view /*unused*/) {
    char full[MAX_PATH];
    size_t length = ResolveExistingFile(path, full);
    if (length == 0) {
        WriteOutcome(kDropAction, kNoFile);
        return;
    }
    WindowCallOutcome outcome = LocateAVS();
    if (outcome != kCallDone) {
        WriteOutcome(kDropAction, outcome);
        return;
    }
    HGLOBAL block = BuildDropBlock(0, 0, std::string_view(full, length));
    if (block == nullptr) {
        WriteOutcome(kDropAction, kNoMemory);
        return;
    }
    // A visualizer closed or restarted since the lookup gets the drop in the window there is now.
    outcome = CallWithSecondLookup([block] { return PostDrop(block); },
                                   [] {
                                       ForgetAVS();
                                       return LocateAVS();
                                   });
    if (outcome == kCallDone) return;
    // Not posted: the block is still ours.
    GlobalFree(block);
    WriteOutcome(kDropAction, outcome);
}
