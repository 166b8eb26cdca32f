// StarDict dictionaries (NAME.ifo, NAME.idx or NAME.idx.gz, NAME.dict or NAME.dict.dz, optional NAME.syn):
// opening and checking them, finding headwords, and reading definitions as plain text.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "core/dictzip.h"
#include "core/offlinefiles.h"

// Limits on what a dictionary may be. Process-wide so that tests can shrink them; the program never does.
struct StardictLimits {
    uint64_t maxIndexBytes;       // a larger .idx or .syn (inflated, for .idx.gz) is refused
    uint64_t maxInfoBytes;        // a larger .ifo is refused
    uint32_t maxDefinitionBytes;  // a larger entry is refused when it is read
};
extern StardictLimits stardictLimits;
extern const StardictLimits stardictDefaultLimits;

// The bytes of one dictionary, from files or memory. idx is gzip when idxZipped, dict is dictzip when
// dictZipped; syn may be null.
struct StardictBytes {
    const char* ifo;
    size_t ifoLength;
    const char* idx;
    size_t idxLength;
    bool idxZipped;
    const char* syn;
    size_t synLength;
    const unsigned char* dict;
    uint64_t dictLength;
    bool dictZipped;
};

// One open dictionary. The headword tables point into idx and syn, which it owns (mapped or inflated).
struct StardictDictionary {
    char* bookname;
    char* description;      // as text, markup taken out; empty when the .ifo has none
    char typeSequence[16];  // sametypesequence, or empty when each entry names its parts' types
    uint32_t wordCount;
    uint32_t synonymCount;
    bool offsets64;
    MappedFile mappedIdx;
    MappedFile mappedSyn;
    char* inflatedIdx;
    const char* idx;
    size_t idxSize;
    const char* syn;
    size_t synSize;
    uint32_t* words;     // wordCount offsets into idx, each a headword's first byte
    uint32_t* synonyms;  // synonymCount offsets into syn
    DataSource source;
    bool zipped;
    DictzipReader zip;
    uint64_t dataLength;
};

// Opens the dictionary whose .ifo is at ifoPath (UTF-8), with the files beside it. On failure *problem
// says in plain words what is wrong (which file and why) and the dictionary holds nothing.
bool openStardict(const char* ifoPath, StardictDictionary* dict, const char** problem);
// The same from bytes in memory, which must outlive the dictionary (the .idx.gz is inflated, not kept).
bool openStardictFromMemory(const StardictBytes* bytes, StardictDictionary* dict, const char** problem);
void closeStardict(StardictDictionary* dict);

// Entry numbers (positions in the .idx), ascending, each once.
struct StardictMatches {
    uint32_t* entries;
    int count;
    int capacity;
    bool full;  // memory ran out or the caller's limit was reached
};
void releaseStardictMatches(StardictMatches* matches);

// The entries a word names, found as sdcv finds them: headwords and synonyms equal to the word byte for
// byte; when none, the same for the word in lower case, in upper case, then capitalised.
bool findStardictWord(const StardictDictionary* dict, const char* word, size_t length,
                      StardictMatches* found);
// Headwords beginning with word, ASCII case ignored, at most limit of them.
void findStardictPrefix(const StardictDictionary* dict, const char* word, size_t length, int limit,
                        StardictMatches* found);
// Headwords one edit (a character deleted, inserted, replaced, or two neighbours swapped) from the word,
// case ignored: the candidates for "Did you mean?".
void findStardictNear(const StardictDictionary* dict, const char* word, size_t length,
                      StardictMatches* found);

// The headword of an entry (zero-terminated inside the index); null outside [0, wordCount).
const char* stardictHeadword(const StardictDictionary* dict, uint32_t entry, size_t* length);
// Where an entry's data lies in the .dict; false outside [0, wordCount).
bool stardictEntryData(const StardictDictionary* dict, uint32_t entry, uint64_t* offset, uint32_t* size);
// The definition of an entry as plain text, its parts one after another on their own lines: a new
// zero-terminated block to free, or null with *problem set when the entry cannot be read or is damaged.
char* readStardictDefinition(StardictDictionary* dict, uint32_t entry, size_t* length, const char** problem);
// Markup (Pango, XDXF, HTML) taken out of text: tags dropped, <br> and block ends as line breaks,
// entities decoded. Appends to out, which has room for length + 1 bytes; returns the length written.
size_t stripMarkup(const char* text, size_t length, bool html, char* out);
