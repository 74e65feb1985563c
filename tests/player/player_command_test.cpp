// vxavs tests: sending WM_COMMAND and WM_USER to the player's main window and writing its reply. The
// stand-in player runs in a process of its own, since the commands go to another program's window.

#include <cstdio>

#include "plugin_fixture.h"
#include "standin_player.h"

static const std::string kPlayerClass = PlayerOptions().mainClass;

static BOOL CALLBACK StoreFirstPlayerMain(HWND window, LPARAM found) {
    char name[256] = {};
    GetClassNameA(window, name, 255);
    if (lstrcmpiA(name, kPlayerClass.c_str()) != 0) return TRUE;
    *reinterpret_cast<HWND *>(found) = window;
    return FALSE;
}

// The player main window EnumWindows visits first, as the system orders them now.
static HWND FirstPlayerMainInEnumeration() {
    HWND found = nullptr;
    EnumWindows(StoreFirstPlayerMain, reinterpret_cast<LPARAM>(&found));
    return found;
}

static std::string Hex(uint32_t value) {
    char text[16];
    snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

class CommandTest : public PlugInTest {
protected:
    void TearDown() override {
        PlugInTest::TearDown();
        StopPlayer();
    }

    void StartCommandPlayer(const PlayerOptions &options = PlayerOptions(), PlayerMode mode = kPlayerOwnProcess) {
        PlayerStart playerStart;
        playerStart.mode = mode;
        playerStart.lifetimeSeconds = 120;
        ASSERT_TRUE(StartPlayer(options, playerStart));
        windows = CurrentPlayerWindows();
        ASSERT_FALSE(windows.mains.empty());
    }

    // Both sides start a new record.
    void ClearRecords() {
        ASSERT_TRUE(PlayerClearRecords());
        HostClearRecords();
    }

    // Every command the player received since its records were last cleared.
    static std::vector<PlayerCommand> Received() {
        std::vector<PlayerCommand> commands;
        int count = PlayerCommandCount();
        EXPECT_GE(count, 0) << "the player does not answer its control window";
        for (int i = 0; i < count; ++i) {
            PlayerCommand command = {};
            EXPECT_TRUE(GetPlayerCommand(i, &command));
            commands.push_back(command);
        }
        return commands;
    }

    // Runs one command and returns the single message the player received (message 0 when none or more).
    PlayerCommand RunOne(const char *name, const char *wParamText, const char *lParamText) {
        ClearRecords();
        Run(3, {name, wParamText, lParamText});
        std::vector<PlayerCommand> commands = Received();
        EXPECT_EQ(commands.size(), 1u);
        return commands.size() == 1 ? commands[0] : PlayerCommand{};
    }

    PlayerWindows windows;
};

// The same checks with the player on a thread of ours: the command and its reply cross to another
// thread instead of another process, and the records come back through the same interface.
class CommandModesTest : public CommandTest, public ::testing::WithParamInterface<PlayerMode> {};
INSTANTIATE_TEST_SUITE_P(BothModes, CommandModesTest, ::testing::Values(kPlayerOwnProcess, kPlayerOnThread),
                         [](const ::testing::TestParamInfo<PlayerMode> &info) {
                             return std::string(info.param == kPlayerOnThread ? "OnThread" : "OwnProcess");
                         });

TEST_P(CommandModesTest, WritesTheEmptyTextFirstThenThePlayersReply) {
    StartCommandPlayer(PlayerOptions(), GetParam());
    ASSERT_TRUE(PlayerSetReply(1234));
    PlayerCommand command = RunOne("WM_COMMAND", "40045", "7");
    EXPECT_EQ(command.window, windows.mains[0]);
    EXPECT_EQ(command.message, static_cast<UINT>(WM_COMMAND));
    EXPECT_EQ(command.wParam, 40045u);
    EXPECT_EQ(command.lParam, 7u);
    ASSERT_EQ(gHost.variableWrites.size(), 2u);
    EXPECT_TRUE(gHost.variableWrites[0].valueIsNull) << "the empty text goes to the host as a null address";
    EXPECT_FALSE(gHost.variableWrites[0].nameIsNull);
    EXPECT_EQ(ResultWrites(), (std::vector<std::string>{"(null)", "1234"}));
    EXPECT_EQ(HostVariable("vxAVSDrop"), "1234");
}

TEST_F(CommandTest, WithoutAPlayerEveryRequestWritesError5) {
    ASSERT_EQ(FindWindowA(kPlayerClass.c_str(), nullptr), nullptr);
    for (const char *name : {"WM_COMMAND", "WM_USER", "wm_user", "WM_NOTHING", ""}) {
        SCOPED_TRACE(name);
        HostClearRecords();
        Run(3, {name, "1", "2"});
        EXPECT_EQ(ResultWrites(), (std::vector<std::string>{"(null)", "ERROR5"}));
    }
}

TEST_F(CommandTest, APlayerClosedBetweenTwoRequestsIsNotFoundByTheSecond) {
    StartCommandPlayer();
    ASSERT_TRUE(PlayerSetReply(21));
    Run(3, {"WM_USER", "1", "0"});
    EXPECT_EQ(ResultWrites(), (std::vector<std::string>{"(null)", "21"}));
    ASSERT_TRUE(StopPlayer());
    ASSERT_EQ(FindWindowA(kPlayerClass.c_str(), nullptr), nullptr);
    HostClearRecords();
    Run(3, {"WM_USER", "1", "0"});
    EXPECT_EQ(ResultWrites(), (std::vector<std::string>{"(null)", "ERROR5"}));
}

TEST_P(CommandModesTest, MessageNamesAreMatchedWholeLetterCaseAside) {
    StartCommandPlayer(PlayerOptions(), GetParam());
    // A reply other than 0, so that "0" shows that nothing was sent.
    ASSERT_TRUE(PlayerSetReply(77));
    struct Case {
        const char *name;
        UINT message;
    };
    const Case sent[] = {
        {"WM_COMMAND", 0x111}, {"wm_command", 0x111}, {"Wm_CoMmAnD", 0x111},
        {"WM_USER", 0x400},    {"wm_user", 0x400},    {"Wm_User", 0x400},
    };
    for (const Case &c : sent) {
        SCOPED_TRACE(c.name);
        PlayerCommand command = RunOne(c.name, "3", "4");
        EXPECT_EQ(command.message, c.message);
        EXPECT_EQ(command.wParam, 3u);
        EXPECT_EQ(command.lParam, 4u);
        EXPECT_EQ(ResultWrites(), (std::vector<std::string>{"(null)", "77"}));
    }
    for (const char *ignored : {" WM_USER", "WM_USER ", "\tWM_COMMAND", "273", "1024", "WM_USER2", "WM_COMMAN",
                                "WM_USER+1", ""}) {
        SCOPED_TRACE(std::string("\"") + ignored + "\"");
        ClearRecords();
        Run(3, {ignored, "3", "4"});
        EXPECT_EQ(PlayerCommandCount(), 0);
        EXPECT_EQ(ResultWrites(), (std::vector<std::string>{"(null)", "0"}));
    }
}

TEST_F(CommandTest, ParametersAreReadAsNumbersAndSentAsTheirLow32Bits) {
    StartCommandPlayer();
    struct Case {
        const char *text;
        uint32_t sent;
    };
    const Case cases[] = {
        {"&HFFFF", 0xFFFFFFFF},
        {"&H0FFFF", 0x0000FFFF},
        {"&HFFFF&", 0x0000FFFF},
        {"-1", 0xFFFFFFFF},
        {"  7", 7},
        {"12abc", 12},
        {"", 0},
        {"2.5", 2},
        {"3.5", 4},
        {"-2.5", 0xFFFFFFFE},
        {"1e3", 1000},
        {"&17", 15},
        {"&B101", 5},
        {"&H80000000", 0x80000000},
        {"2147483648", 0x80000000},
        {"4294967295", 0xFFFFFFFF},
        {"4294967296", 0},
        {"1E10", 0x540BE400},
        {"1E30", 0},
        {"123456789012345678", 0xA630F34E},
    };
    // Each text goes once as wParam and once as lParam, with a marker in the other place.
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string("\"") + c.text + "\", expected " + Hex(c.sent));
        PlayerCommand command = RunOne("WM_USER", c.text, "5");
        EXPECT_EQ(Hex(command.wParam), Hex(c.sent));
        EXPECT_EQ(command.lParam, 5u);
        command = RunOne("WM_USER", "5", c.text);
        EXPECT_EQ(command.wParam, 5u);
        EXPECT_EQ(Hex(command.lParam), Hex(c.sent));
    }
}

TEST_P(CommandModesTest, ANullParameterReadsAsTheEmptyText) {
    StartCommandPlayer(PlayerOptions(), GetParam());
    ASSERT_TRUE(PlayerSetReply(9));
    PlayerCommand command = RunOne("WM_COMMAND", nullptr, "8");
    EXPECT_EQ(command.wParam, 0u);
    EXPECT_EQ(command.lParam, 8u);
    command = RunOne("WM_COMMAND", "8", nullptr);
    EXPECT_EQ(command.wParam, 8u);
    EXPECT_EQ(command.lParam, 0u);
    EXPECT_EQ(ResultWrites(), (std::vector<std::string>{"(null)", "9"}));

    ClearRecords();
    Run(3, {nullptr, "1", "2"});
    EXPECT_EQ(PlayerCommandCount(), 0);
    EXPECT_EQ(ResultWrites(), (std::vector<std::string>{"(null)", "0"}));
}

TEST_P(CommandModesTest, TheReplyIsWrittenAsItsLow16BitsSigned) {
    StartCommandPlayer(PlayerOptions(), GetParam());
    struct Case {
        int32_t reply;
        const char *written;
    };
    const Case cases[] = {
        {65535, "-1"},     {40000, "-25536"}, {74565, "9029"},  {0, "0"},
        {32767, "32767"},  {-32768, "-32768"}, {32768, "-32768"}, {-1, "-1"},
        {static_cast<int32_t>(0x80000000), "0"}, {100, "100"}, {-7, "-7"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.reply);
        ASSERT_TRUE(PlayerSetReply(c.reply));
        PlayerCommand command = RunOne("WM_USER", "1", "2");
        EXPECT_EQ(command.reply, c.reply);
        EXPECT_EQ(ResultWrites(), (std::vector<std::string>{"(null)", c.written}));
    }
}

TEST_F(CommandTest, TheFirstMainWindowInEnumerationOrderIsTheOneAsked) {
    PlayerOptions options;
    options.mainWindowCount = 2;
    StartCommandPlayer(options);
    ASSERT_EQ(windows.mains.size(), 2u);
    // Each main window in turn is raised to the top, so that each is once the one visited first.
    for (HWND raised : {windows.mains[1], windows.mains[0]}) {
        SetWindowPos(raised, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        HWND first = FirstPlayerMainInEnumeration();
        ASSERT_EQ(first, raised) << "raising the window did not put it first";
        PlayerCommand command = RunOne("WM_COMMAND", "1", "0");
        EXPECT_EQ(command.window, first) << (first == windows.mains[0] ? "first made" : "second made");
    }
}

// A window of the test thread that the player calls back while it handles a command.
static const UINT kCallBackMessage = WM_APP + 5;
static const UINT kNestingMessage = WM_APP + 6;
static const UINT kPostedToWindow = WM_APP + 9;
static const UINT kPostedToThread = WM_APP + 10;
static std::vector<MSG> gCallBackWindowMessages;

static LRESULT CALLBACK CallBackWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message >= WM_APP) gCallBackWindowMessages.push_back(MSG{window, message, wParam, lParam, 0, {0, 0}});
    if (message == kCallBackMessage) return 0x70000 + 4242;  // only the low 16 bits reach the host
    if (message == kNestingMessage) {
        // The host runs another command while the first still waits for its reply.
        HostExecAction(3, {"WM_USER", "11", "12"});
        return 4343;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

class CallBackTest : public CommandTest {
protected:
    void SetUp() override {
        CommandTest::SetUp();
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = CallBackWindowProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "vxavs test call-back window";
        RegisterClassA(&windowClass);
        callBackWindow = CreateWindowExA(0, windowClass.lpszClassName, "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                         GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(callBackWindow, nullptr);
        gCallBackWindowMessages.clear();
        // Nothing left over from earlier tests in this thread's queue.
        MSG stale;
        while (PeekMessageA(&stale, nullptr, WM_APP, 0xBFFF, PM_REMOVE)) {
        }
    }
    void TearDown() override {
        if (callBackWindow != nullptr) DestroyWindow(callBackWindow);
        CommandTest::TearDown();
    }

    void CallBackOnNextCommand(UINT message, uint32_t wParam) {
        PlayerBehaviour behaviour;
        behaviour.kind = kCallBack;
        behaviour.target = callBackWindow;
        behaviour.message = message;
        behaviour.wParam = wParam;
        ASSERT_TRUE(PlayerSetBehaviour(behaviour));
    }

    HWND callBackWindow = nullptr;
};

TEST_F(CallBackTest, AMessageThePlayerSendsBackIsHandledWhileWaitingAndPostedOnesStayQueued) {
    StartCommandPlayer();
    CallBackOnNextCommand(kCallBackMessage, 31);
    ASSERT_TRUE(PostMessageA(callBackWindow, kPostedToWindow, 1, 2));
    ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), kPostedToThread, 3, 4));
    DWORD start = GetTickCount();
    PlayerCommand command = RunOne("WM_COMMAND", "6", "0");
    DWORD elapsed = GetTickCount() - start;

    ASSERT_EQ(gCallBackWindowMessages.size(), 1u) << "only the sent message is handled during the action";
    EXPECT_EQ(gCallBackWindowMessages[0].message, kCallBackMessage);
    EXPECT_EQ(gCallBackWindowMessages[0].wParam, 31u);
    EXPECT_EQ(command.reply, 0x70000 + 4242);
    EXPECT_EQ(ResultWrites(), (std::vector<std::string>{"(null)", "4242"}));
    EXPECT_LT(elapsed, 3000u) << "the call-back was answered late";

    // Both posted messages are still there, in the order they were posted.
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_APP, 0xBFFF, PM_REMOVE));
    EXPECT_EQ(msg.message, kPostedToWindow);
    EXPECT_EQ(msg.hwnd, callBackWindow);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_APP, 0xBFFF, PM_REMOVE));
    EXPECT_EQ(msg.message, kPostedToThread);
    EXPECT_EQ(msg.hwnd, nullptr);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_APP, 0xBFFF, PM_REMOVE));
}

TEST_F(CallBackTest, ACommandRunFromACallBackGetsItsOwnReplyAndTheOuterOneItsOwn) {
    StartCommandPlayer();
    ASSERT_TRUE(PlayerSetReply(77));
    CallBackOnNextCommand(kNestingMessage, 0);
    ClearRecords();
    Run(3, {"WM_COMMAND", "6", "0"});
    std::vector<PlayerCommand> commands = Received();
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0].message, static_cast<UINT>(WM_COMMAND));
    EXPECT_EQ(commands[0].reply, 4343);
    EXPECT_EQ(commands[1].message, static_cast<UINT>(WM_USER));
    EXPECT_EQ(commands[1].wParam, 11u);
    EXPECT_EQ(commands[1].lParam, 12u);
    EXPECT_EQ(commands[1].reply, 77);
    EXPECT_EQ(ResultWrites(), (std::vector<std::string>{"(null)", "(null)", "77", "4343"}));
}
