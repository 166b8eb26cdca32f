// The viewer's page without a window: the text on show with its links and headings, where each
// definition starts, and the text size the zoom keys give.
#include "core/pagetext.h"

#include <string.h>

#include <new>

#include "core/lookuptext.h"
#include "core/viewertext.h"

namespace {

// Braces further apart than a word can be long are not one cross-reference (as a double click
// in the braces sees it).
const size_t maxLinkReach = maxWordLength;
const size_t noBrace = static_cast<size_t>(-1);

const char16_t headingDash[] = u" \u2014 ";  // an em dash between blanks
const size_t headingDashLength = 3;
const size_t lineEndLength = 2;  // the most a line end takes: "\r\n"

// The usual sizes from 6 to 72 point, in pixels at 96 DPI: what the zoom keys step through.
const int zoomLadder[] = {8, 9, 11, 12, 13, 15, 16, 19, 21, 24, 27, 29, 32, 37, 43, 48, 64, 96};
const int zoomSteps = sizeof zoomLadder / sizeof zoomLadder[0];

// Letters compared without case: ASCII and Latin-1's, enough for the words of the dictionaries served.
char16_t foldedUnit(char16_t c)
{
    if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7))
        return static_cast<char16_t>(c + 32);
    return c;
}

bool isBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

// Adds more to *total, false when that would pass pageTextLimit.
bool addWithin(size_t* total, size_t more)
{
    if (more > pageTextLimit - *total)
        return false;
    *total += more;
    return true;
}

struct PageWriter {
    PageText* page;
    bool oneUnitLineEnds;
    void put(char16_t c) { page->text[page->length++] = c; }
    void lineEnd()
    {
        put(u'\r');
        if (!oneUnitLineEnds)
            put(u'\n');
    }
    // An empty part may come as a null pointer.
    void copy(const char16_t* from, size_t length)
    {
        if (length > 0)
            memcpy(page->text + page->length, from, length * sizeof(char16_t));
        page->length += length;
    }
};

// Copies a body as shown: braces of a link out and the link noted, line ends as asked.
void writeBody(PageWriter& writer, const char16_t* body, size_t length)
{
    PageText* page = writer.page;
    size_t open = noBrace;  // where the '{' waiting for its '}' stands in the shown text
    bool openHasText = false;
    for (size_t i = 0; i < length; i++) {
        char16_t c = body[i];
        if (writer.oneUnitLineEnds && (c == u'\r' || c == u'\n')) {
            if (c == u'\r' && i + 1 < length && body[i + 1] == u'\n')
                i++;
            c = u'\r';
        }
        if (c == u'{') {
            open = page->length;
            openHasText = false;
        } else if (c == u'}' && open != noBrace) {
            size_t inside = page->length - open - 1;
            size_t from = open;
            open = noBrace;
            if (openHasText) {
                memmove(page->text + from, page->text + from + 1, inside * sizeof(char16_t));
                page->length--;
                page->links[page->linkCount++] = {static_cast<uint32_t>(from), static_cast<uint32_t>(inside)};
                continue;
            }
        } else if (open != noBrace) {
            openHasText = openHasText || !isBlank(c);
        }
        writer.put(c);
        if (open != noBrace && page->length - open > maxLinkReach)
            open = noBrace;
    }
}

// The index of the last of count items whose start (as key gives it) is at or before offset, -1
// when none is.
template <typename Item, typename Key>
long lastAtOrBefore(const Item* items, size_t count, size_t offset, Key key)
{
    size_t low = 0, high = count;
    while (low < high) {
        size_t middle = low + (high - low) / 2;
        if (key(items[middle]) <= offset)
            low = middle + 1;
        else
            high = middle;
    }
    return static_cast<long>(low) - 1;
}

int stepZoom(int pixels, bool larger)
{
    if (larger) {
        for (int i = 0; i < zoomSteps; i++)
            if (zoomLadder[i] > pixels)
                return zoomLadder[i];
        return zoomLargestPixels;
    }
    for (int i = zoomSteps - 1; i >= 0; i--)
        if (zoomLadder[i] < pixels)
            return zoomLadder[i];
    return zoomSmallestPixels;
}

}  // namespace

bool buildPageText(const PagePart* parts, int count, bool oneUnitLineEnds, PageText* page)
{
    memset(page, 0, sizeof *page);
    if (count < 0)
        return false;
    // One pass to size everything: braces only take text away, so the sum of the parts is room
    // enough, and each link needs a '{'.
    size_t room = 1, braces = 0;
    for (int p = 0; p < count; p++) {
        const PagePart& part = parts[p];
        if (!addWithin(&room, part.wordLength) || !addWithin(&room, headingDashLength) ||
            !addWithin(&room, part.descriptionLength) || !addWithin(&room, 3 * lineEndLength) ||
            !addWithin(&room, part.bodyLength))
            return false;
        for (size_t i = 0; i < part.bodyLength; i++)
            braces += part.body[i] == u'{';
    }
    page->text = new (std::nothrow) char16_t[room];
    page->links = braces ? new (std::nothrow) PageLink[braces] : nullptr;
    page->sections = count ? new (std::nothrow) PageSection[static_cast<size_t>(count)] : nullptr;
    if (!page->text || (braces && !page->links) || (count && !page->sections)) {
        releasePageText(page);
        return false;
    }
    PageWriter writer = {page, oneUnitLineEnds};
    for (int p = 0; p < count; p++) {
        const PagePart& part = parts[p];
        if (p > 0) {
            writer.lineEnd();
            writer.lineEnd();
        }
        PageSection& section = page->sections[page->sectionCount++];
        section.headingStart = page->length;
        section.wordLength = part.wordLength;
        writer.copy(part.word, part.wordLength);
        if (part.wordLength > 0 && part.descriptionLength > 0)
            writer.copy(headingDash, headingDashLength);
        writer.copy(part.description, part.descriptionLength);
        if (part.wordLength > 0 || part.descriptionLength > 0)
            writer.lineEnd();
        section.bodyStart = page->length;
        writeBody(writer, part.body, part.bodyLength);
        section.end = page->length;
    }
    page->text[page->length] = u'\0';
    return true;
}

void releasePageText(PageText* page)
{
    delete[] page->text;
    delete[] page->links;
    delete[] page->sections;
    memset(page, 0, sizeof *page);
}

long pageLinkAt(const PageText& page, size_t offset)
{
    long index =
        lastAtOrBefore(page.links, page.linkCount, offset, [](const PageLink& link) { return link.start; });
    if (index < 0 || offset >= static_cast<size_t>(page.links[index].start) + page.links[index].length)
        return -1;
    return index;
}

int pageLinkWord(const PageText& page, long index, char16_t* word, int capacity)
{
    if (capacity >= 1)
        word[0] = u'\0';
    if (index < 0 || static_cast<size_t>(index) >= page.linkCount)
        return 0;
    const PageLink& link = page.links[index];
    return followedSelection(page.text + link.start, link.length, word, capacity);
}

int pageSectionAt(const PageText& page, size_t offset)
{
    long index = lastAtOrBefore(page.sections, static_cast<size_t>(page.sectionCount), offset,
                                [](const PageSection& section) { return section.headingStart; });
    return index < 0 ? 0 : static_cast<int>(index);
}

int steppedPageSection(const PageText& page, size_t offset, int step)
{
    int count = page.sectionCount;
    if (count < 1)
        return 0;
    int stepped = (pageSectionAt(page, offset) + step % count) % count;
    return stepped < 0 ? stepped + count : stepped;
}

char16_t* newCopiedPageText(const PageText& page, size_t from, size_t to, size_t* length)
{
    *length = 0;
    to = to < page.length ? to : page.length;
    from = from < to ? from : to;
    // A lone '\r' or '\n' becomes two units; "\r\n" stays as it is.
    size_t room = 1;
    for (size_t i = from; i < to; i++) {
        char16_t c = page.text[i];
        bool pair = c == u'\r' && i + 1 < to && page.text[i + 1] == u'\n';
        room += pair ? 2 : (c == u'\r' || c == u'\n') ? 2 : 1;
        i += pair;
    }
    char16_t* copied = new (std::nothrow) char16_t[room];
    if (!copied)
        return nullptr;
    size_t at = 0;
    for (size_t i = from; i < to; i++) {
        char16_t c = page.text[i];
        if (c == u'\r' || c == u'\n') {
            copied[at++] = u'\r';
            copied[at++] = u'\n';
            i += c == u'\r' && i + 1 < to && page.text[i + 1] == u'\n';
        } else {
            copied[at++] = c;
        }
    }
    copied[at] = u'\0';
    *length = at;
    return copied;
}

long findInPage(const PageText& page, const char16_t* what, size_t length, size_t from, bool forward)
{
    if (length == 0 || length > page.length)
        return -1;
    size_t last = page.length - length;  // the last place a match can start
    if (from > last + 1)
        from = last + 1;
    // Every start once, from `from` on in the direction asked, wrapping at the end.
    size_t starts = last + 1;
    for (size_t n = 0; n < starts; n++) {
        size_t at = forward ? (from + n) % starts : (from + starts - 1 - n) % starts;
        size_t i = 0;
        while (i < length && foldedUnit(page.text[at + i]) == foldedUnit(what[i]))
            i++;
        if (i == length)
            return static_cast<long>(at);
    }
    return -1;
}

int zoomedFontSize(int size, ZoomKey key, int picked)
{
    if (key == zoomAsPicked)
        return picked;
    // A positive height (the cell's, not the characters') is near enough the same size; a giant
    // one is only ever stepped down to the largest.
    int height = size == 0 ? -zoomDefaultPixels : size < 0 ? size : -size;
    int pixels = height < -2 * zoomLargestPixels ? 2 * zoomLargestPixels : -height;
    return -stepZoom(pixels, key == zoomLarger);
}

int wheelZoomedFontSize(int size, int delta, int* pending)
{
    // A turn the other way starts afresh rather than first paying back what was left.
    if ((delta > 0 && *pending < 0) || (delta < 0 && *pending > 0))
        *pending = 0;
    *pending += delta % zoomWheelNotch;
    int notches = delta / zoomWheelNotch + *pending / zoomWheelNotch;
    *pending %= zoomWheelNotch;
    // More notches than the ladder has steps change nothing further.
    for (int i = 0; i < notches && i <= zoomSteps; i++)
        size = zoomedFontSize(size, zoomLarger, 0);
    for (int i = 0; i > notches && i >= -zoomSteps; i--)
        size = zoomedFontSize(size, zoomSmaller, 0);
    return size;
}
