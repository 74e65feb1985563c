// vxavs tests: `vxhost --check` against the stand-in player in each state an author can meet: the lines
// it prints for the windows, the verdict and the exit code.

#include "plugin_fixture.h"
#include "standin_player.h"
#include "visualizer_bound.h"
#include "vxavs_version.h"

namespace {

struct CheckOutput {
    std::vector<std::string> lines;
    DWORD exitCode = 99;
};

// Runs vxhost.exe --check on this program's desktop, where our players are, and collects its lines.
CheckOutput RunCheck(const std::string &arguments) {
    CheckOutput output;
    char desktop[256] = {};
    GetUserObjectInformationA(GetThreadDesktop(GetCurrentThreadId()), UOI_NAME, desktop, sizeof desktop - 1, nullptr);
    std::string command = "\"" + FileBesideProgram("vxhost.exe") + "\" --check " + arguments;
    PROCESS_INFORMATION process;
    HANDLE readEnd = nullptr;
    if (!StartWithOutputPipe(nullptr, command, 0, desktop, &process, &readEnd)) return output;
    // The check bounds every wait on the player: a minute is far beyond what it may take.
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 98);
        WaitForSingleObject(process.hProcess, 5000);
    }
    while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
    GetExitCodeProcess(process.hProcess, &output.exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(readEnd);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        output.lines.push_back(line);
        start = end + 1;
    }
    return output;
}

// The line that begins with `label`, or "" when none does.
std::string LineOf(const CheckOutput &output, const std::string &label) {
    for (const std::string &line : output.lines)
        if (line.compare(0, label.size(), label) == 0) return line;
    return "";
}

std::string Joined(const CheckOutput &output) {
    std::string all;
    for (const std::string &line : output.lines) all += "\n  " + line;
    return all;
}

enum Hang {
    kAnswers,
    kHungAndReported,  // asleep long enough that Windows reports the player hung
};

struct CheckCase {
    const char *state;
    bool player;
    void (*shape)(PlayerOptions *);
    Hang hang;
    const char *main, *frame, *inner, *verdict;
    DWORD exitCode;
};

const char kMainFound[] = "Player main window: found, responds";
const char kFrameFound[] = "Visualizer frame: found, responds";
const char kInnerFound[] = "Visualizer inner window: found, responds";
const char kAllWork[] = "Verdict: every action could work now";
const char kNoFrame[] = "Visualizer frame: not found (no window of class 'Winamp Gen'; is the visualizer open?)";

const CheckCase kCases[] = {
    {"no player", false, [](PlayerOptions *) {}, kAnswers,
     "Player main window: not found (no window of class 'Winamp v1.x'; is the player running?)", kNoFrame,
     "Visualizer inner window: not looked for without the frame",
     "Verdict: not every action could work now: vxWnpCommand would give ERROR5; vxAVSDropFile and vxAVSEmbed would "
     "give ERROR1",
     1},
    {"full player", true, [](PlayerOptions *) {}, kAnswers, kMainFound, kFrameFound, kInnerFound, kAllWork, 0},
    {"names in other letter case", true,
     [](PlayerOptions *o) {
         o->mainClass = "WINAMP V1.X";
         o->frameClass = "winamp gen";
         o->frameTitle = "AVS";
         o->innerClass = "AvsWnd";
         o->inner = kInnerGrandchild;
     },
     kAnswers, kMainFound, kFrameFound, kInnerFound, kAllWork, 0},
    {"frame without inner window", true, [](PlayerOptions *o) { o->inner = kInnerNone; }, kAnswers, kMainFound,
     kFrameFound, "Visualizer inner window: not found: the frame holds no 'avswnd' window",
     "Verdict: not every action could work now: vxAVSDropFile and vxAVSEmbed would give ERROR6", 1},
    {"inner window outside the frame", true, [](PlayerOptions *o) { o->inner = kInnerTopLevel; }, kAnswers, kMainFound,
     kFrameFound,
     "Visualizer inner window: not found: the frame holds no 'avswnd' window; an 'avswnd' window exists but outside "
     "the frame, as a window of its own",
     "Verdict: not every action could work now: vxAVSDropFile and vxAVSEmbed would give ERROR6", 1},
    // Only the whole title counts: one that begins with "avs" is not the frame.
    {"frame with a wrong title", true, [](PlayerOptions *o) { o->frameTitle = "avs editor"; }, kAnswers, kMainFound,
     "Visualizer frame: not found: a 'Winamp Gen' window exists but none is titled 'avs' (titles seen: \"avs editor\")",
     "Visualizer inner window: not looked for without the frame; an 'avswnd' window exists but outside the frame, "
     "inside a 'Winamp Gen' window titled \"avs editor\"",
     "Verdict: not every action could work now: vxAVSDropFile and vxAVSEmbed would give ERROR1", 1},
    {"no frame", true, [](PlayerOptions *o) { o->frame = false; }, kAnswers, kMainFound, kNoFrame,
     "Visualizer inner window: not looked for without the frame",
     "Verdict: not every action could work now: vxAVSDropFile and vxAVSEmbed would give ERROR1", 1},
    {"no main window", true, [](PlayerOptions *o) { o->mainWindowCount = 0; }, kAnswers,
     "Player main window: not found (no window of class 'Winamp v1.x'; is the player running?)", kFrameFound,
     kInnerFound, "Verdict: not every action could work now: vxWnpCommand would give ERROR5", 1},
    // A drop is posted and waits for the visualizer to wake; embedding and commands give up.
    {"player hung, reported by Windows", true, [](PlayerOptions *) {}, kHungAndReported,
     "Player main window: found, but does not respond (Windows reports the player hung)",
     "Visualizer frame: found, but does not respond (Windows reports the player hung)",
     "Visualizer inner window: found, but does not respond (Windows reports the player hung)",
     "Verdict: not every action could work now: vxWnpCommand would give ERROR5; vxAVSEmbed would give ERROR5", 1},
};

// Failures name the state, not the bytes of the case.
void PrintTo(const CheckCase &c, std::ostream *out) { *out << c.state; }

class HostCheckTest : public ::testing::TestWithParam<CheckCase> {
protected:
    void TearDown() override { StopPlayer(2000); }
};

TEST_P(HostCheckTest, SaysWhatThePlugInWouldFind) {
    const CheckCase &c = GetParam();
    if (c.player) {
        PlayerOptions options;
        c.shape(&options);
        PlayerStart playerStart;
        playerStart.lifetimeSeconds = 90;  // a player still asleep when the test ends goes by itself
        ASSERT_TRUE(StartPlayer(options, playerStart));
        if (c.hang != kAnswers) {
            PlayerBehaviour behaviour;
            behaviour.kind = kHang;
            behaviour.ms = 40000;
            ASSERT_TRUE(PlayerSetBehaviour(behaviour));
            HWND main = CurrentPlayerWindows().mains.at(0);
            ASSERT_TRUE(PostMessageA(main, WM_COMMAND, 1, 0));
            ASSERT_TRUE(WaitForPlayerLine("hanging", 10000));
            WaitUntil([main] { return IsHungAppWindow(main) != FALSE; }, 15000, kWaitSleeping, 100);
            ASSERT_TRUE(IsHungAppWindow(main)) << "the system never reported the sleeping player hung";
        }
    }
    // The check waits 2 s for the player's answer. On a loaded machine it may honestly get none in time,
    // and is run again; not so where the player answered sooner, or the check did not wait that long.
    // A hung player is meant to give none: once is enough.
    CheckOutput output;
    for (int tries = 1; tries <= (c.hang == kAnswers ? 4 : 1); ++tries) {
        DWORD start = GetTickCount();
        output = RunCheck("");
        DWORD end = GetTickCount();
        if (c.hang != kAnswers || Joined(output).find("no answer within") == std::string::npos) break;
        // Its one probe went to a window of the player, unknown which, while the check ran.
        ImportCall probe = {"SendMessageTimeoutA", {0, WM_NULL}, false, 0, start, 0, 0, end};
        ASSERT_EQ(GaveUpOnProbeFault(probe, false), "") << "the check" << Joined(output);
    }
    if (c.hang != kAnswers) PlayerWakeNow();  // seen hung by the check; nothing more to see in it
    std::string all = Joined(output);
    printf("vxhost --check, %s (exit code %lu):%s\n", c.state, output.exitCode, all.c_str());
    // The output was printed above; the failures below name only the line that differs.
    EXPECT_EQ(LineOf(output, "Player main window:"), c.main);
    EXPECT_EQ(LineOf(output, "Visualizer frame:"), c.frame);
    EXPECT_EQ(LineOf(output, "Visualizer inner window:"), c.inner);
    ASSERT_FALSE(output.lines.empty());
    EXPECT_EQ(output.lines.back(), c.verdict);
    EXPECT_EQ(output.exitCode, c.exitCode);

    // Wine runs every program with the same rights, so they always compare equal where reported.
    std::string rights = LineOf(output, "Player's rights:");
    if (!c.player) EXPECT_EQ(rights, "Player's rights: no player window to look at");
    else EXPECT_TRUE(rights.find("the same as this check's") != std::string::npos ||
                     rights == "Player's rights: not reported by this Windows") << rights;
    EXPECT_NE(LineOf(output, "DPI awareness:"), "");
    EXPECT_EQ(LineOf(output, "Plug-in:"), "Plug-in: version " VXAVS_VERSION " (" + FileBesideProgram("vxavs.dll") + ")");
    EXPECT_EQ(output.lines.size(), 7u) << "one line per finding and a verdict";
}

INSTANTIATE_TEST_SUITE_P(States, HostCheckTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<CheckCase> &info) {
                             std::string name;
                             for (const char *p = info.param.state; *p; ++p)
                                 if (isalnum(static_cast<unsigned char>(*p))) name += *p;
                             return name;
                         });

// A player whose thread waits on its queue for posted messages but answers no sent one: Windows
// never reports it hung, so only the check's own bounded wait finds that it does not respond. The
// stand-in player cannot do this (asleep, it is reported hung within seconds, before a slow check may
// start), so its three windows are made here, on a thread of this program.
HANDLE gQuietStop, gQuietReady;
HDESK gQuietDesktop;

LRESULT CALLBACK QuietProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

DWORD WINAPI QuietPlayerProc(void *) {
    SetThreadDesktop(gQuietDesktop);
    for (const char *name : {"Winamp v1.x", "Winamp Gen", "avswnd"}) {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = QuietProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = name;
        RegisterClassA(&windowClass);
    }
    HWND main = CreateWindowExA(0, "Winamp v1.x", "Winamp", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
    HWND frame = CreateWindowExA(0, "Winamp Gen", "avs", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
    CreateWindowExA(0, "avswnd", "", WS_CHILD, 0, 0, 100, 50, frame, nullptr, GetModuleHandleA(nullptr), nullptr);
    SetEvent(gQuietReady);
    // Waiting on its queue, the thread is not hung to Windows; waiting for posted messages only, it
    // handles no sent one.
    while (MsgWaitForMultipleObjects(1, &gQuietStop, FALSE, INFINITE, QS_POSTMESSAGE) != WAIT_OBJECT_0) {
    }
    DestroyWindow(frame);
    DestroyWindow(main);
    return 0;
}

TEST(HostCheckQuietPlayerTest, AWindowThatAnswersNothingIsNotRespondingWithinTheBound) {
    gQuietDesktop = GetThreadDesktop(GetCurrentThreadId());
    gQuietStop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    gQuietReady = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, QuietPlayerProc, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(gQuietReady, 10000), WAIT_OBJECT_0);
    CheckOutput output = RunCheck("");
    std::string all = Joined(output);
    printf("vxhost --check, a player that answers nothing (exit code %lu):%s\n", output.exitCode, all.c_str());
    SetEvent(gQuietStop);
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
    CloseHandle(gQuietStop);
    CloseHandle(gQuietReady);
    EXPECT_EQ(LineOf(output, "Player main window:"), "Player main window: found, but does not respond (no answer within 2 seconds)");
    EXPECT_EQ(LineOf(output, "Visualizer frame:"), "Visualizer frame: found, but does not respond (no answer within 2 seconds)");
    EXPECT_EQ(LineOf(output, "Visualizer inner window:"),
              "Visualizer inner window: found, but does not respond (no answer within 2 seconds)");
    ASSERT_FALSE(output.lines.empty());
    EXPECT_EQ(output.lines.back(),
              "Verdict: not every action could work now: vxWnpCommand would give ERROR5; vxAVSEmbed would give ERROR5");
    EXPECT_EQ(output.exitCode, 1u);
}

// The plug-in named on the command line: its version, or why there is none.
TEST(HostCheckPlugInTest, ReportsTheNamedFile) {
    struct Case {
        std::string given, expected;
    };
    std::string noVersion = FileBesideProgram("vxavs_load_probe.exe");
    std::string missing = FileBesideProgram("no such plug-in.dll");
    for (const Case &c : {Case{FileBesideProgram("vxavs.dll"), "Plug-in: version " VXAVS_VERSION " (" +
                                                               FileBesideProgram("vxavs.dll") + ")"},
                          Case{noVersion, "Plug-in: " + noVersion + " carries no version (not a vxavs release?)"},
                          Case{missing, "Plug-in: " + missing + " not found"}}) {
        CheckOutput output = RunCheck("--plugin \"" + c.given + "\"");
        EXPECT_EQ(LineOf(output, "Plug-in:"), c.expected) << Joined(output);
    }
}

}  // namespace
