// Tests of the configuration store; the same cases run natively against the stand-in and under
// Wine against the system's profile functions.
#include <gtest/gtest.h>

#include <limits.h>
#include <string.h>

#include <string>
#include <vector>

#include "config/config.h"
#include "tests/unit/profilefile.h"

namespace {

// hideDbDialog as it was before any test code ran (constant-initialised, so safe to read here).
const bool hideDbDialogAtStart = hideDbDialog;

const int absentDefault = 77;

class ConfigTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        removeFile(profileFilePath());
        removeFile(staleFilePath());
    }
    void TearDown() override
    {
        removeFile(profileFilePath());
        removeFile(staleFilePath());
    }
    static void writeProfile(const std::vector<std::string>& lines)
    {
        writeFileLines(profileFilePath(), lines);
    }
    static std::vector<std::string> profileLines() { return readFileLines(profileFilePath()); }
    static std::string readString(const char* key, const char* defaultText)
    {
        char buffer[serverEntryCapacity];
        readConfigString(key, defaultText, buffer, sizeof buffer);
        return buffer;
    }
    static std::string serverHost(int index)
    {
        char host[hostBufferSize];
        memset(host, '#', sizeof host);
        readServerHost(host, index);
        return host;
    }
};

using ConfigProfile = ConfigTest;
using ConfigSeed = ConfigTest;
using ConfigServerHost = ConfigTest;

// The host part of a built-in entry: everything before " : ".
std::string hostOf(const char* entry)
{
    const char* separator = strstr(entry, " : ");
    return separator != nullptr ? std::string(entry, separator - entry) : std::string();
}

// ---- Reading integers, texts and flags ----

struct IntCase {
    const char* line;  // as it stands in the file
    const char* key;
    int expected;
};

TEST_F(ConfigProfile, IntegersReadLikeTheSystem)
{
    const IntCase cases[] = {
        {"blank= 12", "blank", 12},
        {"plus=+3", "plus", 3},
        {"minus=-1", "minus", -1},
        {"trailing=12abc", "trailing", 12},
        {"letters=abc", "letters", 0},
        {"empty=", "empty", absentDefault},
        {"", "absent", absentDefault},
        {"twosigns=+-3", "twosigns", 0},
        {"signblank=- 4", "signblank", 0},
        {"quoted=\"7\"", "quoted", 7},
        {"leadingzero=010", "leadingzero", 10},
        {"hex=0x10", "hex", 16},
        {"upperhex=0X10", "upperhex", 0},
        {"binary=0b101", "binary", 5},
        {"octal=0o17", "octal", 15},
        {"sentinel=999", "sentinel", 999},
        {"intmax=2147483647", "intmax", INT_MAX},
        {"wrapsneg=2147483648", "wrapsneg", INT_MIN},
        {"wraps=4294967297", "wraps", 1},
        {"wrapsbelow=-2147483649", "wrapsbelow", INT_MAX},
        // Only the first 29 characters are read: 10^29 - 1 modulo 2^32.
        {"long=99999999999999999999999999999991", "long", -1610612737},
        {"MixedCase=5", "mixedcase", 5},
    };
    std::vector<std::string> lines = {"[Lexitray]"};
    for (const IntCase& item : cases)
        if (item.line[0] != '\0')
            lines.push_back(item.line);
    lines.push_back("[Other]");
    lines.push_back("other=4");
    writeProfile(lines);

    for (const IntCase& item : cases)
        EXPECT_EQ(item.expected, readConfigInt(item.key, absentDefault)) << item.line;
    EXPECT_EQ(absentDefault, readConfigInt("other", absentDefault)) << "a key of another section";
}

TEST_F(ConfigProfile, MissingFileReadsAsDefaults)
{
    EXPECT_EQ(firstRunSentinel, readConfigInt("server", firstRunSentinel));
    EXPECT_EQ("NULL", readString("font", "NULL"));
    EXPECT_FALSE(fileExists(profileFilePath())) << "reading must not create the file";
}

TEST_F(ConfigProfile, EmptyValueIsNotTheDefault)
{
    writeProfile({"[Lexitray]", "font=", "spaces=   "});
    EXPECT_EQ("", readString("font", "NULL"));
    EXPECT_EQ("", readString("spaces", "NULL"));
    EXPECT_EQ("NULL", readString("fontsize", "NULL"));
}

TEST_F(ConfigProfile, TextsLoseSurroundingBlanksAndOnePairOfQuotes)
{
    writeProfile({"[Lexitray]", "  spaced  =  two words  ", "quoted=  \"  q x \"  ", "single='r'",
                  "unmatched=\"s", "tab=a\tb"});
    EXPECT_EQ("two words", readString("spaced", "D"));
    EXPECT_EQ("  q x ", readString("quoted", "D"));
    EXPECT_EQ("r", readString("single", "D"));
    EXPECT_EQ("\"s", readString("unmatched", "D"));
    EXPECT_EQ("a\tb", readString("tab", "D"));
}

TEST_F(ConfigProfile, TextsAreCutToCapacityLessOne)
{
    writeProfile({"[Lexitray]", "letter=Qxyz"});
    const int guardSize = 4;
    struct Cut {
        const char* key;
        const char* defaultText;
        int capacity;
        const char* expected;
    } cuts[] = {
        {"letter", "D", 3, "Qx"}, {"letter", "D", 5, "Qxyz"},
        {"letter", "D", 1, ""},   {"absent", "DEFAULTLONG", 5, "DEFA"},
        {"absent", "D", 3, "D"},
    };
    for (const Cut& cut : cuts) {
        char buffer[16 + guardSize];
        memset(buffer, '#', sizeof buffer);
        readConfigString(cut.key, cut.defaultText, buffer, cut.capacity);
        EXPECT_STREQ(cut.expected, buffer) << cut.key << " capacity " << cut.capacity;
        for (int i = cut.capacity; i < cut.capacity + guardSize; i++)
            EXPECT_EQ('#', buffer[i]) << "byte " << i << " beyond capacity " << cut.capacity;
    }
}

TEST_F(ConfigProfile, FlagsAreOnOnlyWhenTheyReadAsOne)
{
    writeProfile(
        {"[Lexitray]", "control=2", "shift=1", "alt=yes", "startup= 1", "hidedbdialog=01", "letter=-1"});
    EXPECT_FALSE(readConfigFlag("control", 1));
    EXPECT_TRUE(readConfigFlag("shift", 0));
    EXPECT_FALSE(readConfigFlag("alt", 1));
    EXPECT_TRUE(readConfigFlag("startup", 0));
    EXPECT_TRUE(readConfigFlag("hidedbdialog", 0));
    EXPECT_FALSE(readConfigFlag("letter", 1));
    EXPECT_TRUE(readConfigFlag("absent", 1));
    EXPECT_FALSE(readConfigFlag("absent", 0));
}

// Remembering the words looked up is off unless the user switched it on; a first run leaves it off.
TEST_F(ConfigProfile, KeepWordsIsOffUnlessItReadsAsOne)
{
    for (const char* line :
         {"keepwords=1", "KeepWords= 1", "", "keepwords=0", "keepwords=yes", "keepwords=2"}) {
        writeProfile({"[Lexitray]", line});
        EXPECT_EQ(strstr(line, "1") != nullptr, keepWordsOn()) << "[" << line << "]";
    }
    removeFile(profileFilePath());
    seedConfiguration();
    EXPECT_FALSE(keepWordsOn());
}

// ---- Writing ----

TEST_F(ConfigProfile, WriteCreatesFileSectionAndKey)
{
    writeConfigString("font", "Courier New");
    EXPECT_EQ((std::vector<std::string>{"[Lexitray]", "font=Courier New"}), profileLines());
    EXPECT_EQ("Courier New", readString("font", "NULL"));
}

TEST_F(ConfigProfile, WriteAddsSectionToAFileWithoutIt)
{
    writeProfile({"[Other]", "x=1"});
    writeConfigString("alt", "1");
    EXPECT_EQ((std::vector<std::string>{"[Other]", "x=1", "[Lexitray]", "alt=1"}), profileLines());
    EXPECT_EQ(1, readConfigInt("alt", 0));
}

TEST_F(ConfigProfile, WriteReplacesInPlaceAndAddsWithinTheSection)
{
    writeProfile({"[Lexitray]", "a=1", "b=2", "", "[Other]", "b=7"});
    writeConfigString("b", "20");
    writeConfigString("d", "4");
    EXPECT_EQ((std::vector<std::string>{"[Lexitray]", "a=1", "b=20", "d=4", "[Other]", "b=7"}),
              profileLines());
    EXPECT_EQ(20, readConfigInt("b", 0));
    EXPECT_EQ(4, readConfigInt("d", 0));
}

TEST_F(ConfigProfile, WriteAfterALastLineWithoutLineBreak)
{
    writeFileText(profileFilePath(), "[Lexitray]\r\na=1");
    writeConfigString("b", "2");
    EXPECT_EQ(1, readConfigInt("a", 0));
    EXPECT_EQ(2, readConfigInt("b", 0));
    EXPECT_EQ((std::vector<std::string>{"[Lexitray]", "a=1", "b=2"}), profileLines());
}

TEST_F(ConfigProfile, WrittenTextsReadBackTheSame)
{
    const char* texts[] = {"", "D", "-13", "Lucida Console", "host : a = b ; c", "  lead and trail  "};
    const char* expected[] = {"", "D", "-13", "Lucida Console", "host : a = b ; c", "lead and trail"};
    for (size_t i = 0; i < sizeof texts / sizeof texts[0]; i++) {
        writeConfigString("font", texts[i]);
        EXPECT_EQ(expected[i], readString("font", "NULL")) << "written: [" << texts[i] << "]";
    }
    // Leading blanks go on writing, trailing ones stay in the file and go on reading.
    EXPECT_EQ((std::vector<std::string>{"[Lexitray]", "font=lead and trail  "}), profileLines());
}

// ---- First-run seeding ----

std::vector<std::string> seededLines()
{
    std::vector<std::string> lines = {"[Lexitray]"};
    for (int i = 0; i < serverCount; i++)
        lines.push_back("server" + std::to_string(i) + "=" + builtInServers[i]);
    const char* settings[] = {"server=0",       "control=1", "shift=1",  "alt=0",
                              "hidedbdialog=0", "letter=D",  "startup=1"};
    for (const char* setting : settings)
        lines.push_back(setting);
    return lines;
}

TEST_F(ConfigSeed, FirstRunWritesTheTwentyFourKeysInOrder)
{
    seedConfiguration();
    std::vector<std::string> expected = seededLines();
    ASSERT_EQ(25u, expected.size());
    EXPECT_EQ(expected, profileLines());
    EXPECT_EQ(0, readConfigInt("server", firstRunSentinel));
}

TEST_F(ConfigSeed, FileWithoutServerIsSeededAgainAndKeepsTheFont)
{
    writeProfile({"[Lexitray]", "font=Courier New", "server3=my.own.host : edited", "control=0", "letter=Q",
                  "startup=0", "fontsize=-13"});
    seedConfiguration();
    EXPECT_EQ("Courier New", readString("font", "NULL"));
    EXPECT_EQ(-13, readConfigInt("fontsize", 0));
    EXPECT_EQ(builtInServers[3], readString("server3", ""));
    EXPECT_EQ(0, readConfigInt("server", firstRunSentinel));
    EXPECT_EQ(1, readConfigInt("control", 0));
    EXPECT_EQ("D", readString("letter", ""));
    EXPECT_EQ(1, readConfigInt("startup", 0));
    EXPECT_EQ(27u, profileLines().size()) << "the section line, 24 keys, font and fontsize";
}

// The portable zips ship a profile that holds only the section line.
TEST_F(ConfigSeed, SectionOnlyFileIsAFirstRun)
{
    writeProfile({"[Lexitray]"});
    seedConfiguration();
    EXPECT_EQ(seededLines(), profileLines());
}

TEST_F(ConfigSeed, ServerHolding999IsSeededAgain)
{
    seedConfiguration();
    writeConfigString("control", "0");
    writeConfigString("server", "999");
    seedConfiguration();
    EXPECT_EQ(seededLines(), profileLines());
}

TEST_F(ConfigSeed, LaterStartDeletesTheStaleFileAndLeavesTheProfile)
{
    seedConfiguration();
    writeConfigString("server", "5");
    writeConfigString("control", "0");
    std::string before = readFileText(profileFilePath());
    writeFileText(staleFilePath(), "old\r\n");
    ASSERT_TRUE(fileExists(staleFilePath()));

    seedConfiguration();
    EXPECT_FALSE(fileExists(staleFilePath()));
    EXPECT_EQ(before, readFileText(profileFilePath()));

    // Nothing to delete the next time: still harmless.
    seedConfiguration();
    EXPECT_FALSE(fileExists(staleFilePath()));
    EXPECT_EQ(before, readFileText(profileFilePath()));
    EXPECT_EQ(5, readConfigInt("server", firstRunSentinel));
}

TEST_F(ConfigSeed, FirstRunLeavesTheStaleFile)
{
    writeFileText(staleFilePath(), "old\r\n");
    seedConfiguration();
    EXPECT_TRUE(fileExists(staleFilePath()));
}

// ---- Hosts of server entries ----

TEST_F(ConfigServerHost, SeededEntriesGiveTheBuiltInHosts)
{
    seedConfiguration();
    for (int i = 0; i < serverCount; i++)
        EXPECT_EQ(hostOf(builtInServers[i]), serverHost(i)) << "server" << i;
}

TEST_F(ConfigServerHost, HostIsTheEntryUpToTheFirstBlank)
{
    // A value that begins with a blank needs quotes in the file: blanks around values are dropped.
    writeProfile({"[Lexitray]", "server0=host.example : Some databases", "server1=whole.example",
                  "server2=\" lead.example : x\"", "server3=", "server4=tab\there.example : x",
                  "server5=a:b : c"});
    EXPECT_EQ("host.example", serverHost(0));
    EXPECT_EQ("whole.example", serverHost(1));
    EXPECT_EQ("", serverHost(2));
    EXPECT_EQ("", serverHost(3));
    EXPECT_EQ("tab\there.example", serverHost(4));
    EXPECT_EQ("a:b", serverHost(5));
}

TEST_F(ConfigServerHost, IndexWithoutEntryGivesTheDefaultHost)
{
    seedConfiguration();
    std::vector<std::string> lines = profileLines();
    std::vector<std::string> withoutSeven;
    for (const std::string& line : lines)
        if (line.compare(0, 8, "server7=") != 0)
            withoutSeven.push_back(line);
    ASSERT_EQ(lines.size() - 1, withoutSeven.size());
    writeProfile(withoutSeven);

    const int indexes[] = {20, 17, -1, 7, INT_MIN, INT_MAX};
    for (int index : indexes)
        EXPECT_EQ(defaultServerHost, serverHost(index)) << "index " << index;
    EXPECT_EQ(hostOf(builtInServers[8]), serverHost(8));
}

TEST_F(ConfigServerHost, LongHostIsCutToFitTheBuffer)
{
    const int guardSize = 8;
    std::string sixty(60, 'h');
    writeProfile({"[Lexitray]", "server0=" + sixty + " : far too long", "server1=" + std::string(24, 'x'),
                  "server2=" + std::string(25, 'y') + " : one too many", "server3=" + sixty});
    struct Expectation {
        int index;
        std::string host;
    } expectations[] = {
        {0, std::string(24, 'h')},
        {1, std::string(24, 'x')},
        {2, std::string(24, 'y')},
        {3, std::string(24, 'h')},
    };
    for (const Expectation& item : expectations) {
        char buffer[hostBufferSize + guardSize];
        memset(buffer, '#', sizeof buffer);
        readServerHost(buffer, item.index);
        EXPECT_EQ(item.host, std::string(buffer)) << "server" << item.index;
        EXPECT_EQ('\0', buffer[hostBufferSize - 1]);
        for (int i = hostBufferSize; i < hostBufferSize + guardSize; i++)
            EXPECT_EQ('#', buffer[i]) << "byte " << i << " written for server" << item.index;
    }
}

// ---- The built-in table and process-wide state ----

TEST(ConfigServers, BuiltInEntriesFollowTheEntryForm)
{
    size_t longest = 0;
    int localEntries = 0;
    for (int i = 0; i < serverCount; i++) {
        const char* entry = builtInServers[i];
        ASSERT_NE(nullptr, entry);
        std::string host = hostOf(entry);
        EXPECT_FALSE(host.empty()) << entry;
        EXPECT_LE(host.size(), static_cast<size_t>(maxHostLength)) << entry;
        EXPECT_EQ(std::string::npos, host.find_first_of(" \t")) << entry;
        EXPECT_GT(strlen(entry), host.size() + 3) << "no description: " << entry;
        for (int j = 0; j < i; j++)
            EXPECT_NE(hostOf(builtInServers[j]), host) << "twice: " << host;
        longest = std::max(longest, strlen(entry));
        if (host == "localhost")
            localEntries++;
    }
    EXPECT_LE(longest, 85u);
    EXPECT_EQ(1, localEntries);
    EXPECT_EQ(std::string(defaultServerHost), hostOf(builtInServers[0]));
    EXPECT_LE(strlen(defaultServerHost), static_cast<size_t>(maxHostLength));
}

TEST(ConfigServers, HideDbDialogStartsOff) { EXPECT_FALSE(hideDbDialogAtStart); }

}  // namespace
