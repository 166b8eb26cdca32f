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
                                 "\\roaming\\Lexitray\\Lexitray.cfg.pending", "\\windows\\Lexitray.cfg",
                                 "\\store\\Lexitray.cfg"}) {
            SetFileAttributesA((root + file).c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA((root + file).c_str());
        }
        const std::wstring named = wide(root) + L"\\" + foreignName;
        DeleteFileW((named + L"\\Lexitray\\Lexitray.cfg").c_str());
        RemoveDirectoryW((named + L"\\Lexitray").c_str());
        RemoveDirectoryW(named.c_str());
        for (const char* dir : {"\\program", "\\roaming\\Lexitray", "\\roaming", "\\windows", "\\store", ""})
            RemoveDirectoryA((root + dir).c_str());
    }

    std::string path(const char* relative) { return root + relative; }

    // The temporary folder's name is ASCII; the paths the profile calls take are UTF-8.
    static std::wstring wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }
    static std::string utf8(const std::wstring& text)
    {
        char out[configPathCapacity];
        return WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out, sizeof out, nullptr, nullptr) > 0 ? out
                                                                                                        : "";
    }

    // Where the profile goes with every folder known; "" when nothing fits. userFolder replaces roaming\.
    std::string locate(bool withUserFolder = true, ProfileLocated expected = profileLocated,
                       const std::string& userFolder = "")
    {
        std::string program = path("\\program"),
                    roaming = userFolder.empty() ? path("\\roaming") : userFolder;
        std::string store = path("\\store\\Lexitray.cfg"), windows = path("\\windows\\Lexitray.cfg");
        ProfileFolders folders = {
            program.c_str(), withUserFolder ? roaming.c_str() : nullptr, {store.c_str(), windows.c_str()}};
        char found[configPathCapacity];
        const ProfileLocated located =
            profileLocateIn(folders, configFileName, configFolderName, found, sizeof found);
        EXPECT_EQ(expected, located);
        return located == profileNotLocated ? "" : found;
    }

    // A user name no ANSI code page holds whole: Cyrillic and Chinese.
    static constexpr const wchar_t* foreignName = L"\u0423\u0447\u0451\u0442 \u7528\u6237";

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

TEST_F(ProfileLocation, WithoutAUserFolderNothingIsFound) { EXPECT_EQ("", locate(false, profileNotLocated)); }

TEST_F(ProfileLocation, AUserFolderOutsideTheAnsiCodePageHoldsTheProfile)
{
    BOOL lost = FALSE;
    char ansi[MAX_PATH];
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, foreignName, -1, ansi, sizeof ansi, nullptr, &lost);
    ASSERT_TRUE(lost) << "this system's ANSI code page holds the name; the test needs one it does not";
    const std::wstring folder = wide(root) + L"\\" + foreignName;
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    writeFileText(path("\\windows\\Lexitray.cfg"), "[Lexitray]\r\nserver=4\r\n");

    const std::string found = locate(true, profileLocated, utf8(folder));
    EXPECT_EQ(utf8(folder + L"\\Lexitray\\Lexitray.cfg"), found);
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((folder + L"\\Lexitray\\Lexitray.cfg").c_str()))
        << "the older profile was not copied into the user's folder";
    EXPECT_EQ(4, profileReadInt(found.c_str(), configSection, "server", 0));
    ASSERT_TRUE(profileWriteString(found.c_str(), configSection, "letter", "K"));
    char letter[4] = "";
    profileReadString(found.c_str(), configSection, "letter", "", letter, sizeof letter);
    EXPECT_STREQ("K", letter);
}

TEST_F(ProfileLocation, AFailedCopyIsReportedAndTriedAgainAtTheNextStart)
{
    const std::string old = path("\\windows\\Lexitray.cfg");
    writeFileText(old, "[Lexitray]\r\nserver=4\r\n");
    // Another program holds the old profile open, sharing nothing: the copy cannot read it.
    HANDLE held = CreateFileA(old.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_EQ(path(userProfile), locate(true, profileLocatedCopyFailed));
    writeFileText(path(userProfile), "[Lexitray]\r\nserver=0\r\n");  // the first run seeds it
    EXPECT_EQ(path(userProfile), locate(true, profileLocatedCopyFailed));
    CloseHandle(held);

    EXPECT_EQ(path(userProfile), locate(true, profileLocated));
    EXPECT_EQ("[Lexitray]\r\nserver=4\r\n", readFileText(path(userProfile)));
    // Taken over once: later starts keep what the user changed since.
    writeFileText(path(userProfile), "[Lexitray]\r\nserver=1\r\n");
    EXPECT_EQ(path(userProfile), locate(true, profileLocated));
    EXPECT_EQ("[Lexitray]\r\nserver=1\r\n", readFileText(path(userProfile)));
}

}  // namespace
#endif
