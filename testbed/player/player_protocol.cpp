// vxavs test bed: the stand-in player's protocol, both directions of each part (see player_protocol.h).

#include "player_protocol.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

// ---- The ready line.

static std::string HandleText(HWND window) { return std::to_string(reinterpret_cast<uintptr_t>(window)); }

static std::string HandleList(const std::vector<HWND> &windows) {
    std::string list;
    for (HWND window : windows) list += (list.empty() ? "" : ",") + HandleText(window);
    return list;
}

static const char kReadyPrefix[] = "player: ready ";

std::string PlayerReadyLine(const PlayerWindows &windows) {
    return kReadyPrefix + std::string("control=") + HandleText(windows.control) + " main=" + HandleList(windows.mains) +
           " frame=" + HandleText(windows.frame) + " pane=" + HandleText(windows.pane) +
           " inner=" + HandleText(windows.inner) + " decoys=" + HandleList(windows.decoyFrames) +
           " decoyinners=" + HandleList(windows.decoyInners);
}

std::string PlayerWakeEventName(DWORD processId) { return "vxplayer wake " + std::to_string(processId); }

// A 0 stands for a window not made: no handle in a list, a null one alone.
static std::vector<HWND> ParseHandles(const std::string &text) {
    std::vector<HWND> windows;
    const char *at = text.c_str();
    while (*at != '\0') {
        char *end;
        unsigned long value = strtoul(at, &end, 10);
        if (end == at) break;
        windows.push_back(reinterpret_cast<HWND>(static_cast<uintptr_t>(value)));
        at = *end == ',' ? end + 1 : end;
    }
    return windows;
}

bool ParsePlayerReadyLine(const std::string &line, PlayerWindows *windows) {
    const std::string prefix = kReadyPrefix;
    if (line.compare(0, prefix.size(), prefix) != 0) return false;
    *windows = PlayerWindows();
    size_t at = prefix.size();
    while (at < line.size()) {
        size_t end = line.find(' ', at);
        if (end == std::string::npos) end = line.size();
        std::string field = line.substr(at, end - at);
        at = end + 1;
        size_t equals = field.find('=');
        if (equals == std::string::npos) continue;
        std::string key = field.substr(0, equals);
        std::vector<HWND> handles = ParseHandles(field.substr(equals + 1));
        HWND first = handles.empty() ? nullptr : handles[0];
        if (key == "control") windows->control = first;
        else if (key == "main") windows->mains = handles;
        else if (key == "frame") windows->frame = first;
        else if (key == "pane") windows->pane = first;
        else if (key == "inner") windows->inner = first;
        else if (key == "decoys") windows->decoyFrames = handles;
        else if (key == "decoyinners") windows->decoyInners = handles;
    }
    return windows->control != nullptr;
}

// ---- Record fields: where each lives in its record, one table a record, so that the player's
// reading and the asker's writing cannot drift apart. A field crosses as its 32 bits, a bool as 0 or 1.

static_assert(sizeof(LRESULT) == sizeof(uint32_t), "a message result carries 32 bits");

struct FieldRef {
    void *at;  // nullptr: no such field
    size_t size;
};

template <typename T>
static FieldRef Field(T *member) {
    static_assert(sizeof(T) == sizeof(uint32_t) || sizeof(T) == sizeof(bool), "a field of 32 bits or a bool");
    return {member, sizeof(T)};
}

static FieldRef CommandField(PlayerCommand *c, int field) {
    const FieldRef fields[kCommandFieldCount] = {Field(&c->message), Field(&c->wParam),   Field(&c->lParam),
                                                 Field(&c->reply),   Field(&c->answered), Field(&c->window)};
    return field >= 0 && field < kCommandFieldCount ? fields[field] : FieldRef{nullptr, 0};
}

static FieldRef DropField(PlayerDrop *d, int field) {
    const FieldRef fields[kDropFieldCount] = {
        Field(&d->window),    Field(&d->handle),  Field(&d->read),        Field(&d->blockSize),      Field(&d->fileCount),
        Field(&d->point.x),   Field(&d->point.y), Field(&d->pointResult), Field(&d->goneAfterFinish)};
    return field >= 0 && field < kDropFieldCount ? fields[field] : FieldRef{nullptr, 0};
}

static LRESULT ReadField(FieldRef field) {
    if (field.at == nullptr) return 0;
    if (field.size == sizeof(bool)) return *static_cast<const bool *>(field.at) ? 1 : 0;
    uint32_t bits;
    memcpy(&bits, field.at, sizeof bits);
    return static_cast<LRESULT>(bits);
}

static void WriteField(FieldRef field, LRESULT value) {
    if (field.at == nullptr) return;
    if (field.size == sizeof(bool)) {
        *static_cast<bool *>(field.at) = value != 0;
        return;
    }
    uint32_t bits = static_cast<uint32_t>(value);
    memcpy(field.at, &bits, sizeof bits);
}

// The records are only read through these; the casts let one table serve both directions.
LRESULT CommandFieldValue(const PlayerCommand &command, int field) {
    return ReadField(CommandField(const_cast<PlayerCommand *>(&command), field));
}
void SetCommandField(PlayerCommand *command, int field, LRESULT value) { WriteField(CommandField(command, field), value); }
LRESULT DropFieldValue(const PlayerDrop &drop, int field) {
    return ReadField(DropField(const_cast<PlayerDrop *>(&drop), field));
}
void SetDropField(PlayerDrop *drop, int field, LRESULT value) { WriteField(DropField(drop, field), value); }

// ---- The behaviour block.

PlayerBehaviourData PackBehaviour(const PlayerBehaviour &behaviour) {
    return {static_cast<uint32_t>(behaviour.kind), behaviour.ms,
            static_cast<uint32_t>(reinterpret_cast<uintptr_t>(behaviour.target)), behaviour.message, behaviour.wParam,
            behaviour.keep ? 1u : 0u, behaviour.onMessage ? 1u : 0u, behaviour.trigger};
}

bool UnpackBehaviour(const void *data, size_t size, PlayerBehaviour *behaviour) {
    PlayerBehaviourData wire;
    if (data == nullptr || size != sizeof wire) return false;
    memcpy(&wire, data, sizeof wire);
    if (wire.kind > kDestroyThenHang) return false;
    behaviour->kind = static_cast<CommandBehaviourKind>(wire.kind);
    behaviour->ms = wire.ms;
    behaviour->target = reinterpret_cast<HWND>(static_cast<uintptr_t>(wire.target));
    behaviour->message = wire.message;
    behaviour->wParam = wire.wParam;
    behaviour->keep = wire.keep != 0;
    behaviour->onMessage = wire.onMessage != 0;
    behaviour->trigger = wire.trigger;
    return true;
}

// ---- The command line.

static const char *const kPlacements[] = {"none", "child", "grandchild", "toplevel"};
static const char *const kDropModes[] = {"auto", "read", "count"};

// One argument quoted as the C runtime splits command lines: backslashes double only before a quote.
static std::string QuoteArgument(const std::string &argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}

// Options without a value: each given sets one switch to `given`.
struct SwitchOption {
    const char *name;
    bool *target;
    bool given;
};
static std::vector<SwitchOption> SwitchOptions(PlayerOptions *options, PlayerStart *start) {
    return {{"--no-frame", &options->frame, false}, {"--decoy-inner", &options->decoyFramesHaveInner, true},
            {"--hidden", &options->visible, false}, {"--quiet", &start->quiet, true}};
}

// Options whose value is a text taken as it is.
struct TextOption {
    const char *name;
    std::string *target;
};
static std::vector<TextOption> TextOptions(PlayerOptions *options) {
    return {{"--main-class", &options->mainClass},   {"--main-title", &options->mainTitle},
            {"--frame-class", &options->frameClass}, {"--frame-title", &options->frameTitle},
            {"--inner-class", &options->innerClass}, {"--pane-class", &options->paneClass}};
}

std::string PlayerCommandLine(const std::string &exe, const PlayerOptions &options, const PlayerStart &start) {
    // The tables only read here.
    PlayerOptions shown = options;
    PlayerStart shownStart = start;
    std::string line = QuoteArgument(exe);
    auto add = [&line](const std::string &name, const std::string &value) {
        line += " " + name + " " + QuoteArgument(value);
    };
    for (const SwitchOption &option : SwitchOptions(&shown, &shownStart))
        if (*option.target == option.given) line += std::string(" ") + option.name;
    for (const TextOption &option : TextOptions(&shown)) add(option.name, *option.target);
    add("--mains", std::to_string(options.mainWindowCount));
    add("--frame-rect", std::to_string(options.frameX) + "," + std::to_string(options.frameY) + "," +
                            std::to_string(options.frameWidth) + "," + std::to_string(options.frameHeight));
    add("--inner", kPlacements[options.inner]);
    for (const std::string &title : options.decoyFrameTitles) add("--decoy-frame", title);
    add("--reply", std::to_string(options.reply));
    add("--drops", kDropModes[options.drops]);
    add("--lifetime", std::to_string(start.lifetimeSeconds));
    return line;
}

static bool ParseInt(const char *text, long long low, long long high, long long *value) {
    char *end;
    // Numbers may be written in decimal or 0x hex; a reply may also be given as its unsigned 32-bit form.
    long long parsed = text[0] == '-' ? strtoll(text, &end, 0) : static_cast<long long>(strtoull(text, &end, 0));
    if (end == text || *end != '\0' || parsed < low || parsed > high) return false;
    *value = parsed;
    return true;
}

static bool ParseRect(const char *text, PlayerOptions *options) {
    int x, y, width, height;
    char tail;
    if (sscanf(text, "%d,%d,%d,%d%c", &x, &y, &width, &height, &tail) != 4) return false;
    options->frameX = x;
    options->frameY = y;
    options->frameWidth = width;
    options->frameHeight = height;
    return true;
}

// The word's index in a list of names, or -1.
template <size_t N>
static int NameIndex(const char *const (&names)[N], const char *word) {
    for (size_t i = 0; i < N; ++i)
        if (strcmp(names[i], word) == 0) return static_cast<int>(i);
    return -1;
}

// One option with a value; false when the value is bad, unknown set when the name is no option.
static bool ParseValueOption(const char *name, const char *value, PlayerOptions *options, PlayerStart *start,
                             bool *unknown) {
    for (const TextOption &option : TextOptions(options)) {
        if (strcmp(name, option.name) != 0) continue;
        *option.target = value;
        return true;
    }
    long long number = 0;
    int index;
    if (strcmp(name, "--mains") == 0) {
        if (!ParseInt(value, 0, 16, &number)) return false;
        options->mainWindowCount = static_cast<int>(number);
    } else if (strcmp(name, "--frame-rect") == 0) {
        return ParseRect(value, options);
    } else if (strcmp(name, "--inner") == 0) {
        if ((index = NameIndex(kPlacements, value)) < 0) return false;
        options->inner = static_cast<InnerPlacement>(index);
    } else if (strcmp(name, "--decoy-frame") == 0) {
        options->decoyFrameTitles.push_back(value);
    } else if (strcmp(name, "--reply") == 0) {
        if (!ParseInt(value, INT32_MIN, UINT32_MAX, &number)) return false;
        options->reply = static_cast<int32_t>(static_cast<uint32_t>(number));
    } else if (strcmp(name, "--drops") == 0) {
        if ((index = NameIndex(kDropModes, value)) < 0) return false;
        options->drops = static_cast<DropReading>(index);
    } else if (strcmp(name, "--lifetime") == 0) {
        if (!ParseInt(value, 0, 86400, &number)) return false;
        start->lifetimeSeconds = static_cast<int>(number);
    } else {
        *unknown = true;
        return false;
    }
    return true;
}

bool ParsePlayerArguments(int argc, const char *const *argv, PlayerOptions *options, PlayerStart *start,
                          std::string *error) {
    std::vector<SwitchOption> switches = SwitchOptions(options, start);
    for (int i = 1; i < argc; ++i) {
        const char *name = argv[i];
        const SwitchOption *found = nullptr;
        for (const SwitchOption &option : switches)
            if (strcmp(name, option.name) == 0) found = &option;
        if (found != nullptr) {
            *found->target = found->given;
            continue;
        }
        if (i + 1 >= argc) {
            *error = std::string(name) + ": unknown option or missing value";
            return false;
        }
        const char *value = argv[++i];
        bool unknown = false;
        if (!ParseValueOption(name, value, options, start, &unknown)) {
            *error = std::string(name) + (unknown ? ": unknown option" : ": bad value \"" + std::string(value) + "\"");
            return false;
        }
    }
    return true;
}

LRESULT ProbeFieldValue(const PlayerProbe &probe, int field) {
    switch (field) {
    case kProbeFieldWindow: return reinterpret_cast<LRESULT>(probe.window);
    case kProbeFieldTick: return static_cast<LRESULT>(probe.answeredTick);
    }
    return 0;
}

void SetProbeField(PlayerProbe *probe, int field, LRESULT value) {
    switch (field) {
    case kProbeFieldWindow: probe->window = reinterpret_cast<HWND>(value); break;
    case kProbeFieldTick: probe->answeredTick = static_cast<DWORD>(value); break;
    }
}
