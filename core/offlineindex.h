// The index search of dictd-format databases: headwords compared as dictd compares them, a binary search
// of the mapped index, exact, prefix and lev matches, and the special entries.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "core/offlinereader.h"

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

// Cuts the line at `at` into its fields and gives where the next begins; false when it is not a line of
// three or four columns.
bool readIndexEntry(const OfflineDatabase* db, size_t at, IndexEntry* entry, size_t* next);
// Compares two headwords of the index as the database sorts them: negative, 0 or positive.
int compareIndexHeadwords(const OfflineDatabase* db, const char* a, const char* b, const char* end);
// The data of a special entry ("00-database-short") as a new text of *length bytes, looked up as dictd
// looks it up (allChars: as an allchars database); null when absent.
char* readSpecialEntry(OfflineDatabase* db, const char* name, bool allChars, size_t* length);
bool hasSpecialEntry(OfflineDatabase* db, const char* name, bool allChars);
