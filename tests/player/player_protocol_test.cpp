// vxavs tests: what one side of the stand-in player's protocol writes, the other reads back equal: the
// ready line, the record fields, the behaviour block and vxplayer.exe's command line. No windows needed.

#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>

#include <climits>
#include <string>
#include <vector>

#include "player_protocol.h"

static HWND Handle(uintptr_t value) { return reinterpret_cast<HWND>(value); }

static bool operator==(const PlayerWindows &a, const PlayerWindows &b) {
    return a.control == b.control && a.mains == b.mains && a.frame == b.frame && a.pane == b.pane &&
           a.inner == b.inner && a.decoyFrames == b.decoyFrames && a.decoyInners == b.decoyInners;
}

TEST(PlayerProtocolTest, TheReadyLineGivesBackEveryHandle) {
    struct Case {
        const char *what;
        PlayerWindows windows;
    };
    PlayerWindows controlOnly;
    controlOnly.control = Handle(0x10020);
    PlayerWindows several;
    several.control = Handle(1);
    several.mains = {Handle(0x2002A), Handle(0xFFFFFFFE)};
    several.frame = Handle(0x30030);
    several.pane = Handle(0x30034);
    several.inner = Handle(0x7FFFFFFF);
    several.decoyFrames = {Handle(0x40040), Handle(0x40044), Handle(0x40048)};
    several.decoyInners = {Handle(0x50050), Handle(0x50054), Handle(0x50058)};
    PlayerWindows noFrame = several;
    noFrame.frame = noFrame.pane = noFrame.inner = nullptr;
    const Case cases[] = {
        {"the control window alone", controlOnly},
        {"several of each", several},
        {"lists without a frame", noFrame},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::string line = PlayerReadyLine(c.windows);
        PlayerWindows read;
        ASSERT_TRUE(ParsePlayerReadyLine(line, &read)) << line;
        EXPECT_TRUE(read == c.windows) << line;
    }
    PlayerWindows read;
    EXPECT_FALSE(ParsePlayerReadyLine("player: WM_USER wParam 1 (0x00000001)", &read));
    EXPECT_FALSE(ParsePlayerReadyLine(PlayerReadyLine(PlayerWindows()), &read)) << "no control window";
}

TEST(PlayerProtocolTest, EveryRecordFieldCrossesUnchanged) {
    PlayerCommand command = {Handle(0x2002A), WM_USER, 0xFFFFFFFF, 0x80000000, INT32_MIN, true};
    PlayerCommand commandRead = {};
    for (int field = 0; field < kCommandFieldCount; ++field)
        SetCommandField(&commandRead, field, CommandFieldValue(command, field));
    EXPECT_EQ(commandRead.window, command.window);
    EXPECT_EQ(commandRead.message, command.message);
    EXPECT_EQ(commandRead.wParam, command.wParam);
    EXPECT_EQ(commandRead.lParam, command.lParam);
    EXPECT_EQ(commandRead.reply, command.reply);
    EXPECT_EQ(commandRead.answered, command.answered);

    PlayerDrop drop = {};
    drop.window = Handle(0x50050);
    drop.handle = 0xFFFF0001;
    drop.read = true;
    drop.blockSize = 0x80000001;
    drop.fileCount = 3;
    drop.point = POINT{-5, 0x7FFFFFFF};
    drop.pointResult = TRUE;
    drop.goneAfterFinish = true;
    PlayerDrop dropRead = {};
    for (int field = 0; field < kDropFieldCount; ++field) SetDropField(&dropRead, field, DropFieldValue(drop, field));
    EXPECT_EQ(dropRead.window, drop.window);
    EXPECT_EQ(dropRead.handle, drop.handle);
    EXPECT_EQ(dropRead.read, drop.read);
    EXPECT_EQ(dropRead.blockSize, drop.blockSize);
    EXPECT_EQ(dropRead.fileCount, drop.fileCount);
    EXPECT_EQ(dropRead.point.x, drop.point.x);
    EXPECT_EQ(dropRead.point.y, drop.point.y);
    EXPECT_EQ(dropRead.pointResult, drop.pointResult);
    EXPECT_EQ(dropRead.goneAfterFinish, drop.goneAfterFinish);
}

TEST(PlayerProtocolTest, EveryBehaviourCrossesUnchanged) {
    const PlayerBehaviour cases[] = {
        {kReplyAtOnce, 0, nullptr, 0, 0, false, false, 0},
        {kHang, 20000, nullptr, 0, 0, true, false, 0},
        {kBusy, 0xFFFFFFFF, nullptr, 0, 0, false, true, WM_NULL},
        {kCallBack, 0, Handle(0x60060), WM_APP + 7, 0xFFFFFFFF, false, false, 0},
        {kDestroyThenHang, 3000, nullptr, 0, 0, true, true, WM_WINDOWPOSCHANGING},
    };
    for (const PlayerBehaviour &sent : cases) {
        SCOPED_TRACE(sent.kind);
        PlayerBehaviourData wire = PackBehaviour(sent);
        PlayerBehaviour read;
        read.kind = kHang;
        read.keep = !sent.keep;
        ASSERT_TRUE(UnpackBehaviour(&wire, sizeof wire, &read));
        EXPECT_EQ(read.kind, sent.kind);
        EXPECT_EQ(read.ms, sent.ms);
        EXPECT_EQ(read.target, sent.target);
        EXPECT_EQ(read.message, sent.message);
        EXPECT_EQ(read.wParam, sent.wParam);
        EXPECT_EQ(read.keep, sent.keep);
        EXPECT_EQ(read.onMessage, sent.onMessage);
        EXPECT_EQ(read.trigger, sent.trigger);
        EXPECT_FALSE(UnpackBehaviour(&wire, sizeof wire - 1, &read)) << "a short block";
    }
    PlayerBehaviourData unknown = PackBehaviour(PlayerBehaviour());
    unknown.kind = kDestroyThenHang + 1;
    PlayerBehaviour read;
    EXPECT_FALSE(UnpackBehaviour(&unknown, sizeof unknown, &read)) << "a kind the player does not know";
}

// ---- The command line, split as the C runtime splits it.

static std::vector<std::string> SplitAsTheRuntimeDoes(const std::string &line) {
    int wideLength = MultiByteToWideChar(CP_ACP, 0, line.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(wideLength), L'\0');
    MultiByteToWideChar(CP_ACP, 0, line.c_str(), -1, &wide[0], wideLength);
    int count = 0;
    LPWSTR *arguments = CommandLineToArgvW(wide.c_str(), &count);
    std::vector<std::string> split;
    for (int i = 0; arguments != nullptr && i < count; ++i) {
        int length = WideCharToMultiByte(CP_ACP, 0, arguments[i], -1, nullptr, 0, nullptr, nullptr);
        std::string narrow(static_cast<size_t>(length), '\0');
        WideCharToMultiByte(CP_ACP, 0, arguments[i], -1, &narrow[0], length, nullptr, nullptr);
        narrow.resize(narrow.size() - 1);
        split.push_back(narrow);
    }
    LocalFree(arguments);
    return split;
}

// Only what crosses the command line: the mode, the echo and the ready wait stay with the starter.
static void ExpectSameStart(const PlayerOptions &a, const PlayerStart &aStart, const PlayerOptions &b,
                            const PlayerStart &bStart) {
    EXPECT_EQ(a.mainWindowCount, b.mainWindowCount);
    EXPECT_EQ(a.mainClass, b.mainClass);
    EXPECT_EQ(a.mainTitle, b.mainTitle);
    EXPECT_EQ(a.frame, b.frame);
    EXPECT_EQ(a.frameClass, b.frameClass);
    EXPECT_EQ(a.frameTitle, b.frameTitle);
    EXPECT_EQ(a.frameX, b.frameX);
    EXPECT_EQ(a.frameY, b.frameY);
    EXPECT_EQ(a.frameWidth, b.frameWidth);
    EXPECT_EQ(a.frameHeight, b.frameHeight);
    EXPECT_EQ(a.inner, b.inner);
    EXPECT_EQ(a.innerClass, b.innerClass);
    EXPECT_EQ(a.paneClass, b.paneClass);
    EXPECT_EQ(a.decoyFrameTitles, b.decoyFrameTitles);
    EXPECT_EQ(a.decoyFramesHaveInner, b.decoyFramesHaveInner);
    EXPECT_EQ(a.visible, b.visible);
    EXPECT_EQ(a.drops, b.drops);
    EXPECT_EQ(a.reply, b.reply);
    EXPECT_EQ(aStart.lifetimeSeconds, bStart.lifetimeSeconds);
    EXPECT_EQ(aStart.quiet, bStart.quiet);
}

TEST(PlayerProtocolTest, TheCommandLineIsReadBackAsWritten) {
    struct Case {
        const char *what;
        PlayerOptions options;
        PlayerStart start;
    };
    std::vector<Case> cases;
    cases.push_back({"every default", PlayerOptions(), PlayerStart()});
    Case texts = {"texts with blanks, quotes and backslashes", PlayerOptions(), PlayerStart()};
    texts.options.mainTitle = "Winamp \"3\" player";
    texts.options.mainClass = "ends in a backslash\\";
    texts.options.frameTitle = "C:\\a folder\\";
    texts.options.frameClass = "\\\"quoted\\\\\" \\\\";
    texts.options.innerClass = "\t tab \t";
    texts.options.paneClass = "";
    cases.push_back(texts);
    Case empty = {"empty names", PlayerOptions(), PlayerStart()};
    empty.options.mainTitle = empty.options.frameTitle = empty.options.frameClass = "";
    cases.push_back(empty);
    Case decoys = {"decoys, hidden, no frame, quiet", PlayerOptions(), PlayerStart()};
    decoys.options.decoyFrameTitles = {"avs ", "", "avs2", "\"", "Avs editor\\"};
    decoys.options.decoyFramesHaveInner = true;
    decoys.options.frame = false;
    decoys.options.visible = false;
    decoys.options.mainWindowCount = 0;
    decoys.start.quiet = true;
    decoys.start.lifetimeSeconds = 0;
    cases.push_back(decoys);
    for (InnerPlacement inner : {kInnerNone, kInnerChild, kInnerGrandchild, kInnerTopLevel}) {
        Case placement = {"a placement", PlayerOptions(), PlayerStart()};
        placement.options.inner = inner;
        placement.options.mainWindowCount = 2;
        placement.options.frameX = -300;
        placement.options.frameY = -1;
        placement.options.frameWidth = 1;
        placement.options.frameHeight = 4000;
        cases.push_back(placement);
    }
    for (DropReading drops : {kDropsAuto, kDropsRead, kDropsCountOnly}) {
        Case reading = {"a drop reading", PlayerOptions(), PlayerStart()};
        reading.options.drops = drops;
        reading.start.lifetimeSeconds = 86400;
        cases.push_back(reading);
    }
    for (int32_t reply : {-1, INT32_MIN, INT32_MAX, static_cast<int32_t>(0xFFFF8000u), 65535}) {
        Case replying = {"a reply", PlayerOptions(), PlayerStart()};
        replying.options.reply = reply;
        cases.push_back(replying);
    }
    const std::string exe = "C:\\Program Files\\vx player\\vxplayer.exe";
    for (const Case &c : cases) {
        std::string line = PlayerCommandLine(exe, c.options, c.start);
        SCOPED_TRACE(std::string(c.what) + ": " + line);
        std::vector<std::string> split = SplitAsTheRuntimeDoes(line);
        ASSERT_FALSE(split.empty());
        EXPECT_EQ(split[0], exe);
        std::vector<const char *> argv;
        for (const std::string &argument : split) argv.push_back(argument.c_str());
        PlayerOptions options;
        PlayerStart start;
        std::string error;
        ASSERT_TRUE(ParsePlayerArguments(static_cast<int>(argv.size()), argv.data(), &options, &start, &error)) << error;
        ExpectSameStart(options, start, c.options, c.start);
    }
}

TEST(PlayerProtocolTest, ArgumentsItCannotReadAreRefusedWithTheReason) {
    struct Case {
        std::vector<const char *> argv;
        const char *error;
    };
    const Case cases[] = {
        {{"vxplayer", "--frame"}, "--frame: unknown option or missing value"},
        {{"vxplayer", "--mains"}, "--mains: unknown option or missing value"},
        {{"vxplayer", "--colour", "red"}, "--colour: unknown option"},
        {{"vxplayer", "--mains", "17"}, "--mains: bad value \"17\""},
        {{"vxplayer", "--reply", "4294967296"}, "--reply: bad value \"4294967296\""},
        {{"vxplayer", "--reply", "-2147483649"}, "--reply: bad value \"-2147483649\""},
        {{"vxplayer", "--inner", "Child"}, "--inner: bad value \"Child\""},
        {{"vxplayer", "--drops", ""}, "--drops: bad value \"\""},
        {{"vxplayer", "--frame-rect", "1,2,3"}, "--frame-rect: bad value \"1,2,3\""},
        {{"vxplayer", "--frame-rect", "1,2,3,4,"}, "--frame-rect: bad value \"1,2,3,4,\""},
        {{"vxplayer", "--lifetime", "86401"}, "--lifetime: bad value \"86401\""},
    };
    for (const Case &c : cases) {
        PlayerOptions options;
        PlayerStart start;
        std::string error;
        EXPECT_FALSE(ParsePlayerArguments(static_cast<int>(c.argv.size()), c.argv.data(), &options, &start, &error));
        EXPECT_EQ(error, c.error);
    }
}
