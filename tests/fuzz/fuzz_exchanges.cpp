// Fuzz target: a look-up's three exchanges (findMatches with its database list, then
// retrieveDefinitions) against scripted connections, one connection after the other and with
// the three opened ahead at once (connectAhead), which must read the same. The input holds the match reply,
// the database reply and the definitions reply, separated by the byte 0x1E, delivered in pieces whose sizes
// its first bytes choose; the session must end up exactly as the literal reading of those pieces says, both
// for those pieces and for each reply in one piece.
#include <stddef.h>
#include <stdint.h>
#include <algorithm>
#include <string.h>
#include <string>
#include <vector>

#include "core/dictsession.h"
#include "core/lookuptext.h"
#include "tests/fuzz/fuzzsupport.h"

static const char* const matchMarkers[] = {"551 ", "552 ", "501 "};
static const char* const defineMarkers[] = {"550 ", "552 ", "501 "};
static const int markerCount = 3;
static const size_t replyCaps[] = {64u * 1024 * 1024, 16, 300, 4096};
static const int listLimits[] = {4096, 1, 3, 12};
static const char separator = '\x1e';
static const char word[] = "glimmerwort";
static const char host[] = "fuzz.test";
// Greetings: accepted, refused, too short, and none at all (the receive times out).
static const char* const greetings[] = {"220 fuzz.test dictd <auth.mime> <1.2@fuzz.test>\r\n",
                                        "530 access denied\r\n", "220", ""};
static const int acceptedGreeting = 0;

struct Options {
    bool ahead;
    bool firstMatchChosen;
    int greeting;
    bool databaseConnects;
    bool definitionHostResolves;
    bool definitionConnects;
};

// What the database list reading gathers: a head of nine characters asked for piece by
// piece, then receives of up to 2048 bytes until the text holds the terminator line.
static std::string readDatabaseLiterally(const std::string& reply, const std::vector<size_t>& sizes,
                                         size_t* taken)
{
    const size_t headLength = 9;
    std::string text;
    size_t piece = 0, at = 0, pieceEnd = 0, received = 0;
    bool full = false;
    // One receive of at most capacity bytes, appended as the client appends it.
    auto receive = [&](size_t capacity) {
        if (at >= reply.size())
            return (size_t)0;
        if (pieceEnd <= at)
            pieceEnd = at + pieceLength(sizes, piece, at, reply.size());
        size_t count = std::min(capacity, pieceEnd - at);
        std::string got = reply.substr(at, count);
        at += count;
        if (at == pieceEnd)
            piece++;
        if (!full) {
            got = got.substr(0, got.find('\0'));
            text += got.substr(0, dictLimits.replyCapBytes - text.size());
            full = text.size() >= dictLimits.replyCapBytes;
        }
        return count;
    };
    while (received < headLength) {
        size_t got = receive(headLength - received);
        if (got == 0)
            break;
        received += got;
    }
    if (received == headLength && text.size() >= 4 && referenceLeadingNumber(text) == 110) {
        // Each search covers the text from four characters before what it has not seen yet.
        size_t searched = 0;
        while (text.find("\r\n.\r\n", searched >= 4 ? searched - 4 : 0) == std::string::npos && !full) {
            searched = text.size();
            if (receive(dictPieceSize) == 0)
                break;
        }
    }
    *taken = at;
    return text;
}

static FuzzConnection connection(bool connects, const char* greeting, const std::string& reply,
                                 const std::vector<size_t>& sizes)
{
    FuzzConnection c = {};
    c.connects = connects;
    c.greeting = greeting;
    c.reply = reply;
    c.pieceSizes = sizes;
    return c;
}

// Lists of an earlier look-up, which a failed exchange must leave in place.
static char** earlierList(const char* text)
{
    char** list = new char*[2]();
    list[0] = new char[dictSlotSize]();
    strncpy(list[0], text, dictSlotSize - 1);
    return list;
}

// The description the choice dialog shows for a match, read plainly: the text between the
// quotes after the first blank of the first database line holding the name, else the name.
static std::string plainDescription(int matchIndex)
{
    std::string name = dictSession.matchDatabases[matchIndex];
    std::string description = name;
    for (int i = 0; i < dictSession.databaseCount && !name.empty(); i++) {
        std::string line = dictSession.databaseLines[i];
        if (line.find(name) == std::string::npos)
            continue;
        size_t blank = line.find(' ');
        if (blank != std::string::npos && line.size() - blank - 1 > 2)
            description = line.substr(blank + 2, line.size() - blank - 3);
        break;
    }
    return description.substr(0, dictSlotSize - 1);
}

// The database choice list the dialog builds from the session: items in match order, each
// match's description unless an earlier item already begins with it.
static void checkDatabaseChoices()
{
    std::vector<DatabaseChoice> choices((size_t)dictSession.matchCount + 1);
    int count = buildDatabaseChoices(dictSession, choices.data(), dictSession.matchCount);
    FUZZ_CHECK(count >= 1 && count <= dictSession.matchCount);
    FUZZ_CHECK(choices[0].matchIndex == 0);
    for (int i = 0; i < count; i++) {
        const DatabaseChoice& choice = choices[(size_t)i];
        FUZZ_CHECK(memchr(choice.description, '\0', sizeof choice.description) != nullptr);
        FUZZ_CHECK(choice.matchIndex >= 0 && choice.matchIndex < dictSession.matchCount);
        FUZZ_CHECK(i == 0 || choice.matchIndex > choices[(size_t)i - 1].matchIndex);
        FUZZ_CHECK(plainDescription(choice.matchIndex) == choice.description);
    }
}

// A request parameter as the server must read it: a name with blanks or quotes goes in double
// quotes, with a backslash before each quote or backslash inside.
static std::string parameter(const std::string& text)
{
    if (!text.empty() && text.find_first_of(" \t\"'\\") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

static void runLookUp(const Options& options, const std::vector<size_t>& sizes, const std::string replies[3])
{
    const char* greeting = greetings[options.greeting];
    fuzzScriptConnections({connection(true, greeting, replies[0], sizes),
                           connection(options.databaseConnects, greeting, replies[1], sizes),
                           connection(options.definitionConnects, greeting, replies[2], sizes)});
    char** earlierMatches = earlierList("earlier");
    char** earlierDefinitions = earlierList("earlier definition");
    dictSession.matchDatabases = earlierMatches;
    dictSession.matchCount = 1;
    dictSession.definitions = earlierDefinitions;
    dictSession.definitionCount = 1;

    int connected = 0;
    if (options.ahead) {
        dictSession.ahead.firstMatchChosen = options.firstMatchChosen;
        connected = dictSession.connectAhead(host, word);
        // All three at once, whatever comes of them.
        FUZZ_CHECK(fuzzConnectionsOpened() == 3);
    } else {
        connected = dictSession.connectToServer(host);
    }
    FUZZ_CHECK(connected == (options.greeting == acceptedGreeting ? 1 : 0));
    int matchResult = dictSession.findMatches(word, host);
    FUZZ_CHECK(fuzzConnection(0).sent == std::string("MATCH * exact ") + word + "\r\n");

    bool refused = false;
    size_t taken = 0;
    LiteralReply matchReply =
        readReplyLiterally(replies[0], sizes, matchMarkers, markerCount, dictLimits.replyCapBytes);
    FUZZ_CHECK(fuzzConnection(0).replyTaken == matchReply.bytesTaken);
    refused = matchReply.refused;
    const std::string& matchText = matchReply.text;
    std::vector<std::string> names;
    if (!refused)
        names = referenceSlotLines(matchText, 152, true, dictLimits.maxListEntries);
    if (names.empty()) {
        FUZZ_CHECK(matchResult == dictRefused);
        FUZZ_CHECK(dictSession.matchDatabases == earlierMatches && dictSession.matchCount == 1);
        FUZZ_CHECK(fuzzConnectionsOpened() == (options.ahead ? 3u : 1u));
        // Nothing but the match request went out: no definitions were asked for.
        FUZZ_CHECK(fuzzConnection(2).sent.empty());
    } else {
        checkSlotList(dictSession.matchDatabases, dictSession.matchCount, names);
        // Ahead, a database connection that did not connect is tried once more, a new one.
        FUZZ_CHECK(fuzzConnectionsOpened() == (options.ahead ? (options.databaseConnects ? 3u : 4u) : 2u));
        if (!options.databaseConnects) {
            FUZZ_CHECK(matchResult == dictSendFailed);
            FUZZ_CHECK(dictSession.databaseCount == 0 && dictSession.databaseLines == nullptr);
        } else {
            FUZZ_CHECK(matchResult == dictSuccess);
            FUZZ_CHECK(fuzzConnection(1).sent == "show databases\r\n");
            FUZZ_CHECK(fuzzConnection(1).closed);
            std::vector<std::string> lines = referenceSlotLines(
                readDatabaseLiterally(replies[1], sizes, &taken), 110, false, dictLimits.maxListEntries);
            FUZZ_CHECK(fuzzConnection(1).replyTaken == taken);
            checkDatabaseChoices();
            checkSlotList(dictSession.databaseLines, dictSession.databaseCount, lines);
        }
    }

    if (matchResult == dictSuccess) {
        const char* definitionHost = options.definitionHostResolves ? host : fuzzUnresolvableHost;
        std::string database = dictSession.getMatchDatabase(0);
        int definitionResult = dictSession.retrieveDefinitions(database.c_str(), word, definitionHost);
        FUZZ_CHECK(fuzzMessageCount() == (options.definitionHostResolves ? 0 : 1));
        std::vector<std::string> bodies;
        // A name with a line break in it would smuggle a command of its own: no request goes out.
        bool sendable = database.find_first_of("\r\n") == std::string::npos;
        if (options.definitionHostResolves && options.definitionConnects && !sendable) {
            FUZZ_CHECK(fuzzConnection(2).sent.empty());
            FUZZ_CHECK(definitionResult == dictSendFailed);
        } else if (options.definitionHostResolves && options.definitionConnects) {
            FUZZ_CHECK(fuzzConnection(2).sent == "define " + parameter(database) + " " + word + "\r\n");
            LiteralReply reply =
                readReplyLiterally(replies[2], sizes, defineMarkers, markerCount, dictLimits.replyCapBytes);
            FUZZ_CHECK(fuzzConnection(2).replyTaken == reply.bytesTaken);
            refused = reply.refused;
            const std::string& text = reply.text;
            if (!refused)
                bodies = referenceDefinitions(text, dictLimits.maxListEntries);
            if (fuzzConnectionsOpened() > 3) {
                // Nothing came on the connection opened ahead, so the request went once more on a
                // new connection, which this script does not serve.
                FUZZ_CHECK(options.ahead && text.empty() && !refused);
                FUZZ_CHECK(definitionResult == dictSendFailed);
                bodies.clear();
            } else {
                FUZZ_CHECK(definitionResult == (bodies.empty() ? dictRefused : dictSuccess));
            }
        } else {
            FUZZ_CHECK(definitionResult == dictSendFailed);
        }
        if (bodies.empty())
            FUZZ_CHECK(dictSession.definitions == earlierDefinitions && dictSession.definitionCount == 1);
        else
            checkTextList(dictSession.definitions, dictSession.definitionCount, bodies);
    }
    dictSession.closeSocket();
    dictSession.closeAhead();
    for (size_t i = 0; i < fuzzConnectionsOpened() && i < 3; i++)
        FUZZ_CHECK(!fuzzConnection(i).connects || fuzzConnection(i).closed);
    dictSession.releaseLists();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    uint8_t bits = data[0];
    data++;
    size--;
    Options options;
    options.greeting = bits & 3;
    options.databaseConnects = (bits & 4) == 0;
    options.definitionHostResolves = (bits & 8) == 0;
    options.definitionConnects = (bits & 16) == 0;
    dictLimits = dictDefaultLimits;
    dictLimits.replyCapBytes = replyCaps[(bits >> 5) & 3];
    dictLimits.maxListEntries = listLimits[(bits >> 7) + ((bits >> 5) & 1) * 2];
    std::vector<size_t> sizes = takePieceSizes(&data, &size);

    std::string replies[3];
    std::string rest((const char*)data, size);
    for (int i = 0; i < 3; i++) {
        size_t end = i < 2 ? rest.find(separator) : std::string::npos;
        replies[i] = rest.substr(0, end);
        rest = end == std::string::npos ? std::string() : rest.substr(end + 1);
    }
    options.ahead = false;
    options.firstMatchChosen = false;
    runLookUp(options, sizes, replies);
    runLookUp(options, {(size_t)dictPieceSize}, replies);
    // Ahead, the match request goes out before the greeting has come, so a greeting without
    // its line end would run into the reply; and a connection ahead that is turned away is
    // replaced by a new one: only the accepted greeting compares.
    if (options.greeting == acceptedGreeting) {
        options.ahead = true;
        options.firstMatchChosen = sizes.size() % 2 == 1;
        runLookUp(options, sizes, replies);
        runLookUp(options, {(size_t)dictPieceSize}, replies);
    }
    return 0;
}
