// vxavs tests: the entry points as a host meets them: the hand-shake, the registered actions,
// dispatch, edited parameters, host notifications, the About box and the platform test at load.

#include <climits>
#include <cstring>
#include <thread>

#include "plugin_fixture.h"
#include "vxavs_version.h"

// A fixed GlobalAlloc block: its handle is its address and it holds exactly the text and one zero byte.
static void ExpectHostBlock(HostStringSlot block, const std::string &text) {
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(GlobalHandle(block), static_cast<HGLOBAL>(block));
    EXPECT_EQ(GlobalSize(block), text.size() + 1);
    EXPECT_EQ(std::string(block, text.size() + 1), text + '\0');
}

// Host blocks are made large, so that releasing one shows plainly in the heap's busy bytes even when
// its address is reused at once for a new, small block.
const size_t kHostBlockSize = 64 * 1024;

static HostStringSlot NewHostBlock(const std::string &text) {
    auto *block = static_cast<char *>(GlobalAlloc(GMEM_ZEROINIT, kHostBlockSize));
    memcpy(block, text.data(), text.size());
    return block;
}

// Bytes in use on the process heap, where fixed global blocks live.
static size_t HeapBusyBytes() {
    HANDLE heap = GetProcessHeap();
    size_t busy = 0;
    PROCESS_HEAP_ENTRY entry = {};
    HeapLock(heap);
    while (HeapWalk(heap, &entry))
        if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) busy += entry.cbData;
    HeapUnlock(heap);
    return busy;
}

// How many of the large host blocks were released between two readings.
static int BlocksReleased(size_t before, size_t after) {
    return static_cast<int>((static_cast<double>(before) - static_cast<double>(after)) / kHostBlockSize + 0.5);
}

static bool HeapIsSound() { return HeapValidate(GetProcessHeap(), 0, nullptr) != FALSE; }

using HandshakeTest = PlugInTest;

TEST_F(HandshakeTest, IdentityTextsArriveInHostOwnedBlocks) {
    ExpectHostBlock(gHost.identity[0], "zoVAVArorev");
    ExpectHostBlock(gHost.identity[1], "The vxavs developers");
    ExpectHostBlock(gHost.identity[2], "Control AVS and Winamp player from NeoBook");
}

TEST_F(HandshakeTest, InitReleasesTheBlocksTheSlotsHeld) {
    HostStringSlot old[3];
    for (int i = 0; i < 3; ++i) {
        GlobalFree(gHost.identity[i]);
        gHost.identity[i] = old[i] = NewHostBlock("old text");
    }
    ASSERT_TRUE(HostWatchBlocks());
    size_t before = HeapBusyBytes();
    gHost.entry.initPlugIn(7, &gHost.identity[0], &gHost.identity[1], &gHost.identity[2]);
    EXPECT_EQ(BlocksReleased(before, HeapBusyBytes()), 3);
    EXPECT_TRUE(HeapIsSound());
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(HostFreesOfHostBlock(old[i]), 1) << "slot " << i << "'s old block";
        EXPECT_EQ(HostFreesOf(gHost.identity[i]), 0) << "slot " << i << " holds a freed block";
    }
    ExpectHostBlock(gHost.identity[0], "zoVAVArorev");
    ExpectHostBlock(gHost.identity[2], "Control AVS and Winamp player from NeoBook");
}

struct ExpectedAction {
    uint32_t number;
    const char *name;
    uint32_t count;
};
static const ExpectedAction kActions[] = {{1, "vxAVSDropFile", 2}, {2, "vxAVSEmbed", 2}, {3, "vxWnpCommand", 3}};

static void ExpectRegistrations(int rounds, bool sixWords) {
    ASSERT_EQ(gHost.addActions.size(), 3u * rounds);
    for (size_t i = 0; i < gHost.addActions.size(); ++i) {
        const AddActionCall &call = gHost.addActions[i];
        const ExpectedAction &expected = kActions[i % 3];
        EXPECT_EQ(call.number, expected.number);
        EXPECT_EQ(call.name, expected.name);
        EXPECT_TRUE(call.hintIsNull);
        EXPECT_EQ(call.typeCodes, std::vector<uint8_t>(expected.count, 1));
        EXPECT_EQ(call.count, expected.count);
        if (sixWords) {
            EXPECT_EQ(call.countAgain, expected.count);
        }
    }
}

// Calls nbRegisterPlugIn and reports whether the stack pointer came back where it was.
__attribute__((noinline)) static bool RegisterKeepsStack(void *addAction) {
    uint32_t before, after;
    __asm__ volatile("movl %%esp, %0" : "=r"(before));
    gHost.entry.registerPlugIn(addAction, nullptr, nullptr, reinterpret_cast<void *>(HostSetVariable));
    __asm__ volatile("movl %%esp, %0" : "=r"(after));
    return before == after;
}

TEST_F(HandshakeTest, EveryRegistrationAddsTheThreeActionsAgain) {
    gHost.entry.registerPlugIn(reinterpret_cast<void *>(HostAddActionSixWords), nullptr, nullptr,
                               reinterpret_cast<void *>(HostSetVariable));
    gHost.entry.registerPlugIn(reinterpret_cast<void *>(HostAddActionSixWords), nullptr, nullptr,
                               reinterpret_cast<void *>(HostSetVariable));
    ExpectRegistrations(2, true);
}

TEST_F(HandshakeTest, AddActionCallbacksOfFiveAndSixWordsBothWork) {
    struct Shape {
        void *callback;
        bool sixWords;
    };
    for (Shape shape : {Shape{reinterpret_cast<void *>(HostAddActionFiveWords), false},
                        Shape{reinterpret_cast<void *>(HostAddActionSixWords), true}}) {
        HostClearRecords();
        for (int round = 0; round < 100; ++round) ASSERT_TRUE(RegisterKeepsStack(shape.callback));
        ExpectRegistrations(100, shape.sixWords);
    }
}

// Callbacks of the test's own, different from the stand-in host's, to tell a second registration from
// the first.
static int gSecondAddActions;
static std::vector<std::string> gSecondWrites;
static void __stdcall SecondAddAction(uint32_t, const char *, const char *, const uint8_t *, uint32_t, uint32_t) {
    ++gSecondAddActions;
}
static void __stdcall SecondSetVariable(const char *name, const char *value) {
    gSecondWrites.push_back(std::string(name ? name : "(null)") + "=" + (value ? value : "(null)"));
}

TEST_F(HandshakeTest, TheCallbacksRegisteredLastAreUsed) {
    gSecondAddActions = 0;
    gSecondWrites.clear();
    gHost.entry.registerPlugIn(reinterpret_cast<void *>(SecondAddAction), nullptr, nullptr,
                               reinterpret_cast<void *>(SecondSetVariable));
    EXPECT_EQ(gSecondAddActions, 3);
    EXPECT_TRUE(gHost.addActions.empty()) << "the first add-action callback was called again";
    EXPECT_EQ(Run(1, {"", ""}), TRUE);
    EXPECT_EQ(gSecondWrites, std::vector<std::string>{"vxAVSDrop=ERROR2"});
    EXPECT_TRUE(gHost.variableWrites.empty()) << "the first set-variable callback was called";
}

// The plug-in keeps the value the host passes at init: it is found in the plug-in's writable data after
// one init and, at the same place, changes with the next.
static std::vector<uint32_t *> WordsHolding(uint32_t value) {
    std::vector<uint32_t *> found;
    const uint8_t *image = reinterpret_cast<const uint8_t *>(gHost.module);
    const IMAGE_NT_HEADERS *headers =
        reinterpret_cast<const IMAGE_NT_HEADERS *>(image + reinterpret_cast<const IMAGE_DOS_HEADER *>(image)->e_lfanew);
    const IMAGE_SECTION_HEADER *section = IMAGE_FIRST_SECTION(headers);
    for (int i = 0; i < headers->FileHeader.NumberOfSections; ++i, ++section) {
        if (!(section->Characteristics & IMAGE_SCN_MEM_WRITE)) continue;
        auto *words = reinterpret_cast<uint32_t *>(const_cast<uint8_t *>(image) + section->VirtualAddress);
        for (size_t k = 0; k < section->Misc.VirtualSize / 4; ++k)
            if (words[k] == value) found.push_back(&words[k]);
    }
    return found;
}

TEST_F(HandshakeTest, TheInitValueIsKeptByThePlugIn) {
    gHost.entry.initPlugIn(0x5EC0DE01, &gHost.identity[0], &gHost.identity[1], &gHost.identity[2]);
    std::vector<uint32_t *> candidates = WordsHolding(0x5EC0DE01);
    ASSERT_FALSE(candidates.empty()) << "no word of the plug-in's data holds the first value";
    gHost.entry.initPlugIn(0xA17E0F02, &gHost.identity[0], &gHost.identity[1], &gHost.identity[2]);
    bool followed = false;
    for (uint32_t *word : candidates) followed = followed || *word == 0xA17E0F02;
    EXPECT_TRUE(followed) << "the value held was not the one passed last";
}

using DispatchTest = PlugInTest;

TEST_F(DispatchTest, UnknownActionNumbersAnswerZeroAndReadNothing) {
    for (int number : {0, 4, -1, 7, INT_MIN, INT_MAX}) {
        EXPECT_EQ(gHost.entry.execAction(number, nullptr), FALSE) << number;
    }
    EXPECT_TRUE(gHost.variableWrites.empty());
    EXPECT_TRUE(gHost.objectQueries.empty());
}

TEST_F(DispatchTest, KnownActionsAnswerOneWhateverTheirOutcome) {
    // No such file, no player: each action fails, and only the result variable says so.
    EXPECT_EQ(Run(1, {"C:\\no such folder\\no such file.avs", nullptr}), TRUE);
    EXPECT_EQ(Run(2, {"Rectangle1", "true"}), TRUE);
    EXPECT_EQ(Run(3, {"WM_COMMAND", nullptr, nullptr}), TRUE);
    EXPECT_EQ(ResultWrites(), (std::vector<std::string>{"ERROR2", "ERROR1", "(null)", "ERROR5"}));
}

TEST_F(DispatchTest, NullParameterAddressesReadAsEmptyTexts) {
    // An empty file name is no file.
    EXPECT_EQ(Run(1, {nullptr, nullptr}), TRUE);
    EXPECT_EQ(ResultWrites(), std::vector<std::string>{"ERROR2"});
}

using EditTest = PlugInTest;

TEST_F(EditTest, ActionsOneAndTwoGetFreshBlocksWithTheSameTexts) {
    struct Case {
        int number;
        const char *first;  // nullptr: the slot holds 0
        const char *second;
    };
    const Case cases[] = {
        {1, "C:\\music\\intro.mp3", "unused"},
        {2, "Rectangle1", ""},  // an empty text ends up as 0
        {2, nullptr, "true"},
        {1, "", nullptr},
    };
    for (const Case &c : cases) {
        HostStringSlot slots[2] = {c.first ? NewHostBlock(c.first) : nullptr, c.second ? NewHostBlock(c.second) : nullptr};
        HostStringSlot old[2] = {slots[0], slots[1]};
        HostClearRefusals();
        ASSERT_TRUE(HostWatchBlocks());
        size_t before = HeapBusyBytes();
        EXPECT_EQ(gHost.entry.editAction(c.number, slots), TRUE);
        EXPECT_EQ(BlocksReleased(before, HeapBusyBytes()), (c.first != nullptr) + (c.second != nullptr));
        const char *texts[2] = {c.first, c.second};
        for (int i = 0; i < 2; ++i) {
            SCOPED_TRACE(std::to_string(c.number) + " slot " + std::to_string(i));
            if (old[i] != nullptr) {
                EXPECT_EQ(HostFreesOfHostBlock(old[i]), 1) << "the old block";
            }
            if (slots[i] != nullptr) {
                EXPECT_EQ(HostFreesOf(slots[i]), 0) << "the slot holds a freed block";
            }
            if (texts[i] == nullptr || texts[i][0] == '\0') {
                EXPECT_EQ(slots[i], nullptr);
            } else {
                ExpectHostBlock(slots[i], texts[i]);
                GlobalFree(slots[i]);
            }
        }
    }
    EXPECT_TRUE(gHost.variableWrites.empty());
}

TEST_F(EditTest, OtherActionsLeaveTheSlotsAlone) {
    for (int number : {3, 7, 0, -1}) {
        // Other threads of the process (Wine's own among them) may use the heap meanwhile: a change in
        // its busy bytes counts only when every try shows one.
        bool heapUnchanged = false;
        for (int attempt = 0; attempt < 5 && !heapUnchanged; ++attempt) {
            HostStringSlot slots[3] = {NewHostBlock("WM_USER"), NewHostBlock("40044"), NewHostBlock("0")};
            HostStringSlot old[3] = {slots[0], slots[1], slots[2]};
            HostClearRefusals();
            ASSERT_TRUE(HostWatchBlocks());
            size_t before = HeapBusyBytes();
            EXPECT_EQ(gHost.entry.editAction(number, slots), TRUE) << number;
            heapUnchanged = HeapBusyBytes() == before;
            EXPECT_TRUE(HostImportCalls("GlobalFree").empty()) << "action " << number << " freed a block";
            for (int i = 0; i < 3; ++i) {
                EXPECT_EQ(slots[i], old[i]);
                GlobalFree(slots[i]);
            }
        }
        EXPECT_TRUE(heapUnchanged) << "action " << number << " took or gave heap memory";
    }
    EXPECT_EQ(gHost.entry.editAction(3, nullptr), TRUE);  // the array is not even read
}

TEST_F(EditTest, OneBlockInBothSlotsIsReleasedOnce) {
    HostStringSlot shared = NewHostBlock("Panel2");
    HostStringSlot slots[2] = {shared, shared};
    ASSERT_TRUE(HostWatchBlocks());
    size_t before = HeapBusyBytes();
    EXPECT_EQ(gHost.entry.editAction(2, slots), TRUE);
    EXPECT_EQ(BlocksReleased(before, HeapBusyBytes()), 1);
    EXPECT_TRUE(HeapIsSound());
    EXPECT_EQ(HostFreesOfHostBlock(shared), 1);
    EXPECT_EQ(HostFreesOf(slots[0]), 0);
    EXPECT_EQ(HostFreesOf(slots[1]), 0);
    ASSERT_NE(slots[0], slots[1]);
    ExpectHostBlock(slots[0], "Panel2");
    ExpectHostBlock(slots[1], "Panel2");
    GlobalFree(slots[0]);
    GlobalFree(slots[1]);
}

// Reads the text of the About box from a second thread, as a user would see it, and closes it.
struct AboutBoxSeen {
    std::wstring title;
    std::wstring text;
    bool onlyOk = false;
};

static BOOL CALLBACK FindMessageBox(HWND window, LPARAM found) {
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (wcscmp(className, L"#32770") != 0 || process != GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
    *reinterpret_cast<HWND *>(found) = window;
    return FALSE;
}

TEST_F(DispatchTest, AboutBoxShowsItsTextAndReturnsWhenClosed) {
    AboutBoxSeen seen;
    HDESK desktop = GetThreadDesktop(GetCurrentThreadId());
    std::thread reader([&seen, desktop] {
        SetThreadDesktop(desktop);  // the box shows on the desktop of the thread that opened it
        HWND box = nullptr;
        auto shown = [&box] {
            EnumWindows(FindMessageBox, reinterpret_cast<LPARAM>(&box));
            return box != nullptr;
        };
        if (!WaitUntil(shown, 5000)) return;
        wchar_t buffer[512] = {};
        GetWindowTextW(box, buffer, 512);
        seen.title = buffer;
        GetDlgItemTextW(box, 0xFFFF, buffer, 512);  // the message text's static control
        seen.text = buffer;
        seen.onlyOk = GetDlgItem(box, IDCANCEL) == nullptr && GetDlgItem(box, IDOK) != nullptr;
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    });
    gHost.entry.about();
    reader.join();
    EXPECT_EQ(seen.title, L"About plugin");
    const std::string version = VXAVS_VERSION;  // the credit line names the release
    EXPECT_EQ(seen.text, L"Plugin to perform drag and drop file\r\ninto AVS window of Winamp.\r\n\r\n"
                         L"vxavs " + std::wstring(version.begin(), version.end()) +
                         L" by the vxavs developers\r\nhttps://vxavs.example.org/");
    EXPECT_TRUE(seen.onlyOk) << "a single OK button";
}

// The library refuses to load on a system outside the NT family. Wine reports Windows 98 to a program
// named in its per-program settings, so a small program run under that name tries the load.
TEST(PlatformTest, LoadFailsOutsideTheNtFamily) {
    if (GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") == nullptr)
        GTEST_SKIP() << "needs Wine's per-program Windows version";
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\vxavs_load_probe.exe", 0, nullptr, 0,
                              KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    struct Case {
        const char *version;
        DWORD expectedExit;  // 0: the library loaded
    };
    for (Case c : {Case{"win98", 1}, Case{"winxp", 0}}) {
        RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE *>(c.version), strlen(c.version) + 1);
        std::string command = "\"" + FileBesideProgram("vxavs_load_probe.exe") + "\" \"" +
                              FileBesideProgram("vxavs.dll") + "\"";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process;
        ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
        WaitForSingleObject(process.hProcess, 30000);
        DWORD exitCode = 99;
        GetExitCodeProcess(process.hProcess, &exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        EXPECT_EQ(exitCode, c.expectedExit) << c.version;
    }
    RegCloseKey(key);
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\vxavs_load_probe.exe");
}
