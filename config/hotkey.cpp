// The hotkey's conversions between the profile, the system registration, the hotkey control and the hint.
#include "config/hotkey.h"

#include <stdio.h>

#include "config/config.h"

namespace {

// The letter key holds one character; two bytes of room plus the terminator, as it always had.
const int letterCapacity = 3;

}  // namespace

HotkeySpec readHotkeySpec()
{
    HotkeySpec spec;
    spec.control = readConfigFlag("control", 1);
    spec.shift = readConfigFlag("shift", 1);
    spec.alt = readConfigFlag("alt", 0);
    char letter[letterCapacity];
    readConfigString("letter", "D", letter, letterCapacity);
    spec.letter = static_cast<unsigned char>(letter[0]);
    // A key that is present but empty names no key at all; such a hotkey could never be
    // pressed and its hint would end early, so it falls back to the usual key.
    if (spec.letter == 0)
        spec.letter = hotkeyDefaultLetter;
    return spec;
}

void writeHotkeySpec(const HotkeySpec& spec)
{
    writeHotkeyModifiers(spec);
    writeHotkeyLetter(spec);
}

void writeHotkeyModifiers(const HotkeySpec& spec)
{
    writeConfigString("control", spec.control ? "1" : "0");
    writeConfigString("shift", spec.shift ? "1" : "0");
    writeConfigString("alt", spec.alt ? "1" : "0");
}

void writeHotkeyLetter(const HotkeySpec& spec)
{
    const char letter[2] = {static_cast<char>(spec.letter), '\0'};
    writeConfigString("letter", letter);
}

unsigned hotkeyModifiers(const HotkeySpec& spec)
{
    unsigned modifiers = 0;
    if (spec.control)
        modifiers |= hotkeyModControl;
    if (spec.alt)
        modifiers |= hotkeyModAlt;
    if (spec.shift)
        modifiers |= hotkeyModShift;
    return modifiers;
}

void formatHotkeyHint(const HotkeySpec& spec, char hint[hotkeyHintCapacity])
{
    snprintf(hint, hotkeyHintCapacity, "Press %s%s%s%c to look up a word.", spec.control ? "Ctl+" : "",
             spec.shift ? "Shift+" : "", spec.alt ? "Alt+" : "", static_cast<char>(spec.letter));
}

unsigned short hotkeyControlValue(const HotkeySpec& spec)
{
    unsigned flags = 0;
    if (spec.control)
        flags |= hotkeyFlagControl;
    if (spec.shift)
        flags |= hotkeyFlagShift;
    if (spec.alt)
        flags |= hotkeyFlagAlt;
    return static_cast<unsigned short>(flags * 256 + spec.letter);
}

HotkeySpec hotkeySpecFromControl(unsigned short value)
{
    const unsigned flags = value >> 8;
    HotkeySpec spec;
    spec.control = (flags & hotkeyFlagControl) != 0;
    spec.shift = (flags & hotkeyFlagShift) != 0;
    spec.alt = (flags & hotkeyFlagAlt) != 0;
    spec.letter = static_cast<unsigned char>(value & 0xFF);
    return spec;
}
