// The reader the replies ask for a StarDict dictionary, and the opening of one found beside the dictd ones.
#include <stdlib.h>
#include <string.h>

#include "core/offlinedict.h"
#include "core/offlinereader.h"
#include "core/stardict.h"

// The entries a StarDict search found, in order, as lines of the replies' list (entry numbers).
static void addEntries(const StardictMatches* found, MatchList* list)
{
    for (int i = 0; i < found->count; i++)
        addLine(list, found->entries[i]);
    if (found->full)
        list->full = true;
}

static void searchStardict(const OfflineDatabase* db, Strategy strategy, const char* word, MatchList* list)
{
    size_t length = strlen(word);
    if (length > offlineLimits.maxWordBytes)
        return;
    StardictMatches found = {nullptr, 0, 0, false};
    switch (strategy) {
    case strategyExact:
        findStardictWord(db->stardict, word, length, &found);
        break;
    case strategyPrefix:
        findStardictPrefix(db->stardict, word, length, list->limit - list->count, &found);
        break;
    case strategyLev:
        findStardictNear(db->stardict, word, length, &found);
        break;
    case strategyUnknown:
        break;
    }
    addEntries(&found, list);
    releaseStardictMatches(&found);
}

static bool stardictEntry(const OfflineDatabase* db, size_t at, OfflineEntry* entry)
{
    if (at >= db->stardict->wordCount)
        return false;
    uint64_t offset;
    uint32_t size;
    entry->shown = stardictHeadword(db->stardict, (uint32_t)at, &entry->shownLength);
    if (entry->shown == nullptr || !stardictEntryData(db->stardict, (uint32_t)at, &offset, &size))
        return false;
    entry->offset = offset;
    entry->length = size;
    return true;
}

static char* stardictDefinition(OfflineDatabase* db, size_t at, size_t* length)
{
    if (at >= db->stardict->wordCount)
        return nullptr;
    const char* problem = nullptr;
    return readStardictDefinition(db->stardict, (uint32_t)at, length, &problem);
}

const OfflineReader stardictReader = {searchStardict, stardictEntry, stardictDefinition};

// ---- Opening

// A new text of the .ifo path with its ending replaced; null when memory ran out.
static char* besideInfo(const char* ifoPath, const char* ending)
{
    size_t stem = strlen(ifoPath);
    const size_t ifoEnding = 4;  // ".ifo"
    stem = stem >= ifoEnding ? stem - ifoEnding : 0;
    size_t endingLength = strlen(ending);
    char* path = (char*)malloc(stem + endingLength + 1);
    if (path == nullptr)
        return nullptr;
    memcpy(path, ifoPath, stem);
    memcpy(path + stem, ending, endingLength + 1);
    return path;
}

// The stamp of the first of two files beside the .ifo that exists; false when neither does.
static bool stampEither(const char* ifoPath, const char* first, const char* second, FileStamp* stamp,
                        char** used)
{
    const char* endings[] = {first, second};
    for (const char* ending : endings) {
        char* path = besideInfo(ifoPath, ending);
        bool stamped = path != nullptr && offlineFileStamp(path, stamp);
        if (stamped && used != nullptr)
            *used = path;
        else
            free(path);
        if (stamped)
            return true;
    }
    return false;
}

bool stampStardictFiles(const char* ifoPath, OfflineDatabase* db)
{
    bool stamped = offlineFileStamp(ifoPath, &db->infoStamp) &&
                   stampEither(ifoPath, ".idx", ".idx.gz", &db->indexStamp, nullptr) &&
                   stampEither(ifoPath, ".dict.dz", ".dict", &db->dataStamp, &db->dataPath);
    // Without a .syn its stamp stays zero, so that one added later is noticed.
    char* synonyms = besideInfo(ifoPath, ".syn");
    if (synonyms != nullptr)
        offlineFileStamp(synonyms, &db->synonymStamp);
    free(synonyms);
    if (db->dataPath == nullptr)
        db->dataPath = besideInfo(ifoPath, ".dict");
    return stamped;
}

bool openStardictDatabase(const char* ifoPath, OfflineDatabase* db, const char** problem)
{
    db->stardict = (StardictDictionary*)malloc(sizeof(StardictDictionary));
    if (db->stardict == nullptr) {
        *problem = "there is not enough memory";
        return false;
    }
    if (!openStardict(ifoPath, db->stardict, problem)) {
        free(db->stardict);
        db->stardict = nullptr;
        return false;
    }
    db->reader = &stardictReader;
    return true;
}

void closeStardictDatabase(OfflineDatabase* db)
{
    if (db->stardict == nullptr)
        return;
    closeStardict(db->stardict);
    free(db->stardict);
    db->stardict = nullptr;
}
