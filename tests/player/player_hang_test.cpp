// vxavs tests: player commands to a player that stops answering, or takes its time. A program of its
// own: once the plug-in gives up on a reply it stays loaded for good, so reloading no longer resets it.

#include "plugin_fixture.h"
#include "plugin_faults.h"
#include "standin_player.h"

// How many commands the player has finished handling, from the lines it prints (its control window
// shares the thread that may be asleep).
static int AnsweredLines() {
    int count = 0;
    for (const std::string &line : PlayerLines())
        if (line.find(", answered ") != std::string::npos) ++count;
    return count;
}

// Pumps this thread's messages until the player has answered `count` commands; false on timeout.
static bool PumpUntilAnswered(int count, DWORD timeoutMs) {
    return WaitUntil([count] { return AnsweredLines() >= count; }, timeoutMs, kWaitPumping, 50);
}

static bool WaitUntilHung(HWND window, DWORD timeoutMs) {
    return WaitUntil([window] { return IsHungAppWindow(window) != FALSE; }, timeoutMs, kWaitPumping, 50);
}

static int gDirectReplies;
static VOID CALLBACK CountDirectReply(HWND, UINT, ULONG_PTR, LRESULT) { ++gDirectReplies; }

// "No fault" and "no write" also hold for a late reply that never came. A request of the test's own,
// sent after the plug-in's, has its reply delivered after the plug-in's: the player answers in order
// and the system hands the replies back in that order. So once ours has come, the plug-in's has too.
static bool SendOwnRequestAfterThePlugIns(HWND main) {
    gDirectReplies = 0;
    return SendMessageCallbackA(main, WM_NULL, 0, 0, CountDirectReply, 0) != FALSE;
}

static bool PumpUntilOwnReply(DWORD timeoutMs) {
    return WaitUntil([] { return gDirectReplies != 0; }, timeoutMs, kWaitPumping, 50);
}

class HangTest : public PlugInTest {
protected:
    void SetUp() override {
        PlugInTest::SetUp();
        faultCounter = WatchPlugInFaults();
        ASSERT_NE(faultCounter, nullptr);
        PlayerStart playerStart;
        playerStart.lifetimeSeconds = 60;  // a player still asleep when the test ends goes by itself
        ASSERT_TRUE(StartPlayer(PlayerOptions(), playerStart));
        main = CurrentPlayerWindows().mains.at(0);
    }
    void TearDown() override {
        PlugInTest::TearDown();
        StopPlayer(2000);
        if (faultCounter != nullptr) RemoveVectoredExceptionHandler(faultCounter);
    }

    void NextCommand(CommandBehaviourKind kind, uint32_t ms) {
        PlayerBehaviour behaviour;
        behaviour.kind = kind;
        behaviour.ms = ms;
        ASSERT_TRUE(PlayerSetBehaviour(behaviour));
    }

    // Runs the command action and returns how long it took, in milliseconds.
    DWORD TimedCommand(const char *wParamText) {
        DWORD start = GetTickCount();
        Run(3, {"WM_COMMAND", wParamText, "0"});
        return GetTickCount() - start;
    }

    HWND main = nullptr;
    void *faultCounter = nullptr;
};

// First of this program: it means something only while no earlier give-up has kept the plug-in loaded.
TEST_F(HangTest, UnloadingAfterGivingUpSurvivesTheLateReply) {
    NextCommand(kHang, 10000);
    DWORD elapsed = TimedCommand("1");
    EXPECT_EQ(ResultWrites(), (std::vector<std::string>{"(null)", "ERROR5"}));
    EXPECT_LT(elapsed, 9500u) << "the action waited for the reply";
    ASSERT_TRUE(SendOwnRequestAfterThePlugIns(main));
    HostUnloadPlugIn();
    // The reply now comes to a plug-in the host has let go of.
    PlayerWakeNow();
    ASSERT_TRUE(PumpUntilAnswered(1, 15000));
    EXPECT_TRUE(PumpUntilOwnReply(5000)) << "the late reply was never delivered to this thread";
    PumpMessages(1000);
    EXPECT_EQ(gPlugInFaults, 0) << "the late reply ran where the plug-in's code used to be";
    EXPECT_TRUE(gHost.variableWrites.empty());
}

TEST_F(HangTest, APlayerAlreadyHungIsNotWaitedFor) {
    NextCommand(kHang, 8000);
    gDirectReplies = 0;
    ASSERT_TRUE(SendMessageCallbackA(main, WM_COMMAND, 1, 0, CountDirectReply, 0));
    ASSERT_TRUE(WaitUntilHung(main, 7500)) << "the system never reported the sleeping player hung";
    DWORD elapsed = TimedCommand("2");
    EXPECT_LT(elapsed, 1500u);
    EXPECT_EQ(ResultWrites(), (std::vector<std::string>{"(null)", "ERROR5"}));

    // Once awake the player has handled only the command it hung on: nothing was left queued for it.
    PlayerWakeNow();
    ASSERT_TRUE(PumpUntilAnswered(1, 10000));
    PumpMessages(500);
    EXPECT_EQ(gDirectReplies, 1);
    EXPECT_EQ(PlayerCommandCount(), 1);
    PlayerCommand command = {};
    ASSERT_TRUE(GetPlayerCommand(-1, &command));
    EXPECT_EQ(command.wParam, 1u);
}

TEST_F(HangTest, APlayerThatHangsOnTheRequestIsGivenUpOnAndWorksAgainOnceAwake) {
    NextCommand(kHang, 20000);
    DWORD elapsed = TimedCommand("3");
    EXPECT_TRUE(IsHungAppWindow(main)) << "given up on a player the system does not report hung";
    // The system reports a hang after about 5 s; a bound well below the 20 s sleep, not a timing.
    EXPECT_LT(elapsed, 12000u);
    EXPECT_EQ(ResultWrites(), (std::vector<std::string>{"(null)", "ERROR5"}));

    // The late reply is delivered while this thread pumps; it must change nothing.
    HostClearRecords();
    ASSERT_TRUE(SendOwnRequestAfterThePlugIns(main));
    PlayerWakeNow();
    ASSERT_TRUE(PumpUntilAnswered(1, 25000));
    EXPECT_TRUE(PumpUntilOwnReply(5000)) << "the late reply was never delivered to this thread";
    PumpMessages(1000);
    EXPECT_EQ(gPlugInFaults, 0);
    EXPECT_TRUE(gHost.variableWrites.empty()) << "the late reply was written";
    PlayerCommand command = {};
    ASSERT_TRUE(GetPlayerCommand(-1, &command));
    EXPECT_EQ(command.wParam, 3u);
    EXPECT_TRUE(command.answered);

    // The woken player answers the next command as usual.
    ASSERT_TRUE(PlayerSetReply(321));
    elapsed = TimedCommand("4");
    EXPECT_LT(elapsed, 2000u);
    EXPECT_EQ(ResultWrites(), (std::vector<std::string>{"(null)", "321"}));
    EXPECT_EQ(PlayerCommandCount(), 2);
    ASSERT_TRUE(GetPlayerCommand(-1, &command));
    EXPECT_EQ(command.wParam, 4u);
    PumpMessages(300);
    EXPECT_EQ(ResultWrites(), (std::vector<std::string>{"(null)", "321"}));
}

TEST_F(HangTest, ABusyPlayerThatKeepsHandlingMessagesIsWaitedFor) {
    ASSERT_TRUE(PlayerSetReply(555));
    NextCommand(kBusy, 8000);
    DWORD elapsed = TimedCommand("5");
    EXPECT_GE(elapsed, 7500u) << "the action returned before the player answered";
    EXPECT_EQ(ResultWrites(), (std::vector<std::string>{"(null)", "555"}));
    PlayerCommand command = {};
    ASSERT_TRUE(GetPlayerCommand(-1, &command));
    EXPECT_EQ(command.wParam, 5u);
    EXPECT_TRUE(command.answered);
}

// Runs the command action on a thread of its own (on this thread's desktop, where the player is), so
// that a wait that never ends is reported instead of hanging the test program.
struct CommandOnThread {
    HDESK desktop;
    const char *wParamText;
    DWORD returnedAt;
};

static DWORD WINAPI RunCommandOnThread(void *parameter) {
    auto *run = static_cast<CommandOnThread *>(parameter);
    SetThreadDesktop(run->desktop);
    HostExecAction(3, {"WM_COMMAND", run->wParamText, "0"});
    run->returnedAt = GetTickCount();
    return 0;
}

TEST_F(HangTest, APlayerKilledWhileHandlingTheCommandEndsTheWaitWithError5) {
    // Busy, not hung: the player keeps reading its messages, so the system never reports it hung and
    // only its window going away can end the wait.
    NextCommand(kBusy, 60000);
    CommandOnThread run = {GetThreadDesktop(GetCurrentThreadId()), "6", 0};
    HANDLE thread = CreateThread(nullptr, 0, RunCommandOnThread, &run, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_TRUE(WaitForPlayerLine("received, busy", 20000)) << "the command never reached the player";
    HANDLE player = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, PlayerProcessId());
    ASSERT_NE(player, nullptr);
    DWORD killedAt = GetTickCount();
    ASSERT_TRUE(TerminateProcess(player, 9));
    WaitForSingleObject(player, 10000);
    CloseHandle(player);

    DWORD waited = WaitForSingleObject(thread, 15000);
    if (waited != WAIT_OBJECT_0) {
        // The host would hang here for good; the thread cannot be let go of while it runs the plug-in.
        ADD_FAILURE() << "the action was still waiting 15 s after the player was killed";
        TerminateThread(thread, 1);
        CloseHandle(thread);
        return;
    }
    CloseHandle(thread);
    EXPECT_LT(run.returnedAt - killedAt, 5000u) << "the action noticed the player's end late";
    EXPECT_EQ(ResultWrites(), (std::vector<std::string>{"(null)", "ERROR5"}));
    EXPECT_EQ(gPlugInFaults, 0);
}
