// vxavs tests: a command whose main window the player destroys while handling it, answering late. A
// program of its own: the plug-in keeps itself loaded afterwards, so reloading no longer resets it.

#include "plugin_fixture.h"
#include "plugin_faults.h"
#include "standin_player.h"

TEST_F(PlugInTest, AMainWindowDestroyedDuringTheCommandIsNoAnswerAndTheLateReplyFindsThePlugInLoaded) {
    void *faultCounter = WatchPlugInFaults();
    ASSERT_NE(faultCounter, nullptr);
    PlayerStart playerStart;
    playerStart.lifetimeSeconds = 60;
    ASSERT_TRUE(StartPlayer(PlayerOptions(), playerStart));
    ASSERT_TRUE(PlayerSetReply(77));
    PlayerBehaviour behaviour;
    behaviour.kind = kDestroyThenHang;
    behaviour.ms = 4000;
    ASSERT_TRUE(PlayerSetBehaviour(behaviour));

    DWORD start = GetTickCount();
    Run(3, {"WM_COMMAND", "1", "0"});
    DWORD elapsed = GetTickCount() - start;
    EXPECT_EQ(ResultWrites(), (std::vector<std::string>{"(null)", "ERROR5"}));
    EXPECT_LT(elapsed, 3500u) << "the action waited for the reply of a destroyed window";

    HostUnloadPlugIn();
    EXPECT_NE(GetModuleHandleA("vxavs.dll"), nullptr) << "unloaded with a reply outstanding";
    PlayerWakeNow();
    // The reply comes once the player wakes, to a plug-in the host has let go of.
    ASSERT_TRUE(WaitForPlayerLine(", answered 77", 20000));
    PumpMessages(1500);
    EXPECT_EQ(gPlugInFaults, 0) << "the late reply ran where the plug-in's code used to be";
    EXPECT_TRUE(gHost.variableWrites.empty());
    StopPlayer(2000);
    RemoveVectoredExceptionHandler(faultCounter);
}
