// Offline dictionaries: loading and checking dictd-format databases, looking words up in their mapped
// indexes the way dictd compares headwords, and answering DICT requests with dictd's replies.
#include "core/offlinedict.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "core/dictzip.h"
#include "core/offlinechars.h"
#include "core/offlinefiles.h"

const OfflineLimits offlineDefaultLimits = {1024ull * 1024 * 1024, 1024, (uint64_t)SIZE_MAX - 1};
OfflineLimits offlineLimits = offlineDefaultLimits;

// One loaded database. The index is mapped (or lent by the caller) and never copied.
struct OfflineDatabase {
    char* name;
    char* dataPath;  // named when a definition cannot be read
    char* description;
    MappedFile mapped;
    const char* index;
    size_t indexSize;
    DataSource source;
    bool zipped;
    DictzipReader zip;
    uint64_t dataLength;
    // The special entries, each kept as it is: a requested word keeps all its characters (allChars) or
    // only the alphanumeric ones and spaces; it is folded to lower case unless caseSensitive.
    bool allChars;
    bool caseSensitive;
    bool utf8;
    bool eightBit;
    // How headwords compare: byte by byte (any of allChars, utf8, eightBit), or ignoring what is neither
    // alphanumeric nor space and ASCII case.
    bool bytewise;
    char* alphabet;  // the letters lev tries (UTF-8 in a UTF-8 database), or null for the default ones
};

// What is loaded: the databases in the order found, and one message per refused database.
// Every public function holds the seam's lock: a look-up's thread answers from the databases while the
// window thread may load them anew (the settings changed), and a database's chunk cache changes with
// every read.
struct OfflineLockHeld {
    OfflineLockHeld() { lockOfflineFiles(); }
    ~OfflineLockHeld() { unlockOfflineFiles(); }
};
static OfflineDatabase* databases = nullptr;
static int databaseCount = 0;
static char** refusals = nullptr;
static int refusalCount = 0;

static const size_t noEntry = (size_t)-1;
// A base64 number of more digits could overflow; no offset needs them.
static const size_t maxBase64Digits = 10;
static const size_t maxDescriptionBytes = 1024;
// Names go into requests beside a word; a longer file name is cut. Room for a suffix such as "-12".
static const size_t maxNameBytes = 64;
static const size_t nameSuffixBytes = 4;
static const int maxNameSuffix = 1000;
// dictd's limits: the most matches one MATCH lists and definitions one DEFINE sends, over all databases.
static const int maxMatches = 2000;
static const int maxDefinitions = 200;
// The bytes lev inserts and substitutes in a database that is not UTF-8: a-z, then the bytes that begin
// a UTF-8 sequence, as dictd does.
static const int firstLeadByte = 0xC0;

// ---- Text helpers

static char* copyText(const char* text, size_t length)
{
    char* copy = (char*)malloc(length + 1);
    if (copy == nullptr)
        return nullptr;
    memcpy(copy, text, length);
    copy[length] = '\0';
    return copy;
}

static void appendText(ReplyText* reply, const char* text) { appendReplyText(reply, text, strlen(text)); }

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

// Compares two headwords of the index as the database sorts them: negative, 0 or positive.
static int compareHeadwords(const OfflineDatabase* db, const char* a, const char* b, const char* end)
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

// The fields of one index line: headword, data offset and length, and the headword to show (the fourth
// column when there is one).
struct IndexEntry {
    const char* headword;
    size_t headwordLength;
    const char* shown;
    size_t shownLength;
    uint64_t offset;
    uint64_t length;
};

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

// Cuts the line at `at` into its fields; false when it is not a line of three or four columns.
static bool readEntry(const OfflineDatabase* db, size_t at, IndexEntry* entry, size_t* next)
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

// The data of a special entry ("00-database-short"), looked up as dictd looks it up; null when absent.
static char* specialEntry(OfflineDatabase* db, const char* name, bool allChars, size_t* length)
{
    char word[64];
    size_t wordLength = normalisedWord(db, allChars, name, strlen(name), word, sizeof word);
    if (wordLength == noEntry)
        return nullptr;
    size_t at = findExact(db, word, wordLength);
    IndexEntry entry;
    size_t next;
    if (at == noEntry || !readEntry(db, at, &entry, &next))
        return nullptr;
    char* text = readDefinition(db, entry);
    if (text != nullptr)
        *length = (size_t)entry.length;
    return text;
}

static bool hasSpecialEntry(OfflineDatabase* db, const char* name, bool allChars)
{
    size_t length = 0;
    char* text = specialEntry(db, name, allChars, &length);
    free(text);
    return text != nullptr;
}

// ---- Loading

static void addRefusal(const char* format, const char* path, const char* why)
{
    char message[1024];
    snprintf(message, sizeof message, format, path, why);
    char** grown = (char**)realloc(refusals, ((size_t)refusalCount + 1) * sizeof(char*));
    if (grown == nullptr)
        return;
    refusals = grown;
    char* copy = copyText(message, strlen(message));
    if (copy != nullptr)
        refusals[refusalCount++] = copy;
}

static void releaseDatabase(OfflineDatabase* db)
{
    free(db->name);
    free(db->dataPath);
    free(db->description);
    free(db->alphabet);
    unmapFile(&db->mapped);
    closeDictzip(&db->zip);
    closeOpenedFile(&db->source.file);
    memset(db, 0, sizeof *db);
}

// Checks every index line in one pass: three or four columns, data inside the data, headwords in the
// database's order. Null when all is well, else what is wrong.
static const char* indexProblem(const OfflineDatabase* db)
{
    size_t at = 0;
    const char* previous = nullptr;
    const char* end = db->index + db->indexSize;
    while (at < db->indexSize) {
        IndexEntry entry;
        size_t next;
        if (!readEntry(db, at, &entry, &next))
            return "a line of its index is not \"headword, offset, length\"";
        if (entry.offset > db->dataLength || entry.length > db->dataLength - entry.offset)
            return "its index points past the end of the definitions";
        // length + 1 bytes must be addressable (a 32-bit build wraps 4 GiB - 1 to 0).
        if (entry.length > offlineLimits.maxDefinitionBytes)
            return "a definition in it is larger than this computer can hold";
        if (previous != nullptr && compareHeadwords(db, previous, entry.headword, end) > 0)
            return "its index is not sorted";
        previous = entry.headword;
        at = next;
    }
    return nullptr;
}

// Reads the special entries that decide how the database compares and what it is called.
// Each is looked up with the flags found before it, as dictd does.
static void readDatabaseFlags(OfflineDatabase* db)
{
    db->bytewise = true;
    db->allChars = hasSpecialEntry(db, "00-database-allchars", true);
    db->bytewise = db->allChars;
    db->caseSensitive = hasSpecialEntry(db, "00-database-casesensitive", db->allChars);
    db->utf8 = hasSpecialEntry(db, "00-database-utf8", db->allChars);
    db->bytewise = db->allChars || db->utf8;
    db->eightBit = hasSpecialEntry(db, "00-database-8bit-new", db->allChars);
    db->bytewise = db->allChars || db->utf8 || db->eightBit;
}

static void readDescription(OfflineDatabase* db, bool allChars)
{
    size_t length = 0;
    char* text = specialEntry(db, "00-database-short", allChars, &length);
    const char* at = text;
    const char* end = text + length;
    if (text != nullptr && (strncmp(at, "00database", 10) == 0 || strncmp(at, "00-database", 11) == 0)) {
        const char* lineEnd = (const char*)memchr(at, '\n', length);
        at = lineEnd == nullptr ? end : lineEnd + 1;
    }
    while (at < end && (*at == ' ' || *at == '\t'))
        at++;
    const char* cut = at == nullptr ? nullptr : (const char*)memchr(at, '\n', (size_t)(end - at));
    size_t kept = at == nullptr ? 0 : (size_t)((cut != nullptr ? cut : end) - at);
    if (kept > maxDescriptionBytes)
        kept = maxDescriptionBytes;
    db->description = text != nullptr ? copyText(at, kept) : copyText(db->name, strlen(db->name));
    free(text);
}

static void readAlphabet(OfflineDatabase* db, bool allChars)
{
    size_t length = 0;
    char* text = specialEntry(db, "00-database-alphabet", allChars, &length);
    if (text == nullptr)
        return;
    // Its first line, in a UTF-8 database as far as it is UTF-8.
    size_t kept = 0;
    uint32_t c;
    size_t size = 1;
    while (kept < length && text[kept] != '\n' && text[kept] != '\0' &&
           (!db->utf8 || (size = decodeUtf8((const unsigned char*)text + kept, length - kept, &c)) != 0))
        kept += size;
    db->alphabet = copyText(text, kept);
    free(text);
}

static bool nameTaken(const char* name)
{
    for (int i = 0; i < databaseCount; i++) {
        if (strcmp(databases[i].name, name) == 0)
            return true;
    }
    return false;
}

// The name a database is asked by: its file name where that is a protocol atom no other database
// has; else what is neither blank, control nor quote replaced by '_', cut to maxNameBytes on a UTF-8
// boundary, and a suffix "-2", "-3"... for a name taken. True in *renamed when it got a suffix.
static char* safeName(const char* name, bool* renamed)
{
    char safe[maxNameBytes + 1];
    size_t length = strlen(name);
    if (length > maxNameBytes - nameSuffixBytes) {
        length = maxNameBytes - nameSuffixBytes;
        while (length > 0 && ((unsigned char)name[length] & 0xC0) == 0x80)
            length--;
    }
    for (size_t i = 0; i < length; i++) {
        unsigned char c = (unsigned char)name[i];
        safe[i] = c <= ' ' || c == 0x7F || c == '"' || c == '\'' || c == '\\' ? '_' : (char)c;
    }
    safe[length] = '\0';
    // "*" and "!" ask for every database.
    if (length == 0 || strcmp(safe, "*") == 0 || strcmp(safe, "!") == 0)
        snprintf(safe, sizeof safe, "_");
    *renamed = false;
    size_t base = strlen(safe);
    for (int suffix = 2; nameTaken(safe) && suffix < maxNameSuffix; suffix++) {
        snprintf(safe + base, sizeof safe - base, "-%d", suffix);
        *renamed = true;
    }
    return copyText(safe, strlen(safe));
}

// Finishes a database whose index and data are in place: flags, checks, description, its name among the
// others (folder says where it was found). False (refusal recorded) when it is refused; the database is
// then released.
static bool finishDatabase(OfflineDatabase* db, const char* indexPath, const char* name, const char* folder)
{
    bool renamed = false;
    db->name = safeName(name, &renamed);
    if (db->name == nullptr) {
        releaseDatabase(db);
        return false;
    }
    readDatabaseFlags(db);
    const char* problem = indexProblem(db);
    if (problem != nullptr) {
        addRefusal("The dictionary file %s was left out: the file is damaged (%s).", indexPath, problem);
        releaseDatabase(db);
        return false;
    }
    readDescription(db, db->allChars);
    if (renamed && folder != nullptr && db->description != nullptr) {
        // The same name twice: the description tells them apart.
        size_t length = strlen(db->description) + strlen(folder) + 8;
        char* told = (char*)malloc(length);
        if (told != nullptr)
            snprintf(told, length, "%s (in %s)", db->description, folder);
        free(db->description);
        db->description = told;
    }
    readAlphabet(db, db->allChars);
    OfflineDatabase* grown =
        (OfflineDatabase*)realloc(databases, ((size_t)databaseCount + 1) * sizeof(OfflineDatabase));
    if (grown == nullptr || db->description == nullptr) {
        addRefusal("The dictionary file %s was left out: %s.", indexPath, "there is not enough memory");
        if (grown != nullptr)
            databases = grown;
        releaseDatabase(db);
        return false;
    }
    databases = grown;
    databases[databaseCount++] = *db;
    return true;
}

// Opens the data of a database: the dictzip reader, or the plain length. False with *problem set.
static bool openData(OfflineDatabase* db, const char** problem)
{
    if (db->zipped) {
        if (!openDictzip(&db->source, &db->zip, problem))
            return false;
        db->dataLength = db->zip.length;
    } else {
        db->dataLength = sourceSize(&db->source);
    }
    return true;
}

// Loads the database of one index file found in the folder given as context.
static void loadDatabase(const char* indexPath, const char* name, void* context)
{
    OfflineDatabase db;
    memset(&db, 0, sizeof db);
    size_t pathLength = strlen(indexPath);
    const size_t suffixLength = 6;  // ".index"
    char* dataPath = (char*)malloc(pathLength + 4);
    if (dataPath == nullptr)
        return;
    db.dataPath = dataPath;
    memcpy(dataPath, indexPath, pathLength - suffixLength);
    strcpy(dataPath + pathLength - suffixLength, ".dict.dz");
    db.zipped = offlineFileExists(dataPath);
    if (!db.zipped)
        dataPath[pathLength - suffixLength + 5] = '\0';
    const char* why = nullptr;
    if (!db.zipped && !offlineFileExists(dataPath)) {
        addRefusal("The dictionary file %s was left out: %s.", indexPath,
                   "there is no .dict.dz or .dict file beside it");
        releaseDatabase(&db);
        return;
    }
    if (!openFileForReading(dataPath, &db.source.file)) {
        addRefusal("The dictionary file %s was left out: %s.", dataPath, "it cannot be opened");
        releaseDatabase(&db);
        return;
    }
    if (!openData(&db, &why)) {
        addRefusal("The dictionary file %s was left out: the file is damaged (%s).", dataPath, why);
        releaseDatabase(&db);
        return;
    }
    switch (mapFileReadOnly(indexPath, offlineLimits.maxIndexBytes, &db.mapped)) {
    case mapDone:
        break;
    case mapEmpty:
        why = "the file is empty";
        break;
    case mapTooLarge:
        why = "the file is larger than 1 GiB";
        break;
    case mapFailed:
        why = "it cannot be read";
        break;
    }
    if (why != nullptr) {
        addRefusal("The dictionary file %s was left out: %s.", indexPath, why);
        releaseDatabase(&db);
        return;
    }
    db.index = db.mapped.data;
    db.indexSize = (size_t)db.mapped.size;
    finishDatabase(&db, indexPath, name, (const char*)context);
}

bool addOfflineDictionaryFromMemory(const char* name, const char* index, size_t indexLength, const char* data,
                                    size_t dataLength, bool zipped)
{
    OfflineLockHeld held;
    OfflineDatabase db;
    memset(&db, 0, sizeof db);
    db.zipped = zipped;
    db.source.memory = (const unsigned char*)(data != nullptr ? data : "");
    db.source.memorySize = data != nullptr ? dataLength : 0;
    const char* why = nullptr;
    if (!openData(&db, &why)) {
        addRefusal("The dictionary file %s was left out: the file is damaged (%s).", name, why);
        releaseDatabase(&db);
        return false;
    }
    if (indexLength == 0 || indexLength > offlineLimits.maxIndexBytes) {
        addRefusal("The dictionary file %s was left out: %s.", name,
                   indexLength == 0 ? "the file is empty" : "the file is larger than 1 GiB");
        releaseDatabase(&db);
        return false;
    }
    db.index = index;
    db.indexSize = indexLength;
    db.dataPath = copyText(name, strlen(name));
    return finishDatabase(&db, name, name, "memory");
}

void unloadOfflineDictionaries()
{
    OfflineLockHeld held;
    for (int i = 0; i < databaseCount; i++)
        releaseDatabase(&databases[i]);
    free(databases);
    databases = nullptr;
    databaseCount = 0;
    for (int i = 0; i < refusalCount; i++)
        free(refusals[i]);
    free(refusals);
    refusals = nullptr;
    refusalCount = 0;
}

int loadOfflineDictionaries(const char* const* folders, int folderCount)
{
    OfflineLockHeld held;
    unloadOfflineDictionaries();
    for (int i = 0; i < folderCount; i++) {
        if (folders[i] != nullptr && !listIndexFiles(folders[i], loadDatabase, (void*)folders[i]))
            addRefusal("The dictionary folder %s was left out: %s.", folders[i], "it cannot be read");
    }
    return databaseCount;
}

int offlineDictionaryCount()
{
    OfflineLockHeld held;
    return databaseCount;
}

int offlineRefusalCount()
{
    OfflineLockHeld held;
    return refusalCount;
}

const char* offlineRefusal(int index)
{
    OfflineLockHeld held;
    return index >= 0 && index < refusalCount ? refusals[index] : nullptr;
}

// ---- Matching

// The lines a search found in one database, in order; found only once each headword text.
struct MatchList {
    size_t* lines;
    int count;
    int capacity;
    bool full;  // memory ran out or the limit was reached: no more entries
    int limit;  // the most entries it may hold
};

static void addLine(MatchList* list, size_t line)
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

// Edit distance one on UTF-8 characters, in dictd's order for such databases: transpositions, insertions
// at the end, then at each character its deletion and, per letter of the alphabet, an insertion before it
// and a substitution for it.
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

// Whether two texts are equal but for ASCII case (commands and strategies are case-insensitive).
static bool equalIgnoringCase(const char* a, const char* b)
{
    for (;; a++, b++) {
        char x = *a >= 'A' && *a <= 'Z' ? (char)(*a + 32) : *a;
        char y = *b >= 'A' && *b <= 'Z' ? (char)(*b + 32) : *b;
        if (x != y)
            return false;
        if (x == '\0')
            return true;
    }
}

enum Strategy { strategyExact, strategyPrefix, strategyLev, strategyUnknown };

static Strategy strategyNamed(const char* name)
{
    if (strcmp(name, ".") == 0)
        return strategyLev;
    static const char* const names[] = {"exact", "prefix", "lev"};
    for (int i = 0; i < 3; i++) {
        if (equalIgnoringCase(name, names[i]))
            return (Strategy)i;
    }
    return strategyUnknown;
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

// ---- Replies

// Appends a headword in double quotes, with quotes and backslashes escaped.
static void appendQuoted(ReplyText* reply, const char* text, size_t length)
{
    appendReplyText(reply, "\"", 1);
    size_t from = 0;
    for (size_t i = 0; i < length; i++) {
        if (text[i] == '"' || text[i] == '\\') {
            appendReplyText(reply, text + from, i - from);
            appendReplyText(reply, "\\", 1);
            from = i;
        }
    }
    appendReplyText(reply, text + from, length - from);
    appendReplyText(reply, "\"", 1);
}

// Appends a definition body as dictd sends it: up to a zero byte, each line ending in CR LF.
static void appendBody(ReplyText* reply, const char* text, size_t length)
{
    const char* zero = (const char*)memchr(text, '\0', length);
    if (zero != nullptr)
        length = (size_t)(zero - text);
    size_t at = 0;
    while (at < length) {
        const char* found = (const char*)memchr(text + at, '\n', length - at);
        size_t end = found == nullptr ? length : (size_t)(found - text);
        // dictd doubles the dot of a line that is only a dot, and leaves other lines as they are.
        if (text[at] == '.' && end == at + 1 && found != nullptr)
            appendReplyText(reply, ".", 1);
        appendReplyText(reply, text + at, end - at);
        appendReplyText(reply, "\r\n", 2);
        at = end + 1;
    }
}

static bool sameHeadword(const IndexEntry& a, const IndexEntry& b)
{
    return a.shownLength == b.shownLength && memcmp(a.shown, b.shown, a.shownLength) == 0;
}

// The databases a request names: all ("*" and "!"), or the one of that name; false when none has it.
static bool selectDatabases(const char* name, int* first, int* last, bool* stopAtFirst)
{
    *stopAtFirst = strcmp(name, "!") == 0;
    if (*stopAtFirst || strcmp(name, "*") == 0) {
        *first = 0;
        *last = databaseCount;
        return true;
    }
    for (int i = 0; i < databaseCount; i++) {
        if (strcmp(databases[i].name, name) == 0) {
            *first = i;
            *last = i + 1;
            return true;
        }
    }
    return false;
}

static void answerMatch(const char* database, const char* strategyName, const char* word, ReplyText* reply)
{
    int first, last;
    bool stopAtFirst;
    if (!selectDatabases(database, &first, &last, &stopAtFirst)) {
        appendText(reply, "550 invalid database, use SHOW DB for list\r\n");
        return;
    }
    Strategy strategy = strategyNamed(strategyName);
    if (strategy == strategyUnknown) {
        appendText(reply, "551 invalid strategy, use SHOW STRAT for a list\r\n");
        return;
    }
    ReplyText lines = {nullptr, 0, 0, false};
    int total = 0;
    int found = 0;  // before repeats are left out, as dictd counts against its limit
    for (int d = first; d < last; d++) {
        OfflineDatabase* db = &databases[d];
        MatchList list = {nullptr, 0, 0, false, maxMatches - found};
        searchDatabase(db, strategy, word, &list);
        found += list.count;
        // dictd leaves out a headword the same as the one just listed, but lists it again further on.
        IndexEntry previous = {nullptr, 0, nullptr, 0, 0, 0};
        for (int i = 0; i < list.count; i++) {
            IndexEntry entry;
            size_t next;
            if (!readEntry(db, list.lines[i], &entry, &next))
                continue;
            if (previous.shown != nullptr && sameHeadword(entry, previous))
                continue;
            previous = entry;
            appendText(&lines, db->name);
            appendReplyText(&lines, " ", 1);
            appendQuoted(&lines, entry.shown, entry.shownLength);
            appendReplyText(&lines, "\r\n", 2);
            total++;
        }
        free(list.lines);
        if (stopAtFirst && list.count > 0)
            break;
    }
    if (total == 0) {
        appendText(reply, "552 no match\r\n");
    } else {
        char status[64];
        snprintf(status, sizeof status, "152 %d matches found\r\n", total);
        appendText(reply, status);
        if (lines.data != nullptr)
            appendReplyText(reply, lines.data, lines.length);
        appendText(reply, ".\r\n250 ok\r\n");
    }
    releaseReply(&lines);
}

static void answerDefine(const char* database, const char* word, ReplyText* reply)
{
    int first, last;
    bool stopAtFirst;
    if (!selectDatabases(database, &first, &last, &stopAtFirst)) {
        appendText(reply, "550 invalid database, use SHOW DB for list\r\n");
        return;
    }
    ReplyText bodies = {nullptr, 0, 0, false};
    int total = 0;
    int found = 0;  // before repeats are left out, as dictd counts against its limit
    // dictd sends a definition once where neighbouring lines point at the same data, in one database or
    // across two; it starts as if one at offset 0 of length 0 had been sent.
    uint64_t previousOffset = 0;
    uint64_t previousLength = 0;
    const OfflineDatabase* damaged = nullptr;
    for (int d = first; d < last && damaged == nullptr; d++) {
        OfflineDatabase* db = &databases[d];
        MatchList list = {nullptr, 0, 0, false, maxDefinitions - found};
        searchDatabase(db, strategyExact, word, &list);
        found += list.count;
        for (int i = 0; i < list.count; i++) {
            IndexEntry entry;
            size_t next;
            if (!readEntry(db, list.lines[i], &entry, &next))
                continue;
            if (entry.offset == previousOffset && entry.length == previousLength)
                continue;
            previousOffset = entry.offset;
            previousLength = entry.length;
            char* text = readDefinition(db, entry);
            if (text == nullptr) {
                damaged = db;
                break;
            }
            appendText(&bodies, "151 ");
            appendQuoted(&bodies, entry.shown, entry.shownLength);
            appendReplyText(&bodies, " ", 1);
            appendText(&bodies, db->name);
            appendReplyText(&bodies, " \"", 2);
            appendText(&bodies, db->description);
            appendReplyText(&bodies, "\"\r\n", 3);
            appendBody(&bodies, text, (size_t)entry.length);
            appendReplyText(&bodies, ".\r\n", 3);
            free(text);
            total++;
        }
        free(list.lines);
        if (stopAtFirst && list.count > 0)
            break;
    }
    if (damaged != nullptr) {
        // Not "no match": the index lists the word, its data cannot be read.
        char status[1024];
        snprintf(status, sizeof status,
                 "%d The dictionary file %s is damaged: a definition in it cannot be read.\r\n",
                 offlineDamagedStatus, damaged->dataPath != nullptr ? damaged->dataPath : damaged->name);
        appendText(reply, status);
    } else if (total == 0) {
        appendText(reply, "552 no match\r\n");
    } else {
        char status[64];
        snprintf(status, sizeof status, "150 %d definitions retrieved\r\n", total);
        appendText(reply, status);
        if (bodies.data != nullptr)
            appendReplyText(reply, bodies.data, bodies.length);
        appendText(reply, "250 ok\r\n");
    }
    releaseReply(&bodies);
}

static void answerShowDatabases(ReplyText* reply)
{
    if (databaseCount == 0) {
        appendText(reply, "554 No databases present\r\n");
        return;
    }
    char status[64];
    snprintf(status, sizeof status, "110 %d databases present\r\n", databaseCount);
    appendText(reply, status);
    for (int i = 0; i < databaseCount; i++) {
        appendText(reply, databases[i].name);
        appendText(reply, " \"");
        appendText(reply, databases[i].description);
        appendText(reply, "\"\r\n");
    }
    appendText(reply, ".\r\n250 ok\r\n");
}

// ---- Requests

// The most parameters a request of ours has, and one more to tell that there were too many.
static const int maxParameters = 5;

// Splits a request line into parameters as dictd does: blanks separate; a backslash outside quotes takes
// the next character as it is; text in double or single quotes is taken as it is, and quoted and plain
// pieces next to each other make one parameter. The parameters are copied one after another, bounded,
// into the room bytes at starts[0]; starts receives where each begins. Returns how many, at most
// maxParameters.
static int splitRequest(const char* line, size_t length, size_t room, char** starts)
{
    int count = 0;
    size_t at = 0;
    char* out = starts[0];
    char* outEnd = out + room;
    while (count < maxParameters) {
        while (at < length && (line[at] == ' ' || line[at] == '\t'))
            at++;
        if (at >= length)
            break;
        char* word = out;
        while (at < length && line[at] != ' ' && line[at] != '\t') {
            char c = line[at++];
            if (c == '"' || c == '\'') {
                while (at < length && line[at] != c && out < outEnd - 1)
                    *out++ = line[at++];
                if (at < length)
                    at++;
            } else if (c == '\\' && at < length) {
                if (out < outEnd - 1)
                    *out++ = line[at++];
            } else if (out < outEnd - 1) {
                *out++ = c;
            }
        }
        *out++ = '\0';
        starts[count++] = word;
        if (out >= outEnd)
            break;
    }
    return count;
}

void answerOfflineRequest(const char* request, size_t length, ReplyText* reply)
{
    OfflineLockHeld held;
    while (length > 0 && (request[length - 1] == '\n' || request[length - 1] == '\r'))
        length--;
    // Every parameter fits in the line's own length; room for their terminators besides.
    size_t room = length + maxParameters + 1;
    char* space = (char*)malloc(room);
    if (space == nullptr) {
        appendText(reply, "420 server temporarily unavailable\r\n");
        return;
    }
    char* parameters[maxParameters] = {space};
    int count = splitRequest(request, length, room, parameters);
    const char* command = count > 0 ? parameters[0] : "";
    if (equalIgnoringCase(command, "match") || equalIgnoringCase(command, "m")) {
        if (count == 4)
            answerMatch(parameters[1], parameters[2], parameters[3], reply);
        else
            appendText(reply, "501 syntax error, illegal parameters\r\n");
    } else if (equalIgnoringCase(command, "define") || equalIgnoringCase(command, "d")) {
        if (count == 3)
            answerDefine(parameters[1], parameters[2], reply);
        else
            appendText(reply, "501 syntax error, illegal parameters\r\n");
    } else if (equalIgnoringCase(command, "show")) {
        if (count == 2 &&
            (equalIgnoringCase(parameters[1], "db") || equalIgnoringCase(parameters[1], "databases")))
            answerShowDatabases(reply);
        else
            appendText(reply, "501 syntax error, illegal parameters\r\n");
    } else {
        appendText(reply, "500 unknown command\r\n");
    }
    free(space);
}
