// The steps of capturing the foreground program's selected word, apart from the window calls.
#include "core/capturesteps.h"

namespace {

// The system's standard clipboard formats this file tells apart.
const unsigned formatText = 1;
const unsigned formatBitmap = 2;
const unsigned formatMetafilePicture = 3;
const unsigned formatPalette = 9;
const unsigned formatEnhancedMetafile = 14;
const unsigned formatLastStandard = 17;  // CF_DIBV5
const unsigned formatDisplayText = 0x81;
const unsigned formatDisplayBitmap = 0x82;
const unsigned formatDisplayMetafilePicture = 0x83;
const unsigned formatDisplayEnhancedMetafile = 0x8E;
const unsigned formatRegisteredFirst = 0xC000;
const unsigned formatRegisteredLast = 0xFFFF;

uint32_t since(uint32_t startMs, uint32_t nowMs) { return nowMs - startMs; }

void enterPhase(WordCapture* capture, CapturePhase phase, uint32_t nowMs)
{
    capture->phase = phase;
    capture->phaseStartMs = nowMs;
}

CaptureAction finish(WordCapture* capture, bool copied)
{
    capture->phase = CapturePhase::done;
    capture->copied = copied;
    return CaptureAction::finished;
}

// After the copy request, or without one: on to the copy keys when they can be typed.
CaptureAction afterControl(WordCapture* capture, const CaptureObservation& seen)
{
    // Keys typed too late to be waited for could change the clipboard after the word was read.
    if (!capture->typeKeys || since(capture->startMs, seen.nowMs) + keyCopyWaitMs > captureBudgetMs)
        return finish(capture, false);
    enterPhase(capture, CapturePhase::keyCopy, seen.nowMs);
    return CaptureAction::typeCopyKeys;
}

}  // namespace

void beginWordCapture(WordCapture* capture, uint32_t nowMs, bool askControl, bool typeKeys)
{
    capture->phase = CapturePhase::starting;
    capture->startMs = nowMs;
    capture->phaseStartMs = nowMs;
    capture->askControl = askControl;
    capture->typeKeys = typeKeys;
    capture->copied = false;
}

CaptureAction nextCaptureAction(WordCapture* capture, const CaptureObservation& seen)
{
    if (capture->phase == CapturePhase::done)
        return CaptureAction::finished;
    if (capture->phase != CapturePhase::starting) {
        if (seen.clipboardChanged)
            return finish(capture, true);
        if (since(capture->startMs, seen.nowMs) >= captureBudgetMs)
            return finish(capture, false);
    }
    switch (capture->phase) {
    case CapturePhase::starting:
        if (!capture->askControl)
            return afterControl(capture, seen);
        enterPhase(capture, CapturePhase::controlCopy, seen.nowMs);
        return CaptureAction::requestCopy;
    case CapturePhase::controlCopy:
        // A program that let the request time out would not take keys any sooner. One that answered
        // without a copy yet gets the keys at once: a copy of its own landing later is still seen.
        if (!seen.controlAnswered)
            return finish(capture, false);
        return afterControl(capture, seen);
    case CapturePhase::keyCopy:
        // The box is up by now, so waiting costs the user nothing: the copy is awaited to the bound
        // (a slice that would end past it is not begun).
        if (since(capture->startMs, seen.nowMs) + captureSliceMs > captureBudgetMs)
            return finish(capture, false);
        return CaptureAction::wait;
    case CapturePhase::done:
        break;
    }
    return finish(capture, false);
}

bool captureMayShowBox(const WordCapture* capture)
{
    return capture->phase == CapturePhase::keyCopy || capture->phase == CapturePhase::done;
}

int planCopyKeystrokes(unsigned held, KeyStroke* strokes, int capacity)
{
    KeyStroke plan[maxCopyKeystrokes];
    int count = 0;
    const bool controlHeld = (held & (keyBit(keyLeftControl) | keyBit(keyRightControl))) != 0;
    if (!controlHeld)
        plan[count++] = {keyLeftControl, false};
    const CaptureKey releasable[] = {keyLeftShift, keyRightShift, keyLeftAlt,
                                     keyRightAlt,  keyLeftWin,    keyRightWin};
    for (CaptureKey key : releasable) {
        if (held & keyBit(key))
            plan[count++] = {key, true};
    }
    plan[count++] = {keyInsert, false};
    plan[count++] = {keyInsert, true};
    if (!controlHeld)
        plan[count++] = {keyLeftControl, true};
    const int filled = count < capacity ? count : (capacity > 0 ? capacity : 0);
    for (int i = 0; i < filled; i++)
        strokes[i] = plan[i];
    return filled;
}

bool shouldRestoreClipboard(bool keptWhole, uint32_t sequenceBefore, uint32_t sequenceNow,
                            bool copiedByAskedProgram)
{
    return keptWhole && sequenceNow != sequenceBefore && copiedByAskedProgram;
}

FormatKeeping formatKeeping(unsigned format)
{
    if (format >= formatRegisteredFirst && format <= formatRegisteredLast)
        return FormatKeeping::memoryBlock;
    switch (format) {
    case formatBitmap:
    case formatDisplayBitmap:
        return FormatKeeping::bitmap;
    case formatPalette:
        return FormatKeeping::palette;
    case formatMetafilePicture:
    case formatDisplayMetafilePicture:
        return FormatKeeping::metafilePicture;
    case formatEnhancedMetafile:
    case formatDisplayEnhancedMetafile:
        return FormatKeeping::enhancedMetafile;
    case formatDisplayText:
        return FormatKeeping::memoryBlock;
    }
    if (format >= formatText && format <= formatLastStandard)
        return FormatKeeping::memoryBlock;
    return FormatKeeping::uncopyable;
}

bool restoredFromOtherFormats(unsigned format, bool dibOffered)
{
    return dibOffered && (format == formatBitmap || format == formatPalette);
}
