// Where the profile file lies on Windows: beside the program, else in the user's folder, filled at
// the first start from the file an older version left. Runs under Wine; nothing to test natively.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>

#include <string>

#include "config/config.h"
#include "config/profile.h"
#include "tests/unit/profilefile.h"

namespace {

// A scratch tree: program\, roaming\, windows\ and store\ below a fresh temporary folder.
class ProfileLocation : public ::testing::Test {
protected:
    void SetUp() override
    {
        char temp[MAX_PATH];
        ASSERT_GT(GetTempPathA(sizeof temp, temp), 0u);
        root = std::string(temp) + "lexitray-location-" + std::to_string(GetCurrentProcessId());
        removeTree();
        for (const char* dir : {"", "\\program", "\\roaming", "\\windows", "\\store"})
            ASSERT_TRUE(CreateDirectoryA((root + dir).c_str(), nullptr)) << root + dir;
    }
    void TearDown() override { removeTree(); }

    void removeTree()
    {
        for (const char* file : {"\\program\\Lexitray.cfg", "\\roaming\\Lexitray\\Lexitray.cfg",
                                 "\\windows\\Lexitray.cfg", "\\store\\Lexitray.cfg"}) {
            SetFileAttributesA((root + file).c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA((root + file).c_str());
        }
        for (const char* dir : {"\\program", "\\roaming\\Lexitray", "\\roaming", "\\windows", "\\store", ""})
            RemoveDirectoryA((root + dir).c_str());
    }

    std::string path(const char* relative) { return root + relative; }

    // Where the profile goes with every folder known; "" when nothing fits.
    std::string locate(bool withUserFolder = true)
    {
        std::string program = path("\\program"), roaming = path("\\roaming");
        std::string store = path("\\store\\Lexitray.cfg"), windows = path("\\windows\\Lexitray.cfg");
        ProfileFolders folders = {
            program.c_str(), withUserFolder ? roaming.c_str() : nullptr, {store.c_str(), windows.c_str()}};
        char found[configPathCapacity];
        if (!profileLocateIn(folders, configFileName, configFolderName, found, sizeof found))
            return "";
        return found;
    }

    std::string root;
};

const char userProfile[] = "\\roaming\\Lexitray\\Lexitray.cfg";

TEST_F(ProfileLocation, FileBesideTheProgramWinsAndIsUsedInPlace)
{
    writeFileText(path("\\program\\Lexitray.cfg"), "[Lexitray]\r\n");
    writeFileText(path("\\windows\\Lexitray.cfg"), "[Lexitray]\r\nserver=4\r\n");
    EXPECT_EQ(path("\\program\\Lexitray.cfg"), locate());
    EXPECT_FALSE(fileExists(path(userProfile)))
        << "the old profile was copied although the portable one wins";
}

TEST_F(ProfileLocation, FirstStartTakesOverTheNewestOldProfileAndLeavesIt)
{
    writeFileText(path("\\store\\Lexitray.cfg"), "[Lexitray]\r\nserver=2\r\n");
    writeFileText(path("\\windows\\Lexitray.cfg"), "[Lexitray]\r\nserver=4\r\n");  // written later
    SetFileAttributesA(path("\\windows\\Lexitray.cfg").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(path(userProfile), locate());
    EXPECT_EQ("[Lexitray]\r\nserver=4\r\n", readFileText(path(userProfile)));
    EXPECT_TRUE(fileExists(path("\\windows\\Lexitray.cfg")));
    DWORD attributes = GetFileAttributesA(path(userProfile).c_str());
    EXPECT_EQ(0u, attributes & FILE_ATTRIBUTE_READONLY) << "the copy must stay writable";

    // The VirtualStore copy is taken when it is the newer one.
    DeleteFileA(path(userProfile).c_str());
    writeFileText(path("\\store\\Lexitray.cfg"), "[Lexitray]\r\nserver=7\r\n");
    EXPECT_EQ(path(userProfile), locate());
    EXPECT_EQ("[Lexitray]\r\nserver=7\r\n", readFileText(path(userProfile)));
}

TEST_F(ProfileLocation, LaterStartsKeepTheUsersOwnFile)
{
    ASSERT_EQ(path(userProfile), locate());
    EXPECT_FALSE(fileExists(path(userProfile))) << "without an old profile the first run seeds a new one";
    writeFileText(path(userProfile), "[Lexitray]\r\nserver=1\r\n");
    writeFileText(path("\\windows\\Lexitray.cfg"), "[Lexitray]\r\nserver=4\r\n");
    EXPECT_EQ(path(userProfile), locate());
    EXPECT_EQ("[Lexitray]\r\nserver=1\r\n", readFileText(path(userProfile)));
}

TEST_F(ProfileLocation, WithoutAUserFolderNothingIsFound) { EXPECT_EQ("", locate(false)); }

}  // namespace
#endif
