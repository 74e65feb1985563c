// vxavs tests: the plug-in waits for the visualizer's thread at most 2 s. An embedding or release asks
// that thread for a sign of life (WM_NULL, sent with the bound from the plug-in's helper thread), then
// has the helper move the window, the host's thread waiting a moment longer than the bound for the whole
// job. Under emulation on a loaded machine the stand-in visualizer may honestly take longer, and
// "ERROR5" is then right; where the visualizer answered within the bound it is a fault. The stand-in
// player records when it answered each probe, and the test bed when each probe was sent and returned.
#pragma once

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "standin_host.h"
#include "standin_player.h"

// The bound as promised, not as built: a plug-in that waits less must show.
const DWORD kVisualizerBoundMs = 2000;
const DWORD kTickSlackMs = 50;  // GetTickCount moves in steps of about 16 ms

// Why giving up on a failed probe is a fault, or "" when the visualizer honestly did not answer within
// the bound: the probe waited that long (or returned at once for a thread the system reported hung), and
// the player answered no probe of that window sooner. A probe of window 0 went to one of the player's
// windows, which one unknown.
inline std::string GaveUpOnProbeFault(const ImportCall &probe, bool reportedHung) {
    HWND window = reinterpret_cast<HWND>(probe.words.at(0));
    for (const PlayerProbe &answer : PlayerProbes()) {
        DWORD after = answer.answeredTick - probe.tick;
        if ((window == nullptr || answer.window == window) && static_cast<LONG>(after) >= 0 &&
            after + kTickSlackMs < kVisualizerBoundMs)
            return "gave up on a visualizer that answered in " + std::to_string(after) + " ms";
    }
    DWORD waited = probe.returnTick - probe.tick;
    if (probe.returnTick != 0 && waited + kTickSlackMs < kVisualizerBoundMs && !reportedHung)
        return "gave up after " + std::to_string(waited) + " ms, within the bound, on a visualizer not reported hung";
    return "";
}

// Why an embedding or release that began at `start` and gave up is a fault, or "" when it gave up
// honestly. `calls` are the plug-in's calls since `start`, its job ended; `hung` the windows the system
// reported hung as the action returned. The last probe's job is the one whose outcome was written: a
// probe that failed ended it, one answered let it go on, and the host's thread gives up on a job that
// goes on only once the bound has run out.
inline std::string GaveUpFault(DWORD start, const std::vector<ImportCall> &calls, const std::vector<HWND> &hung) {
    const ImportCall *probe = nullptr;
    bool running = false;
    DWORD lastReturn = start;
    for (const ImportCall &call : calls) {
        bool isProbe = call.function == "SendMessageTimeoutA" && call.words.at(1) == WM_NULL;
        if (!isProbe && call.function != "SetParent") continue;
        if (isProbe) probe = &call;
        if (call.returnTick == 0) running = true;
        else if (static_cast<LONG>(call.returnTick - lastReturn) > 0) lastReturn = call.returnTick;
    }
    if (probe == nullptr) return "gave up without asking the visualizer for a sign of life";
    if (probe->result == 0) {
        HWND window = reinterpret_cast<HWND>(probe->words[0]);
        return GaveUpOnProbeFault(*probe, std::find(hung.begin(), hung.end(), window) != hung.end());
    }
    if (running || lastReturn - start + kTickSlackMs >= kVisualizerBoundMs) return "";
    return "gave up on a visualizer that answered in " + std::to_string(probe->returnTick - probe->tick) +
           " ms, its window moved " + std::to_string(lastReturn - start) + " ms after the action began";
}

// Runs `action`, an embedding or release through the plug-in, until it does not give up honestly: four
// tries at most, each once the plug-in's helper thread has settled the one before. It gave up where it
// wrote exactly "ERROR5", or where `gaveUp` says so (the host's message 2 writes nothing). A try given
// up honestly is counted in `honestTimeouts` and its writes and object queries are forgotten. Returns
// "" or what is wrong: the fault, or a visualizer that never answered in time.
inline std::string RunWithinTheBound(const std::function<void()> &action, const std::function<bool()> &gaveUp = nullptr,
                                     int *honestTimeouts = nullptr) {
    const int kTries = 4;
    for (int attempt = 1;; ++attempt) {
        HostWatchImport("SendMessageTimeoutA");
        HostWatchImport("SetParent");
        size_t firstCall = HostImportCalls().size();
        size_t firstWrite = gHost.variableWrites.size(), firstQuery = gHost.objectQueries.size();
        std::map<std::string, std::string> variables = gHost.variables;
        DWORD start = GetTickCount();
        action();
        bool gaveUpNow = gaveUp ? gaveUp()
                                : gHost.variableWrites.size() == firstWrite + 1 && gHost.variableWrites.back().value == "ERROR5";
        if (!gaveUpNow) return "";
        auto since = [&] {
            std::vector<ImportCall> calls = HostImportCalls();
            calls.erase(calls.begin(), calls.begin() + std::min(firstCall, calls.size()));
            return calls;
        };
        std::vector<HWND> hung;
        for (const ImportCall &call : since()) {
            HWND window = reinterpret_cast<HWND>(call.words.at(0));
            if (call.function == "SendMessageTimeoutA" && IsHungAppWindow(window)) hung.push_back(window);
        }
        // The job the plug-in stopped waiting for ends on its helper, which may need this thread's messages.
        WaitUntil([] { return ThreadsStartedIn(gHost.module) <= 0; }, 10000, kWaitPumping, 20);
        std::string fault = GaveUpFault(start, since(), hung);
        if (!fault.empty()) return fault;
        if (attempt == kTries)
            return "the visualizer did not answer within the bound in " + std::to_string(kTries) + " tries";
        if (honestTimeouts != nullptr) ++*honestTimeouts;
        gHost.variableWrites.resize(std::min(firstWrite, gHost.variableWrites.size()));
        gHost.objectQueries.resize(std::min(firstQuery, gHost.objectQueries.size()));
        gHost.variables = variables;
    }
}
