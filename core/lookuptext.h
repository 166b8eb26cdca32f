// Text rules of the look-up dialogs that need no window: the captured word and the database choices.
#pragma once
#include <stddef.h>

#include "core/dictsession.h"

// The longest word the program passes on, in bytes of UTF-8; held in wordBufferSize bytes.
const int maxWordLength = 255;
const int wordBufferSize = maxWordLength + 1;

// The longest prefix of the UTF-8 text (of the given length) that has at most maxBytes bytes
// and does not end inside a character.
size_t utf8PrefixLength(const char* text, size_t length, size_t maxBytes);

// The word of a captured text: everything before the first blank, tab or line break, cut
// to capacity - 1 bytes without splitting a character, and terminated. Nothing when capacity < 1.
void takeCapturedWord(const char* text, size_t length, char* word, int capacity);

// The word as it stands in text without the quotes, brackets and punctuation around it:
// “word”, (word), word., word, and 'word' give word. An apostrophe inside stays (people's), and
// so does one at the end unless the word also began with one (friends' is a possessive). A word
// that is nothing but such marks stays as it is. Cut to capacity - 1 bytes and terminated;
// nothing when capacity < 1.
void trimWord(const char* word, char* trimmed, int capacity);

// One item of the database choice list: the description it shows and the match it stands for.
struct DatabaseChoice {
    char description[dictSlotSize];
    int matchIndex;
};

// The description for match matchIndex: taken from the first database line that contains the
// match's name, as the text between the quotes after the line's first blank; the match's name
// itself when no line holds it or the line has no description.
void matchDescription(const DictSession& session, int matchIndex, char* description, int capacity);

// Whether text begins with prefix, ignoring the case of ASCII letters.
bool beginsWithIgnoringCase(const char* text, const char* prefix);

// The items of the database choice list, in match order: a match adds its description unless
// an earlier item already begins with it (ignoring case). Fills at most capacity items and
// returns how many; every match index given lies below the session's matchCount.
int buildDatabaseChoices(const DictSession& session, DatabaseChoice* choices, int capacity);

// The most of one definition the viewer shows. The edit box lays out its whole text when it is
// set and frees it slowly when it goes: a definition of tens of megabytes froze the program for
// a minute, and even a megabyte added over a second each way under Wine. A quarter of a
// megabyte is still a hundred pages, more than anyone reads in the box.
const size_t shownDefinitionLimit = 256 * 1024;

// The text the viewer shows for a definition of the given length: the definition itself when it
// has at most limit bytes; else its head, cut after the last line end within the limit (or, in a
// head without one, not inside a character), then a blank line and a line saying how many bytes
// were left out. A new zero-terminated text; release it with delete[].
char* newShownDefinition(const char* text, size_t length, size_t limit);
