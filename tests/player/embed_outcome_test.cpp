// vxavs tests: embedding is all or nothing. A host answer that is no window of the publication, a
// refused move, or a frame that is gone reads as a failure, and a release that cannot give the window
// back keeps it guarded; Unicode host windows keep their text while embedded.

#include "embed_fixture.h"

std::vector<HostMessage> gHostMessages;

class EmbedOutcomeTest : public EmbedFixture {
protected:
    static void ReleaseOnce(const char *how) {
        if (std::string(how) == "false") {
            HostExecAction(2, {"Panel", "false"});
        } else {
            gHost.entry.message(2, 0);
        }
    }
    // A release that ought to succeed. The host's message 2 writes nothing: it gave up where the inner
    // window is still in the host window.
    void Release(const char *how, HWND host, const std::function<void()> &release = nullptr) {
        std::function<bool()> gaveUp;
        if (std::string(how) != "false") gaveUp = [=] { return GetParent(windows.inner) == host; };
        WithinTheBound(release ? release : [=] { ReleaseOnce(how); }, gaveUp);
    }
};

// Nothing about the inner window changed: still in its frame, where and as large as it was.
#define EXPECT_NOTHING_MOVED(before)                                                                     \
    do {                                                                                                 \
        PumpMessages(300); /* a move the plug-in left for the player's thread would show by now */ \
        EXPECT_EQ(PlacementOf(windows.inner), before);                                                   \
    } while (0)

TEST_F(EmbedOutcomeTest, AHostAnswerThatIsNoWindowOfThisProcessIsError4) {
    HWND gone = NewHostWindow("Gone", 200, 150);
    DestroyWindow(gone);
    struct Case {
        const char *what;
        std::string answer;
    };
    const Case cases[] = {
        {"out of range, read as -2147483648", "4294967296"},
        {"a window that was destroyed", std::to_string(reinterpret_cast<uintptr_t>(gone))},
        {"the player's main window", std::to_string(reinterpret_cast<uintptr_t>(windows.mains.at(0)))},
        {"the visualizer's own frame", std::to_string(reinterpret_cast<uintptr_t>(windows.frame))},
    };
    Placement before = PlacementOf(windows.inner);
    ASSERT_EQ(before, FramePlacement(windows.frame));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        HostSetObjectAnswer("Panel", c.answer);
        HostClearRecords();
        Embed("Panel");
        EXPECT_EQ(ResultWrites(), std::vector<std::string>{"ERROR4"});
        EXPECT_NOTHING_MOVED(before);
        // Nothing is embedded: a release has nothing to do.
        HostClearRecords();
        Embed("Panel", "false");
        EXPECT_TRUE(gHost.variableWrites.empty());
    }
}

TEST_F(EmbedOutcomeTest, ARefusedMoveIntoTheHostWindowEmbedsNothing) {
    struct Case {
        const char *what;
        DWORD error;
        int times;
        const char *expected;  // nullptr: embedded after all, nothing written
    };
    const Case cases[] = {
        {"the player runs with higher rights", 5, -1, "ERROR7"},
        {"a refusal no code describes", ERROR_INVALID_PARAMETER, -1, "ERROR7"},
        {"the player's queue is full", 1816, -1, "ERROR5"},
        {"the window went away after the lookup, found again", 1400, 1, nullptr},
    };
    HWND host = NewHostWindow("Panel", 400, 300);
    LONG ownProc = Procedure(host);
    Placement before = PlacementOf(windows.inner);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        HostClearRecords();
        auto refusedMove = [&] {
            EXPECT_TRUE(HostRefuseImport("SetParent", c.error, c.times));
            EmbedOnce("Panel");
        };
        // A full queue reads as a visualizer that does not answer: nothing tells it from a slow one.
        if (c.expected != nullptr && std::string(c.expected) == "ERROR5") {
            refusedMove();
        } else {
            WithinTheBound(refusedMove);
        }
        std::vector<ImportCall> calls = HostImportCalls("SetParent");
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls[0].words[0], reinterpret_cast<uintptr_t>(windows.inner));
        EXPECT_EQ(calls[0].words[1], reinterpret_cast<uintptr_t>(host));
        HostClearRefusals();
        if (c.expected == nullptr) {
            EXPECT_TRUE(gHost.variableWrites.empty());
            EXPECT_EQ(WaitForPlacement(windows.inner, EmbeddedPlacement(host)), EmbeddedPlacement(host));
            Embed("Panel", "false");
            EXPECT_EQ(WaitForPlacement(windows.inner, before), before);
            EXPECT_EQ(Procedure(host), ownProc);
            continue;
        }
        EXPECT_EQ(ResultWrites(), std::vector<std::string>{c.expected});
        EXPECT_NOTHING_MOVED(before);
        EXPECT_EQ(Procedure(host), ownProc) << "subclassed without the window inside";
        // Nothing follows the host window now.
        SetWindowPos(host, nullptr, 0, 0, 333, 222, SWP_NOMOVE | SWP_NOZORDER);
        EXPECT_NOTHING_MOVED(before);
        SetWindowPos(host, nullptr, 0, 0, 400, 300, SWP_NOMOVE | SWP_NOZORDER);
        HostClearRecords();
        Embed("Panel", "false");
        EXPECT_TRUE(gHost.variableWrites.empty()) << "released what was never embedded";
    }
}

// Still embedded and guarded: in the host window, the subclass in place, following its size.
#define EXPECT_STILL_EMBEDDED(host, ownProc)                                                            \
    do {                                                                                                \
        EXPECT_EQ(GetParent(windows.inner), host);                                                      \
        EXPECT_NE(Procedure(host), ownProc) << "the host window lost its guard";                       \
        SetWindowPos(host, nullptr, 0, 0, 380, 260, SWP_NOMOVE | SWP_NOZORDER);                         \
        EXPECT_EQ(WaitForPlacement(windows.inner, EmbeddedPlacement(host)), EmbeddedPlacement(host));   \
    } while (0)

// Only the "false" action reports: the host's message 2 writes nothing, whatever happens.
static std::vector<std::string> ReleaseWrites(const char *how, const char *code) {
    if (std::string(how) == "false") return {code};
    return {};
}

TEST_F(EmbedOutcomeTest, AReleaseWithTheFrameClosedStaysEmbeddedUntilAFrameIsBack) {
    for (const char *how : {"false", "message 2"}) {
        SCOPED_TRACE(how);
        ASSERT_TRUE(RestartPlayer());
        HWND host = NewHostWindow("Panel", 400, 300);
        LONG ownProc = Procedure(host);
        ASSERT_TRUE(EmbedInto("Panel", host));
        ASSERT_TRUE(PlayerDestroyFrame(false));
        ASSERT_TRUE(IsWindow(windows.inner));
        HostClearRecords();
        ReleaseOnce(how);
        EXPECT_EQ(ResultWrites(), ReleaseWrites(how, "ERROR1"));
        EXPECT_STILL_EMBEDDED(host, ownProc);

        // The visualizer opens its window again: the next release finds it.
        ASSERT_TRUE(PlayerDestroyFrame(true));
        HWND frame = CurrentPlayerWindows().frame;
        HostClearRecords();
        Release(how, host);
        EXPECT_TRUE(gHost.variableWrites.empty());
        EXPECT_EQ(WaitForPlacement(windows.inner, FramePlacement(frame)), FramePlacement(frame));
        EXPECT_EQ(Procedure(host), ownProc);
        DestroyWindow(host);
        EXPECT_TRUE(IsWindow(windows.inner));
    }
}

TEST_F(EmbedOutcomeTest, AReleaseGoesToTheFrameAsItIsNowWhenTheVisualizerRemadeIt) {
    HWND host = NewHostWindow("Panel", 400, 300);
    LONG ownProc = Procedure(host);
    ASSERT_TRUE(EmbedInto("Panel", host));
    ASSERT_TRUE(PlayerDestroyFrame(true));
    HWND frame = CurrentPlayerWindows().frame;
    ASSERT_NE(frame, windows.frame);
    Embed("Panel", "false");
    EXPECT_TRUE(gHost.variableWrites.empty());
    EXPECT_EQ(WaitForPlacement(windows.inner, FramePlacement(frame)), FramePlacement(frame));
    EXPECT_EQ(Procedure(host), ownProc);
}

TEST_F(EmbedOutcomeTest, ARefusedReleaseStaysEmbeddedAndCanBeTriedAgain) {
    struct Case {
        const char *what;
        DWORD error;
        int times;
        const char *expected;
    };
    const Case cases[] = {
        {"the player runs with higher rights", 5, -1, "ERROR7"},
        {"the player's queue is full", 1816, -1, "ERROR5"},
    };
    HWND host = NewHostWindow("Panel", 400, 300);
    LONG ownProc = Procedure(host);
    for (const Case &c : cases) {
        for (const char *how : {"false", "message 2"}) {
            SCOPED_TRACE(std::string(c.what) + ", released by " + how);
            ASSERT_TRUE(EmbedInto("Panel", host));
            HostClearRecords();
            auto refusedRelease = [&] {
                EXPECT_TRUE(HostRefuseImport("SetParent", c.error, c.times));
                ReleaseOnce(how);
            };
            // Only a code written tells a refusal from a visualizer too slow to get to it.
            if (std::string(c.expected) != "ERROR5" && std::string(how) == "false") {
                WithinTheBound(refusedRelease);
            } else {
                refusedRelease();
            }
            HostClearRefusals();
            EXPECT_EQ(ResultWrites(), ReleaseWrites(how, c.expected));
            EXPECT_STILL_EMBEDDED(host, ownProc);
            HostClearRecords();
            Release(how, host);
            EXPECT_TRUE(gHost.variableWrites.empty());
            EXPECT_EQ(WaitForPlacement(windows.inner, FramePlacement(windows.frame)), FramePlacement(windows.frame));
            EXPECT_EQ(Procedure(host), ownProc);
        }
    }
}

// Windows that really go away at the call, closed by their owner, so that only a second lookup finds
// what is there now.
static bool fHookDone;
static HWND hHookWindow;  // the window whose next call has the visualizer change its windows

// The frame closed and made anew just before the inner window is moved into it.
static void RemakeFrameBeforeTheMove(const std::vector<DWORD> &words) {
    if (!fHookDone && words[1] == reinterpret_cast<uintptr_t>(hHookWindow)) fHookDone = PlayerDestroyFrame(true);
}

// The frame went away after the lookup: the move is tried again, to the frame there is now. Windows
// may say so of a frame that is still there, or the visualizer really made its frame anew.
TEST_F(EmbedOutcomeTest, AReleaseToAWindowThatWentAwayAfterTheLookupIsTriedAgain) {
    HWND host = NewHostWindow("Panel", 400, 300);
    LONG ownProc = Procedure(host);
    for (bool remade : {false, true}) {
        for (const char *how : {"false", "message 2"}) {
            SCOPED_TRACE(std::string(how) + (remade ? ", the frame made anew" : ", refused as gone"));
            ASSERT_TRUE(EmbedInto("Panel", host));
            HWND old = CurrentPlayerWindows().frame;
            HostClearRecords();
            fHookDone = false;
            hHookWindow = old;
            if (remade) {
                ASSERT_TRUE(HostBeforeImport("SetParent", RemakeFrameBeforeTheMove, -1));
            }
            size_t moves = 0;
            // A try given up is made again whole: refused again, its moves counted afresh.
            Release(how, host, [&] {
                if (!remade) {
                    EXPECT_TRUE(HostRefuseImport("SetParent", 1400, 1));
                }
                size_t before = HostImportCalls("SetParent").size();
                ReleaseOnce(how);
                moves = HostImportCalls("SetParent").size() - before;
            });
            HostClearRefusals();
            if (remade) {
                ASSERT_TRUE(fHookDone) << "never moved towards the frame found";
                ASSERT_FALSE(IsWindow(old));
            } else {
                EXPECT_EQ(moves, 2u) << "not tried again";
            }
            HWND frame = CurrentPlayerWindows().frame;
            EXPECT_TRUE(gHost.variableWrites.empty());
            EXPECT_EQ(WaitForPlacement(windows.inner, FramePlacement(frame)), FramePlacement(frame));
            EXPECT_EQ(Procedure(host), ownProc);
            if (GetParent(windows.inner) != frame) ReleaseOnce(how);
        }
    }
}

TEST_F(EmbedOutcomeTest, ClosingTheHostWindowAfterAFailedReleaseStillGivesTheWindowBack) {
    HWND host = NewHostWindow("Panel", 400, 300);
    ASSERT_TRUE(EmbedInto("Panel", host));
    WithinTheBound([] {
        EXPECT_TRUE(HostRefuseImport("SetParent", 5, 1));
        EmbedOnce("Panel", "false");
    });
    EXPECT_EQ(ResultWrites(), std::vector<std::string>{"ERROR7"});
    HostClearRecords();
    DestroyWindow(host);
    EXPECT_TRUE(gHost.variableWrites.empty());
    ASSERT_TRUE(IsWindow(windows.inner)) << "the player's window died with the host window";
    EXPECT_EQ(WaitForPlacement(windows.inner, FramePlacement(windows.frame)), FramePlacement(windows.frame));
}

TEST_F(EmbedOutcomeTest, AUnicodeHostWindowKeepsTextOutsideTheAnsiCodePage) {
    static const wchar_t kText[] = L"\x0416\x4E2D";
    HWND host = NewHostWindow("Panel", 400, 300, true);
    ASSERT_TRUE(IsWindowUnicode(host));
    LONG ownProc = Procedure(host);
    Embed("Panel");
    EXPECT_TRUE(gHost.variableWrites.empty());
    ASSERT_EQ(WaitForPlacement(windows.inner, EmbeddedPlacement(host)), EmbeddedPlacement(host));
    EXPECT_TRUE(IsWindowUnicode(host));

    ASSERT_TRUE(SendMessageW(host, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(kText)));
    wchar_t read[16] = {};
    EXPECT_EQ(SendMessageW(host, WM_GETTEXT, 16, reinterpret_cast<LPARAM>(read)), 2);
    EXPECT_EQ(std::wstring(read), std::wstring(kText)) << "the text lost its characters on the way";
    gHostMessages.clear();
    for (wchar_t c : {kText[0], kText[1]}) SendMessageW(host, WM_CHAR, c, 1);
    std::vector<WPARAM> chars;
    for (const HostMessage &m : gHostMessages)
        if (m.message == WM_CHAR) chars.push_back(m.wParam);
    EXPECT_EQ(chars, (std::vector<WPARAM>{kText[0], kText[1]}));
    // Resizes still reach the plug-in through the W procedure.
    SetWindowPos(host, nullptr, 0, 0, 360, 240, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(WaitForPlacement(windows.inner, EmbeddedPlacement(host)), EmbeddedPlacement(host));

    Embed("Panel", "false");
    EXPECT_EQ(WaitForPlacement(windows.inner, FramePlacement(windows.frame)), FramePlacement(windows.frame));
    EXPECT_EQ(Procedure(host), ownProc);
    EXPECT_TRUE(IsWindowUnicode(host));
    read[0] = 0;
    GetWindowTextW(host, read, 16);
    EXPECT_EQ(std::wstring(read), std::wstring(kText));
}

// The visualizer closes and opens again just as its thread is asked for a sign of life.
static void ReopenVisualizerAtTheProbe(const std::vector<DWORD> &words) {
    if (!fHookDone && words[0] == reinterpret_cast<uintptr_t>(hHookWindow) && words[1] == WM_NULL)
        fHookDone = PlayerReopenVisualizer();
}

TEST_F(EmbedOutcomeTest, AProbeThatFailsReadsAsWhyItFailed) {
    struct Case {
        const char *what;
        bool release;
        DWORD error;           // the probe refused so; 0: the visualizer reopens at the probe
        const char *expected;  // nullptr: done, with the new inner window
    };
    const Case cases[] = {
        {"embed, the player runs with higher rights", false, 5, "ERROR7"},
        {"embed, the inner window went away", false, 0, nullptr},
        {"release, the player runs with higher rights", true, 5, "ERROR7"},
        {"release, the inner window went away", true, 0, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(RestartPlayer());
        HWND host = NewHostWindow("Panel", 400, 300);
        LONG ownProc = Procedure(host);
        Placement before = PlacementOf(windows.inner);
        if (c.release) {
            ASSERT_TRUE(EmbedInto("Panel", host));
        }
        HostClearRecords();
        fHookDone = false;
        hHookWindow = windows.inner;
        if (c.error != 0) {
            ASSERT_TRUE(HostRefuseImport("SendMessageTimeoutA", c.error));
        } else {
            ASSERT_TRUE(HostBeforeImport("SendMessageTimeoutA", ReopenVisualizerAtTheProbe, -1));
        }
        Embed("Panel", c.release ? "false" : "true");
        HostClearRefusals();
        if (c.expected != nullptr) {
            EXPECT_EQ(ResultWrites(), std::vector<std::string>{c.expected});
            if (c.release) {
                EXPECT_STILL_EMBEDDED(host, ownProc);
                HostClearRecords();
                Embed("Panel", "false");
                EXPECT_TRUE(gHost.variableWrites.empty());
                EXPECT_EQ(WaitForPlacement(windows.inner, before), before);
            } else {
                EXPECT_NOTHING_MOVED(before);
            }
            EXPECT_EQ(Procedure(host), ownProc) << "subclassed without the window inside";
            DestroyWindow(host);
            continue;
        }
        ASSERT_TRUE(fHookDone) << "no sign of life was asked of the inner window";
        PlayerWindows now = CurrentPlayerWindows();
        ASSERT_FALSE(IsWindow(windows.inner));
        EXPECT_TRUE(gHost.variableWrites.empty());
        if (c.release) {
            // Nothing left to give back: the host window is its own again, the new window untouched.
            EXPECT_EQ(Procedure(host), ownProc);
            EXPECT_EQ(PlacementOf(now.inner), FramePlacement(now.frame));
            // The next embedding takes the new window.
            Embed("Panel");
            EXPECT_TRUE(gHost.variableWrites.empty());
        }
        EXPECT_EQ(WaitForPlacement(now.inner, EmbeddedPlacement(host)), EmbeddedPlacement(host));
        Embed("Panel", "false");
        EXPECT_TRUE(gHost.variableWrites.empty());
        EXPECT_EQ(WaitForPlacement(now.inner, FramePlacement(now.frame)), FramePlacement(now.frame));
        EXPECT_EQ(Procedure(host), ownProc);
        DestroyWindow(host);
    }
}

// The plug-in keeps the inner window it found while that is a window. Once the visualizer closed,
// nothing is done to the closed window's handle: a drop and an embedding reach the window there is now
// (and the release the one embedded), and where there is none the host is not asked for its window.
TEST_F(EmbedOutcomeTest, TheKeptInnerWindowIsLeftOnceTheVisualizerClosed) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string file = std::string(temp) + "vxavs kept " + std::to_string(GetCurrentProcessId()) + ".mp3";
    HANDLE made = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(made, INVALID_HANDLE_VALUE);
    CloseHandle(made);
    HWND host = NewHostWindow("Panel", 400, 300);
    int drops = 0;
    for (bool reopen : {true, false}) {
        for (const char *action : {"drop", "embed"}) {
            SCOPED_TRACE(std::string(action) + (reopen ? ", the visualizer reopened" : ", the visualizer closed"));
            // A drop has the plug-in keep the inner window.
            if (!IsWindow(CurrentPlayerWindows().inner)) {
                ASSERT_TRUE(PlayerReopenVisualizer());
            }
            HWND kept = CurrentPlayerWindows().inner;
            HostClearRecords();
            HostExecAction(1, {file.c_str(), ""});
            ASSERT_TRUE(WaitForPlayerDrops(++drops, 5000)) << "\"" << HostVariable("vxAVSDrop") << "\"";
            ASSERT_TRUE(reopen ? PlayerReopenVisualizer() : PlayerDestroyFrame(false));
            ASSERT_FALSE(IsWindow(kept));
            PlayerWindows now = CurrentPlayerWindows();
            // Recorded, never refused: every call on a window of the player shows.
            for (const char *function : {"PostMessageA", "SendMessageTimeoutA", "SetParent", "SetWindowPos"})
                ASSERT_TRUE(HostRefuseImport(function, 0, 0)) << function;
            HostClearRecords();
            bool drop = std::string(action) == "drop";
            if (drop) {
                HostExecAction(1, {file.c_str(), ""});
            } else {
                Embed("Panel");
            }
            if (!reopen) {
                EXPECT_EQ(ResultWrites(), std::vector<std::string>{"ERROR1"});
                EXPECT_TRUE(gHost.objectQueries.empty()) << "the host was asked for its window with no visualizer there";
            } else if (drop) {
                EXPECT_TRUE(gHost.variableWrites.empty());
                ASSERT_TRUE(WaitForPlayerDrops(++drops, 5000));
                PlayerDrop received;
                ASSERT_TRUE(GetPlayerDrop(-1, &received));
                EXPECT_EQ(received.window, now.inner);
            } else {
                EXPECT_TRUE(gHost.variableWrites.empty());
                EXPECT_EQ(WaitForPlacement(now.inner, EmbeddedPlacement(host)), EmbeddedPlacement(host));
                Embed("Panel", "false");
                EXPECT_TRUE(gHost.variableWrites.empty());
                EXPECT_EQ(WaitForPlacement(now.inner, FramePlacement(now.frame)), FramePlacement(now.frame));
            }
            for (const ImportCall &call : HostImportCalls())
                EXPECT_NE(call.words[0], reinterpret_cast<uintptr_t>(kept)) << call.function << " on the closed window";
            HostClearRefusals();
        }
    }
    DeleteFileA(file.c_str());
}
