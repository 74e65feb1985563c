// vxavs tests: a visualizer whose thread stops answering, before or during an embedding, a release or
// a resize, never freezes the publication: the action reports "ERROR5" within a few seconds and
// nothing changes hands.

#include "embed_fixture.h"

std::vector<HostMessage> gHostMessages;

// Far longer than the plug-in may take, so that an action that waits for the player shows.
static const DWORD kHangMs = 15000;
static const DWORD kActionBoundMs = 6000;

class VisualizerHangTest : public EmbedFixture {
protected:
    // When: "now" hangs the player's thread before the action; "on its next WM_NULL" while the action
    // asks the window whether it answers.
    void HangPlayer(bool now) {
        if (now) {
            ASSERT_TRUE(PlayerHangNow(kHangMs));
            return;
        }
        HangOnNext(WM_NULL, kHangMs);
    }
    DWORD Timed(const char *mode) {
        DWORD start = GetTickCount();
        EmbedOnce("Panel", mode);
        return GetTickCount() - start;
    }
};

TEST_F(VisualizerHangTest, EmbeddingIntoAHungVisualizerIsError5AtOnce) {
    for (bool now : {true, false}) {
        SCOPED_TRACE(now ? "hung before the action" : "hung on the plug-in's question");
        ASSERT_TRUE(RestartPlayer());
        HWND host = NewHostWindow("Panel", 400, 300);
        LONG ownProc = Procedure(host);
        Placement before = PlacementOf(windows.inner);
        HostClearRecords();
        HangPlayer(now);
        DWORD elapsed = Timed("true");
        EXPECT_LT(elapsed, kActionBoundMs) << "the embedding waited for the hung visualizer";
        EXPECT_EQ(ResultWrites(), std::vector<std::string>{"ERROR5"});
        EXPECT_EQ(Procedure(host), ownProc);
        WaitUntilAwake(kHangMs);
        EXPECT_EQ(PlacementOf(windows.inner), before) << "the inner window moved";
        ExpectEmbedsAndReleasesAsUsual("Panel", host);
    }
}

TEST_F(VisualizerHangTest, ReleasingFromAHungVisualizerIsError5AtOnceAndStaysEmbedded) {
    for (bool now : {true, false}) {
        SCOPED_TRACE(now ? "hung before the action" : "hung on the plug-in's question");
        ASSERT_TRUE(RestartPlayer());
        HWND host = NewHostWindow("Panel", 400, 300);
        LONG ownProc = Procedure(host);
        ASSERT_TRUE(EmbedInto("Panel", host));
        HostClearRecords();
        HangPlayer(now);
        DWORD elapsed = Timed("false");
        EXPECT_LT(elapsed, kActionBoundMs) << "the release waited for the hung visualizer";
        EXPECT_EQ(ResultWrites(), std::vector<std::string>{"ERROR5"});
        EXPECT_EQ(GetParent(windows.inner), host);
        EXPECT_NE(Procedure(host), ownProc) << "the host window lost its guard";
        WaitUntilAwake(kHangMs);
        HostClearRecords();
        Embed("Panel", "false");
        EXPECT_TRUE(gHost.variableWrites.empty());
        EXPECT_EQ(WaitForPlacement(windows.inner, FramePlacement(windows.frame)), FramePlacement(windows.frame));
        EXPECT_EQ(Procedure(host), ownProc);
    }
}

TEST_F(VisualizerHangTest, AResizeWhileTheVisualizerHangsReturnsAtOnceAndIsAppliedOnceAwake) {
    HWND host = NewHostWindow("Panel", 400, 300);
    ASSERT_TRUE(EmbedInto("Panel", host));
    ASSERT_TRUE(PlayerHangNow(kHangMs));
    gHostMessages.clear();
    DWORD start = GetTickCount();
    SetWindowPos(host, nullptr, 0, 0, 333, 222, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(SendMessageA(host, WM_USER + 206, 0, 0), 0);
    DWORD elapsed = GetTickCount() - start;
    EXPECT_LT(elapsed, 2000u) << "the host's resize waited for the hung visualizer";
    // The host window's own procedure saw both, unchanged.
    std::vector<UINT> seen;
    for (const HostMessage &m : gHostMessages) seen.push_back(m.message);
    EXPECT_EQ(seen, (std::vector<UINT>{WM_SIZE, WM_USER + 206}));
    WaitUntilAwake(kHangMs);
    EXPECT_EQ(WaitForPlacement(windows.inner, EmbeddedPlacement(host)), EmbeddedPlacement(host));
    Embed("Panel", "false");
    EXPECT_EQ(WaitForPlacement(windows.inner, FramePlacement(windows.frame)), FramePlacement(windows.frame));
}
