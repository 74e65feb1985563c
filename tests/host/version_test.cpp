// vxavs tests: the version resource Windows shows in the DLL's Properties carries the release's version,
// the one the build was configured with.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "standin_host.h"

class VersionResourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string path = FileBesideProgram("vxavs.dll");
        DWORD ignored = 0;
        DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
        ASSERT_NE(size, 0u) << "vxavs.dll has no version resource";
        info.resize(size);
        ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, info.data()));
    }

    // A value of the first (and only) translation's string table; empty when missing.
    std::string StringValue(const char *name) {
        struct Translation {
            WORD language, codePage;
        } *translation = nullptr;
        UINT length = 0;
        if (!VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void **>(&translation),
                            &length) ||
            length < sizeof *translation)
            return "";
        char query[128];
        wsprintfA(query, "\\StringFileInfo\\%04x%04x\\%s", translation->language, translation->codePage, name);
        char *value = nullptr;
        if (!VerQueryValueA(info.data(), query, reinterpret_cast<void **>(&value), &length) || value == nullptr)
            return "";
        return value;
    }

    std::vector<char> info;
};

TEST_F(VersionResourceTest, FixedPartCarriesTheProjectVersion) {
    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void **>(&fixed), &length));
    ASSERT_GE(length, sizeof *fixed);
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
    char version[64];
    wsprintfA(version, "%u.%u.%u", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
              HIWORD(fixed->dwFileVersionLS));
    EXPECT_STREQ(version, VXAVS_PROJECT_VERSION) << "file version";
    EXPECT_EQ(LOWORD(fixed->dwFileVersionLS), 0) << "no build number";
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
}

TEST_F(VersionResourceTest, StringsNameTheProductAndItsVersion) {
    struct Case {
        const char *name, *expected;
    } const cases[] = {
        {"FileVersion", VXAVS_PROJECT_VERSION}, {"ProductVersion", VXAVS_PROJECT_VERSION},
        {"ProductName", "vxavs"},               {"InternalName", "vxavs"},
        {"OriginalFilename", "vxavs.dll"},
    };
    for (const Case &c : cases) EXPECT_EQ(StringValue(c.name), c.expected) << c.name;
    EXPECT_NE(StringValue("FileDescription"), "");
    EXPECT_NE(StringValue("LegalCopyright").find("the vxavs developers"), std::string::npos);
}
