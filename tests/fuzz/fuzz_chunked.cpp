// Fuzz target: readReply on a reply delivered in pieces whose sizes the first bytes of the
// input choose. What it gathers and how it ends must equal delivery of the same text in one
// piece, and the literal rule: stop at the first piece after which the whole text holds
// "250 " (complete) or a refusal marker (refused).
#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <string>
#include <vector>

#include "core/dictsession.h"
#include "tests/fuzz/fuzzsupport.h"

static const char* const matchMarkers[] = {"551 ", "552 ", "501 "};
static const char* const defineMarkers[] = {"550 ", "552 ", "501 "};
static const int markerCount = 3;
static const size_t replyCaps[] = {64u * 1024 * 1024, 16, 300, 4096};
static const int listLimits[] = {4096, 1, 3, 12};

static void checkReply(const ReplyText& reply, const std::string& expected)
{
    FUZZ_CHECK(reply.length == expected.size());
    if (reply.data == nullptr) {
        FUZZ_CHECK(expected.empty());
        return;
    }
    FUZZ_CHECK(memcmp(reply.data, expected.data(), expected.size()) == 0);
    FUZZ_CHECK(reply.data[reply.length] == '\0');
    FUZZ_CHECK(reply.length <= dictLimits.replyCapBytes);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    uint8_t options = data[0];
    data++;
    size--;
    const char* const* markers = (options & 1) ? defineMarkers : matchMarkers;
    dictLimits = dictDefaultLimits;
    dictLimits.replyCapBytes = replyCaps[(options >> 1) & 3];
    dictLimits.maxListEntries = listLimits[(options >> 3) & 3];
    std::vector<size_t> sizes = takePieceSizes(&data, &size);
    std::string text((const char*)data, size);

    FuzzConnection server = {};
    server.connects = true;
    server.reply = text;
    server.pieceSizes = sizes;
    fuzzScriptConnections({server});
    dictSession.socket = netOpenStream();
    dictSession.socketOpen = true;
    FUZZ_CHECK(netSend(dictSession.socket, "MATCH * exact x\r\n", 17) == 1);

    ReplyText reply = {};
    ReplyOutcome outcome = dictSession.readReply(markers, markerCount, &reply);
    LiteralReply expected = readReplyLiterally(text, sizes, markers, markerCount, dictLimits.replyCapBytes);
    FUZZ_CHECK(outcome == (expected.complete ? replyComplete : expected.refused ? replyRefused : replyEnded));
    checkReply(reply, expected.text);
    // Reading stopped at the piece that settled it, and closed the socket only then.
    FUZZ_CHECK(fuzzConnection(0).replyPieces == expected.piecesTaken);
    FUZZ_CHECK(fuzzConnection(0).replyTaken == expected.bytesTaken);
    FUZZ_CHECK(fuzzConnection(0).closed == (outcome != replyEnded));
    FUZZ_CHECK(dictSession.socketOpen == (outcome == replyEnded));

    // The same text in one piece.
    ReplyText whole = {};
    ReplyOutcome wholeOutcome =
        appendReplyPiece(&whole, expected.text.data(), expected.text.size(), markers, markerCount);
    FUZZ_CHECK(wholeOutcome == outcome);
    checkReply(whole, expected.text);

    // What the exchanges cut from it, under the chosen list limit.
    text = expected.text;
    char** list = nullptr;
    int count = cutMatchNames(reply.data, reply.length, &list);
    checkSlotList(list, count, referenceSlotLines(text, 152, true, dictLimits.maxListEntries));
    releaseTextList(list, count);
    count = cutDatabaseLines(reply.data, reply.length, &list);
    checkSlotList(list, count, referenceSlotLines(text, 110, false, dictLimits.maxListEntries));
    releaseTextList(list, count);
    count = cutDefinitionTexts(reply.data, reply.length, &list);
    checkTextList(list, count, referenceDefinitions(text, dictLimits.maxListEntries));
    releaseTextList(list, count);

    releaseReply(&reply);
    releaseReply(&whole);
    dictSession.closeSocket();
    return 0;
}
