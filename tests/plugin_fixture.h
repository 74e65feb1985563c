// vxavs tests: every test loads the real vxavs.dll afresh into the stand-in host and unloads it after,
// so each starts with the plug-in's variables at zero.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "standin_host.h"

// Players of other programs running meanwhile (another test run, a benchmark) would be found instead
// of ours, or would send their commands to ours: each test program works on a desktop of its own,
// which the players it starts inherit (a player thread joins it too).
class OwnDesktop : public ::testing::Environment {
public:
    void SetUp() override {
        std::string name = "vxavs tests " + std::to_string(GetCurrentProcessId());
        HDESK desktop = CreateDesktopA(name.c_str(), nullptr, nullptr, 0, GENERIC_ALL, nullptr);
        ASSERT_NE(desktop, nullptr);
        ASSERT_TRUE(SetThreadDesktop(desktop)) << "this thread already has windows";
        // The desktop's own window is made now, by this thread: a player process making the first
        // window there keeps the system waiting for it for seconds.
        ASSERT_NE(GetDesktopWindow(), nullptr);
    }
};
static ::testing::Environment *const gOwnDesktop = ::testing::AddGlobalTestEnvironment(new OwnDesktop);

class PlugInTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(HostLoadPlugIn(FileBesideProgram("vxavs.dll").c_str()));
        HostHandshake();
        HostClearRecords();
    }
    void TearDown() override { HostUnloadPlugIn(); }

    // Every value written to the result variable, in order ("(null)" for a null address).
    static std::vector<std::string> ResultWrites() {
        std::vector<std::string> values;
        for (const VariableWrite &write : gHost.variableWrites) {
            EXPECT_EQ(write.name, "vxAVSDrop");
            values.push_back(write.valueIsNull ? "(null)" : write.value);
        }
        return values;
    }

    static BOOL Run(int number, std::vector<const char *> parameters) { return HostExecAction(number, parameters); }

    // A folder of this program's own in the temporary folder, made now; the caller removes it.
    static std::string MakeScratchFolder(const char *name) {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        std::string folder = std::string(temp) + name + " " + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(folder.c_str(), nullptr);
        return folder;
    }
};
