// The viewer's page without a window: the text on show with its links and headings, where each
// definition starts, and the text size the zoom keys give.
#pragma once
#include <stddef.h>
#include <stdint.h>

// One definition of a page, in UTF-16 as the window API takes it: the word and the dictionary's
// description for its heading, and the definition as the server sent it.
struct PagePart {
    const char16_t* word;
    size_t wordLength;
    const char16_t* description;
    size_t descriptionLength;
    const char16_t* body;
    size_t bodyLength;
};

// A cross-reference: where it stands in the shown text. 32 bits each, so that a text of nothing
// but short links does not take many times its size.
struct PageLink {
    uint32_t start;
    uint32_t length;
};

// One definition on the page: its heading ("word — description", the word shown bold) and body.
struct PageSection {
    size_t headingStart;
    size_t wordLength;  // the bold part, from headingStart
    size_t bodyStart;
    size_t end;  // where the body ends: the next heading's separator or the text's end
};

// The text on show, zero-terminated; links in the order they stand.
struct PageText {
    char16_t* text;
    size_t length;
    PageLink* links;
    size_t linkCount;
    PageSection* sections;
    int sectionCount;
};

// The most UTF-16 units of a page: offsets fit the links' 32 bits and the window's signed ones.
const size_t pageTextLimit = 0x7FFFFFF0;

// Builds the page of parts (in the order given, each under its heading, a blank line between
// them; a part with neither word nor description has no heading line) into page, which must be empty or
// released. In a body, text in braces ("{hack}",
// "{two\r\n words}") is shown without its braces as a link; everything else stays as sent. Braces
// that hold nothing but blanks, that reach further than a word can be long, that another '{'
// opens inside, or that are never closed stay on show as they are. With oneUnitLineEnds every
// line end ("\r\n", "\r" or "\n") is one '\r', as a rich edit control counts them, so that its
// offsets are the page's. Linear in the parts' length; false (page empty) when memory runs out or
// the page would pass pageTextLimit.
bool buildPageText(const PagePart* parts, int count, bool oneUnitLineEnds, PageText* page);
void releasePageText(PageText* page);

// The link at offset of the shown text, or -1 when none covers it.
long pageLinkAt(const PageText& page, size_t offset);
// The word link index looks up: its text with blanks and line breaks inside as one blank. Written
// to word (capacity units with the terminator); returns its length, 0 for no such link.
int pageLinkWord(const PageText& page, long index, char16_t* word, int capacity);

// The definition that offset (the first line in view) lies in: the last one whose heading starts
// at or before it; 0 on a page without sections.
int pageSectionAt(const PageText& page, size_t offset);
// The definition that "Next Definition" (step 1) or "Previous Definition" (step -1) goes to from
// the one offset lies in, wrapping at both ends as the buttons do.
int steppedPageSection(const PageText& page, size_t offset, int step);

// The text Ctrl+C copies for the range [from, to) of the shown text: as shown, with every line end
// as "\r\n" the clipboard expects. A new zero-terminated text (delete[]), null when memory runs
// out; *length is set to its length.
char16_t* newCopiedPageText(const PageText& page, size_t from, size_t to, size_t* length);

// Find: where the next match of what (length units, letters compared without case) starts,
// searching forward from the offset from, or backward from just before it, wrapping round the
// page's ends; -1 when there is none.
long findInPage(const PageText& page, const char16_t* what, size_t length, size_t from, bool forward);

// Zoom. Sizes are the profile's definition font size: a negative character height in pixels at
// 96 DPI, 0 for the face's default height (taken as zoomDefaultPixels).
const int zoomDefaultPixels = 11;  // 8 point at 96 DPI, the viewer's own font
const int zoomSmallestPixels = 8;
const int zoomLargestPixels = 96;
// One notch of a mouse wheel, as the window API counts it.
const int zoomWheelNotch = 120;
enum ZoomKey { zoomLarger, zoomSmaller, zoomAsPicked };
// The size after a key (Ctrl+plus, Ctrl+minus, Ctrl+0): one step up or down a ladder of usual
// sizes, kept between the smallest and the largest; Ctrl+0 gives the size picked in the settings.
int zoomedFontSize(int size, ZoomKey key, int picked);
// The size after Ctrl+wheel: wheel deltas add up in *pending, and each whole notch is one step
// (forward larger); what is left of a notch waits for the next delta.
int wheelZoomedFontSize(int size, int delta, int* pending);
