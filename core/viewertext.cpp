// Text rules of the definition viewer that need no window: its caption, the word to follow, the pages to go
// back to.
#include "core/viewertext.h"

#include <stdio.h>
#include <string.h>

#include <new>

#include "core/lookuptext.h"

namespace {

const char captionStart[] = "Lexitray";
const char captionDash[] = " \xE2\x80\x94 ";   // an em dash between blanks
const char captionArrow[] = " \xE2\x86\x92 ";  // a rightwards arrow between blanks
// "%d of %d" with two numbers of a signed 32-bit int.
const int positionSize = 32;

// Braces further apart than a word can be long are not one cross-reference.
const size_t maxBracedReach = maxWordLength;

const char16_t openBrace = u'{';
const char16_t closeBrace = u'}';
const char16_t rightSingleQuote = 0x2019;
// UTF-16 ranges that hold punctuation and symbols rather than letters.
const char16_t latin1SymbolsEnd = 0xC0;  // U+0080..U+00BF: controls, no-break space, quotes, signs
const char16_t multiplySign = 0xD7;
const char16_t divideSign = 0xF7;
const char16_t generalPunctuationStart = 0x2000;  // U+2000..U+206F: dashes, quotes, spaces
const char16_t generalPunctuationEnd = 0x206F;
const char16_t highSurrogateStart = 0xD800;
const char16_t highSurrogateEnd = 0xDBFF;

// Appends text to caption (holding *length bytes) within capacity, cut without splitting a
// character; once a part is cut, nothing more is appended.
void appendCut(char* caption, int capacity, size_t* length, const char* text)
{
    size_t full = static_cast<size_t>(capacity) - 1;
    size_t whole = strlen(text);
    size_t taken = utf8PrefixLength(text, whole, full - *length);
    memcpy(caption + *length, text, taken);
    caption[*length + taken] = '\0';
    *length = taken < whole ? full : *length + taken;
}

bool isBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

// An apostrophe or hyphen: part of a word only between its letters ("people's", "well-known").
bool isJoiner(char16_t c) { return c == u'\'' || c == u'-' || c == rightSingleQuote; }

bool isLetter(char16_t c)
{
    if (c < 0x80)
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
    if (c < latin1SymbolsEnd || c == multiplySign || c == divideSign)
        return false;
    return c < generalPunctuationStart || c > generalPunctuationEnd;
}

bool isWordUnit(char16_t c) { return isLetter(c) || isJoiner(c); }

// Copies text[from, to) to word with every run of blanks as one blank and none at the ends, cut to
// capacity - 1 units without leaving half of a surrogate pair at the end; returns the length.
int copyCollapsed(const char16_t* text, size_t from, size_t to, char16_t* word, int capacity)
{
    if (capacity < 1)
        return 0;
    int length = 0;
    bool blankPending = false;
    for (size_t i = from; i < to && length < capacity - 1; i++) {
        if (isBlank(text[i])) {
            blankPending = length > 0;
            continue;
        }
        if (blankPending) {
            word[length++] = u' ';
            blankPending = false;
            if (length == capacity - 1)
                break;
        }
        word[length++] = text[i];
    }
    while (length > 0 && (word[length - 1] == u' ' ||
                          (word[length - 1] >= highSurrogateStart && word[length - 1] <= highSurrogateEnd)))
        length--;
    word[length] = u'\0';
    return length;
}

// The braces around position, when it lies inside a pair: *open at the '{', *close at the '}'.
bool bracesAround(const char16_t* text, size_t length, size_t position, size_t* open, size_t* close)
{
    size_t at = position;
    for (;; at--) {
        if (text[at] == openBrace)
            break;
        if ((text[at] == closeBrace && at != position) || at == 0 || position - at >= maxBracedReach)
            return false;
    }
    *open = at;
    // A '}' at position itself closes the pair; a '{' there opens it.
    for (size_t end = at == position ? position + 1 : position; end < length && end - at <= maxBracedReach;
         end++) {
        if (text[end] == openBrace)
            return false;
        if (text[end] == closeBrace) {
            *close = end;
            return true;
        }
    }
    return false;
}

}  // namespace

void formatViewerCaption(const char* askedWord, const char* shownWord, const char* dictionary, int position,
                         int count, char* caption, int capacity, bool offline)
{
    if (capacity < 1)
        return;
    size_t length = 0;
    caption[0] = '\0';
    appendCut(caption, capacity, &length, captionStart);
    if (shownWord[0] != '\0') {
        appendCut(caption, capacity, &length, captionDash);
        if (askedWord[0] != '\0' && strcmp(askedWord, shownWord) != 0) {
            appendCut(caption, capacity, &length, askedWord);
            appendCut(caption, capacity, &length, captionArrow);
        }
        appendCut(caption, capacity, &length, shownWord);
    }
    if (dictionary[0] != '\0') {
        appendCut(caption, capacity, &length, captionDash);
        appendCut(caption, capacity, &length, dictionary);
    }
    if (offline) {
        appendCut(caption, capacity, &length, captionDash);
        appendCut(caption, capacity, &length, "offline");
    }
    if (count > 0) {
        char where[positionSize];
        snprintf(where, sizeof where, "%d of %d", position, count);
        appendCut(caption, capacity, &length, captionDash);
        appendCut(caption, capacity, &length, where);
    }
}

void describeDatabase(const DictSession& session, const char* name, char* description, int capacity)
{
    if (capacity < 1)
        return;
    for (int m = 0; m < session.matchCount; m++) {
        if (strcmp(session.matchDatabases[m], name) == 0) {
            matchDescription(session, m, description, capacity);
            return;
        }
    }
    snprintf(description, static_cast<size_t>(capacity), "%s", name);
}

int followedWordAt(const char16_t* text, size_t length, size_t position, char16_t* word, int capacity)
{
    if (capacity < 1)
        return 0;
    word[0] = u'\0';
    if (length == 0)
        return 0;
    if (position >= length)
        position = length - 1;
    size_t open = 0, close = 0;
    if (bracesAround(text, length, position, &open, &close))
        return copyCollapsed(text, open + 1, close, word, capacity);

    // A click just past a word's end (on the blank or mark after it) still means that word.
    if (!isWordUnit(text[position])) {
        if (position == 0 || !isWordUnit(text[position - 1]))
            return 0;
        position--;
    }
    size_t start = position, end = position + 1;
    while (start > 0 && isWordUnit(text[start - 1]))
        start--;
    while (end < length && isWordUnit(text[end]))
        end++;
    while (start < end && isJoiner(text[start]))
        start++;
    while (end > start && isJoiner(text[end - 1]))
        end--;
    return copyCollapsed(text, start, end, word, capacity);
}

int followedSelection(const char16_t* text, size_t length, char16_t* word, int capacity)
{
    size_t from = 0, to = length;
    while (from < to && (isBlank(text[from]) || text[from] == openBrace))
        from++;
    while (to > from && (isBlank(text[to - 1]) || text[to - 1] == closeBrace))
        to--;
    if (capacity >= 1)
        word[0] = u'\0';
    return copyCollapsed(text, from, to, word, capacity);
}

void takeViewerPage(DictSession& session, ViewerPage* page)
{
    snprintf(page->askedWord, sizeof page->askedWord, "%s", session.askedWord);
    snprintf(page->shownWord, sizeof page->shownWord, "%s", session.shownWord);
    if (session.shownDescription[0] != '\0')
        snprintf(page->dictionary, sizeof page->dictionary, "%s", session.shownDescription);
    else
        describeDatabase(session, session.shownDatabase, page->dictionary, dictSlotSize);
    snprintf(page->database, sizeof page->database, "%s", session.shownDatabase);
    page->serverIndex = session.shownServerIndex;
    page->definitions = session.definitions;
    page->definitionCount = session.definitionCount;
    page->sources = session.definitionSources;
    session.definitionSources = nullptr;
    page->current = 0;
    page->bytes = 0;
    for (int i = 0; i < page->definitionCount; i++)
        page->bytes += strlen(page->definitions[i]);
    session.definitions = nullptr;
    session.definitionCount = 0;
    session.currentDefinition = 0;
}

const char* definitionSource(const ViewerPage& page, int index)
{
    if (page.sources && index >= 0 && index < page.definitionCount && page.sources[index][0] != '\0')
        return page.sources[index];
    return page.dictionary;
}

void releaseViewerPage(ViewerPage* page)
{
    releaseTextList(page->definitions, page->definitionCount);
    delete[] page->sources;
    memset(page, 0, sizeof *page);
}

static void dropOldestPage(ViewerHistory* history)
{
    history->bytes -= history->pages[0].bytes;
    releaseViewerPage(&history->pages[0]);
    history->count--;
    memmove(&history->pages[0], &history->pages[1], sizeof(ViewerPage) * static_cast<size_t>(history->count));
    memset(&history->pages[history->count], 0, sizeof(ViewerPage));
}

void pushViewerPage(ViewerHistory* history, ViewerPage* page)
{
    if (page->bytes > viewerHistoryBytes) {
        releaseViewerPage(page);
        return;
    }
    if (history->count == viewerHistoryDepth)
        dropOldestPage(history);
    while (history->count > 0 && history->bytes + page->bytes > viewerHistoryBytes)
        dropOldestPage(history);
    history->pages[history->count++] = *page;
    history->bytes += page->bytes;
    memset(page, 0, sizeof *page);
}

bool popViewerPage(ViewerHistory* history, ViewerPage* page)
{
    if (history->count == 0)
        return false;
    history->count--;
    *page = history->pages[history->count];
    history->bytes -= page->bytes;
    memset(&history->pages[history->count], 0, sizeof(ViewerPage));
    return true;
}

void releaseViewerHistory(ViewerHistory* history)
{
    while (history->count > 0)
        dropOldestPage(history);
    history->bytes = 0;
}

// A copy of from, with definitions of its own, at its first definition; false (to empty) when memory
// runs out.
static bool copyViewerPage(const ViewerPage& from, ViewerPage* to)
{
    *to = from;
    to->definitions = nullptr;
    to->definitionCount = 0;
    to->sources = nullptr;
    to->current = 0;
    if (from.definitionCount < 1)
        return true;
    if (from.sources) {
        to->sources = new (std::nothrow) char[static_cast<size_t>(from.definitionCount)][dictSlotSize];
        if (!to->sources)
            return false;
        memcpy(to->sources, from.sources, sizeof *from.sources * static_cast<size_t>(from.definitionCount));
    }
    to->definitions = new (std::nothrow) char*[static_cast<size_t>(from.definitionCount) + 1]();
    if (!to->definitions) {
        releaseViewerPage(to);
        return false;
    }
    for (int i = 0; i < from.definitionCount; i++) {
        size_t length = strlen(from.definitions[i]);
        char* copy = new (std::nothrow) char[length + 1];
        if (!copy) {
            releaseViewerPage(to);
            return false;
        }
        memcpy(copy, from.definitions[i], length + 1);
        to->definitions[to->definitionCount++] = copy;
    }
    return true;
}

static void dropRecentWord(RecentWords* recent, int index)
{
    recent->bytes -= recent->pages[index].bytes;
    releaseViewerPage(&recent->pages[index]);
    recent->count--;
    memmove(&recent->pages[index], &recent->pages[index + 1],
            sizeof(ViewerPage) * static_cast<size_t>(recent->count - index));
    memset(&recent->pages[recent->count], 0, sizeof(ViewerPage));
}

bool rememberRecentWord(RecentWords* recent, const ViewerPage& page)
{
    ViewerPage copy;
    if (page.bytes > recentWordsBytes || !copyViewerPage(page, &copy))
        return false;
    for (int i = 0; i < recent->count; i++) {
        const ViewerPage& kept = recent->pages[i];
        if (strcmp(kept.shownWord, page.shownWord) == 0 && strcmp(kept.dictionary, page.dictionary) == 0) {
            dropRecentWord(recent, i);
            break;
        }
    }
    if (recent->count == recentWordsDepth)
        dropRecentWord(recent, recent->count - 1);
    while (recent->count > 0 && recent->bytes + copy.bytes > recentWordsBytes)
        dropRecentWord(recent, recent->count - 1);
    memmove(&recent->pages[1], &recent->pages[0], sizeof(ViewerPage) * static_cast<size_t>(recent->count));
    recent->pages[0] = copy;
    recent->count++;
    recent->bytes += copy.bytes;
    if (recent->changed)
        recent->changed(*recent);
    return true;
}

bool copyRecentWord(const RecentWords& recent, int index, ViewerPage* page)
{
    if (index < 0 || index >= recent.count)
        return false;
    return copyViewerPage(recent.pages[index], page);
}

void releaseRecentWords(RecentWords* recent)
{
    while (recent->count > 0)
        dropRecentWord(recent, recent->count - 1);
    recent->bytes = 0;
}

void formatRecentWordItem(const ViewerPage& page, char* item, int capacity)
{
    if (capacity < 1)
        return;
    char plain[recentItemSize];
    size_t length = 0;
    plain[0] = '\0';
    appendCut(plain, recentItemSize, &length, page.shownWord);
    if (page.dictionary[0] != '\0') {
        appendCut(plain, recentItemSize, &length, captionDash);
        appendCut(plain, recentItemSize, &length, page.dictionary);
    }
    if (page.serverIndex == offlineServerIndex)
        appendCut(plain, recentItemSize, &length, " (offline)");
    char escaped[2 * recentItemSize];
    size_t at = 0;
    for (size_t i = 0; i < length; i++) {
        if (plain[i] == '&')
            escaped[at++] = '&';
        escaped[at++] = plain[i];
    }
    escaped[at] = '\0';
    length = 0;
    item[0] = '\0';
    appendCut(item, capacity, &length, escaped);
}
