// Tests of the hotkey conversions: profile keys, registration modifiers, hotkey control value and hint.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "config/config.h"
#include "config/hotkey.h"
#include "tests/unit/profilefile.h"

namespace {

HotkeySpec makeSpec(bool control, bool shift, bool alt, unsigned char letter)
{
    HotkeySpec spec;
    spec.control = control;
    spec.shift = shift;
    spec.alt = alt;
    spec.letter = letter;
    return spec;
}

void expectSameSpec(const HotkeySpec& expected, const HotkeySpec& actual)
{
    EXPECT_EQ(expected.control, actual.control);
    EXPECT_EQ(expected.shift, actual.shift);
    EXPECT_EQ(expected.alt, actual.alt);
    EXPECT_EQ(expected.letter, actual.letter);
}

std::string hintOf(const HotkeySpec& spec)
{
    char hint[hotkeyHintCapacity];
    formatHotkeyHint(spec, hint);
    return hint;
}

// Each profile test starts without a profile file, so every key reads as absent.
class HotkeyProfile : public ::testing::Test {
protected:
    void SetUp() override { removeFile(profileFilePath()); }
    void TearDown() override { removeFile(profileFilePath()); }

    std::string storedText(const char* key)
    {
        char text[16];
        readConfigString(key, "<absent>", text, sizeof text);
        return text;
    }
};

}  // namespace

// Every combination of the three modifiers through the three encodings.
TEST(HotkeyConversions, ModifiersAndControlValueForEveryCombination)
{
    struct Case {
        bool control, shift, alt;
        unsigned modifiers;     // MOD_CONTROL 2, MOD_SHIFT 4, MOD_ALT 1
        unsigned controlFlags;  // HOTKEYF_CONTROL 2, HOTKEYF_SHIFT 1, HOTKEYF_ALT 4
    };
    const Case cases[] = {
        {false, false, false, 0, 0}, {true, false, false, 2, 2}, {false, true, false, 4, 1},
        {false, false, true, 1, 4},  {true, true, false, 6, 3},  {true, false, true, 3, 6},
        {false, true, true, 5, 5},   {true, true, true, 7, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "control " << c.control << " shift " << c.shift << " alt " << c.alt);
        const HotkeySpec spec = makeSpec(c.control, c.shift, c.alt, 'D');
        EXPECT_EQ(c.modifiers, hotkeyModifiers(spec));
        EXPECT_EQ(c.controlFlags * 256 + 'D', hotkeyControlValue(spec));
        expectSameSpec(spec, hotkeySpecFromControl(hotkeyControlValue(spec)));
    }
}

TEST(HotkeyConversions, DefaultIsCtrlShiftD)
{
    const HotkeySpec spec = makeSpec(true, true, false, 'D');
    EXPECT_EQ(0x6u, hotkeyModifiers(spec));
    EXPECT_EQ(0x0344, hotkeyControlValue(spec));
}

TEST(HotkeyConversions, KeyCodeUsesTheWholeLowByte)
{
    for (unsigned code : {0u, 1u, 'd' + 0u, 0x7Fu, 0x80u, 0xDEu, 0xFFu}) {
        SCOPED_TRACE(code);
        const HotkeySpec spec = makeSpec(true, false, true, static_cast<unsigned char>(code));
        EXPECT_EQ(0x600u + code, hotkeyControlValue(spec));
        expectSameSpec(spec, hotkeySpecFromControl(static_cast<unsigned short>(0x600u + code)));
    }
}

TEST(HotkeyConversions, ControlValueIgnoresTheExtendedKeyFlag)
{
    // Ctrl+Alt with the extended flag (arrow keys, Insert, ...) and key code 0x2D.
    const HotkeySpec spec = hotkeySpecFromControl(
        static_cast<unsigned short>((hotkeyFlagControl | hotkeyFlagAlt | hotkeyFlagExtended) * 256 + 0x2D));
    expectSameSpec(makeSpec(true, false, true, 0x2D), spec);
    EXPECT_EQ(hotkeyModControl | hotkeyModAlt, hotkeyModifiers(spec));
}

TEST(HotkeyConversions, EmptyControlGivesKeyCodeZero)
{
    expectSameSpec(makeSpec(false, false, false, 0), hotkeySpecFromControl(0));
}

TEST(HotkeyHint, NamesTheModifiersInOrderAndTheKey)
{
    struct Case {
        HotkeySpec spec;
        const char* hint;
    };
    const Case cases[] = {
        {makeSpec(true, true, false, 'D'), "Press Ctl+Shift+D to look up a word."},
        {makeSpec(false, false, true, 'Q'), "Press Alt+Q to look up a word."},
        {makeSpec(true, false, false, '7'), "Press Ctl+7 to look up a word."},
        {makeSpec(false, false, false, 'Z'), "Press Z to look up a word."},
        {makeSpec(true, true, true, 'X'), "Press Ctl+Shift+Alt+X to look up a word."},
        {makeSpec(false, true, false, 'd'), "Press Shift+d to look up a word."},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.hint, hintOf(c.spec));
}

TEST(HotkeyHint, LongestHintFitsWhole)
{
    EXPECT_EQ(hotkeyHintCapacity - 1, hintOf(makeSpec(true, true, true, 'X')).size());
}

TEST(HotkeyHint, KeyCodeAbove127IsThatByte)
{
    const std::string hint = hintOf(makeSpec(false, false, false, 0xDE));
    ASSERT_EQ(strlen("Press X to look up a word."), hint.size());
    EXPECT_EQ(0xDE, static_cast<unsigned char>(hint[6]));
}

TEST_F(HotkeyProfile, AbsentKeysGiveCtrlShiftD)
{
    expectSameSpec(makeSpec(true, true, false, 'D'), readHotkeySpec());
}

TEST_F(HotkeyProfile, ReadsAltQ)
{
    writeConfigString("control", "0");
    writeConfigString("shift", "0");
    writeConfigString("alt", "1");
    writeConfigString("letter", "Q");
    const HotkeySpec spec = readHotkeySpec();
    expectSameSpec(makeSpec(false, false, true, 'Q'), spec);
    EXPECT_EQ(hotkeyModAlt, hotkeyModifiers(spec));
    EXPECT_EQ("Press Alt+Q to look up a word.", hintOf(spec));
}

TEST_F(HotkeyProfile, FlagsCountOnlyWhenExactlyOne)
{
    writeConfigString("control", "2");
    writeConfigString("shift", "yes");
    writeConfigString("alt", "1");
    const HotkeySpec spec = readHotkeySpec();
    EXPECT_FALSE(spec.control);
    EXPECT_FALSE(spec.shift);
    EXPECT_TRUE(spec.alt);
}

TEST_F(HotkeyProfile, LetterIsItsFirstCharacterWithoutCaseFolding)
{
    struct Case {
        const char* stored;
        unsigned char letter;
    };
    const Case cases[] = {{"d", 100}, {"QX", 'Q'}, {"QXYZ", 'Q'}, {"5", '5'}, {"\xDE", 0xDE}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        writeConfigString("letter", c.stored);
        EXPECT_EQ(c.letter, readHotkeySpec().letter);
    }
}

TEST_F(HotkeyProfile, EmptyLetterFallsBackToD)
{
    writeConfigString("letter", "");
    const HotkeySpec spec = readHotkeySpec();
    EXPECT_EQ('D', spec.letter);
    EXPECT_EQ("Press Ctl+Shift+D to look up a word.", hintOf(spec));
}

TEST_F(HotkeyProfile, WritesFlagsAsOneOrZeroAndTheKeyAsOneCharacter)
{
    writeHotkeySpec(makeSpec(true, false, true, 'K'));
    EXPECT_EQ("1", storedText("control"));
    EXPECT_EQ("0", storedText("shift"));
    EXPECT_EQ("1", storedText("alt"));
    EXPECT_EQ("K", storedText("letter"));
}

TEST_F(HotkeyProfile, WrittenSpecReadsBackUnchanged)
{
    const HotkeySpec specs[] = {makeSpec(true, false, false, 'D'), makeSpec(false, true, true, '9'),
                                makeSpec(true, true, true, 'd'), makeSpec(false, false, false, 0xC0)};
    for (const HotkeySpec& spec : specs) {
        SCOPED_TRACE(spec.letter);
        writeHotkeySpec(spec);
        expectSameSpec(spec, readHotkeySpec());
    }
}

TEST_F(HotkeyProfile, ControlValueOfTheStoredSpecRoundTrips)
{
    // The settings dialog shows Ctrl with the key and no Shift; saving it unchanged writes shift "0".
    writeConfigString("control", "1");
    writeConfigString("shift", "0");
    writeConfigString("letter", "M");
    writeHotkeySpec(hotkeySpecFromControl(hotkeyControlValue(readHotkeySpec())));
    EXPECT_EQ("1", storedText("control"));
    EXPECT_EQ("0", storedText("shift"));
    EXPECT_EQ("0", storedText("alt"));
    EXPECT_EQ("M", storedText("letter"));
}
