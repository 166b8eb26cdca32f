// Hostile and broken DICT servers: every behaviour must end in bounded time and memory with the
// result the look-up should see.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <chrono>
#include <string>
#include <thread>

#include "core/dictsession.h"
#include "tests/unit/fakeserver.h"
#include "tests/unit/uidoubles.h"

namespace {

enum HostileExchange { askMatches, askDefinitions };

const int notChecked = -1;
const size_t anyLength = (size_t)-1;
// Reply cap of most cases: small, so that never-ending replies end quickly.
const size_t testCapBytes = 1u << 20;
const size_t bigDefinitionBytes = 40u * 1000 * 1000;
const long long millionLines = 1000000;
// The longest any case may take: the reply time-out, a greeting and a connect time-out, and slack.
const long long boundMs = testReplyTimeoutMs + testReceiveTimeoutMs + testConnectTimeoutMs + 1500;
// Cases with a bigger cap carry tens of megabytes, which takes a while under an emulator.
const int bigReplyTimeoutMs = 60000;

struct HostileCase {
    const char* name;
    HostileExchange exchange;
    // The connection under test: the match query's, or the definitions'.
    FakeScript script;
    int expectedResult;
    // matchCount or definitionCount afterwards.
    int expectedCount;
    // The length of the first name or definition, when checked.
    size_t firstLength;
    // The database list connection of a match exchange; empty gives a well-behaved one.
    FakeScript databaseScript;
    int expectedDatabaseCount;
    size_t capBytes;
};

FakeScript greetAndAwait(const FakeScript& reply)
{
    return FakeScript{sendText(fakeGreeting), awaitRequest()} + reply;
}

FakeScript answer(const std::string& text) { return greetAndAwait({sendText(text)}); }

const char definitionHead[] = "150 1 definitions retrieved\r\n151 \"x\" wn \"WordNet\"\r\n";
const char oneDefinition[] = "150 1 found\r\n151 \"x\" wn \"WordNet\"\r\nbody\r\n.\r\n250 ok\r\n";
const char twoMatches[] = "152 2 matches\r\nwn \"x\"\r\ngcide \"x\"\r\n.\r\n250 ok\r\n";

std::string countedDefinitions(const std::string& count, int present)
{
    std::string text = "150 " + count + " definitions retrieved\r\n";
    for (int i = 0; i < present; i++)
        text += "151 \"x\" wn \"WordNet\"\r\ndefinition " + std::to_string(i) + "\r\n.\r\n";
    return text + "250 ok\r\n";
}

std::string manyMatches(int count)
{
    std::string text = "152 " + std::to_string(count) + " matches found\r\n";
    for (int i = 0; i < count; i++)
        // "_" keeps a number ending in 250 from completing the reply early.
        text += "db" + std::to_string(i) + "_ \"x\"\r\n";
    return text + ".\r\n250 ok\r\n";
}

std::vector<HostileCase> hostileCases()
{
    const std::string longLine(100000, 'L');
    // The table keeps one case a line or two: clang-format would put every field on a line of its own.
    // clang-format off
    std::vector<HostileCase> cases = {
        {"silent after connect", askDefinitions, {staySilent()}, 15, 0, anyLength, {}, notChecked, 0},
        {"greeting one byte at a time", askDefinitions,
         inPieces(fakeGreeting, 1, 1) + FakeScript{awaitRequest(), sendText(oneDefinition)}, 1, 1, 4, {}, notChecked, 0},
        {"reply one byte at a time", askDefinitions, greetAndAwait(inPieces(countedDefinitions("2", 2), 1, 1)), 1, 2,
         12, {}, notChecked, 0},
        {"never-ending body", askDefinitions,
         greetAndAwait({sendText(definitionHead), floodWith("and more text\r\n", -1)}), 15, 0, anyLength, {},
         notChecked, 0},
        {"never-ending line", askDefinitions, greetAndAwait({floodWith("x", -1)}), 15, 0, anyLength, {}, notChecked, 0},
        {"reset mid-reply", askDefinitions,
         greetAndAwait({sendText(definitionHead), sendText("partial"), pauseFor(50), resetNow()}), 15, 0, anyLength, {},
         notChecked, 0},
        {"close mid-reply", askDefinitions,
         answer("150 2 found\r\n151 a wn\r\none\r\n.\r\n151 b wn\r\ntw"), 1, 1, 3, {}, notChecked, 0},
        {"count 0", askDefinitions, answer(countedDefinitions("0", 1)), 15, 0, anyLength, {}, notChecked, 0},
        {"count 2^31", askDefinitions, answer(countedDefinitions("2147483648", 1)), 1, 1, anyLength, {}, notChecked, 0},
        {"count of 30 digits", askDefinitions, answer(countedDefinitions("999999999999999999999999999999", 2)), 1, 2,
         anyLength, {}, notChecked, 0},
        {"negative count", askDefinitions, answer(countedDefinitions("-1", 1)), 15, 0, anyLength, {}, notChecked, 0},
        {"most negative count", askDefinitions, answer(countedDefinitions("-2147483648", 1)), 15, 0, anyLength, {},
         notChecked, 0},
        {"count above the lines", askMatches, answer("152 50\r\nwn \"x\"\r\ngcide \"x\"\r\n.\r\n250 ok\r\n"), 1, 2, 2,
         {}, notChecked, 0},
        {"count below the lines", askMatches, answer("152 1\r\nwn \"x\"\r\ngcide \"x\"\r\n.\r\n250 ok\r\n"), 1, 1, 2, {},
         notChecked, 0},
        {"no line ends at all", askMatches, answer("152 2 wn \"x\" gcide \"x\" . 250 ok"), 15, 0, anyLength, {},
         notChecked, 0},
        {"LF-only match lines", askMatches, answer("152 2\nwn \"x\"\ngcide \"x\"\n.\n250 ok\n"), 15, 0, anyLength, {},
         notChecked, 0},
        {"LF-only definition", askDefinitions, answer("150 1\n151 x wn\nbody\n.\n250 ok\n"), 15, 0, anyLength, {},
         notChecked, 0},
        {"missing terminator", askDefinitions, answer("150 1\r\n151 x wn\r\nbody\r\n250 ok\r\n"), 15, 0, anyLength, {},
         notChecked, 0},
        {"zero bytes in the body", askDefinitions,
         greetAndAwait({sendText(std::string(definitionHead) + std::string("bo\0junk\0", 8)), pauseFor(30),
                        sendText("dy\r\n.\r\n250 ok\r\n")}),
         1, 1, 4, {}, notChecked, 0},
        {"100 KB body line", askDefinitions, answer(std::string(definitionHead) + longLine + "\r\n.\r\n250 ok\r\n"), 1,
         1, longLine.size(), {}, notChecked, 0},
        {"100 KB match line", askMatches, answer("152 1\r\n" + longLine + " \"x\"\r\n.\r\n250 ok\r\n"), 1, 1, 69, {},
         notChecked, 0},
        {"40 MB definition", askDefinitions,
         greetAndAwait({sendText(definitionHead), floodWith("abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQ\r\n",
                                                            bigDefinitionBytes),
                        sendText("\r\n.\r\n250 ok\r\n")}),
         1, 1, bigDefinitionBytes, {}, notChecked, dictDefaultLimits.replyCapBytes},
        {"a million empty match lines", askMatches,
         greetAndAwait({sendText("152 1000000 matches\r\n"), floodWith("\r\n", 2 * millionLines),
                        sendText(".\r\n250 ok\r\n")}),
         15, 0, anyLength, {}, notChecked, 4 * testCapBytes},
        {"a million empty body lines", askDefinitions,
         greetAndAwait({sendText(definitionHead), floodWith("\r\n", 2 * millionLines), sendText(".\r\n250 ok\r\n")}), 1,
         1, 2 * millionLines - 2, {}, notChecked, 4 * testCapBytes},
        {"ten thousand matches", askMatches, answer(manyMatches(10000)), 1, dictDefaultLimits.maxListEntries, 4, {},
         notChecked, 0},
        {"more definitions than the list holds", askDefinitions, answer(countedDefinitions("5000", 5000)), 1,
         dictDefaultLimits.maxListEntries, 12, {}, notChecked, 0},
        {"not a DICT server", askMatches,
         {sendText("HTTP/1.0 400 Bad Request\r\n\r\n"), awaitRequest(), sendText("<html>no</html>\r\n")}, 15, 0,
         anyLength, {}, notChecked, 0},
        {"status only", askDefinitions, answer("150"), 15, 0, anyLength, {}, notChecked, 0},
        {"endless database list", askMatches, answer(twoMatches), 1, 2, 2,
         greetAndAwait({sendText("110 3 databases present\r\n"), floodWith("db \"x\"\r\n", -1)}), 3, 0},
        {"silent database list", askMatches, answer(twoMatches), 1, 2, 2, greetAndAwait({staySilent()}), 0, 0},
        {"database count 2^40", askMatches, answer(twoMatches), 1, 2, 2,
         answer("110 1099511627776 databases\r\nwn \"x\"\r\ngcide \"y\"\r\n.\r\n250 ok\r\n"), 2, 0},
        {"database lines without terminator", askMatches, answer(twoMatches), 1, 2, 2,
         greetAndAwait({sendText("110 2 databases\r\nwn \"x\"\r\ngc"), closeNow()}), 1, 0},
    };
    // clang-format on
    return cases;
}

class Hostile : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(netStartup(), 1);
        resetUiDoubles();
    }
    void TearDown() override
    {
        resetDictSession();
        dictLimits = dictDefaultLimits;
    }
};

TEST_F(Hostile, EveryBehaviourEndsBoundedWithTheRightResult)
{
    std::vector<HostileCase> cases = hostileCases();
    ASSERT_GE(cases.size(), 20u);
    for (const HostileCase& c : cases) {
        SCOPED_TRACE(c.name);
        resetDictSession();
        useTestLimits();
        dictLimits.replyCapBytes = c.capBytes != 0 ? c.capBytes : testCapBytes;
        bool big = dictLimits.replyCapBytes > testCapBytes;
        if (big)
            dictLimits.replyTimeoutMs = bigReplyTimeoutMs;
        FakeScript databaseScript = c.databaseScript.empty()
                                        ? answer("110 1 databases\r\nwn \"WordNet\"\r\n.\r\n250 ok\r\n")
                                        : c.databaseScript;
        FakeServer server({c.script, databaseScript});
        ASSERT_TRUE(server.listening());

        auto start = std::chrono::steady_clock::now();
        int result;
        int count;
        const char* first;
        if (c.exchange == askMatches) {
            dictSession.connectToServer(server.host());
            result = dictSession.findMatches("x", server.host());
            count = dictSession.matchCount;
            first = count > 0 ? dictSession.getMatchDatabase(0) : nullptr;
        } else {
            result = dictSession.retrieveDefinitions("wn", "x", server.host());
            count = dictSession.definitionCount;
            first = count > 0 ? dictSession.getDefinition(0) : nullptr;
        }
        long long elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                .count();

        EXPECT_EQ(result, c.expectedResult);
        EXPECT_EQ(count, c.expectedCount);
        if (c.firstLength != anyLength && first != nullptr) {
            EXPECT_EQ(strlen(first), c.firstLength);
        }
        if (c.expectedDatabaseCount != notChecked) {
            EXPECT_EQ(dictSession.databaseCount, c.expectedDatabaseCount);
        }
        EXPECT_LT(elapsed, big ? bigReplyTimeoutMs : boundMs);
        if (big)
            printf("  %s: %lld ms\n", c.name, elapsed);
        EXPECT_LE(count, dictDefaultLimits.maxListEntries);
        EXPECT_EQ(countUiCalls("showMessage"), 0);
    }
}

TEST_F(Hostile, CuttingNeverReadsPastTheText)
{
    // The cutters work on a length, not on a terminating zero: give them texts that stop
    // right where a line end, a count or a terminator would be needed.
    const char* const texts[] = {"152",
                                 "152 ",
                                 "152 9",
                                 "152 9\r",
                                 "152 9\r\nwn",
                                 "152 9\r\nwn \"x\"\r",
                                 "110 2\r\nwn",
                                 "150 1\r\n151",
                                 "150 1\r\n151 x\r\nbody\r\n.",
                                 "150 1\r\n151 x\r\n\r\n.\r"};
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        size_t length = strlen(text);
        // An exact-size copy, so that a read past the end is an address error.
        char* exact = new char[length];
        memcpy(exact, text, length);
        char** list = nullptr;
        EXPECT_EQ(cutMatchNames(exact, length, &list), 0);
        EXPECT_EQ(list, nullptr);
        EXPECT_EQ(cutDatabaseLines(exact, length, &list), 0);
        EXPECT_EQ(cutDefinitionTexts(exact, length, &list), 0);
        EXPECT_EQ(list, nullptr);
        char(*sources)[dictSlotSize] = nullptr;
        EXPECT_EQ(cutDefinitionTexts(exact, length, &list, &sources), 0);
        EXPECT_EQ(sources, nullptr);
        leadingNumber(exact, length);
        countField(exact, length);
        dropFirstLine(exact, length, 0);
        delete[] exact;
    }
}

TEST_F(Hostile, CountsAreParsedWithoutOverflow)
{
    struct CountCase {
        const char* text;
        long long field;
        int clamped;
    };
    const CountCase cases[] = {
        {"152 12 matches", 12, 12},
        {"152 0", 0, 0},
        {"152 -7", -7, 0},
        {"152 +3", 3, 3},
        {"152 x", 0, 0},
        {"152 ", 0, 0},
        {"152  12", 0, 0},
        {"152 2147483647", 2147483647LL, 4096},
        {"152 2147483648", 2147483648LL, 4096},
        {"152 99999999999999999999999999999999", 1LL << 62, 4096},
        {"152 -99999999999999999999999999999999", -(1LL << 62), 0},
        {"152 7\r\n8", 7, 7},
        {"152 \r\n8", 0, 0},
    };
    for (const CountCase& c : cases) {
        SCOPED_TRACE(c.text);
        long long field = countField(c.text, strlen(c.text));
        EXPECT_EQ(field, c.field);
        EXPECT_EQ(clampCount(field, 4096), c.clamped);
    }
    EXPECT_EQ(leadingNumber(" \t\r\n220 x", 9), 220);
    EXPECT_EQ(leadingNumber("-", 1), 0);
    EXPECT_TRUE(beginsWithStatus("220 ", 4, 220));
    EXPECT_FALSE(beginsWithStatus("220", 3, 220));
    EXPECT_FALSE(beginsWithStatus("2200 x", 6, 220));
}

// A large reply is read into room taken once: growing it by doubling copied it again and again into
// fresh memory, and an exactly 2^n-byte reply took twice its size, so that the time per megabyte
// grew with the size. Past the first few hundred kilobytes it is never moved again, the text stays
// exact up to the cap, and the next large reply is read into the same room, not fresh memory.
TEST_F(Hostile, LargeReplyIsNeverMovedAgainAndItsRoomServesTheNext)
{
    const size_t pieceSize = 64 * 1024;
    dictLimits.replyCapBytes = 8 * 1024 * 1024;
    std::string piece(pieceSize, 'a');
    const char* rooms[2] = {nullptr, nullptr};
    for (const char*& room : rooms) {
        ReplyText reply = {};
        int moves = 0;
        while (!reply.full) {
            piece[0] = (char)('a' + reply.length / pieceSize % 26);
            const char* before = reply.data;
            appendReplyText(&reply, piece.data(), piece.size());
            if (room != nullptr && reply.data != before)
                moves++;
            if (room == nullptr && reply.length > pieceSize * 8)
                room = reply.data;
        }
        EXPECT_EQ(0, moves);
        EXPECT_EQ(dictLimits.replyCapBytes, reply.length);
        EXPECT_GT(reply.capacity, dictLimits.replyCapBytes);
        EXPECT_EQ('\0', reply.data[reply.length]);
        for (size_t at = 0; at < reply.length; at += pieceSize)
            ASSERT_EQ((char)('a' + at / pieceSize % 26), reply.data[at]) << "at " << at;
        releaseReply(&reply);
    }
    EXPECT_EQ(rooms[0], rooms[1]);
}

// A cancelled look-up may still be reading a large reply while the next one reads another: the room
// kept between them goes to one of them only.
TEST_F(Hostile, KeptReplyRoomGoesToOneLookUpAtATime)
{
    dictLimits.replyCapBytes = 2 * 1024 * 1024;
    auto readLargeReplies = [](char mark, int* wrong) {
        std::string piece(64 * 1024, mark);
        for (int round = 0; round < 300; round++) {
            ReplyText reply = {};
            while (reply.length < 1024 * 1024)
                appendReplyText(&reply, piece.data(), piece.size());
            for (size_t at = 0; at < reply.length; at += 4096)
                if (reply.data[at] != mark) {
                    (*wrong)++;
                    break;
                }
            releaseReply(&reply);
        }
    };
    int wrong[2] = {0, 0};
    std::thread other(readLargeReplies, 'x', &wrong[0]);
    readLargeReplies('y', &wrong[1]);
    other.join();
    releaseSpareReplyRoom();
    EXPECT_EQ(0, wrong[0] + wrong[1]);
}

}  // namespace
