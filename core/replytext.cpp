// Reply texts: accumulating received pieces and cutting replies into lists, in one pass each.
#include "core/dictsession.h"
#include "core/lookuptext.h"

#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <new>

// Room a reply starts with; it doubles from there while the reply is small, where moving it is
// cheap and the allocator hands back memory freed a moment ago.
static const size_t firstReplyCapacity = 4096;
// A reply that outgrows this is given room up to the cap at once and never moved again. Doubling
// on would copy it each time into fresh memory, touching every page again (a page's first touch
// is a fault the system has to serve), and the last doubling took twice the room of the reply:
// the cost per megabyte grew with the size. Room that is never written costs no page.
static const size_t largeReplyBytes = 256 * 1024;
// Clamp of leadingNumber: far beyond any count, far from overflowing.
static const long long leadingNumberLimit = 1LL << 62;
static const char completionMarker[] = "250 ";
static const char lineEnd[] = "\r\n";
static const char terminator[] = "\r\n.\r\n";
static const size_t terminatorLength = 5;

// The room of the last large reply, kept for the next one, as the allocator keeps small blocks:
// a large reply is then written into pages already in place instead of taking a fault on every
// page of fresh memory, so that it costs per megabyte what a small one does. Only the pages the
// largest reply wrote are held. Null while none is kept.
// A cancelled look-up may still be reading while the next one reads: the room is handed over under
// a lock held only for the exchange.
static char* spareRoom = nullptr;
static size_t spareCapacity = 0;
static std::atomic_flag spareHeld = ATOMIC_FLAG_INIT;

static void holdSpareRoom()
{
    while (spareHeld.test_and_set(std::memory_order_acquire)) {
    }
}

static void letGoOfSpareRoom() { spareHeld.clear(std::memory_order_release); }

void releaseSpareReplyRoom()
{
    holdSpareRoom();
    char* room = spareRoom;
    spareRoom = nullptr;
    spareCapacity = 0;
    letGoOfSpareRoom();
    free(room);
}

void releaseReply(ReplyText* reply)
{
    char* unused = reply->data;
    holdSpareRoom();
    if (reply->capacity > largeReplyBytes && reply->capacity > spareCapacity) {
        unused = spareRoom;
        spareRoom = reply->data;
        spareCapacity = reply->capacity;
    }
    letGoOfSpareRoom();
    free(unused);
    reply->data = nullptr;
    reply->length = 0;
    reply->capacity = 0;
    reply->full = false;
}

// The room a reply of needed bytes (its terminating zero included) grows to from capacity.
static size_t grownCapacity(size_t capacity, size_t needed)
{
    size_t whole = dictLimits.replyCapBytes + 1;
    if (needed > largeReplyBytes && whole >= needed)
        return whole;
    if (capacity < firstReplyCapacity)
        capacity = firstReplyCapacity;
    while (capacity < needed)
        capacity *= 2;
    return capacity;
}

// Makes room for extra more bytes and the terminating zero; false when memory ran out.
static bool reserveReply(ReplyText* reply, size_t extra)
{
    size_t needed = reply->length + extra + 1;
    if (reply->data != nullptr && needed <= reply->capacity)
        return true;
    size_t capacity = grownCapacity(reply->capacity, needed);
    char* room = nullptr;
    size_t roomCapacity = 0;
    if (capacity > largeReplyBytes) {
        holdSpareRoom();
        if (spareRoom != nullptr && spareCapacity >= capacity) {
            room = spareRoom;
            roomCapacity = spareCapacity;
            spareRoom = nullptr;
            spareCapacity = 0;
        }
        letGoOfSpareRoom();
    }
    if (room != nullptr) {
        if (reply->data != nullptr)
            memcpy(room, reply->data, reply->length + 1);
        else
            room[0] = '\0';
        free(reply->data);
        reply->data = room;
        reply->capacity = roomCapacity;
        return true;
    }
    char* grown = (char*)realloc(reply->data, capacity);
    if (grown == nullptr && capacity > 2 * needed) {
        // No room up to the cap in one piece (a 32-bit address space in pieces): as much as the
        // reply needs now, and twice that.
        capacity = 2 * needed;
        grown = (char*)realloc(reply->data, capacity);
    }
    if (grown == nullptr)
        return false;
    if (reply->data == nullptr)
        grown[0] = '\0';
    reply->data = grown;
    reply->capacity = capacity;
    return true;
}

void appendReplyText(ReplyText* reply, const char* piece, size_t pieceLength)
{
    if (reply->full)
        return;
    // The received bytes are taken as text: a zero byte ends what is appended.
    const char* zero = (const char*)memchr(piece, '\0', pieceLength);
    if (zero != nullptr)
        pieceLength = (size_t)(zero - piece);
    size_t room = dictLimits.replyCapBytes > reply->length ? dictLimits.replyCapBytes - reply->length : 0;
    if (pieceLength > room)
        pieceLength = room;
    if (!reserveReply(reply, pieceLength)) {
        reply->full = true;
        return;
    }
    memcpy(reply->data + reply->length, piece, pieceLength);
    reply->length += pieceLength;
    reply->data[reply->length] = '\0';
    if (reply->length >= dictLimits.replyCapBytes)
        reply->full = true;
}

size_t findText(const char* text, size_t from, size_t to, const char* needle, size_t needleLength)
{
    if (needleLength == 0 || to < needleLength)
        return to;
    size_t last = to - needleLength;
    size_t at = from;
    while (at <= last) {
        const char* first = (const char*)memchr(text + at, needle[0], last - at + 1);
        if (first == nullptr)
            return to;
        at = (size_t)(first - text);
        if (memcmp(text + at, needle, needleLength) == 0)
            return at;
        at++;
    }
    return to;
}

// Whether needle occurs in the bytes appended from offset oldLength on, or straddling them.
static bool appearsInNewPart(const ReplyText* reply, size_t oldLength, const char* needle)
{
    size_t needleLength = strlen(needle);
    if (needleLength == 0)
        return false;
    size_t from = oldLength >= needleLength - 1 ? oldLength - (needleLength - 1) : 0;
    return findText(reply->data, from, reply->length, needle, needleLength) < reply->length;
}

ReplyOutcome appendReplyPiece(ReplyText* reply, const char* piece, size_t pieceLength,
                              const char* const* refusalMarkers, int markerCount)
{
    size_t oldLength = reply->length;
    appendReplyText(reply, piece, pieceLength);
    if (reply->length == oldLength)
        return replyEnded;
    // Completion first: a reply holding "250 " is complete even with a marker inside it.
    if (appearsInNewPart(reply, oldLength, completionMarker))
        return replyComplete;
    for (int i = 0; i < markerCount; i++)
        if (appearsInNewPart(reply, oldLength, refusalMarkers[i]))
            return replyRefused;
    return replyEnded;
}

static bool isWhiteSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

long long leadingNumber(const char* text, size_t length)
{
    size_t at = 0;
    while (at < length && isWhiteSpace(text[at]))
        at++;
    bool negative = false;
    if (at < length && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        at++;
    }
    long long value = 0;
    while (at < length && text[at] >= '0' && text[at] <= '9') {
        if (value <= (leadingNumberLimit - 9) / 10)
            value = value * 10 + (text[at] - '0');
        else
            value = leadingNumberLimit;
        at++;
    }
    return negative ? -value : value;
}

bool beginsWithStatus(const char* text, size_t length, int status)
{
    return length >= 4 && leadingNumber(text, length) == status;
}

long long countField(const char* text, size_t length)
{
    const size_t fieldStart = 4;
    if (length <= fieldStart)
        return 0;
    size_t end = fieldStart;
    while (end < length && text[end] != ' ' && text[end] != '\r' && text[end] != '\n')
        end++;
    return leadingNumber(text + fieldStart, end - fieldStart);
}

int clampCount(long long count, int limit)
{
    if (count <= 0 || limit <= 0)
        return 0;
    return count > limit ? limit : (int)count;
}

size_t dropFirstLine(const char* text, size_t length, size_t start)
{
    size_t end = findText(text, start, length, lineEnd, 2);
    return end < length ? end + 2 : length;
}

void releaseTextList(char** list, int count)
{
    if (list == nullptr)
        return;
    for (int i = 0; i < count; i++)
        delete[] list[i];
    delete[] list;
}

// A new zero-filled name or line slot holding at most its 69 characters of the text.
static char* newSlot(const char* text, size_t length)
{
    char* slot = new char[dictSlotSize]();
    if (length > (size_t)dictSlotSize - 1)
        length = (size_t)dictSlotSize - 1;
    memcpy(slot, text, length);
    return slot;
}

// Hands back the filled list, or releases it when nothing was filled.
static int finishList(char** list, int filled, char*** result)
{
    if (filled == 0) {
        delete[] list;
        list = nullptr;
    }
    *result = list;
    return filled;
}

// The count a status line announces, when the text begins with that status: clamped to the
// list limit, 0 when the text is not such a reply.
static int announcedCount(const char* text, size_t length, int status)
{
    if (!beginsWithStatus(text, length, status))
        return 0;
    return clampCount(countField(text, length), dictLimits.maxListEntries);
}

// Cuts the lines after a status line: each line up to the first blank (names) or whole
// (lines), skipping lines that start with a blank or are empty, stopping at the terminator line, at a line
// without its CR LF (the reply was cut short) or at the count the status line gives.
static int cutSlotLines(const char* text, size_t length, int status, bool nameOnly, char*** result)
{
    *result = nullptr;
    int count = announcedCount(text, length, status);
    if (count == 0)
        return 0;
    char** list = new char*[(size_t)count + 1]();
    int filled = 0;
    size_t at = dropFirstLine(text, length, 0);
    while (filled < count && at < length) {
        size_t end = findText(text, at, length, lineEnd, 2);
        if (end == length)
            break;
        if (end - at == 1 && text[at] == '.')
            break;
        size_t cut = end;
        if (nameOnly) {
            const char* blank = (const char*)memchr(text + at, ' ', end - at);
            if (blank != nullptr)
                cut = (size_t)(blank - text);
        }
        // A line without a database name is no entry: nothing could be asked of it.
        if (cut > at)
            list[filled++] = newSlot(text + at, cut - at);
        at = end + 2;
    }
    return finishList(list, filled, result);
}

int cutMatchNames(const char* text, size_t length, char*** names)
{
    const int matchStatus = 152;
    return cutSlotLines(text, length, matchStatus, true, names);
}

int cutDatabaseLines(const char* text, size_t length, char*** lines)
{
    const int databaseStatus = 110;
    return cutSlotLines(text, length, databaseStatus, false, lines);
}

// The dictionary a definition's header line (`151 "word" database "description"`, from start to
// end) names: its description, else its database name; cut to 69 characters.
static void copyHeaderSource(const char* text, size_t start, size_t end, char* source)
{
    source[0] = '\0';
    const char* line = text + start;
    size_t length = end - start;
    size_t at = 0;
    // Past the status and the quoted word.
    const char* quote = (const char*)memchr(line, '"', length);
    if (quote == nullptr)
        return;
    quote = (const char*)memchr(quote + 1, '"', length - (size_t)(quote + 1 - line));
    if (quote == nullptr)
        return;
    at = (size_t)(quote + 1 - line);
    while (at < length && line[at] == ' ')
        at++;
    size_t name = at;
    while (at < length && line[at] != ' ' && line[at] != '\r' && line[at] != '\n')
        at++;
    size_t nameEnd = at;
    while (at < length && line[at] == ' ')
        at++;
    size_t from = name, to = nameEnd;
    if (at < length && line[at] == '"') {
        const char* close = (const char*)memchr(line + at + 1, '"', length - at - 1);
        if (close != nullptr && close > line + at + 1) {
            from = at + 1;
            to = (size_t)(close - line);
        }
    }
    size_t copied = to - from < (size_t)dictSlotSize - 1 ? to - from : (size_t)dictSlotSize - 1;
    memcpy(source, line + from, copied);
    source[copied] = '\0';
}

int cutDefinitionTexts(const char* text, size_t length, char*** texts, char (**sources)[dictSlotSize])
{
    const int definitionsStatus = 150;
    *texts = nullptr;
    if (sources)
        *sources = nullptr;
    int count = announcedCount(text, length, definitionsStatus);
    if (count == 0)
        return 0;
    char** list = new char*[(size_t)count + 1]();
    char(*named)[dictSlotSize] = sources ? new (std::nothrow) char[(size_t)count][dictSlotSize] : nullptr;
    int filled = 0;
    // Past the status line and the header line of the first definition.
    size_t header = dropFirstLine(text, length, 0);
    size_t at = dropFirstLine(text, length, header);
    while (filled < count && at < length) {
        if (named)
            copyHeaderSource(text, header, at, named[filled]);
        // at follows a CR LF, so the terminator search starts on it: an empty body puts the
        // terminator line straight after the header.
        size_t end = findText(text, at - 2, length, terminator, terminatorLength);
        if (end == length)
            break;
        size_t bodyEnd = end < at ? at : end;
        size_t bodyLength = bodyEnd - at;
        char* body = new char[bodyLength + 2]();
        memcpy(body, text + at, bodyLength);
        list[filled++] = body;
        // Past the terminator and the header of the next definition (or the closing status).
        header = end + terminatorLength;
        at = dropFirstLine(text, length, header);
    }
    if (named && filled > 0)
        *sources = named;
    else
        delete[] named;
    return finishList(list, filled, texts);
}

MatchReplyCutter startMatchCutter(bool restOfLine)
{
    MatchReplyCutter cutter = {restOfLine ? cutRestOfLine : cutStatusLine, 0, 0, 0};
    return cutter;
}

// Whether the line (with its line end) is the terminator line of a reply's text.
static bool isTerminatorLine(const char* line, size_t length)
{
    return (length == 3 && memcmp(line, ".\r\n", 3) == 0) || (length == 2 && memcmp(line, ".\n", 2) == 0);
}

size_t nextMatchReplyEnd(const char* text, size_t length, MatchReplyCutter* cutter, size_t* replyStart)
{
    const int matchStatus = 152;
    while (cutter->scanned < length) {
        const char* found = (const char*)memchr(text + cutter->scanned, '\n', length - cutter->scanned);
        if (found == nullptr) {
            cutter->scanned = length;
            return 0;
        }
        size_t lineStart = cutter->lineStart;
        size_t lineEnd = (size_t)(found - text) + 1;
        cutter->scanned = lineEnd;
        cutter->lineStart = lineEnd;
        bool replyEnds = false;
        switch (cutter->stage) {
        case cutRestOfLine:
            cutter->replyStart = lineEnd;
            cutter->stage = cutStatusLine;
            break;
        case cutStatusLine:
            if (beginsWithStatus(text + lineStart, lineEnd - lineStart, matchStatus))
                cutter->stage = cutMatchLines;
            else
                replyEnds = true;
            break;
        case cutMatchLines:
            if (isTerminatorLine(text + lineStart, lineEnd - lineStart))
                cutter->stage = cutFinalLine;
            break;
        case cutFinalLine:
            replyEnds = true;
            break;
        }
        if (replyEnds) {
            *replyStart = cutter->replyStart;
            cutter->replyStart = lineEnd;
            cutter->stage = cutStatusLine;
            return lineEnd;
        }
    }
    return 0;
}

static bool equalIgnoringCase(const char* a, const char* b)
{
    for (;; a++, b++) {
        char x = *a >= 'A' && *a <= 'Z' ? (char)(*a - 'A' + 'a') : *a;
        char y = *b >= 'A' && *b <= 'Z' ? (char)(*b - 'A' + 'a') : *b;
        if (x != y)
            return false;
        if (x == '\0')
            return true;
    }
}

int cutSuggestedWords(const char* text, size_t length, char (*words)[dictWordSize], int capacity)
{
    const int matchStatus = 152;
    int count = announcedCount(text, length, matchStatus);
    int filled = 0;
    int lines = 0;
    size_t at = dropFirstLine(text, length, 0);
    while (lines < count && filled < capacity && at < length) {
        size_t end = findText(text, at, length, lineEnd, 2);
        if (end == length || (end - at == 1 && text[at] == '.'))
            break;
        lines++;
        const char* line = text + at;
        size_t lineLength = end - at;
        at = end + 2;
        const char* blank = (const char*)memchr(line, ' ', lineLength);
        if (blank == nullptr)
            continue;
        const char* word = blank + 1;
        size_t wordLength = lineLength - (size_t)(word - line);
        if (wordLength >= 2 && word[0] == '"') {
            // The word is what the first and the last quote enclose; a lone quote opens the rest.
            const char* last = word + wordLength - 1;
            while (last > word && *last != '"')
                last--;
            word++;
            wordLength = last > word - 1 ? (size_t)(last - word) : wordLength - 1;
        }
        wordLength = utf8PrefixLength(word, wordLength, (size_t)dictWordSize - 1);
        if (wordLength == 0)
            continue;
        char* slot = words[filled];
        memcpy(slot, word, wordLength);
        slot[wordLength] = '\0';
        bool known = false;
        for (int i = 0; i < filled && !known; i++)
            known = equalIgnoringCase(words[i], slot);
        if (!known)
            filled++;
    }
    return filled;
}
