// vxavs tests: a player command that Windows refuses reads as the failure it is, never as the answer
// "0". The stand-in player runs in a process of its own.

#include "plugin_fixture.h"
#include "standin_player.h"

class CommandOutcomeTest : public PlugInTest {
protected:
    void SetUp() override {
        PlugInTest::SetUp();
        PlayerStart playerStart;
        playerStart.lifetimeSeconds = 120;
        ASSERT_TRUE(StartPlayer(PlayerOptions(), playerStart));
        // Not 0, so that a refusal read as an answer shows.
        ASSERT_TRUE(PlayerSetReply(1234));
    }
    void TearDown() override {
        PlugInTest::TearDown();
        StopPlayer();
    }
};

TEST_F(CommandOutcomeTest, ARefusedSendIsReportedNotReadAsAnAnswer) {
    struct Case {
        const char *what;
        DWORD error;
        int times;
        const char *expected;
        int received;  // commands the player got
    };
    const Case cases[] = {
        {"the player runs with higher rights", 5, -1, "ERROR7", 0},
        {"a refusal no code describes", ERROR_INVALID_PARAMETER, -1, "ERROR7", 0},
        {"the player's queue is full", 1816, -1, "ERROR5", 0},
        {"the window went away after the lookup", 1400, 1, "1234", 1},
    };
    HWND main = CurrentPlayerWindows().mains.at(0);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(PlayerClearRecords());
        HostClearRecords();
        ASSERT_TRUE(HostRefuseImport("SendMessageCallbackA", c.error, c.times));
        Run(3, {"WM_COMMAND", "40045", "0"});
        EXPECT_EQ(ResultWrites(), (std::vector<std::string>{"(null)", c.expected}));
        EXPECT_EQ(PlayerCommandCount(), c.received);
        std::vector<ImportCall> sends = HostImportCalls("SendMessageCallbackA");
        ASSERT_EQ(sends.size(), static_cast<size_t>(c.received + 1)) << "a refusal is tried again only after 1400";
        for (const ImportCall &send : sends) {
            EXPECT_EQ(send.words[0], reinterpret_cast<uintptr_t>(main));
            EXPECT_EQ(send.words[2], 40045u);
        }
        HostClearRefusals();
    }
}

TEST_F(CommandOutcomeTest, AZeroFromAPlayerThatClosedItsOwnWindowIsItsAnswer) {
    // A "close" command: the handler destroys the main window and answers 0 itself. Only a thread that
    // ended has its answer made up by the system.
    ASSERT_TRUE(PlayerSetReply(0));
    PlayerBehaviour behaviour;
    behaviour.kind = kDestroyThenHang;
    behaviour.ms = 0;
    ASSERT_TRUE(PlayerSetBehaviour(behaviour));
    Run(3, {"WM_COMMAND", "40001", "0"});
    EXPECT_EQ(ResultWrites(), (std::vector<std::string>{"(null)", "0"}));
    EXPECT_FALSE(IsWindow(CurrentPlayerWindows().mains.at(0)));
}

// The player makes its main window anew at the moment the command is sent: the handle from the lookup
// names no window any more, and only a second lookup finds the one that is there now.
static bool fMainReplaced;
static void ReplaceMainBeforeTheSend(const std::vector<DWORD> &words) {
    if (!fMainReplaced && words[0] == reinterpret_cast<uintptr_t>(CurrentPlayerWindows().mains.at(0)))
        fMainReplaced = PlayerReplaceMain();
}

TEST_F(CommandOutcomeTest, AMainWindowMadeAnewAfterTheLookupGetsTheCommand) {
    HWND old = CurrentPlayerWindows().mains.at(0);
    fMainReplaced = false;
    ASSERT_TRUE(HostBeforeImport("SendMessageCallbackA", ReplaceMainBeforeTheSend, -1));
    Run(3, {"WM_COMMAND", "40045", "7"});
    HostClearRefusals();
    ASSERT_TRUE(fMainReplaced) << "the command was never sent to the main window found";
    HWND now = CurrentPlayerWindows().mains.at(0);
    ASSERT_NE(now, old);
    ASSERT_FALSE(IsWindow(old));
    EXPECT_EQ(ResultWrites(), (std::vector<std::string>{"(null)", "1234"}));
    std::vector<PlayerCommand> commands = PlayerCommandList();
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].window, now);
    EXPECT_EQ(commands[0].message, static_cast<UINT>(WM_COMMAND));
    EXPECT_EQ(commands[0].wParam, 40045u);
    EXPECT_EQ(commands[0].lParam, 7u);
}
