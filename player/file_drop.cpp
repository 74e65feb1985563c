// vxavs: dropping a file into the visualizer as a file manager would, with a posted WM_DROPFILES.

#include <shlobj.h>

#include <cstring>
#include <cwchar>

#include "../host/actions.h"
#include "player_windows.h"

// An existing file, not a directory, volume label, wildcard pattern or bare drive name. Relative
// names are tested against the host's current directory.
static bool IsExistingFile(std::string_view name) {
    if (name.empty()) return false;
    int count = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, name.data(), static_cast<int>(name.size()), nullptr, 0);
    if (count <= 0) return false;
    // Without memory to test the name with, it is no file we can vouch for.
    auto *wide = static_cast<wchar_t *>(HeapAlloc(GetProcessHeap(), 0, (static_cast<size_t>(count) + 1) * sizeof(wchar_t)));
    if (wide == nullptr) return false;
    MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, name.data(), static_cast<int>(name.size()), wide, count);
    wide[count] = L'\0';

    bool isFile = false;
    if (wcspbrk(wide, L"?*") == nullptr && wide[count - 1] != L':') {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW(wide, &found);
        if (search != INVALID_HANDLE_VALUE) {
            isFile = (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | 0x08 /* volume label */)) == 0;
            FindClose(search);
        }
    }
    HeapFree(GetProcessHeap(), 0, wide);
    return isFile;
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

void DropAVSFile(std::string_view path, std::string_view /*unused*/) {
    if (!IsExistingFile(path)) {
        WriteResult("ERROR2");
        return;
    }
    if (!LocateAVS()) return;
    HGLOBAL block = BuildDropBlock(0, 0, path);
    if (block == nullptr) {
        WriteResult("ERROR3");
        return;
    }
    // Once posted the block is the receiver's, released with DragFinish; we free it only if the post failed.
    if (!PostMessageA(hAVSChild, WM_DROPFILES, reinterpret_cast<WPARAM>(block), 0)) GlobalFree(block);
}
