// Offline dictionaries: dictd-format databases (NAME.index beside NAME.dict.dz or NAME.dict) on this
// computer, answering DICT requests from them as dictd answers them.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "core/dictsession.h"

// Limits on what a database may be. Process-wide so that tests can shrink them; the program never does.
struct OfflineLimits {
    uint64_t maxIndexBytes;  // a larger index is refused, not mapped
    size_t maxWordBytes;     // a longer requested word matches nothing
    // A longer definition is refused; less than SIZE_MAX so that its copy's terminator fits (tests set
    // it as on a 32-bit build).
    uint64_t maxDefinitionBytes;
};
extern OfflineLimits offlineLimits;
extern const OfflineLimits offlineDefaultLimits;

// Loads (replacing any loaded before, but keeping without a new check a database whose two files have
// the same size and time of change as when it was loaded) every database found in the folders (UTF-8 paths;
// on Windows converted to wide at the file seam so that names in any code page work). A database is a
// NAME.index beside NAME.dict.dz or NAME.dict; its name is NAME. Bad files are refused, never trusted: each
// refused database is left out with one message naming the file, the others still load. Returns how many
// loaded.
int loadOfflineDictionaries(const char* const* folders, int folderCount);
// Says that a load is about to start on a thread of its own: until it ends (loadOfflineDictionaries ends
// one announced load), a look-up waits for it, up to its reply time-out, rather than find nothing. Never
// waited for on the window thread: it does not ask the offline dictionaries.
void announceOfflineLoad();
// Unmaps, closes and frees everything loaded.
void unloadOfflineDictionaries();
int offlineDictionaryCount();
int offlineRefusalCount();
// The message for one refused database; null outside [0, offlineRefusalCount()).
const char* offlineRefusal(int index);
// Whether that refusal was told already: marked told in this load, or the same refusal in an earlier one.
bool offlineRefusalTold(int index);
void markOfflineRefusalsTold();

// Adds a database held in memory (index text and data, dictzip when zipped) as loading would add it from
// files; the bytes must outlive it. False (with a refusal recorded) when the database is refused.
bool addOfflineDictionaryFromMemory(const char* name, const char* index, size_t indexLength, const char* data,
                                    size_t dataLength, bool zipped);

// The status of a DEFINE whose definition is listed but cannot be read (damaged data); its text names
// the file.
const int offlineDamagedStatus = 420;

// Answers one DICT request line (with or without its CR LF) as dictd would, appending the whole reply
// text to reply: MATCH (strategies exact, prefix, lev and "." for lev), DEFINE, SHOW DB / SHOW DATABASES;
// databases "*", "!" or a name. Anything else gets dictd's error status.
void answerOfflineRequest(const char* request, size_t length, ReplyText* reply);
