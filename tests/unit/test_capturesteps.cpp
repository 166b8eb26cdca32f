// Tests of the word capture's steps: what is done when, against programs that answer in different ways,
// the copy keystrokes for every held modifier, and when the user's clipboard goes back.
#include <gtest/gtest.h>

#include <ctype.h>

#include <string>

#include "core/capturesteps.h"

namespace {

const uint32_t never = 0xFFFFFFFFu;

// How the foreground program and the user behave, in milliseconds from the hotkey.
struct Program {
    const char* name;
    bool askControl;
    bool typeKeys;
    uint32_t requestAnswerMs;    // the copy request returns after this long
    bool requestAnswered;        // ... answered, or given up on a program that does not answer
    uint32_t requestCopyLandMs;  // after the request, its copy lands at this time (never: it ignores it)
    uint32_t keyCopyAfterMs;     // the copy keys make a copy land this long after they are typed
    // What must happen.
    bool copied;
    bool keysTyped;
    uint32_t keysNotBeforeMs;
    uint32_t keysNotAfterMs;
    uint32_t doneNotAfterMs;
};

struct Outcome {
    bool copied;
    bool keysTyped;
    uint32_t keysAtMs;
    uint32_t boxAtMs;  // when the box could first show
    uint32_t doneAtMs;
    int requests;
};

// Runs the steps against the program on a simulated clock that starts near the tick's wrap-around.
Outcome run(const Program& program)
{
    const uint32_t base = 0xFFFFFF00u;
    uint32_t now = 0;
    uint32_t landsAt = never;
    bool answered = false;
    Outcome outcome = {false, false, 0, never, 0, 0};
    WordCapture capture;
    beginWordCapture(&capture, base, program.askControl, program.typeKeys);
    for (int step = 0; step < 10000; step++) {
        if (outcome.boxAtMs == never && captureMayShowBox(&capture))
            outcome.boxAtMs = now;
        CaptureObservation seen = {base + now, now >= landsAt, answered};
        switch (nextCaptureAction(&capture, seen)) {
        case CaptureAction::requestCopy:
            outcome.requests++;
            now += program.requestAnswerMs;
            answered = program.requestAnswered;
            if (answered)
                landsAt = program.requestCopyLandMs;
            break;
        case CaptureAction::wait:
            now += captureSliceMs;
            break;
        case CaptureAction::typeCopyKeys:
            outcome.keysTyped = true;
            outcome.keysAtMs = now;
            if (program.keyCopyAfterMs != never)
                landsAt = now + program.keyCopyAfterMs;
            break;
        case CaptureAction::finished:
            outcome.copied = capture.copied;
            outcome.doneAtMs = now;
            if (outcome.boxAtMs == never && captureMayShowBox(&capture))
                outcome.boxAtMs = now;
            return outcome;
        }
    }
    ADD_FAILURE() << program.name << ": the capture never finished";
    return outcome;
}

const Program programs[] = {
    // name, ask, keys, request returns, answered, lands, keys copy;
    // copied, keys typed, keys from/to, done by
    {"edit control copies at once", true, true, 1, true, 1, 5, true, false, 0, 0, 5},
    {"control's copy lands after its answer", true, true, 1, true, 30, never, true, true, 1, 10, 40},
    // The keys go at once, whether or not the user still holds the hotkey's modifiers.
    {"browser copies on the keys", true, true, 1, true, never, 20, true, true, 1, 1, 40},
    {"browser's copy lands late, within the bound", true, true, 1, true, never, 700, true, true, 1, 1, 720},
    {"nothing copies anywhere", true, true, 1, true, never, never, false, true, 1, 1, captureBudgetMs},
    {"hung program: no keys, given up at the bound", true, true, captureBudgetMs, false, never, 5, false,
     false, 0, 0, captureBudgetMs},
    {"program known to hang refuses at once: no keys", true, true, 0, false, never, 5, false, false, 0, 0, 0},
    {"slow answer leaves no time for the keys", true, true, 900, true, never, 5, false, false, 0, 0, 1000},
    {"no focused control: keys only", false, true, 0, true, never, 20, true, true, 0, 0, 40},
    {"own program in front: nothing at all", false, false, 0, true, never, 5, false, false, 0, 0, 0},
    {"clipboard left untouched: nothing asked", false, false, 0, true, 1, 5, false, false, 0, 0, 0},
};

class CaptureSteps : public ::testing::TestWithParam<Program> {};

TEST_P(CaptureSteps, CopiesWithinItsTimes)
{
    const Program& program = GetParam();
    const Outcome outcome = run(program);
    EXPECT_EQ(program.copied, outcome.copied);
    EXPECT_EQ(program.askControl ? 1 : 0, outcome.requests);
    EXPECT_EQ(program.keysTyped, outcome.keysTyped);
    if (outcome.keysTyped) {
        EXPECT_GE(outcome.keysAtMs, program.keysNotBeforeMs);
        EXPECT_LE(outcome.keysAtMs, program.keysNotAfterMs);
    }
    EXPECT_LE(outcome.doneAtMs, program.doneNotAfterMs);
    EXPECT_LE(outcome.doneAtMs, captureBudgetMs);
    // The box never waits for the keys' copy: it may show once they are handed over.
    EXPECT_EQ(outcome.keysTyped ? outcome.keysAtMs : outcome.doneAtMs, outcome.boxAtMs);
}

INSTANTIATE_TEST_SUITE_P(Programs, CaptureSteps, ::testing::ValuesIn(programs),
                         [](const ::testing::TestParamInfo<Program>& info) {
                             std::string name;
                             for (const char* p = info.param.name; *p; ++p)
                                 name += (isalnum(static_cast<unsigned char>(*p)) ? *p : '_');
                             return name;
                         });

// Plays the strokes on a keyboard that starts with `held` down and checks what the program sees.
void expectSafeCopy(unsigned held)
{
    KeyStroke strokes[maxCopyKeystrokes];
    const int count = planCopyKeystrokes(held, strokes, maxCopyKeystrokes);
    const unsigned controls = keyBit(keyLeftControl) | keyBit(keyRightControl);
    unsigned down = held;
    int inserts = 0;
    for (int i = 0; i < count; i++) {
        const unsigned bit = keyBit(strokes[i].key);
        if (strokes[i].up) {
            EXPECT_TRUE(down & bit) << "held " << held << ": key " << strokes[i].key << " let go while up";
            down &= ~bit;
        } else {
            EXPECT_FALSE(down & bit) << "held " << held << ": key " << strokes[i].key << " pressed twice";
            down |= bit;
        }
        if (strokes[i].key == keyInsert && !strokes[i].up) {
            inserts++;
            EXPECT_EQ(0u, down & blockingModifiers) << "held " << held << ": Insert with Shift, Alt or Win";
            EXPECT_NE(0u, down & controls) << "held " << held << ": Insert without Ctrl";
        }
        // A lone Alt or Windows key let go opens a menu: Ctrl must be down by then.
        if (strokes[i].up && (bit & blockingModifiers)) {
            EXPECT_NE(0u, down & controls) << "held " << held << ": modifier let go before Ctrl went down";
        }
    }
    EXPECT_EQ(1, inserts);
    EXPECT_EQ(0u, down & blockingModifiers);
    // The user's own Ctrl stays as it is; one typed here is let go again.
    EXPECT_EQ(held & controls, down & controls);
    EXPECT_EQ(0u, down & keyBit(keyInsert));
}

TEST(CopyKeystrokes, NeverArriveWithShiftAltOrWin)
{
    // Every combination of the eight modifier keys.
    for (unsigned held = 0; held < 256; held++)
        expectSafeCopy(held);
}

TEST(CopyKeystrokes, NeverWritesPastCapacity)
{
    KeyStroke strokes[3] = {};
    EXPECT_EQ(2, planCopyKeystrokes(blockingModifiers, strokes, 2));
    EXPECT_EQ(keyLeftShift, strokes[1].key);  // Ctrl, then the first let-go
    EXPECT_EQ(0, strokes[2].key);
    EXPECT_EQ(0, planCopyKeystrokes(0, strokes, 0));
}

TEST(KeptClipboard, GoesBackOnlyOverTheCapturesOwnCopy)
{
    struct Case {
        bool whole;
        uint32_t before, now;
        bool askedProgramsCopy;
        bool restore;
    } cases[] = {
        {true, 10, 13, true, true},    // the capture copied, nobody since
        {true, 10, 10, true, false},   // nothing was copied: the clipboard is still the user's
        {true, 10, 14, false, false},  // another program copied after the capture's copy
        {false, 10, 13, true, false},  // could not be kept whole
        {true, 0xFFFFFFFFu, 1, true, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.restore, shouldRestoreClipboard(c.whole, c.before, c.now, c.askedProgramsCopy))
            << c.before << " " << c.now << " " << c.askedProgramsCopy;
    }
}

TEST(KeptClipboard, EveryFormatTheSystemLetsCopyIsKept)
{
    const FormatKeeping block = FormatKeeping::memoryBlock, none = FormatKeeping::uncopyable;
    const FormatKeeping emf = FormatKeeping::enhancedMetafile, wmf = FormatKeeping::metafilePicture;
    const FormatKeeping bitmap = FormatKeeping::bitmap, palette = FormatKeeping::palette;
    const struct {
        unsigned format;
        FormatKeeping how;
    } formats[] = {
        {0, none},       {1, block},      {2, bitmap},     {3, wmf},        {7, block},    {8, block},
        {9, palette},    {13, block},     {14, emf},       {15, block},     {16, block},   {17, block},
        {18, none},      {0x80, none},    {0x81, block},   {0x82, bitmap},  {0x83, wmf},   {0x84, none},
        {0x8E, emf},     {0x200, none},   {0x2FF, none},   {0x300, none},   {0x3FF, none}, {0xBFFF, none},
        {0xC000, block}, {0xC1F3, block}, {0xFFFF, block}, {0x10000, none},
    };
    for (const auto& f : formats) {
        EXPECT_EQ(static_cast<int>(f.how), static_cast<int>(formatKeeping(f.format)))
            << "format 0x" << std::hex << f.format;
    }
}

TEST(KeptClipboard, BitmapAndPaletteComeBackFromTheDib)
{
    const struct {
        unsigned format;
        bool dibOffered, leftOut;
    } cases[] = {
        {2, true, true},   {9, true, true},  {2, false, false},
        {9, false, false}, {8, true, false}, {14, true, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.leftOut, restoredFromOtherFormats(c.format, c.dibOffered))
            << c.format << " " << c.dibOffered;
}

}  // namespace
