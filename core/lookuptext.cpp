// Text rules of the look-up dialogs that need no window: the captured word and the database choices.
#include "core/lookuptext.h"

#include <stdio.h>
#include <string.h>

// A byte that continues a UTF-8 sequence (10xxxxxx).
static bool isContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

size_t utf8PrefixLength(const char* text, size_t length, size_t maxBytes)
{
    if (length <= maxBytes)
        return length;
    size_t cut = maxBytes;
    // Step back to the first byte of the character that the cut would split.
    while (cut > 0 && isContinuationByte(text[cut]))
        cut--;
    return cut;
}

void takeCapturedWord(const char* text, size_t length, char* word, int capacity)
{
    if (capacity < 1)
        return;
    // The word ends at the first blank, and at a tab or line break too: a selection that runs
    // to the end of a line must not carry its line break into the request line.
    size_t wordLength = 0;
    while (wordLength < length && (static_cast<unsigned char>(text[wordLength]) > ' '))
        wordLength++;
    wordLength = utf8PrefixLength(text, wordLength, static_cast<size_t>(capacity - 1));
    memcpy(word, text, wordLength);
    word[wordLength] = '\0';
}

// Marks that stand before a word in text: ASCII ones and UTF-8 ones (opening quotes, guillemets,
// inverted marks).
static const char leadingMarks[] = "\"'([{<";
static const char* const leadingUtf8Marks[] = {
    "\xE2\x80\x9C", "\xE2\x80\x98", "\xE2\x80\x9E", "\xE2\x80\x9A", "\xC2\xAB", "\xC2\xBF", "\xC2\xA1",
};
// Marks that stand after a word: closing quotes and brackets, sentence punctuation, an ellipsis.
static const char trailingMarks[] = "\"')]}>.,;:!?";
static const char* const trailingUtf8Marks[] = {
    "\xE2\x80\x9D",
    "\xE2\x80\x99",
    "\xC2\xBB",
    "\xE2\x80\xA6",
};
static const char* const apostrophes[] = {"'", "\xE2\x80\x99"};
static const char* const openingApostrophes[] = {"'", "\xE2\x80\x98"};

// The length of the mark of the list that text[at, end) begins with, or 0.
static size_t markAt(const char* text, size_t at, size_t end, const char* ascii, const char* const* utf8,
                     size_t utf8Count)
{
    if (at < end && strchr(ascii, text[at]) != nullptr && text[at] != '\0')
        return 1;
    for (size_t i = 0; i < utf8Count; i++) {
        size_t length = strlen(utf8[i]);
        if (end - at >= length && memcmp(text + at, utf8[i], length) == 0)
            return length;
    }
    return 0;
}

// The length of the mark of the list that text[start, end) ends with, or 0.
static size_t markBefore(const char* text, size_t start, size_t end, const char* ascii,
                         const char* const* utf8, size_t utf8Count)
{
    if (end > start && text[end - 1] != '\0' && strchr(ascii, text[end - 1]) != nullptr)
        return 1;
    for (size_t i = 0; i < utf8Count; i++) {
        size_t length = strlen(utf8[i]);
        if (end - start >= length && memcmp(text + end - length, utf8[i], length) == 0)
            return length;
    }
    return 0;
}

static bool isOneOf(const char* text, size_t length, const char* const* marks, size_t count)
{
    for (size_t i = 0; i < count; i++)
        if (strlen(marks[i]) == length && memcmp(text, marks[i], length) == 0)
            return true;
    return false;
}

void trimWord(const char* word, char* trimmed, int capacity)
{
    if (capacity < 1)
        return;
    const size_t apostropheCount = sizeof apostrophes / sizeof apostrophes[0];
    size_t length = strlen(word);
    size_t start = 0, end = length;
    bool openedWithApostrophe = false;
    size_t mark;
    while ((mark = markAt(word, start, end, leadingMarks, leadingUtf8Marks,
                          sizeof leadingUtf8Marks / sizeof leadingUtf8Marks[0])) > 0) {
        openedWithApostrophe = openedWithApostrophe || isOneOf(word + start, mark, openingApostrophes, 2);
        start += mark;
    }
    while ((mark = markBefore(word, start, end, trailingMarks, trailingUtf8Marks,
                              sizeof trailingUtf8Marks / sizeof trailingUtf8Marks[0])) > 0) {
        if (!openedWithApostrophe && isOneOf(word + end - mark, mark, apostrophes, apostropheCount))
            break;
        end -= mark;
    }
    if (start >= end) {
        start = 0;
        end = length;
    }
    size_t kept = utf8PrefixLength(word + start, end - start, static_cast<size_t>(capacity - 1));
    memmove(trimmed, word + start, kept);
    trimmed[kept] = '\0';
}

// Copies at most length bytes of text into buffer, cut to capacity - 1 and terminated.
static void copyBounded(char* buffer, int capacity, const char* text, size_t length)
{
    if (capacity < 1)
        return;
    if (length > static_cast<size_t>(capacity - 1))
        length = static_cast<size_t>(capacity - 1);
    memcpy(buffer, text, length);
    buffer[length] = '\0';
}

void matchDescription(const DictSession& session, int matchIndex, char* description, int capacity)
{
    const char* name = session.matchDatabases[matchIndex];
    copyBounded(description, capacity, name, strlen(name));
    if (name[0] == '\0')
        return;
    for (int i = 0; i < session.databaseCount; i++) {
        const char* line = session.databaseLines[i];
        if (!strstr(line, name))
            continue;
        // The first line naming the database decides, even when it has no description.
        const char* blank = strchr(line, ' ');
        if (!blank)
            return;
        size_t rest = strlen(blank + 1);
        // Drop the quote at each end; a line too short to have both keeps the name.
        if (rest > 2)
            copyBounded(description, capacity, blank + 2, rest - 2);
        return;
    }
}

bool beginsWithIgnoringCase(const char* text, const char* prefix)
{
    for (; *prefix; text++, prefix++) {
        char a = *text, b = *prefix;
        if (a >= 'A' && a <= 'Z')
            a = static_cast<char>(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z')
            b = static_cast<char>(b - 'A' + 'a');
        if (a != b)
            return false;
    }
    return true;
}

int buildDatabaseChoices(const DictSession& session, DatabaseChoice* choices, int capacity)
{
    int count = 0;
    for (int m = 0; m < session.matchCount && count < capacity; m++) {
        DatabaseChoice& next = choices[count];
        matchDescription(session, m, next.description, dictSlotSize);
        bool known = false;
        for (int i = 0; i < count && !known; i++)
            known = beginsWithIgnoringCase(choices[i].description, next.description);
        if (known)
            continue;
        next.matchIndex = m;
        count++;
    }
    return count;
}

char* newShownDefinition(const char* text, size_t length, size_t limit)
{
    if (length <= limit) {
        char* whole = new char[length + 1];
        memcpy(whole, text, length);
        whole[length] = '\0';
        return whole;
    }
    // A line end in the last quarter of the head makes a clean cut; else the cut only keeps
    // characters whole (a UTF-8 character has at most three continuation bytes).
    size_t cut = limit;
    const char* lineEnd = nullptr;
    for (size_t at = limit; at > limit - limit / 4; at--) {
        if (text[at - 1] == '\n') {
            lineEnd = text + at;
            break;
        }
    }
    if (lineEnd != nullptr) {
        cut = (size_t)(lineEnd - text);
    } else {
        size_t back = 0;
        while (back < 3 && cut > 0 && isContinuationByte(text[cut]))
            cut--, back++;
        if (isContinuationByte(text[cut]))
            cut = limit;
    }
    char note[128];
    int noteLength =
        snprintf(note, sizeof note, "%s\r\n[The rest of this definition, %llu bytes, is not shown.]",
                 lineEnd != nullptr ? "" : "\r\n", (unsigned long long)(length - cut));
    if (noteLength < 0)
        noteLength = 0;
    char* shown = new char[cut + (size_t)noteLength + 1];
    memcpy(shown, text, cut);
    memcpy(shown + cut, note, (size_t)noteLength);
    shown[cut + (size_t)noteLength] = '\0';
    return shown;
}
