// The kept words: Recent Words as the file history.txt holds them, written and read back without
// touching a file (the window side reads and writes it).
#include "core/history.h"

#include <stdio.h>
#include <string.h>

namespace {

const char onlinePlace[] = "online";
const char offlinePlace[] = "offline";
const char byteOrderMark[] = "\xEF\xBB\xBF";
const size_t byteOrderMarkLength = 3;

// Whether text is UTF-8 as a file may hold it: no overlong forms, no surrogates, nothing past
// U+10FFFF.
bool isUtf8(const unsigned char* text, size_t length)
{
    size_t i = 0;
    while (i < length) {
        unsigned char c = text[i];
        if (c < 0x80) {
            i++;
            continue;
        }
        size_t more;
        unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
        if (c >= 0xC2 && c <= 0xDF)
            more = 1;
        else if (c >= 0xE0 && c <= 0xEF) {
            more = 2;
            low = c == 0xE0 ? 0xA0 : 0x80;
            high = c == 0xED ? 0x9F : 0xBF;
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3;
            low = c == 0xF0 ? 0x90 : 0x80;
            high = c == 0xF4 ? 0x8F : 0xBF;
        } else
            return false;
        if (length - i <= more || text[i + 1] < low || text[i + 1] > high)
            return false;
        for (size_t k = 2; k <= more; k++)
            if (text[i + k] < 0x80 || text[i + k] > 0xBF)
                return false;
        i += more + 1;
    }
    return true;
}

bool isControl(char c) { return static_cast<unsigned char>(c) < 0x20; }

bool hasControl(const char* text)
{
    for (; *text != '\0'; text++)
        if (isControl(*text))
            return true;
    return false;
}

// Copies field [from, from + length) into slot (capacity bytes with the terminator); false when it
// does not fit.
bool takeField(const char* from, size_t length, char* slot, size_t capacity)
{
    if (length >= capacity)
        return false;
    memcpy(slot, from, length);
    slot[length] = '\0';
    return true;
}

// Reads one word line into kept.
HistoryFault parseLine(const char* line, size_t length, KeptWord* kept)
{
    const char* end = line + length;
    const char* tabs[3];
    const char* at = line;
    for (int t = 0; t < 3; t++) {
        tabs[t] = static_cast<const char*>(memchr(at, '\t', static_cast<size_t>(end - at)));
        if (!tabs[t])
            return historyMissingField;
        at = tabs[t] + 1;
    }
    if (tabs[0] == line || tabs[1] == tabs[0] + 1)
        return historyMissingField;
    if (!takeField(line, static_cast<size_t>(tabs[0] - line), kept->word, sizeof kept->word) ||
        !takeField(tabs[0] + 1, static_cast<size_t>(tabs[1] - tabs[0] - 1), kept->database,
                   sizeof kept->database) ||
        !takeField(tabs[2] + 1, static_cast<size_t>(end - tabs[2] - 1), kept->description,
                   sizeof kept->description))
        return historyLineTooLong;
    for (const char* c = line; c < end; c++)
        if (isControl(*c) && c != tabs[0] && c != tabs[1] && c != tabs[2])
            return historyControlCharacter;
    size_t placeLength = static_cast<size_t>(tabs[2] - tabs[1] - 1);
    const char* place = tabs[1] + 1;
    if (placeLength == sizeof offlinePlace - 1 && memcmp(place, offlinePlace, placeLength) == 0)
        kept->offline = true;
    else if (placeLength == sizeof onlinePlace - 1 && memcmp(place, onlinePlace, placeLength) == 0)
        kept->offline = false;
    else
        return historyUnknownPlace;
    return historyRead;
}

bool sameDictionaryWord(const KeptWord& a, const KeptWord& b)
{
    return strcmp(a.word, b.word) == 0 && strcmp(a.database, b.database) == 0 && a.offline == b.offline;
}

HistoryFault parseLines(const char* bytes, size_t length, KeptWord* words, int capacity, int* count)
{
    if (!isUtf8(reinterpret_cast<const unsigned char*>(bytes), length))
        return historyNotUtf8;
    size_t at = 0;
    if (length >= byteOrderMarkLength && memcmp(bytes, byteOrderMark, byteOrderMarkLength) == 0)
        at = byteOrderMarkLength;
    int lines = 0;
    bool first = true;
    for (; at < length; first = false) {
        const char* line = bytes + at;
        const char* lineEnd = static_cast<const char*>(memchr(line, '\n', length - at));
        size_t lineLength = lineEnd ? static_cast<size_t>(lineEnd - line) : length - at;
        at += lineLength + (lineEnd ? 1 : 0);
        if (lineLength > 0 && line[lineLength - 1] == '\r')
            lineLength--;
        if (first) {
            if (lineLength != sizeof historyFirstLine - 1 || memcmp(line, historyFirstLine, lineLength) != 0)
                return historyNotOurs;
            continue;
        }
        // A blank line (an editor's, at the end) holds nothing to trust or distrust.
        if (lineLength == 0)
            continue;
        if (++lines > recentWordsDepth)
            return historyTooManyLines;
        KeptWord kept;
        HistoryFault fault = parseLine(line, lineLength, &kept);
        if (fault != historyRead)
            return fault;
        bool again = false;
        for (int i = 0; i < *count && !again; i++)
            again = sameDictionaryWord(words[i], kept);
        if (!again && *count < capacity)
            words[(*count)++] = kept;
    }
    return first ? historyNotOurs : historyRead;
}

}  // namespace

const char* historyFaultText(HistoryFault fault)
{
    switch (fault) {
    case historyRead:
        return "read";
    case historyNotOurs:
        return "it is not a list of kept words";
    case historyHasNul:
        return "it holds zero bytes";
    case historyNotUtf8:
        return "it is not UTF-8 text";
    case historyLineTooLong:
        return "a word or dictionary is too long";
    case historyTooManyLines:
        return "it holds too many words";
    case historyMissingField:
        return "a line lacks its word or dictionary";
    case historyUnknownPlace:
        return "a line names neither online nor offline";
    case historyControlCharacter:
        return "a line holds control characters";
    case historyTooLarge:
        return "it is too large";
    }
    return "it is damaged";
}

// Appends line (of lineLength bytes) whole to buffer, false when it does not fit.
static bool appendLine(char* buffer, size_t capacity, size_t* length, const char* line, int lineLength)
{
    if (lineLength < 0 || static_cast<size_t>(lineLength) >= capacity - *length)
        return false;
    memcpy(buffer + *length, line, static_cast<size_t>(lineLength) + 1);
    *length += static_cast<size_t>(lineLength);
    return true;
}

size_t formatHistoryFile(const KeptWord* words, int count, char* buffer, size_t capacity)
{
    if (capacity < 1)
        return 0;
    buffer[0] = '\0';
    size_t length = 0;
    char line[historyLineSize];
    if (!appendLine(buffer, capacity, &length, line, snprintf(line, sizeof line, "%s\n", historyFirstLine)))
        return length;
    for (int i = 0, written = 0; i < count && written < recentWordsDepth; i++) {
        const KeptWord& kept = words[i];
        char word[dictWordSize], database[dictSlotSize], description[dictSlotSize];
        // Each slot read no further than its own size, terminated or not.
        snprintf(word, sizeof word, "%.*s", dictWordSize - 1, kept.word);
        snprintf(database, sizeof database, "%.*s", dictSlotSize - 1, kept.database);
        snprintf(description, sizeof description, "%.*s", dictSlotSize - 1, kept.description);
        if (word[0] == '\0' || database[0] == '\0' || hasControl(word) || hasControl(database))
            continue;
        for (char* c = description; *c != '\0'; c++)
            *c = isControl(*c) ? ' ' : *c;
        int lineLength = snprintf(line, sizeof line, "%s\t%s\t%s\t%s\n", word, database,
                                  kept.offline ? offlinePlace : onlinePlace, description);
        if (!appendLine(buffer, capacity, &length, line, lineLength))
            break;
        written++;
    }
    return length;
}

HistoryFault parseHistoryFile(const char* bytes, size_t length, KeptWord* words, int capacity, int* count)
{
    *count = 0;
    HistoryFault fault = length > historyReadLimit     ? historyTooLarge
                         : memchr(bytes, '\0', length) ? historyHasNul
                                                       : parseLines(bytes, length, words, capacity, count);
    if (fault != historyRead)
        *count = 0;
    return fault;
}

void keepViewerPageWord(const ViewerPage& page, KeptWord* kept)
{
    snprintf(kept->word, sizeof kept->word, "%s", page.shownWord);
    snprintf(kept->database, sizeof kept->database, "%s", page.database);
    snprintf(kept->description, sizeof kept->description, "%s", page.dictionary);
    kept->offline = page.serverIndex == offlineServerIndex;
}

void restoreRecentWords(RecentWords* recent, const KeptWord* words, int count, int onlineServerIndex)
{
    releaseRecentWords(recent);
    for (int i = 0; i < count && recent->count < recentWordsDepth; i++) {
        const KeptWord& kept = words[i];
        ViewerPage& page = recent->pages[recent->count++];
        memset(&page, 0, sizeof page);
        snprintf(page.askedWord, sizeof page.askedWord, "%.*s", dictWordSize - 1, kept.word);
        snprintf(page.shownWord, sizeof page.shownWord, "%.*s", dictWordSize - 1, kept.word);
        snprintf(page.database, sizeof page.database, "%.*s", dictSlotSize - 1, kept.database);
        snprintf(page.dictionary, sizeof page.dictionary, "%.*s", dictSlotSize - 1, kept.description);
        page.serverIndex = kept.offline ? offlineServerIndex : onlineServerIndex;
    }
}

int keepRecentWords(const RecentWords& recent, KeptWord* words, int capacity)
{
    int count = 0;
    for (int i = 0; i < recent.count && count < capacity; i++)
        keepViewerPageWord(recent.pages[i], &words[count++]);
    return count;
}

bool recentWordNeedsLookUp(const ViewerPage& page) { return page.definitionCount < 1; }
