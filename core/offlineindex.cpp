// The index search of dictd-format databases, and the reader the replies ask for such a database.
#include "core/offlineindex.h"

#include <stdlib.h>
#include <string.h>

#include "core/offlinechars.h"
#include "core/offlinedict.h"

// A base64 number of more digits could overflow; no offset needs them.
static const size_t maxBase64Digits = 10;
// The bytes lev inserts and substitutes in a database that is not UTF-8: a-z, then the bytes that begin
// a UTF-8 sequence, as dictd does.
static const int firstLeadByte = 0xC0;

// The requested word as the database compares it, into out (room for outSize bytes): lower case unless
// the database is case-sensitive; white space becomes a blank and, without allchars, what is neither
// alphanumeric nor space is dropped. Returns its length, or noEntry when the word is not UTF-8 or too long.
static size_t normalisedWord(const OfflineDatabase* db, bool allChars, const char* word, size_t length,
                             char* out, size_t outSize)
{
    size_t written = 0;
    const unsigned char* at = (const unsigned char*)word;
    const unsigned char* end = at + length;
    while (at < end) {
        uint32_t c;
        size_t size = decodeUtf8(at, (size_t)(end - at), &c);
        if (size == 0)
            return noEntry;
        at += size;
        if (isSpaceCodePoint(c))
            c = ' ';
        else if (!allChars && !isAlnumCodePoint(c))
            continue;
        else if (!db->caseSensitive)
            c = lowerCodePoint(c);
        if (outSize - written < utf8MaxBytes + 1)
            return noEntry;
        written += encodeUtf8(c, out + written);
    }
    out[written] = '\0';
    // A tab or line end ends a word as it ends a headword.
    for (size_t i = 0; i < written; i++) {
        if (out[i] == '\t' || out[i] == '\n')
            return i;
    }
    return written;
}

// ---- Comparing headwords

// Bytes that count when comparing without allchars: ASCII space and alphanumerics, and every byte of a
// UTF-8 sequence; tab and line feed end a headword.
static bool countsInHeadword(unsigned char c)
{
    if (c >= 0x80)
        return true;
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == ' ' ||
           c == '\v' || c == '\f' || c == '\r';
}

static unsigned char foldAscii(const OfflineDatabase* db, unsigned char c)
{
    return !db->caseSensitive && c >= 'A' && c <= 'Z' ? (unsigned char)(c + 32) : c;
}

static bool endsHeadword(const char* at, const char* end) { return at >= end || *at == '\t' || *at == '\n'; }

// Compares a normalised word with the headword at entry (ending at its tab): -2 when the word sorts
// before it, -1 when the word is a proper prefix of it, 0 when equal, 1 when the word sorts after it.
static int compareWord(const OfflineDatabase* db, const char* word, size_t wordLength, const char* entry,
                       const char* end)
{
    size_t i = 0;
    if (db->bytewise) {
        for (; i < wordLength && !endsHeadword(entry, end); i++, entry++) {
            unsigned char a = (unsigned char)word[i];
            unsigned char b = (unsigned char)*entry;
            if (a != b)
                return a < b ? -2 : 1;
        }
    } else {
        while (i < wordLength && !endsHeadword(entry, end)) {
            if (!countsInHeadword((unsigned char)*entry)) {
                entry++;
                continue;
            }
            unsigned char a = foldAscii(db, (unsigned char)word[i]);
            unsigned char b = foldAscii(db, (unsigned char)*entry);
            if (a != b)
                return a < b ? -2 : 1;
            i++;
            entry++;
        }
        while (!endsHeadword(entry, end) && !countsInHeadword((unsigned char)*entry))
            entry++;
    }
    if (i < wordLength)
        return 1;
    return endsHeadword(entry, end) ? 0 : -1;
}

int compareIndexHeadwords(const OfflineDatabase* db, const char* a, const char* b, const char* end)
{
    for (;;) {
        if (!db->bytewise) {
            while (!endsHeadword(a, end) && !countsInHeadword((unsigned char)*a))
                a++;
            while (!endsHeadword(b, end) && !countsInHeadword((unsigned char)*b))
                b++;
        }
        bool aEnds = endsHeadword(a, end);
        bool bEnds = endsHeadword(b, end);
        if (aEnds || bEnds)
            return (aEnds ? 0 : 1) - (bEnds ? 0 : 1);
        unsigned char x = db->bytewise ? (unsigned char)*a : foldAscii(db, (unsigned char)*a);
        unsigned char y = db->bytewise ? (unsigned char)*b : foldAscii(db, (unsigned char)*b);
        if (x != y)
            return x < y ? -1 : 1;
        a++;
        b++;
    }
}

// ---- Searching the index

static size_t nextLine(const OfflineDatabase* db, size_t at)
{
    const char* found = (const char*)memchr(db->index + at, '\n', db->indexSize - at);
    return found == nullptr ? db->indexSize : (size_t)(found - db->index) + 1;
}

// The first line whose headword the word does not sort after: a binary search on byte offsets, each
// probe moved back to the start of its line.
static size_t firstNotBefore(const OfflineDatabase* db, const char* word, size_t wordLength)
{
    size_t low = 0;
    size_t high = db->indexSize;
    const char* end = db->index + db->indexSize;
    while (low < high) {
        size_t middle = low + (high - low) / 2;
        while (middle > low && db->index[middle - 1] != '\n')
            middle--;
        if (compareWord(db, word, wordLength, db->index + middle, end) <= 0)
            high = middle;
        else
            low = nextLine(db, middle);
    }
    return low;
}

// The first line whose headword equals the word, or noEntry.
static size_t findExact(const OfflineDatabase* db, const char* word, size_t wordLength)
{
    size_t at = firstNotBefore(db, word, wordLength);
    if (at < db->indexSize &&
        compareWord(db, word, wordLength, db->index + at, db->index + db->indexSize) == 0)
        return at;
    return noEntry;
}

static bool decodeBase64(const char* text, size_t length, uint64_t* value)
{
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    if (length == 0 || length > maxBase64Digits)
        return false;
    uint64_t result = 0;
    for (size_t i = 0; i < length; i++) {
        const char* digit = text[i] == '\0' ? nullptr : strchr(digits, text[i]);
        if (digit == nullptr)
            return false;
        result = result * 64 + (uint64_t)(digit - digits);
    }
    *value = result;
    return true;
}

bool readIndexEntry(const OfflineDatabase* db, size_t at, IndexEntry* entry, size_t* next)
{
    size_t lineEnd = nextLine(db, at);
    *next = lineEnd;
    if (lineEnd > at && db->index[lineEnd - 1] == '\n')
        lineEnd--;
    const char* line = db->index + at;
    size_t length = lineEnd - at;
    size_t tabs[3];
    int tabCount = 0;
    for (size_t i = 0; i < length; i++) {
        if (line[i] == '\t') {
            if (tabCount == 3)
                return false;
            tabs[tabCount++] = i;
        }
    }
    if (tabCount < 2)
        return false;
    size_t lengthEnd = tabCount == 3 ? tabs[2] : length;
    entry->headword = line;
    entry->headwordLength = tabs[0];
    entry->shown = tabCount == 3 ? line + tabs[2] + 1 : line;
    entry->shownLength = tabCount == 3 ? length - tabs[2] - 1 : tabs[0];
    return decodeBase64(line + tabs[0] + 1, tabs[1] - tabs[0] - 1, &entry->offset) &&
           decodeBase64(line + tabs[1] + 1, lengthEnd - tabs[1] - 1, &entry->length);
}

// Reads the data of an entry into a new zero-terminated text; null when it cannot be read.
static char* readDefinition(OfflineDatabase* db, const IndexEntry& entry)
{
    if (entry.offset > db->dataLength || entry.length > db->dataLength - entry.offset ||
        entry.length > offlineLimits.maxDefinitionBytes)
        return nullptr;
    char* text = (char*)malloc((size_t)entry.length + 1);
    if (text == nullptr)
        return nullptr;
    bool read = db->zipped ? readDictzipRange(&db->source, &db->zip, entry.offset, text, (size_t)entry.length)
                           : readSource(&db->source, entry.offset, text, (size_t)entry.length);
    if (!read) {
        free(text);
        return nullptr;
    }
    text[entry.length] = '\0';
    return text;
}

char* readSpecialEntry(OfflineDatabase* db, const char* name, bool allChars, size_t* length)
{
    char word[64];
    size_t wordLength = normalisedWord(db, allChars, name, strlen(name), word, sizeof word);
    if (wordLength == noEntry)
        return nullptr;
    size_t at = findExact(db, word, wordLength);
    IndexEntry entry;
    size_t next;
    if (at == noEntry || !readIndexEntry(db, at, &entry, &next))
        return nullptr;
    char* text = readDefinition(db, entry);
    if (text != nullptr)
        *length = (size_t)entry.length;
    return text;
}

bool hasSpecialEntry(OfflineDatabase* db, const char* name, bool allChars)
{
    size_t length = 0;
    char* text = readSpecialEntry(db, name, allChars, &length);
    free(text);
    return text != nullptr;
}

void addLine(MatchList* list, size_t line)
{
    if (list->count >= list->limit)
        list->full = true;
    if (list->full)
        return;
    if (list->count == list->capacity) {
        int capacity = list->capacity == 0 ? 16 : list->capacity * 2;
        size_t* grown = (size_t*)realloc(list->lines, (size_t)capacity * sizeof(size_t));
        if (grown == nullptr) {
            list->full = true;
            return;
        }
        list->lines = grown;
        list->capacity = capacity;
    }
    list->lines[list->count++] = line;
}

static void searchExactOrPrefix(const OfflineDatabase* db, const char* word, size_t wordLength, bool prefix,
                                MatchList* list)
{
    const char* end = db->index + db->indexSize;
    for (size_t at = firstNotBefore(db, word, wordLength); at < db->indexSize; at = nextLine(db, at)) {
        int order = compareWord(db, word, wordLength, db->index + at, end);
        if (order != 0 && !(prefix && order == -1))
            break;
        addLine(list, at);
    }
}

// One lev candidate: the first line equal to it, once per distinct line.
static void checkCandidate(const OfflineDatabase* db, const char* candidate, size_t length, MatchList* list)
{
    size_t at = findExact(db, candidate, length);
    if (at == noEntry)
        return;
    for (int i = 0; i < list->count; i++) {
        if (list->lines[i] == at)
            return;
    }
    addLine(list, at);
}

// Edit distance one on bytes, in dictd's order: deletions, transpositions, insertions after each byte,
// insertions at the front, substitutions.
static void searchLevBytes(const OfflineDatabase* db, const char* word, size_t length, char* buffer,
                           MatchList* list)
{
    char defaultAlphabet[26 + 256 - firstLeadByte];
    size_t letters = 0;
    for (int c = 'a'; c <= 'z'; c++)
        defaultAlphabet[letters++] = (char)c;
    for (int c = firstLeadByte; c <= 0xFF; c++)
        defaultAlphabet[letters++] = (char)c;
    // The database's own alphabet replaces them, byte by byte.
    const char* alphabet = db->alphabet != nullptr ? db->alphabet : defaultAlphabet;
    if (db->alphabet != nullptr)
        letters = strlen(db->alphabet);
    for (size_t i = 0; i < length; i++) {
        memcpy(buffer, word, i);
        memcpy(buffer + i, word + i + 1, length - i - 1);
        checkCandidate(db, buffer, length - 1, list);
    }
    memcpy(buffer, word, length);
    for (size_t i = 1; i < length; i++) {
        char swapped = buffer[i - 1];
        buffer[i - 1] = buffer[i];
        buffer[i] = swapped;
        checkCandidate(db, buffer, length, list);
        buffer[i] = buffer[i - 1];
        buffer[i - 1] = swapped;
    }
    for (size_t i = 0; i < length; i++) {
        memcpy(buffer, word, i + 1);
        memcpy(buffer + i + 2, word + i + 1, length - i - 1);
        for (size_t k = 0; k < letters; k++) {
            buffer[i + 1] = alphabet[k];
            checkCandidate(db, buffer, length + 1, list);
        }
    }
    memcpy(buffer + 1, word, length);
    for (size_t k = 0; k < letters; k++) {
        buffer[0] = alphabet[k];
        checkCandidate(db, buffer, length + 1, list);
    }
    memcpy(buffer, word, length);
    for (size_t i = 0; i < length; i++) {
        for (size_t k = 0; k < letters; k++) {
            if (buffer[i] == alphabet[k])
                continue;
            char kept = buffer[i];
            buffer[i] = alphabet[k];
            checkCandidate(db, buffer, length, list);
            buffer[i] = kept;
        }
    }
}

// Edit distance one on UTF-8 characters, in dictd's order for such databases: transpositions,
// insertions at the end, then at each character its deletion and, per letter of the alphabet, an insertion
// before it and a substitution for it.
static void searchLevUtf8(const OfflineDatabase* db, const char* word, size_t length, char* buffer,
                          MatchList* list)
{
    const char* alphabet = db->alphabet != nullptr ? db->alphabet : "abcdefghijklmnopqrstuvwxyz";
    size_t alphabetLength = strlen(alphabet);
    // Where each character starts; the word was checked to be UTF-8.
    size_t* starts = (size_t*)malloc((length + 1) * sizeof(size_t));
    if (starts == nullptr)
        return;
    size_t count = 0;
    uint32_t c;
    for (size_t at = 0; at < length;) {
        starts[count++] = at;
        at += decodeUtf8((const unsigned char*)word + at, length - at, &c);
    }
    starts[count] = length;
    for (size_t i = 1; i < count; i++) {
        size_t a = starts[i - 1], b = starts[i], e = starts[i + 1];
        size_t at = 0;
        memcpy(buffer, word, a);
        at = a;
        memcpy(buffer + at, word + b, e - b);
        at += e - b;
        memcpy(buffer + at, word + a, b - a);
        at += b - a;
        memcpy(buffer + at, word + e, length - e);
        checkCandidate(db, buffer, length, list);
    }
    memcpy(buffer, word, length);
    for (size_t k = 0; k < alphabetLength;) {
        size_t size = decodeUtf8((const unsigned char*)alphabet + k, alphabetLength - k, &c);
        memcpy(buffer + length, alphabet + k, size);
        checkCandidate(db, buffer, length + size, list);
        k += size;
    }
    for (size_t i = 0; i < count; i++) {
        size_t a = starts[i], b = starts[i + 1];
        memcpy(buffer, word, a);
        memcpy(buffer + a, word + b, length - b);
        checkCandidate(db, buffer, length - (b - a), list);
        for (size_t k = 0; k < alphabetLength;) {
            size_t size = decodeUtf8((const unsigned char*)alphabet + k, alphabetLength - k, &c);
            memcpy(buffer + a, alphabet + k, size);
            memcpy(buffer + a + size, word + a, length - a);
            checkCandidate(db, buffer, length + size, list);
            memcpy(buffer + a + size, word + b, length - b);
            checkCandidate(db, buffer, length - (b - a) + size, list);
            k += size;
        }
    }
    free(starts);
}

// Searches one database; the lines found go to list.
static void searchDatabase(const OfflineDatabase* db, Strategy strategy, const char* word, MatchList* list)
{
    size_t wordLength = strlen(word);
    if (wordLength > offlineLimits.maxWordBytes)
        return;
    size_t room = wordLength * 2 + 2 * utf8MaxBytes + 2;
    char* normal = (char*)malloc(room);
    char* buffer = (char*)malloc(room + utf8MaxBytes);
    size_t length =
        normal == nullptr ? noEntry : normalisedWord(db, db->allChars, word, wordLength, normal, room);
    // A word made only of what the database ignores matches nothing.
    if (buffer != nullptr && length != noEntry && !(length == 0 && wordLength > 0)) {
        switch (strategy) {
        case strategyExact:
        case strategyPrefix:
            searchExactOrPrefix(db, normal, length, strategy == strategyPrefix, list);
            break;
        case strategyLev:
            if (db->utf8)
                searchLevUtf8(db, normal, length, buffer, list);
            else
                searchLevBytes(db, normal, length, buffer, list);
            break;
        case strategyUnknown:
            break;
        }
    }
    free(normal);
    free(buffer);
}

// ---- The reader

static bool dictdEntry(const OfflineDatabase* db, size_t at, OfflineEntry* entry)
{
    IndexEntry line;
    size_t next;
    if (!readIndexEntry(db, at, &line, &next))
        return false;
    entry->shown = line.shown;
    entry->shownLength = line.shownLength;
    entry->offset = line.offset;
    entry->length = line.length;
    return true;
}

static char* dictdDefinition(OfflineDatabase* db, size_t at, size_t* length)
{
    IndexEntry line;
    size_t next;
    if (!readIndexEntry(db, at, &line, &next))
        return nullptr;
    char* text = readDefinition(db, line);
    if (text != nullptr)
        *length = (size_t)line.length;
    return text;
}

const OfflineReader dictdReader = {searchDatabase, dictdEntry, dictdDefinition};
