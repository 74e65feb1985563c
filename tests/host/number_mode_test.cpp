// vxavs tests: the x87 environment of the host's thread. Numbers are read in 64-bit precision with
// nothing trapping whatever the host runs with, and the host gets its control word and flags back.
// The stand-in player runs in a process of its own, on this program's own desktop.

#include <cstdio>

#include "plugin_fixture.h"
#include "standin_player.h"

static uint16_t ReadControlWord() {
    uint16_t word;
    __asm__ volatile("fnstcw %0" : "=m"(word));
    return word;
}

static uint16_t ReadStatusWord() {
    uint16_t word;
    __asm__ volatile("fnstsw %0" : "=m"(word));
    return word;
}

// Flags first: a pending exception that the new word unmasks would trap at the next x87 instruction.
static void SetControlWord(uint16_t word) { __asm__ volatile("fnclex\n\tfldcw %0" : : "m"(word) : "memory"); }

// Exception flags, stack fault, error summary and the stack top: what a careless callee leaves behind.
static const uint16_t kFlagsAndTop = 0x38FF;

static std::string Hex(uint32_t value) {
    char text[16];
    snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

// Without SEH support in the test framework a trap ends the process: name the case that did it.
static std::string gCurrentCase;
static LONG WINAPI ReportCrash(EXCEPTION_POINTERS *info) {
    fprintf(stderr, "exception 0x%08lX during: %s\n", info->ExceptionRecord->ExceptionCode, gCurrentCase.c_str());
    fflush(stderr);
    return EXCEPTION_CONTINUE_SEARCH;
}

// What a host thread may run with.
struct HostMode {
    uint16_t controlWord;
    const char *what;
};
static const HostMode kHostModes[] = {
    {0x037F, "64-bit precision, all masked"},
    {0x027F, "53-bit precision, all masked (a new thread's default)"},
    {0x1332, "invalid, zero-divide and overflow unmasked"},
    {0x0F7F, "64-bit precision, rounding towards zero"},
};

// The x87 state as the host had it just before an action and right after it.
struct AfterAction {
    uint16_t controlWordBefore;  // as set and read back: the reserved bit 6 always reads 1
    uint16_t statusWordBefore;
    uint16_t controlWord;
    uint16_t statusWord;
};

class NumberModeTest : public PlugInTest {
protected:
    void SetUp() override {
        ownControlWord = ReadControlWord();
        SetUnhandledExceptionFilter(ReportCrash);
        PlugInTest::SetUp();
    }
    void TearDown() override {
        SetControlWord(ownControlWord);
        // The player's window goes back before the host window and the plug-in go.
        if (gHost.entry.message != nullptr) gHost.entry.message(2, 0);
        if (host != nullptr) DestroyWindow(host);
        PlugInTest::TearDown();
        StopPlayer();
    }

    void StartNumberPlayer() {
        PlayerStart playerStart;
        playerStart.lifetimeSeconds = 60;
        ASSERT_TRUE(StartPlayer(PlayerOptions(), playerStart));
        windows = CurrentPlayerWindows();
        ASSERT_NE(windows.inner, nullptr);
    }

    // Runs an action under the given control word with clean flags, and puts this test's word back.
    AfterAction RunUnder(uint16_t controlWord, int number, const std::vector<const char *> &parameters) {
        SetControlWord(controlWord);
        uint16_t controlBefore = ReadControlWord(), statusBefore = ReadStatusWord();
        Run(number, parameters);
        AfterAction after = {controlBefore, statusBefore, ReadControlWord(), ReadStatusWord()};
        SetControlWord(ownControlWord);
        return after;
    }

    void ExpectHostStateKept(const AfterAction &after, uint16_t controlWord) {
        EXPECT_EQ(after.controlWordBefore | 0x40, controlWord | 0x40) << "the control word could not be set";
        EXPECT_EQ(Hex(after.controlWord), Hex(after.controlWordBefore));
        EXPECT_EQ(Hex(after.statusWord & kFlagsAndTop), Hex(after.statusWordBefore & kFlagsAndTop));
    }

    uint16_t ownControlWord = 0x037F;
    PlayerWindows windows;
    HWND host = nullptr;
};

TEST_F(NumberModeTest, ParametersAreReadTheSameWhateverTheHostsControlWord) {
    StartNumberPlayer();
    struct Case {
        const char *text;
        uint32_t sent;
    };
    const Case cases[] = {
        // Need more than 53 bits of significand.
        {"123456789012345678", 0xA630F34E},
        {"9007199254740993", 0x00000001},
        {"9223372036854775807", 0xFFFFFFF8},  // 18 digits kept: 9223372036854775800
        {"1.49999999999999999", 1},
        {"2.5000000000000001", 3},
        // Ties to even, in the host's rounding mode or not.
        {"1.5", 2},
        {"2.5", 2},
        {"-1.5", 0xFFFFFFFE},
        {"0.5", 0},
        {"-2.7", 0xFFFFFFFD},
        // Out of range in every way careless code would trap on.
        {"1e5000", 0},
        {"-1e5000", 0},
        {"1e-5000", 0},
        {"1e-4932", 0},
        {"0e5000", 0},
        {"1e4932", 0},
        {"99999999999999999999e9999", 0},
        {"9223372036854775808", 0xFFFFFFF8},   // the digit past 18 is dropped: 2^63 - 8
        {"-9223372036854775808", 0x00000008},
        {"9223372036854775810", 0},            // 2^63 and more in magnitude
        {"-9223372036854775810", 0},
        {"18446744073709551615", 0},
        {"&HFFFFFFFFFFFFFFFF", 0xFFFFFFFF},
        {"&H8000000000000000", 0},
        {"&HFFFFFFFFFFFFFFFFF", 0},
    };
    for (const HostMode &mode : kHostModes) {
        for (const Case &c : cases) {
            gCurrentCase = std::string(mode.what) + ", \"" + c.text + "\"";
            SCOPED_TRACE(gCurrentCase);
            ASSERT_TRUE(PlayerClearRecords());
            AfterAction after = RunUnder(mode.controlWord, 3, {"WM_USER", c.text, c.text});
            ExpectHostStateKept(after, mode.controlWord);
            ASSERT_EQ(PlayerCommandCount(), 1);
            PlayerCommand command = {};
            ASSERT_TRUE(GetPlayerCommand(0, &command));
            EXPECT_EQ(Hex(command.wParam), Hex(c.sent));
            EXPECT_EQ(Hex(command.lParam), Hex(c.sent));
        }
    }
}

// Host windows of the test, for the object query to name.
static LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(NumberModeTest, ObjectAnswersOutOfRangeDoNotTrapWithExceptionsUnmasked) {
    StartNumberPlayer();
    HWND frame = windows.frame, inner = windows.inner;
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = HostWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "vxavs test number mode host window";
    RegisterClassA(&windowClass);
    host = CreateWindowExA(0, windowClass.lpszClassName, "Panel", WS_OVERLAPPEDWINDOW, 500, 80, 300, 200, nullptr,
                           nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(host, nullptr);

    const uint16_t unmasked = 0x1332;
    // Every one of these is no window: out of range reads -2147483648, the rest round to 0. What
    // matters is that reading them traps on no unmasked exception.
    const char *const answers[] = {
        "1e5000", "-1e5000", "99999999999999999999e9999", "4294967296", "2147483647.5",
        "1e-5000", "1e-4932" /* a denormal on the way */, "0.3" /* inexact */, "-0.5",
    };
    for (const char *answer : answers) {
        gCurrentCase = std::string("object answer \"") + answer + "\"";
        SCOPED_TRACE(gCurrentCase);
        HostClearRecords();
        HostSetObjectAnswer("Panel", answer);
        AfterAction after = RunUnder(unmasked, 2, {"Panel", "true"});
        ExpectHostStateKept(after, unmasked);
        EXPECT_EQ(ResultWrites(), std::vector<std::string>{"ERROR4"});
        EXPECT_EQ(GetParent(inner), frame);
    }

    // A real handle under the same word embeds, and giving the window back works too.
    gCurrentCase = "embedding into the host window";
    HostClearRecords();
    HostSetObjectWindow("Panel", host);
    ExpectHostStateKept(RunUnder(unmasked, 2, {"Panel", "true"}), unmasked);
    EXPECT_EQ(GetParent(inner), host);
    ExpectHostStateKept(RunUnder(unmasked, 2, {"Panel", "false"}), unmasked);
    EXPECT_EQ(GetParent(inner), frame);
    EXPECT_TRUE(gHost.variableWrites.empty());
}
