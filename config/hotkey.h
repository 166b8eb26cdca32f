// The global hotkey as configured, and its conversions to the profile, the system registration and the hotkey
// control.
#pragma once
#include <stddef.h>

// The configured hotkey: which modifiers it needs and its virtual-key code.
struct HotkeySpec {
    bool control;
    bool shift;
    bool alt;
    unsigned char letter;  // virtual-key code; for A-Z and 0-9 the upper-case character itself
};

// The identifier the hotkey is registered under with the tray window.
const int hotkeyId = 9991;

// Modifier flags of the system's hotkey registration (MOD_ALT, MOD_CONTROL, MOD_SHIFT).
const unsigned hotkeyModAlt = 0x1;
const unsigned hotkeyModControl = 0x2;
const unsigned hotkeyModShift = 0x4;

// Flags in the high byte of the hotkey control's value (HOTKEYF_SHIFT, _CONTROL, _ALT, _EXT).
const unsigned hotkeyFlagShift = 0x1;
const unsigned hotkeyFlagControl = 0x2;
const unsigned hotkeyFlagAlt = 0x4;
const unsigned hotkeyFlagExtended = 0x8;

// Room for the longest hint, "Press Ctl+Shift+Alt+X to look up a word." (40 characters).
const size_t hotkeyHintCapacity = 41;

// The key used when the profile holds no usable key character.
const unsigned char hotkeyDefaultLetter = 'D';

// Reads the hotkey keys of the profile (control 1, shift 1, alt 0, letter "D" by default).
HotkeySpec readHotkeySpec();

// Writes the four hotkey keys: flags as "1"/"0", the key code as a one-character text.
void writeHotkeySpec(const HotkeySpec& spec);
// The two halves of writeHotkeySpec, for the settings dialog, which writes another key between
// them: control, shift and alt; then letter.
void writeHotkeyModifiers(const HotkeySpec& spec);
void writeHotkeyLetter(const HotkeySpec& spec);

// The modifier set for the system's hotkey registration.
unsigned hotkeyModifiers(const HotkeySpec& spec);

// "Press Ctl+Shift+D to look up a word." for the hotkey, into hint (hotkeyHintCapacity bytes).
void formatHotkeyHint(const HotkeySpec& spec, char hint[hotkeyHintCapacity]);

// The hotkey control's value: the control flags in the high byte, the key code in the low byte.
unsigned short hotkeyControlValue(const HotkeySpec& spec);

// The hotkey that a hotkey control value stands for; the extended-key flag is ignored.
HotkeySpec hotkeySpecFromControl(unsigned short value);
