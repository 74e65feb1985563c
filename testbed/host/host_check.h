// vxavs test bed: `vxhost --check`, which tells a publication author what the plug-in would find on this
// machine right now: the player's windows, whether they respond, the player's rights, DPI awareness.
#pragma once

#include <string>

// Exit codes of the check.
enum HostCheckResult {
    kCheckAllCouldWork = 0,    // every action could work now
    kCheckSomethingFails = 1,  // at least one action would fail now; the verdict line says which and how
};

// Prints one line per finding, then a verdict line, and returns a HostCheckResult. plugInPath names the
// plug-in whose version is reported; empty: vxavs.dll beside the program, else in the folder above it.
int RunHostCheck(const std::string &plugInPath);
