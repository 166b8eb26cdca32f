// The steps of capturing the foreground program's selected word, apart from the window calls: when to ask
// its focused control, when to type the copy keys, how long to wait for each, and when to put the user's
// clipboard back.
#pragma once
#include <stdint.h>

// How long each step may wait, in milliseconds. The copy keys go out at once, while the user may still
// hold the hotkey's modifiers (the keystrokes let go of them first); a program that takes the copy keys
// answers within a few tenths of a second, so keys typed later than keyCopyWaitMs before the end are not
// worth typing. The whole capture never takes longer than captureBudgetMs, whatever the foreground
// program does; once the copy keys are out (or the copy request copied nothing yet), the word box shows
// and a copy landing later within the budget still fills it.
const uint32_t keyCopyWaitMs = 300;
const uint32_t captureBudgetMs = 1000;
// How often the clipboard and the keyboard are looked at while waiting.
const uint32_t captureSliceMs = 10;

// What the window side does next.
enum class CaptureAction {
    requestCopy,   // ask the focused control to copy (bounded by the budget), note whether it answered
    wait,          // let one slice pass, then observe again
    typeCopyKeys,  // type the keystrokes of planCopyKeystrokes for the modifiers held now; from then on
                   // the box may show while the capture waits for the copy (captureMayShowBox)
    finished,      // the capture is over; WordCapture::copied tells whether the clipboard changed
};

enum class CapturePhase { starting, controlCopy, keyCopy, done };

struct WordCapture {
    CapturePhase phase;
    uint32_t startMs;
    uint32_t phaseStartMs;
    bool askControl;  // the foreground program has a focused control to send the copy request to
    bool typeKeys;    // the foreground belongs to another program, so the copy keys can go to it
    bool copied;      // set when finished: the clipboard changed during the capture
};

// What the window side sees each time it asks for the next action. Times are a millisecond tick
// that may wrap around.
struct CaptureObservation {
    uint32_t nowMs;
    bool clipboardChanged;  // the clipboard's sequence number moved since the capture began
    bool controlAnswered;   // the copy request was answered (only looked at after requestCopy)
};

void beginWordCapture(WordCapture* capture, uint32_t nowMs, bool askControl, bool typeKeys);
CaptureAction nextCaptureAction(WordCapture* capture, const CaptureObservation& seen);
// Whether nothing is left to do before the box shows: the copy keys have been handed over (their copy
// is awaited with the box open), or the capture is over.
bool captureMayShowBox(const WordCapture* capture);

// The keys the copy keystroke deals with; left and right apart, as the keyboard state tells them.
enum CaptureKey {
    keyLeftShift,
    keyRightShift,
    keyLeftControl,
    keyRightControl,
    keyLeftAlt,
    keyRightAlt,
    keyLeftWin,
    keyRightWin,
    keyInsert,
};
inline unsigned keyBit(CaptureKey key) { return 1u << key; }
// The held modifiers that must not be down when the copy keys arrive: Shift+Insert pastes, Alt opens
// menus, the Windows key makes the combination the system's.
const unsigned blockingModifiers = (1u << keyLeftShift) | (1u << keyRightShift) | (1u << keyLeftAlt) |
                                   (1u << keyRightAlt) | (1u << keyLeftWin) | (1u << keyRightWin);

struct KeyStroke {
    CaptureKey key;
    bool up;
};
const int maxCopyKeystrokes = 10;

// The keystrokes of Ctrl+Insert typed while the keys of `held` (keyBit flags) are down: held Shift,
// Alt and Windows keys are let go first, after Ctrl went down so that letting go of Alt or Windows
// alone does not open a menu; a Ctrl the user holds is used as it is and left down. Fills at most
// capacity strokes and returns how many.
int planCopyKeystrokes(unsigned held, KeyStroke* strokes, int capacity);

// Whether the clipboard kept before the capture goes back, decided with the clipboard open: it was
// kept whole, it changed since the capture began, and what it holds now was put there by the program
// the capture asked (a copy by any other program wins and stays).
bool shouldRestoreClipboard(bool keptWhole, uint32_t sequenceBefore, uint32_t sequenceNow,
                            bool copiedByAskedProgram);

// How a clipboard format's data can be kept to be put back.
enum class FormatKeeping {
    memoryBlock,       // a block of global memory, copied byte for byte
    enhancedMetafile,  // an enhanced metafile handle, copied as a metafile
    metafilePicture,   // a picture block whose metafile handle is copied with it
    bitmap,            // a bitmap handle
    palette,           // a palette handle
    uncopyable,        // owner-display, private and GDI-object formats, or unknown ones: not keepable
};
FormatKeeping formatKeeping(unsigned format);
// Whether a format can be left out because the system makes it again from others that are kept: a
// bitmap or palette where a DIB is offered (the DIB brings back the same picture).
bool restoredFromOtherFormats(unsigned format, bool dibOffered);
