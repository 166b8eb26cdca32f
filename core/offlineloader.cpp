// Loading the offline dictionaries: each database found in the folders opened, checked line by line and
// named, each refused one left out with a message, the others kept in the order found.
#include "core/offlinedict.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "core/offlinechars.h"
#include "core/offlineindex.h"
#include "core/offlinereader.h"
#include "core/stardict.h"

const OfflineLimits offlineDefaultLimits = {1024ull * 1024 * 1024, 1024, (uint64_t)SIZE_MAX - 1};
OfflineLimits offlineLimits = offlineDefaultLimits;

// What is loaded: the databases in the order found, and one message per refused database.
OfflineDatabase* offlineDatabases = nullptr;
int offlineDatabaseCount = 0;
struct Refusal {
    char* message;
    bool told;
};
static Refusal* refusals = nullptr;
static int refusalCount = 0;
// While a load runs, what the one before loaded: a database found unchanged is taken from here.
static OfflineDatabase* reusable = nullptr;
static int reusableCount = 0;

static const size_t maxDescriptionBytes = 1024;
// Names go into requests beside a word; a longer file name is cut. Room for a suffix such as "-12".
static const size_t maxNameBytes = 64;
static const size_t nameSuffixBytes = 4;
static const int maxNameSuffix = 1000;

char* copyOfflineText(const char* text, size_t length)
{
    char* copy = (char*)malloc(length + 1);
    if (copy == nullptr)
        return nullptr;
    memcpy(copy, text, length);
    copy[length] = '\0';
    return copy;
}

static void addRefusal(const char* format, const char* path, const char* why)
{
    char message[1024];
    snprintf(message, sizeof message, format, path, why);
    Refusal* grown = (Refusal*)realloc(refusals, ((size_t)refusalCount + 1) * sizeof(Refusal));
    if (grown == nullptr)
        return;
    refusals = grown;
    char* copy = copyOfflineText(message, strlen(message));
    if (copy != nullptr)
        refusals[refusalCount++] = {copy, false};
}

static void releaseDatabase(OfflineDatabase* db)
{
    free(db->name);
    free(db->dataPath);
    free(db->indexPath);
    free(db->description);
    free(db->alphabet);
    unmapFile(&db->mapped);
    closeDictzip(&db->zip);
    closeOpenedFile(&db->source.file);
    closeStardictDatabase(db);
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
        if (!readIndexEntry(db, at, &entry, &next))
            return "a line of its index is not \"headword, offset, length\"";
        if (entry.offset > db->dataLength || entry.length > db->dataLength - entry.offset)
            return "its index points past the end of the definitions";
        // length + 1 bytes must be addressable (a 32-bit build wraps 4 GiB - 1 to 0).
        if (entry.length > offlineLimits.maxDefinitionBytes)
            return "a definition in it is larger than this computer can hold";
        if (previous != nullptr && compareIndexHeadwords(db, previous, entry.headword, end) > 0)
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
    char* text = readSpecialEntry(db, "00-database-short", allChars, &length);
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
    db->description =
        text != nullptr ? copyOfflineText(at, kept) : copyOfflineText(db->name, strlen(db->name));
    free(text);
}

static void readAlphabet(OfflineDatabase* db, bool allChars)
{
    size_t length = 0;
    char* text = readSpecialEntry(db, "00-database-alphabet", allChars, &length);
    if (text == nullptr)
        return;
    // Its first line, in a UTF-8 database as far as it is UTF-8.
    size_t kept = 0;
    uint32_t c;
    size_t size = 1;
    while (kept < length && text[kept] != '\n' && text[kept] != '\0' &&
           (!db->utf8 || (size = decodeUtf8((const unsigned char*)text + kept, length - kept, &c)) != 0))
        kept += size;
    db->alphabet = copyOfflineText(text, kept);
    free(text);
}

// How many of the first `limit` bytes of text to keep so as not to cut a UTF-8 sequence.
static size_t cutUtf8(const char* text, size_t limit)
{
    size_t length = strlen(text);
    if (length <= limit)
        return length;
    while (limit > 0 && ((unsigned char)text[limit] & 0xC0) == 0x80)
        limit--;
    return limit;
}

static bool nameTaken(const char* name)
{
    for (int i = 0; i < offlineDatabaseCount; i++) {
        if (strcmp(offlineDatabases[i].name, name) == 0)
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
    return copyOfflineText(safe, strlen(safe));
}

// Finishes a database whose index and data are in place: flags, checks, description, its name among the
// others (folder says where it was found). False (refusal recorded) when it is refused; the database is
// then released.
static bool finishDatabase(OfflineDatabase* db, const char* indexPath, const char* name, const char* folder,
                           bool checked)
{
    bool renamed = false;
    db->name = safeName(name, &renamed);
    if (db->name == nullptr) {
        releaseDatabase(db);
        return false;
    }
    // A StarDict dictionary was checked as it was opened, and has none of dictd's special entries.
    bool dictd = db->stardict == nullptr;
    if (dictd)
        readDatabaseFlags(db);
    const char* problem = checked ? nullptr : indexProblem(db);
    if (problem != nullptr) {
        addRefusal("The dictionary file %s was left out: the file is damaged (%s).", indexPath, problem);
        releaseDatabase(db);
        return false;
    }
    if (dictd)
        readDescription(db, db->allChars);
    else
        db->description = copyOfflineText(name, cutUtf8(name, maxDescriptionBytes));
    if (renamed && folder != nullptr && db->description != nullptr) {
        // The same name twice: the description tells them apart.
        size_t length = strlen(db->description) + strlen(folder) + 8;
        char* told = (char*)malloc(length);
        if (told != nullptr)
            snprintf(told, length, "%s (in %s)", db->description, folder);
        free(db->description);
        db->description = told;
    }
    if (dictd)
        readAlphabet(db, db->allChars);
    OfflineDatabase* grown = (OfflineDatabase*)realloc(offlineDatabases, ((size_t)offlineDatabaseCount + 1) *
                                                                             sizeof(OfflineDatabase));
    if (grown == nullptr || db->description == nullptr) {
        addRefusal("The dictionary file %s was left out: %s.", indexPath, "there is not enough memory");
        if (grown != nullptr)
            offlineDatabases = grown;
        releaseDatabase(db);
        return false;
    }
    offlineDatabases = grown;
    offlineDatabases[offlineDatabaseCount++] = *db;
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

// Moves into db the database loaded before from the same two files, unchanged since; false when there is
// none. Its name, description and flags are found again (the order or the other names may have changed);
// its index is not checked again.
static bool takeUnchanged(OfflineDatabase* db)
{
    for (int i = 0; i < reusableCount; i++) {
        OfflineDatabase* earlier = &reusable[i];
        if (earlier->indexPath == nullptr || db->indexPath == nullptr ||
            strcmp(earlier->indexPath, db->indexPath) != 0 || strcmp(earlier->dataPath, db->dataPath) != 0 ||
            memcmp(&earlier->indexStamp, &db->indexStamp, sizeof db->indexStamp) != 0 ||
            memcmp(&earlier->dataStamp, &db->dataStamp, sizeof db->dataStamp) != 0 ||
            memcmp(&earlier->infoStamp, &db->infoStamp, sizeof db->infoStamp) != 0 ||
            memcmp(&earlier->synonymStamp, &db->synonymStamp, sizeof db->synonymStamp) != 0)
            continue;
        FileStamp indexStamp = db->indexStamp;
        FileStamp dataStamp = db->dataStamp;
        free(db->indexPath);
        free(db->dataPath);
        *db = *earlier;
        memset(earlier, 0, sizeof *earlier);
        free(db->name);
        free(db->description);
        free(db->alphabet);
        db->name = db->description = db->alphabet = nullptr;
        db->indexStamp = indexStamp;
        db->dataStamp = dataStamp;
        return true;
    }
    return false;
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
    db.indexPath = copyOfflineText(indexPath, strlen(indexPath));
    bool stamped = offlineFileStamp(indexPath, &db.indexStamp) && offlineFileStamp(dataPath, &db.dataStamp);
    if (stamped && takeUnchanged(&db)) {
        finishDatabase(&db, indexPath, name, (const char*)context, true);
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
    db.reader = &dictdReader;
    db.index = db.mapped.data;
    db.indexSize = (size_t)db.mapped.size;
    finishDatabase(&db, indexPath, name, (const char*)context, false);
}

// Loads the StarDict dictionary of one NAME.ifo found in the folder given as context; it is named by its
// bookname.
static void loadStardict(const char* ifoPath, const char*, void* context)
{
    OfflineDatabase db;
    memset(&db, 0, sizeof db);
    db.indexPath = copyOfflineText(ifoPath, strlen(ifoPath));
    bool stamped = stampStardictFiles(ifoPath, &db);
    const char* why = nullptr;
    if (db.indexPath == nullptr || db.dataPath == nullptr)
        why = "there is not enough memory";
    else if (!(stamped && takeUnchanged(&db)))
        openStardictDatabase(ifoPath, &db, &why);
    if (why != nullptr) {
        addRefusal("The dictionary file %s was left out: %s.", ifoPath, why);
        releaseDatabase(&db);
        return;
    }
    finishDatabase(&db, ifoPath, db.stardict->bookname, (const char*)context, true);
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
    db.reader = &dictdReader;
    db.index = index;
    db.indexSize = indexLength;
    db.dataPath = copyOfflineText(name, strlen(name));
    return finishDatabase(&db, name, name, "memory", false);
}

void unloadOfflineDictionaries()
{
    OfflineLockHeld held;
    for (int i = 0; i < offlineDatabaseCount; i++)
        releaseDatabase(&offlineDatabases[i]);
    free(offlineDatabases);
    offlineDatabases = nullptr;
    offlineDatabaseCount = 0;
    for (int i = 0; i < refusalCount; i++)
        free(refusals[i].message);
    free(refusals);
    refusals = nullptr;
    refusalCount = 0;
}

int loadOfflineDictionaries(const char* const* folders, int folderCount)
{
    OfflineLockHeld held;
    // What was loaded stays aside until the new list is made: unchanged databases move over.
    reusable = offlineDatabases;
    reusableCount = offlineDatabaseCount;
    Refusal* earlier = refusals;
    int earlierCount = refusalCount;
    offlineDatabases = nullptr;
    offlineDatabaseCount = 0;
    refusals = nullptr;
    refusalCount = 0;
    for (int i = 0; i < folderCount; i++) {
        if (folders[i] != nullptr && !listIndexFiles(folders[i], loadDatabase, (void*)folders[i]))
            addRefusal("The dictionary folder %s was left out: %s.", folders[i], "it cannot be read");
        else if (folders[i] != nullptr)
            listInfoFiles(folders[i], loadStardict, (void*)folders[i]);
    }
    for (int i = 0; i < refusalCount; i++) {
        for (int k = 0; k < earlierCount && !refusals[i].told; k++)
            refusals[i].told = earlier[k].told && strcmp(earlier[k].message, refusals[i].message) == 0;
    }
    for (int i = 0; i < reusableCount; i++)
        releaseDatabase(&reusable[i]);
    free(reusable);
    reusable = nullptr;
    reusableCount = 0;
    for (int i = 0; i < earlierCount; i++)
        free(earlier[i].message);
    free(earlier);
    int loaded = offlineDatabaseCount;
    addPendingOfflineLoads(-1);
    return loaded;
}

void announceOfflineLoad() { addPendingOfflineLoads(1); }

bool offlineRefusalTold(int index)
{
    OfflineLockHeld held;
    return index >= 0 && index < refusalCount && refusals[index].told;
}

void markOfflineRefusalsTold()
{
    OfflineLockHeld held;
    for (int i = 0; i < refusalCount; i++)
        refusals[i].told = true;
}

int offlineDictionaryCount()
{
    waitForPendingOfflineLoads(dictLimits.replyTimeoutMs);
    OfflineLockHeld held;
    return offlineDatabaseCount;
}

int offlineRefusalCount()
{
    OfflineLockHeld held;
    return refusalCount;
}

const char* offlineRefusal(int index)
{
    OfflineLockHeld held;
    return index >= 0 && index < refusalCount ? refusals[index].message : nullptr;
}
