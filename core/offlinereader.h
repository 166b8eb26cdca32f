// What the parts of the offline dictionaries share: a loaded database, the small interface through which
// the protocol replies ask the reader of its file format, and the list of what is loaded.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "core/dictzip.h"
#include "core/offlinefiles.h"

struct OfflineDatabase;
struct StardictDictionary;

const size_t noEntry = (size_t)-1;

// The entries a search found in one database, in order (for a dictd database, the offsets of their index
// lines).
struct MatchList {
    size_t* lines;
    int count;
    int capacity;
    bool full;  // memory ran out or the limit was reached: no more entries
    int limit;  // the most entries it may hold
};
void addLine(MatchList* list, size_t line);

enum Strategy { strategyExact, strategyPrefix, strategyLev, strategyUnknown };

// One entry as the replies show it: its headword, and where its definition lies (neighbouring entries
// with the same definition are sent once).
struct OfflineEntry {
    const char* shown;
    size_t shownLength;
    uint64_t offset;
    uint64_t length;
};

// What the reader of one file format does for the replies. Each database points at its reader; another
// format is another such table beside the dictd one.
struct OfflineReader {
    // Adds the entries the word matches by the strategy, as that format's own server finds them.
    void (*search)(const OfflineDatabase* db, Strategy strategy, const char* word, MatchList* list);
    // The entry found at `at`; false when it cannot be read.
    bool (*entry)(const OfflineDatabase* db, size_t at, OfflineEntry* entry);
    // Its definition as a new zero-terminated text of *length bytes; null when it cannot be read.
    char* (*definition)(OfflineDatabase* db, size_t at, size_t* length);
};
extern const OfflineReader dictdReader;
extern const OfflineReader stardictReader;

// One loaded database. The index is mapped (or lent by the caller) and never copied.
struct OfflineDatabase {
    const OfflineReader* reader;
    char* name;
    char* dataPath;   // named when a definition cannot be read
    char* indexPath;  // null for one held in memory
    char* description;
    // The files as they were when checked: a load keeps a database whose files are unchanged.
    FileStamp indexStamp;
    FileStamp dataStamp;
    // A dictd-format database: NAME.index, and NAME.dict.dz or NAME.dict.
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
    // A StarDict dictionary (NAME.ifo is its indexPath, its .dict.dz or .dict the dataPath, the .idx's
    // stamp the indexStamp); null for a dictd-format one.
    StardictDictionary* stardict;
    FileStamp infoStamp;
    FileStamp synonymStamp;  // zero without a .syn
};

// A StarDict dictionary (core/offlinestardict.cpp): the stamps of its files and the path of its data
// (false when one it needs is missing), opening it as the database's stardict (false with *problem set
// to what is wrong), and closing it.
bool stampStardictFiles(const char* ifoPath, OfflineDatabase* db);
bool openStardictDatabase(const char* ifoPath, OfflineDatabase* db, const char** problem);
void closeStardictDatabase(OfflineDatabase* db);

// What is loaded, in the order found (core/offlineloader.cpp). Every public function holds the seam's
// lock: a look-up's thread answers from the databases while the window thread may load them anew (the
// settings changed), and a database's chunk cache changes with every read.
extern OfflineDatabase* offlineDatabases;
extern int offlineDatabaseCount;
struct OfflineLockHeld {
    OfflineLockHeld() { lockOfflineFiles(); }
    ~OfflineLockHeld() { unlockOfflineFiles(); }
};

// A new zero-terminated copy of length bytes of text; null when memory ran out.
char* copyOfflineText(const char* text, size_t length);
