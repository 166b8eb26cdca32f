// The kept words: Recent Words as the file history.txt holds them, written and read back without
// touching a file (the window side reads and writes it).
#pragma once
#include <stddef.h>

#include "core/dictsession.h"
#include "core/viewertext.h"

// One kept word: what the menu shows and what looks it up again.
struct KeptWord {
    char word[dictWordSize];
    char database[dictSlotSize];     // the database's name, to ask for its definitions again
    char description[dictSlotSize];  // what the menu names the dictionary
    bool offline;                    // from this computer's dictionaries
};

// The file's first line: a file without it is not ours.
const char historyFirstLine[] = "Lexitray kept words 1";
// Room for a whole file: the first line and recentWordsDepth lines, each with its fields at their
// largest, the tabs between them and a line end.
const size_t historyLineSize = dictWordSize + 2 * dictSlotSize + 16;
const size_t historyFileSize = sizeof historyFirstLine + 1 + recentWordsDepth * historyLineSize;
// The most bytes a file may hold: what formatHistoryFile writes, with room for an editor's byte order
// mark and "\r\n" line ends. The window side reads one byte more, to tell a larger file.
const size_t historyReadLimit = 2 * historyFileSize;

// Why a file was not taken; historyRead when it was.
enum HistoryFault {
    historyRead,
    historyNotOurs,           // the first line is not historyFirstLine
    historyHasNul,            // a zero byte: a binary file
    historyNotUtf8,           // bytes that are not UTF-8
    historyLineTooLong,       // a field longer than its slot
    historyTooManyLines,      // more words than Recent Words keeps
    historyMissingField,      // a line without its tabs, or with an empty word or database
    historyUnknownPlace,      // neither "online" nor "offline"
    historyControlCharacter,  // a control character (a tab too many, a lone CR) in a field
    historyTooLarge,          // more than historyReadLimit bytes
};
// The reason for a fault as the message names it, in English.
const char* historyFaultText(HistoryFault fault);

// The file for words (newest first): the first line, then per word a line "word TAB database TAB
// online|offline TAB description", each ending in "\n". A word or database with a control character
// (a tab, a line break) in it cannot be written faithfully and is left out; in a description
// control characters become blanks.
// Writes at most capacity - 1 bytes and a terminator, whole lines only (historyFileSize is room
// for recentWordsDepth words); returns the length.
size_t formatHistoryFile(const KeptWord* words, int count, char* buffer, size_t capacity);

// The words of a file's bytes, newest first as written, into words (room for capacity of them):
// a word that comes again with the same dictionary is left out, and at most recentWordsDepth are
// taken. A UTF-8 byte order mark and "\r\n" line ends (an editor's) are taken too. A damaged or
// foreign file gives its fault and no words: *count is 0 then. Bytes beyond historyReadLimit make it
// historyTooLarge.
HistoryFault parseHistoryFile(const char* bytes, size_t length, KeptWord* words, int capacity, int* count);

// The kept word of a viewer page.
void keepViewerPageWord(const ViewerPage& page, KeptWord* kept);

// Recent Words as a file brought them back: one page per word, without its definitions (the word is
// looked up again when it is picked), the online ones from onlineServerIndex. What recent held goes.
void restoreRecentWords(RecentWords* recent, const KeptWord* words, int count, int onlineServerIndex);
// The kept words of recent's pages, newest first, into words (room for capacity); returns how many.
int keepRecentWords(const RecentWords& recent, KeptWord* words, int capacity);
// Whether a recent word came back from the file and has to be looked up again to be shown.
bool recentWordNeedsLookUp(const ViewerPage& page);
