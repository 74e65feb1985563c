// vxavs test bed: `vxhost --check`. Looks for the player's windows with the plug-in's own rules, probes
// them, compares the player's rights with ours, and says in plain words what would work and what not.

#include "host_check.h"

#include <windows.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "../../player/window_names.h"
#include "standin_host.h"

namespace {

std::string ClassOf(HWND window) {
    char text[256] = {};
    GetClassNameA(window, text, 255);
    return text;
}

// For a window of another process this reads the text Windows keeps; it sends nothing, so a hung
// player cannot stop it.
std::string TitleOf(HWND window) {
    char text[256] = {};
    GetWindowTextA(window, text, 255);
    return text;
}

struct Survey {
    HWND main = nullptr;
    HWND frame = nullptr;
    bool frameClassSeen = false;         // some top-level window of the frame's class, whatever its title
    std::vector<std::string> otherTitles;  // titles of such windows that are not the frame's
    HWND inner = nullptr;                // the first window of the inner class below the frame
    HWND innerElsewhere = nullptr;       // one that is not below the frame
};

BOOL CALLBACK SurveyTopLevel(HWND window, LPARAM context) {
    Survey *survey = reinterpret_cast<Survey *>(context);
    std::string className = ClassOf(window);
    if (survey->main == nullptr && NamesMatch(className, kWnpMainClass)) survey->main = window;
    if (NamesMatch(className, kAVSFrameClass)) {
        survey->frameClassSeen = true;
        std::string title = TitleOf(window);
        if (survey->frame == nullptr && NamesMatch(title, kAVSFrameTitle)) survey->frame = window;
        else if (!NamesMatch(title, kAVSFrameTitle)) survey->otherTitles.push_back(title);
    }
    return TRUE;
}

BOOL CALLBACK FindInnerBelow(HWND window, LPARAM found) {
    if (!NamesMatch(ClassOf(window), kAVSInnerClass)) return TRUE;
    *reinterpret_cast<HWND *>(found) = window;
    return FALSE;
}

struct ElsewhereSearch {
    HWND frame;
    HWND found;
};

// Every top-level window but the frame, itself and everything below it.
BOOL CALLBACK FindInnerElsewhere(HWND window, LPARAM context) {
    ElsewhereSearch *search = reinterpret_cast<ElsewhereSearch *>(context);
    if (window == search->frame) return TRUE;
    if (NamesMatch(ClassOf(window), kAVSInnerClass)) search->found = window;
    else EnumChildWindows(window, FindInnerBelow, reinterpret_cast<LPARAM>(&search->found));
    return search->found == nullptr;
}

// Where an inner window outside the frame lives: on its own, or inside which top-level window (a
// publication's page when embedded by another publication).
std::string WhereElse(HWND inner) {
    std::string exists = std::string("; an '") + kAVSInnerClass + "' window exists but outside the frame, ";
    HWND root = GetAncestor(inner, GA_ROOT);
    if (root == nullptr || root == inner) return exists + "as a window of its own";
    return exists + "inside a '" + ClassOf(root) + "' window titled \"" + TitleOf(root) + "\"";
}

Survey TakeSurvey() {
    Survey survey;
    EnumWindows(SurveyTopLevel, reinterpret_cast<LPARAM>(&survey));
    if (survey.frame != nullptr) EnumChildWindows(survey.frame, FindInnerBelow, reinterpret_cast<LPARAM>(&survey.inner));
    ElsewhereSearch search = {survey.frame, nullptr};
    EnumWindows(FindInnerElsewhere, reinterpret_cast<LPARAM>(&search));
    survey.innerElsewhere = search.found;
    return survey;
}

enum Response { kResponds, kHung, kNoAnswer, kRefused, kGone };

// Windows of one thread answer or not together, so each thread is probed once: a hung player costs
// the bound once, not once per window.
Response Probe(HWND window, std::map<DWORD, Response> *byThread) {
    DWORD thread = GetWindowThreadProcessId(window, nullptr);
    auto known = byThread->find(thread);
    if (thread != 0 && known != byThread->end()) return known->second;
    Response response;
    DWORD_PTR result = 0;
    if (IsHungAppWindow(window)) {
        response = kHung;
    } else {
        SetLastError(0);
        if (SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kRespondMs, &result) != 0) {
            response = kResponds;
        } else {
            DWORD error = GetLastError();
            response = error == ERROR_INVALID_WINDOW_HANDLE ? kGone : error == ERROR_ACCESS_DENIED ? kRefused : kNoAnswer;
        }
    }
    if (thread != 0) (*byThread)[thread] = response;
    return response;
}

std::string DescribeResponse(Response response) {
    char noAnswer[80];
    switch (response) {
    case kResponds: return "found, responds";
    case kHung: return "found, but does not respond (Windows reports the player hung)";
    case kNoAnswer:
        snprintf(noAnswer, sizeof noAnswer, "found, but does not respond (no answer within %g seconds)",
                 kRespondMs / 1000.0);
        return noAnswer;
    case kRefused: return "found, but Windows refused to pass it a message (the player runs with higher rights)";
    case kGone: return "found, but it closed while being checked";
    }
    return "";
}

std::string Quoted(const std::vector<std::string> &texts) {
    std::string joined;
    for (size_t i = 0; i < texts.size() && i < 5; ++i) joined += (i ? ", \"" : "\"") + texts[i] + "\"";
    if (texts.size() > 5) joined += ", ...";
    return joined;
}

// ---- Rights: the integrity level of a process's token.

enum Rights { kRightsKnown, kRightsRefused, kRightsNotReported, kRightsUnknown };

Rights TokenLevel(HANDLE process, DWORD *level, DWORD *error) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token)) {
        *error = GetLastError();
        return *error == ERROR_ACCESS_DENIED ? kRightsRefused : kRightsUnknown;
    }
    // TOKEN_MANDATORY_LABEL and its SID; 64 bytes hold any integrity SID.
    DWORD buffer[32] = {};
    DWORD length = 0;
    Rights rights = kRightsKnown;
    if (!GetTokenInformation(token, TokenIntegrityLevel, buffer, sizeof buffer, &length)) {
        *error = GetLastError();
        // Windows before Vista knows no integrity levels and rejects the class.
        rights = *error == ERROR_INVALID_PARAMETER ? kRightsNotReported : kRightsUnknown;
    } else {
        PSID sid = reinterpret_cast<TOKEN_MANDATORY_LABEL *>(buffer)->Label.Sid;
        UCHAR count = *GetSidSubAuthorityCount(sid);
        *level = count ? *GetSidSubAuthority(sid, count - 1) : 0;
    }
    CloseHandle(token);
    return rights;
}

Rights ProcessLevel(DWORD processId, DWORD *level, DWORD *error) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    // Windows XP does not know the limited right.
    if (process == nullptr) process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId);
    if (process == nullptr) {
        *error = GetLastError();
        return *error == ERROR_ACCESS_DENIED ? kRightsRefused : kRightsUnknown;
    }
    Rights rights = TokenLevel(process, level, error);
    CloseHandle(process);
    return rights;
}

std::string LevelName(DWORD level) {
    if (level >= SECURITY_MANDATORY_SYSTEM_RID) return "system";
    if (level >= SECURITY_MANDATORY_HIGH_RID) return "high, as administrator";
    if (level >= SECURITY_MANDATORY_MEDIUM_RID) return "medium";
    if (level >= SECURITY_MANDATORY_LOW_RID) return "low";
    return "untrusted";
}

// ---- DPI awareness: Windows 10 1607 and later only, so looked up at run time.

typedef HANDLE DpiContext;
typedef DpiContext(WINAPI *WindowDpiContextFn)(HWND);
typedef DpiContext(WINAPI *ThreadDpiContextFn)(void);
typedef int(WINAPI *AwarenessFn)(DpiContext);

std::string AwarenessName(int awareness) {
    switch (awareness) {
    case 0: return "unaware";
    case 1: return "system aware";
    case 2: return "per-monitor aware";
    }
    return "unknown";
}

std::string DpiLine(HWND playerWindow) {
    HMODULE user32 = GetModuleHandleA("user32.dll");
    WindowDpiContextFn windowContext = reinterpret_cast<WindowDpiContextFn>(
        reinterpret_cast<void *>(GetProcAddress(user32, "GetWindowDpiAwarenessContext")));
    ThreadDpiContextFn threadContext = reinterpret_cast<ThreadDpiContextFn>(
        reinterpret_cast<void *>(GetProcAddress(user32, "GetThreadDpiAwarenessContext")));
    AwarenessFn awarenessOf = reinterpret_cast<AwarenessFn>(
        reinterpret_cast<void *>(GetProcAddress(user32, "GetAwarenessFromDpiAwarenessContext")));
    if (windowContext == nullptr || threadContext == nullptr || awarenessOf == nullptr)
        return "DPI awareness: not reported by this Windows";
    std::string ours = AwarenessName(awarenessOf(threadContext()));
    if (playerWindow == nullptr) return "DPI awareness: player not running, this check " + ours;
    std::string player = AwarenessName(awarenessOf(windowContext(playerWindow)));
    std::string line = "DPI awareness: player " + player + ", this check " + ours;
    if (player != ours) line += " (they differ: on a scaled display an embedded visualizer may be sized unlike the page)";
    return line;
}

// ---- The plug-in's version, read from its file without loading it.

std::string FolderAbove(const std::string &path) {
    size_t slash = path.find_last_of("\\/");
    if (slash == std::string::npos) return "";
    std::string folder = path.substr(0, slash);
    size_t above = folder.find_last_of("\\/");
    return above == std::string::npos ? "" : folder.substr(0, above + 1);
}

bool FileExists(const std::string &path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string PlugInLine(const std::string &given) {
    std::string path = given;
    if (path.empty()) {
        // Beside vxhost.exe when built; the release keeps vxhost.exe in tools\ and the DLL above it.
        path = FileBesideProgram("vxavs.dll");
        std::string above = FolderAbove(path) + "vxavs.dll";
        if (!FileExists(path) && FileExists(above)) path = above;
    }
    char full[MAX_PATH] = {};
    DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    if (length > 0 && length < MAX_PATH) path = full;
    if (!FileExists(path)) {
        if (!given.empty()) return "Plug-in: " + path + " not found";
        return "Plug-in: no vxavs.dll beside vxhost.exe or in the folder above it (name it with --plugin PATH)";
    }
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    std::vector<char> info(size ? size : 1);
    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT fixedLength = 0;
    if (size == 0 || !GetFileVersionInfoA(path.c_str(), 0, size, info.data()) ||
        !VerQueryValueA(info.data(), "\\", reinterpret_cast<void **>(&fixed), &fixedLength) ||
        fixedLength < sizeof *fixed)
        return "Plug-in: " + path + " carries no version (not a vxavs release?)";
    char version[64];
    snprintf(version, sizeof version, "%u.%u.%u", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
             HIWORD(fixed->dwFileVersionLS));
    return std::string("Plug-in: version ") + version + " (" + path + ")";
}

}  // namespace

int RunHostCheck(const std::string &plugInPath) {
    Survey survey = TakeSurvey();
    std::map<DWORD, Response> byThread;

    // Player main window: what vxWnpCommand sends to.
    Response mainResponse = kGone;
    if (survey.main == nullptr) {
        printf("Player main window: not found (no window of class '%s'; is the player running?)\n", kWnpMainClass);
    } else {
        mainResponse = Probe(survey.main, &byThread);
        printf("Player main window: %s\n", DescribeResponse(mainResponse).c_str());
    }

    // Visualizer frame and inner window: what vxAVSDropFile and vxAVSEmbed look for.
    Response frameResponse = kGone, innerResponse = kGone;
    if (survey.frame != nullptr) {
        frameResponse = Probe(survey.frame, &byThread);
        printf("Visualizer frame: %s\n", DescribeResponse(frameResponse).c_str());
    } else if (survey.frameClassSeen) {
        printf("Visualizer frame: not found: a '%s' window exists but none is titled '%s' (titles seen: %s)\n",
               kAVSFrameClass, kAVSFrameTitle, Quoted(survey.otherTitles).c_str());
    } else {
        printf("Visualizer frame: not found (no window of class '%s'; is the visualizer open?)\n", kAVSFrameClass);
    }
    std::string elsewhere = survey.innerElsewhere != nullptr ? WhereElse(survey.innerElsewhere) : "";
    if (survey.inner != nullptr) {
        innerResponse = Probe(survey.inner, &byThread);
        printf("Visualizer inner window: %s\n", DescribeResponse(innerResponse).c_str());
    } else if (survey.frame != nullptr) {
        printf("Visualizer inner window: not found: the frame holds no '%s' window%s\n", kAVSInnerClass,
               elsewhere.c_str());
    } else {
        printf("Visualizer inner window: not looked for without the frame%s\n", elsewhere.c_str());
    }

    // Rights: a player with higher rights than the publication refuses its messages.
    HWND playerWindow = survey.inner ? survey.inner : survey.frame ? survey.frame : survey.main;
    bool higherRights = false;
    if (playerWindow == nullptr) {
        printf("Player's rights: no player window to look at\n");
    } else {
        DWORD processId = 0;
        GetWindowThreadProcessId(playerWindow, &processId);
        DWORD playerLevel = 0, ourLevel = 0, error = 0;
        Rights player = ProcessLevel(processId, &playerLevel, &error);
        Rights ours = player == kRightsKnown ? TokenLevel(GetCurrentProcess(), &ourLevel, &error) : player;
        if (player == kRightsRefused) {
            higherRights = true;
            printf("Player's rights: access to the player's process was refused: it runs with higher rights than "
                   "this check\n");
        } else if (player == kRightsNotReported || ours == kRightsNotReported) {
            printf("Player's rights: not reported by this Windows\n");
        } else if (player != kRightsKnown || ours != kRightsKnown) {
            printf("Player's rights: could not be read (error %lu)\n", error);
        } else if (playerLevel > ourLevel) {
            higherRights = true;
            printf("Player's rights: higher than this check's (player %s, this check %s)\n", LevelName(playerLevel).c_str(),
                   LevelName(ourLevel).c_str());
        } else if (playerLevel < ourLevel) {
            printf("Player's rights: lower than this check's (player %s, this check %s), no obstacle\n",
                   LevelName(playerLevel).c_str(), LevelName(ourLevel).c_str());
        } else {
            printf("Player's rights: the same as this check's (%s)\n", LevelName(playerLevel).c_str());
        }
    }

    printf("%s\n", DpiLine(playerWindow).c_str());
    printf("%s\n", PlugInLine(plugInPath).c_str());

    // What each action would report now, in the order the plug-in meets the causes.
    if (mainResponse == kRefused || frameResponse == kRefused || innerResponse == kRefused) higherRights = true;
    std::string command, drop, embed, release;
    if (survey.main == nullptr || mainResponse == kHung || mainResponse == kNoAnswer || mainResponse == kGone)
        command = "ERROR5";
    else if (higherRights) command = "ERROR7";
    if (survey.frame == nullptr) drop = embed = "ERROR1";
    else if (survey.inner == nullptr) drop = embed = "ERROR6";
    else {
        // A post never waits: a hung visualizer reads the drop when it wakes.
        if (higherRights) drop = "ERROR7";
        if (innerResponse == kHung || innerResponse == kNoAnswer) embed = "ERROR5";
        else if (higherRights) embed = "ERROR7";
        else if (frameResponse == kHung || frameResponse == kNoAnswer) release = "ERROR5";
    }

    std::vector<std::string> failures;
    if (!command.empty()) failures.push_back("vxWnpCommand would give " + command);
    if (!drop.empty() && drop == embed) failures.push_back("vxAVSDropFile and vxAVSEmbed would give " + drop);
    else {
        if (!drop.empty()) failures.push_back("vxAVSDropFile would give " + drop);
        if (!embed.empty()) failures.push_back("vxAVSEmbed would give " + embed);
    }
    if (!release.empty()) failures.push_back("giving the visualizer back would give " + release);
    // Responses start as kGone for windows not found; only a found one that vanished counts here.
    if ((survey.frame != nullptr && frameResponse == kGone) || (survey.inner != nullptr && innerResponse == kGone))
        failures.push_back("the visualizer closed while being checked: check again");
    if (failures.empty()) {
        printf("Verdict: every action could work now\n");
        return kCheckAllCouldWork;
    }
    std::string verdict = "Verdict: not every action could work now: ";
    for (size_t i = 0; i < failures.size(); ++i) verdict += (i ? "; " : "") + failures[i];
    printf("%s\n", verdict.c_str());
    return kCheckSomethingFails;
}
