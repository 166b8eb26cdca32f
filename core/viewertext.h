// Text rules of the definition viewer that need no window: its caption, the word to follow, the pages to go
// back to.
#pragma once
#include <stddef.h>

#include "core/dictsession.h"

// Room for the viewer's caption in UTF-8: "Lexitray", two words, a description and a position.
const int viewerCaptionSize = 2 * dictWordSize + dictSlotSize + 64;

// The caption: "Lexitray — word — dictionary — 3 of 5", where word is "asked → shown" when the two
// differ (a base form or a suggestion was looked up in place of the word as given), and with
// "— offline" after the dictionary when the definitions came from this computer's dictionaries. An
// empty part is left out with its dash. Cut to capacity - 1 bytes without splitting a character.
void formatViewerCaption(const char* askedWord, const char* shownWord, const char* dictionary, int position,
                         int count, char* caption, int capacity, bool offline = false);

// The description of the named database as the database choice shows it (from the session's
// database list), or the name itself when no match or line describes it.
void describeDatabase(const DictSession& session, const char* name, char* description, int capacity);

// The word at position (a UTF-16 offset) of a definition's text: the braced text when the position
// lies inside braces ("{computer science}", where blanks and line breaks inside count as one blank),
// else the run of letters, digits, apostrophes and hyphens there (or just before, when the
// position is at the word's end), without apostrophes or hyphens at its ends. Written to word
// (capacity units with the terminator, cut to fit); returns its length, 0 when there is none.
int followedWordAt(const char16_t* text, size_t length, size_t position, char16_t* word, int capacity);

// A selected text made into a word to look up: blanks and line breaks inside count as one blank,
// those at the ends and the braces around it go. Returns the length written to word, as above.
int followedSelection(const char16_t* text, size_t length, char16_t* word, int capacity);

// One look-up the viewer shows: what its caption names and the definitions (owned by the page).
struct ViewerPage {
    char askedWord[dictWordSize];
    char shownWord[dictWordSize];
    char dictionary[dictSlotSize];
    char database[dictSlotSize];  // the name dictionary describes, to look the word up there again
    int serverIndex;
    char** definitions;
    int definitionCount;
    char (*sources)[dictSlotSize];  // the dictionary of each definition; null: all from dictionary
    int current;
    size_t bytes;  // the definitions' text, counted against the history's limit
};

// The dictionary definition index of the page came from: its own when known, else the page's.
const char* definitionSource(const ViewerPage& page, int index);
// Moves the session's definitions (and the dictionary of each) and what it shows into page (the dictionary:
// the session's shownDescription, else the description of shownDatabase that describeDatabase finds); the
// session keeps no definitions.
void takeViewerPage(DictSession& session, ViewerPage* page);
// Releases the page's definitions and empties it.
void releaseViewerPage(ViewerPage* page);

// The pages Back goes to, oldest first: the last viewerHistoryDepth of them, and no more than
// viewerHistoryBytes of definitions, the oldest dropped first.
const int viewerHistoryDepth = 16;
const size_t viewerHistoryBytes = 4 * 1024 * 1024;
struct ViewerHistory {
    ViewerPage pages[viewerHistoryDepth];
    int count;
    size_t bytes;
};
// Takes page (emptied) into the history, dropping the oldest pages beyond the limits; a page
// larger than the whole byte limit is released at once.
void pushViewerPage(ViewerHistory* history, ViewerPage* page);
// Moves the newest page into page; false (page untouched) when the history is empty.
bool popViewerPage(ViewerHistory* history, ViewerPage* page);
void releaseViewerHistory(ViewerHistory* history);

// The words last shown in the viewer, newest first, kept for the program's life so that the tray
// menu can show them again without the network: the last recentWordsDepth of them, and no more
// than recentWordsBytes of definitions, the oldest dropped first. One entry per shown word and
// dictionary.
const int recentWordsDepth = 10;
const size_t recentWordsBytes = 4 * 1024 * 1024;
struct RecentWords {
    ViewerPage pages[recentWordsDepth];  // pages[0] is the newest
    int count;
    size_t bytes;
    // Called after rememberRecentWord has changed the entries (null: nobody is told), so that they
    // can be kept beyond the program's run.
    void (*changed)(const RecentWords& recent);
};
// Puts a copy of page (at its first definition) in front, in place of an entry of the same word
// and dictionary, dropping the oldest beyond the limits. A page larger than the byte limit alone
// is not kept. False, with the entries as they were, when memory runs out. Tells recent->changed.
bool rememberRecentWord(RecentWords* recent, const ViewerPage& page);
// A copy of entry index into page, at its first definition; false when there is no such entry or
// memory runs out.
bool copyRecentWord(const RecentWords& recent, int index, ViewerPage* page);
void releaseRecentWords(RecentWords* recent);
// The menu's text for a page: "word — dictionary", " (offline)" after it when the definitions came
// from this computer. A '&' is doubled, since a menu takes a lone one to mark its access key. Cut
// to capacity - 1 bytes without splitting a character.
const int recentItemSize = 2 * dictWordSize + 2 * dictSlotSize + 32;
void formatRecentWordItem(const ViewerPage& page, char* item, int capacity);
