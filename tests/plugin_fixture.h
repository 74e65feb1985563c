// vxavs tests: every test loads the real vxavs.dll afresh into the stand-in host and unloads it after,
// so each starts with the plug-in's variables at zero.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "standin_host.h"

// A file next to the running test program.
inline std::string BesideTestProgram(const char *name) {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string directory(path, length);
    return directory.substr(0, directory.find_last_of("\\/") + 1) + name;
}

class PlugInTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(HostLoadPlugIn(BesideTestProgram("vxavs.dll").c_str()));
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
};
