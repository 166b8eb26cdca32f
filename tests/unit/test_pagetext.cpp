// The viewer's page text (links, headings, one page of every definition, zoom) and the kept words'
// file.
#include <gtest/gtest.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <string_view>
#include <vector>

#include "core/history.h"
#include "core/lookuptext.h"
#include "core/pagetext.h"

namespace {

using Text = std::u16string;

// Literals and texts that outlive the page, never temporaries.
PagePart partOf(std::u16string_view word, std::u16string_view description, std::u16string_view body)
{
    return {word.data(), word.size(), description.data(), description.size(), body.data(), body.size()};
}

struct BraceCase {
    const char* name;
    Text body;
    Text shown;
    std::vector<Text> links;
    bool oneUnitLineEnds = false;
};

TEST(PageText, BracesBecomeLinksAndTheRestStaysAsSent)
{
    const Text far = u"{" + Text(300, u'x') + u"}";
    const BraceCase cases[] = {
        {"one word", u"{hack}", u"hack", {u"hack"}},
        {"synonyms", u"  [syn: {hack}, {hacker}]", u"  [syn: hack, hacker]", {u"hack", u"hacker"}},
        {"two words across lines",
         u"See {computer\r\n     science}.",
         u"See computer\r\n     science.",
         {u"computer science"}},
        {"formula", u"{C12H25OH}", u"C12H25OH", {u"C12H25OH"}},
        {"never closed", u"a {b c\r\nd", u"a {b c\r\nd", {}},
        {"closed only", u"a} {b}", u"a} b", {u"b"}},
        {"nested", u"{a {b} c}", u"{a b c}", {u"b"}},
        {"empty", u"{}x", u"{}x", {}},
        {"blanks only", u"{ \r\n }", u"{ \r\n }", {}},
        {"brace at the end", u"word {", u"word {", {}},
        {"reaching too far", far, far, {}},
        {"line ends as one unit", u"a\r\nb\nc\rd {x\r\ny}", u"a\rb\rc\rd x\ry", {u"x y"}, true},
    };
    for (const BraceCase& c : cases) {
        SCOPED_TRACE(c.name);
        PagePart part = partOf(u"w", u"", c.body);
        PageText page;
        ASSERT_TRUE(buildPageText(&part, 1, c.oneUnitLineEnds, &page));
        const PageSection& body = page.sections[0];
        EXPECT_EQ(Text(page.text + body.bodyStart, body.end - body.bodyStart), c.shown);
        ASSERT_EQ(page.linkCount, c.links.size());
        for (size_t i = 0; i < page.linkCount; i++) {
            char16_t word[wordBufferSize];
            pageLinkWord(page, static_cast<long>(i), word, wordBufferSize);
            EXPECT_EQ(Text(word), c.links[i]);
            const PageLink& link = page.links[i];
            EXPECT_EQ(pageLinkAt(page, link.start), static_cast<long>(i));
            EXPECT_EQ(pageLinkAt(page, link.start + link.length - 1), static_cast<long>(i));
            EXPECT_NE(pageLinkAt(page, link.start + link.length), static_cast<long>(i));
        }
        EXPECT_EQ(pageLinkAt(page, 0), -1);
        // Ctrl+C copies the shown text with "\r\n" line ends, however the control counts them.
        size_t copiedLength = 0;
        char16_t* copied = newCopiedPageText(page, body.bodyStart, page.length + 10, &copiedLength);
        Text shown = c.shown;
        for (size_t at = 0; c.oneUnitLineEnds && (at = shown.find(u'\r', at)) != Text::npos; at += 2)
            shown.insert(at + 1, 1, u'\n');
        EXPECT_EQ(Text(copied, copiedLength), shown);
        delete[] copied;
        releasePageText(&page);
    }
}

TEST(PageText, EveryDefinitionUnderItsHeadingInTheServersOrder)
{
    const PagePart parts[] = {partOf(u"hack", u"WordNet", u"hack\r\n  n 1: {hacker}"),
                              partOf(u"hack", u"", u"Jargon"), partOf(u"", u"FOLDOC", u"x")};
    PageText page;
    ASSERT_TRUE(buildPageText(parts, 3, false, &page));
    const Text shown =
        u"hack \u2014 WordNet\r\nhack\r\n  n 1: hacker\r\n\r\nhack\r\nJargon\r\n\r\nFOLDOC\r\nx";
    EXPECT_EQ(Text(page.text, page.length), shown);
    ASSERT_EQ(page.sectionCount, 3);
    const size_t headings[] = {0, shown.find(u"hack\r\nJargon"), shown.find(u"FOLDOC")};
    const size_t bold[] = {4, 4, 0};
    for (int s = 0; s < 3; s++) {
        SCOPED_TRACE(s);
        EXPECT_EQ(page.sections[s].headingStart, headings[s]);
        EXPECT_EQ(page.sections[s].wordLength, bold[s]);
        EXPECT_EQ(pageSectionAt(page, headings[s]), s);
        EXPECT_EQ(pageSectionAt(page, page.sections[s].end), s);
        EXPECT_EQ(steppedPageSection(page, page.sections[s].bodyStart, 1), (s + 1) % 3);
        EXPECT_EQ(steppedPageSection(page, page.sections[s].bodyStart, -1), (s + 2) % 3);
    }
    EXPECT_EQ(pageSectionAt(page, headings[1] - 1), 0);
    EXPECT_EQ(pageSectionAt(page, page.length + 100), 2);
    EXPECT_EQ(page.sections[2].end, page.length);
    releasePageText(&page);

    ASSERT_TRUE(buildPageText(nullptr, 0, false, &page));
    EXPECT_EQ(steppedPageSection(page, 5, -1), 0);
    releasePageText(&page);

    // One definition shown under a heading of its own window: no heading line in the text.
    const PagePart bare = partOf(u"", u"", u"{x}y");
    ASSERT_TRUE(buildPageText(&bare, 1, true, &page));
    EXPECT_EQ(Text(page.text, page.length), u"xy");
    EXPECT_EQ(page.sections[0].bodyStart, 0u);
    releasePageText(&page);
}

TEST(PageText, FindGoesBothWaysWithoutCaseAndWraps)
{
    const PagePart part = partOf(u"", u"", u"Break a {break}. BRÉAK");
    PageText page;
    ASSERT_TRUE(buildPageText(&part, 1, true, &page));
    struct {
        const char16_t* what;
        size_t from;
        bool forward;
        long found;
    } const cases[] = {
        {u"break", 0, true, 0},
        {u"break", 1, true, 8},
        {u"break", 9, true, 0},
        {u"break", 8, false, 0},
        {u"break", 0, false, 8},
        {u"bréak", 0, true, 15},
        {u"k a b", 0, true, 4},
        {u"missing", 0, true, -1},
        {u"", 0, true, -1},
        {u"break", 999, true, 0},
        {u"Break a break. BRÉAK!", 0, true, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        EXPECT_EQ(findInPage(page, c.what, Text(c.what).size(), c.from, c.forward), c.found);
    }
    releasePageText(&page);
}

TEST(PageText, FortyMegabytesInOnePassWithEveryLink)
{
    const Text line = u"  n 1: a {short} line of a {very\r\n long} definition\r\n";
    const size_t repeats = 40 * 1024 * 1024 / (line.size() * sizeof(char16_t));
    Text body;
    body.reserve(line.size() * repeats);
    for (size_t i = 0; i < repeats; i++)
        body += line;
    PagePart part = partOf(u"break", u"WordNet", body);
    PageText page;
    ASSERT_TRUE(buildPageText(&part, 1, false, &page));
    EXPECT_EQ(page.linkCount, 2 * repeats);
    EXPECT_EQ(page.length, Text(u"break \u2014 WordNet\r\n").size() + body.size() - 4 * repeats);
    char16_t word[wordBufferSize];
    EXPECT_EQ(pageLinkWord(page, static_cast<long>(page.linkCount - 1), word, wordBufferSize), 9);
    EXPECT_EQ(Text(word), u"very long");
    releasePageText(&page);
}

TEST(PageText, ZoomStepsStayWithinTheLadder)
{
    struct {
        int size;
        ZoomKey key;
        int expected;
    } const keys[] = {
        {0, zoomLarger, -12},        {0, zoomSmaller, -9},       {-11, zoomLarger, -12},
        {-10, zoomLarger, -11},      {12, zoomLarger, -13},      {-96, zoomLarger, -96},
        {-8, zoomSmaller, -8},       {-200, zoomSmaller, -96},   {5000, zoomSmaller, -96},
        {INT_MIN, zoomSmaller, -96}, {INT_MAX, zoomLarger, -96}, {-20, zoomAsPicked, -15},
    };
    for (const auto& k : keys) {
        SCOPED_TRACE(k.size);
        EXPECT_EQ(zoomedFontSize(k.size, k.key, -15), k.expected);
    }
    int pending = 0;
    EXPECT_EQ(wheelZoomedFontSize(-11, 60, &pending), -11);
    EXPECT_EQ(wheelZoomedFontSize(-11, 60, &pending), -12);
    EXPECT_EQ(pending, 0);
    EXPECT_EQ(wheelZoomedFontSize(-12, 60, &pending), -12);
    EXPECT_EQ(wheelZoomedFontSize(-12, -120, &pending), -11);  // the half notch forward is forgotten
    EXPECT_EQ(wheelZoomedFontSize(-11, 3 * 120, &pending), -15);
    EXPECT_EQ(wheelZoomedFontSize(-11, INT_MIN, &pending), -8);
    EXPECT_EQ(wheelZoomedFontSize(-11, INT_MAX, &pending), -96);
}

KeptWord kept(const char* word, const char* database, const char* description, bool offline)
{
    KeptWord k = {};
    snprintf(k.word, sizeof k.word, "%s", word);
    snprintf(k.database, sizeof k.database, "%s", database);
    snprintf(k.description, sizeof k.description, "%s", description);
    k.offline = offline;
    return k;
}

TEST(KeptWords, FileRoundTripNewestFirst)
{
    std::vector<KeptWord> words = {kept("glimmerwort", "wn",
                                        "WordNet\t(r)\x1b"
                                        "3.0",
                                        false),
                                   kept("caf\xC3\xA9", "fd-fra-eng", "French-English", true),
                                   kept("bad\tword", "wn", "", false)};
    for (int i = 0; i < recentWordsDepth; i++)
        words.push_back(kept(("w" + std::to_string(i)).c_str(), "jargon", "Jargon", false));
    char file[historyFileSize];
    size_t length = formatHistoryFile(words.data(), static_cast<int>(words.size()), file, sizeof file);
    EXPECT_EQ(std::string(file, length)
                  .find(std::string(historyFirstLine) + "\nglimmerwort\twn\tonline\tWordNet (r) 3.0\n"),
              0u);
    KeptWord read[recentWordsDepth + 2];
    int count = -1;
    ASSERT_EQ(parseHistoryFile(file, length, read, recentWordsDepth + 2, &count), historyRead);
    ASSERT_EQ(count, recentWordsDepth);
    EXPECT_STREQ(read[0].description, "WordNet (r) 3.0");
    EXPECT_STREQ(read[1].word, "caf\xC3\xA9");
    EXPECT_TRUE(read[1].offline);
    EXPECT_STREQ(read[2].word, "w0");  // the word with a tab is left out
    EXPECT_STREQ(read[recentWordsDepth - 1].word, "w7");

    // An editor's byte order mark, "\r\n" and blank end; a word again in the same dictionary.
    std::string edited =
        std::string("\xEF\xBB\xBF") + historyFirstLine +
        "\r\nhack\twn\tonline\tWordNet\r\nhack\twn\tonline\tWordNet\r\nhack\tjargon\tonline\t\r\n\r\n";
    ASSERT_EQ(parseHistoryFile(edited.data(), edited.size(), read, recentWordsDepth, &count), historyRead);
    EXPECT_EQ(count, 2);
    EXPECT_STREQ(read[1].database, "jargon");

    // A page keeps its database, to look the word up there again.
    DictSession session = {};
    snprintf(session.shownWord, dictWordSize, "glimmerwort");
    snprintf(session.shownDatabase, dictSlotSize, "lexitest");
    session.shownServerIndex = offlineServerIndex;
    ViewerPage page = {};
    takeViewerPage(session, &page);
    keepViewerPageWord(page, &read[0]);
    EXPECT_STREQ(read[0].database, "lexitest");
    EXPECT_STREQ(read[0].description, "lexitest");  // no database list: the name
    EXPECT_TRUE(read[0].offline);
    releaseViewerPage(&page);
}

// Words read back stand in Recent Words without their definitions until picked, and are kept as read.
TEST(KeptWords, RestoredWordsAreLookedUpAgainAndKeptAsRead)
{
    RecentWords recent = {};
    std::vector<KeptWord> words(recentWordsDepth + 1, kept("hack", "jargon", "Jargon", false));
    words[0] = kept("caf\xC3\xA9", "fd-fra-eng", "French", true);
    restoreRecentWords(&recent, words.data(), static_cast<int>(words.size()), 7);
    ASSERT_EQ(recent.count, recentWordsDepth);
    EXPECT_TRUE(recentWordNeedsLookUp(recent.pages[0]) && recentWordNeedsLookUp(recent.pages[9]));
    EXPECT_EQ(recent.pages[1].serverIndex, 7);
    KeptWord again[recentWordsDepth + 1];
    ASSERT_EQ(keepRecentWords(recent, again, recentWordsDepth + 1), recentWordsDepth);
    EXPECT_TRUE(again[0].offline && !again[1].offline);
    EXPECT_STREQ(again[0].database, "fd-fra-eng");
    EXPECT_EQ(keepRecentWords(recent, again, 2), 2);
    releaseRecentWords(&recent);
}

TEST(KeptWords, DamagedOrForeignFilesAreRefusedWhole)
{
    const std::string head = std::string(historyFirstLine) + "\n";
    const std::string good = "hack\twn\tonline\tWordNet\n";
    std::string many = head;
    for (int i = 0; i <= recentWordsDepth; i++)
        many += "w" + std::to_string(i) + "\twn\tonline\tWordNet\n";
    const struct {
        const char* name;
        std::string bytes;
        HistoryFault fault;
    } cases[] = {
        {"empty", "", historyNotOurs},
        {"another program's", "[Recent]\nhack=wn\n", historyNotOurs},
        {"a later format", "Lexitray kept words 2\n" + good, historyNotOurs},
        {"first line only part", "Lexitray kept words", historyNotOurs},
        {"zero byte", head + std::string("hack\0\twn\tonline\t\n", 17), historyHasNul},
        {"Latin-1", head + "caf\xE9\twn\tonline\t\n", historyNotUtf8},
        {"cut character", head + good + "\xC3", historyNotUtf8},
        {"surrogate", head + "\xED\xA0\x80\twn\tonline\t\n", historyNotUtf8},
        {"word too long", head + std::string(dictWordSize, 'a') + "\twn\tonline\t\n", historyLineTooLong},
        {"description too long", head + "a\twn\tonline\t" + std::string(dictSlotSize, 'd') + "\n",
         historyLineTooLong},
        {"too many", many, historyTooManyLines},
        {"no separator", head + good + "hack wn online\n", historyMissingField},
        {"empty word", head + "\twn\tonline\t\n", historyMissingField},
        {"empty database", head + "a\t\tonline\t\n", historyMissingField},
        {"unknown place", head + "a\twn\telsewhere\t\n", historyUnknownPlace},
        {"a tab too many", head + "a\twn\tonline\tWord\tNet\n", historyControlCharacter},
        {"lone carriage return", head + "a\rb\twn\tonline\t\n", historyControlCharacter},
        {"too large", head + good + std::string(historyReadLimit, '\n'), historyTooLarge},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        KeptWord read[recentWordsDepth];
        int count = -1;
        EXPECT_EQ(parseHistoryFile(c.bytes.data(), c.bytes.size(), read, recentWordsDepth, &count), c.fault);
        EXPECT_EQ(count, 0);
        EXPECT_STRNE(historyFaultText(c.fault), historyFaultText(historyRead));
    }
}

}  // namespace
