// Fuzz target: the page's brace parser against a plain reading of the same rule (a '}' closes a
// link when the brace before it is a '{' near enough, with more than blanks between), and the
// shown text with the braces put back is the body as sent.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "core/lookuptext.h"
#include "core/pagetext.h"
#include "tests/fuzz/fuzzsupport.h"

static bool blank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

// The '{' positions of the links a plain reading finds in body.
static std::vector<size_t> plainLinks(const std::u16string& body)
{
    std::vector<size_t> opens;
    for (size_t j = 0; j < body.size(); j++) {
        if (body[j] != u'}')
            continue;
        size_t i = j;
        while (i > 0 && body[i - 1] != u'{' && body[i - 1] != u'}')
            i--;
        if (i == 0 || body[i - 1] != u'{' || j - (i - 1) > static_cast<size_t>(maxWordLength))
            continue;
        bool text = false;
        for (size_t k = i; k < j; k++)
            text = text || !blank(body[k]);
        if (text)
            opens.push_back(i - 1);
    }
    return opens;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    bool oneUnit = data[0] & 1;
    // Bytes as units keep braces and line ends frequent; the top bytes stand for surrogates.
    std::u16string body;
    for (size_t i = 1; i < size; i++)
        body += data[i] >= 0xF0 ? static_cast<char16_t>(0xD800 + data[i]) : static_cast<char16_t>(data[i]);
    const std::u16string word = u"w";
    PagePart parts[2] = {{word.data(), 1, nullptr, 0, body.data(), body.size()},
                         {nullptr, 0, word.data(), 1, body.data(), body.size() / 2}};
    PageText page;
    FUZZ_CHECK(buildPageText(parts, 2, oneUnit, &page));
    FUZZ_CHECK(page.sectionCount == 2 && page.text[page.length] == u'\0');
    for (size_t l = 0; l < page.linkCount; l++) {
        const PageLink& link = page.links[l];
        FUZZ_CHECK(link.start + link.length <= page.length);
        FUZZ_CHECK(l == 0 || page.links[l - 1].start + page.links[l - 1].length <= link.start);
        FUZZ_CHECK(pageLinkAt(page, link.start) == static_cast<long>(l));
        char16_t linkWord[wordBufferSize];
        // Nothing but halves of surrogate pairs may leave no word; the length is where the terminator stands.
        int wordLength = pageLinkWord(page, static_cast<long>(l), linkWord, wordBufferSize);
        FUZZ_CHECK(wordLength >= 0 && wordLength < wordBufferSize && linkWord[wordLength] == u'\0');
    }
    for (int s = 0; s < 2; s++)
        FUZZ_CHECK(pageSectionAt(page, page.sections[s].bodyStart) == s);
    if (!oneUnit) {
        // The first body with its links' braces put back is the body as sent.
        std::vector<size_t> expected = plainLinks(body);
        const PageSection& first = page.sections[0];
        std::u16string rebuilt;
        size_t at = first.bodyStart, found = 0;
        for (size_t l = 0; l < page.linkCount && page.links[l].start < first.end; l++, found++) {
            const PageLink& link = page.links[l];
            FUZZ_CHECK(found < expected.size() &&
                       link.start - first.bodyStart + 2 * found == expected[found]);
            rebuilt.append(page.text + at, link.start - at);
            rebuilt += u'{';
            rebuilt.append(page.text + link.start, link.length);
            rebuilt += u'}';
            at = link.start + link.length;
        }
        rebuilt.append(page.text + at, first.end - at);
        FUZZ_CHECK(found == expected.size());
        FUZZ_CHECK(rebuilt == body);
    }
    size_t copiedLength = 0;
    char16_t* copied = newCopiedPageText(page, 0, page.length, &copiedLength);
    FUZZ_CHECK(copied && copiedLength >= page.length && copied[copiedLength] == u'\0');
    delete[] copied;
    releasePageText(&page);
    return 0;
}
