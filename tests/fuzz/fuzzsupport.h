// Shared parts of the fuzz targets: scripted connections behind the socket seam, piece sizes
// taken from the input, reference cutting and checks on the lists the client builds.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <string>
#include <vector>

// The look-up record the targets drive.
struct DictSession;
extern DictSession dictSession;

// Ends the run with a message when a check fails, so that libFuzzer keeps the input.
#define FUZZ_CHECK(condition) ((condition) ? (void)0 : fuzzFailure(#condition, __FILE__, __LINE__))
[[noreturn]] void fuzzFailure(const char* what, const char* file, int line);

// One connection of the scripted server. Receives hand out the greeting pieces; the reply
// pieces only once the client has sent something (a real server waits for the request), and
// a receive with nothing to hand out counts as the time-out. A receive never crosses a
// piece boundary and never returns more than asked: the rest of a piece waits for the next.
struct FuzzConnection {
    bool connects;
    std::string greeting;
    std::string reply;
    std::vector<size_t> pieceSizes;  // greeting and reply are each cut into pieces of these sizes
    // What the client did with it.
    std::string sent;
    bool opened;
    bool closed;
    size_t greetingTaken;   // bytes of the greeting handed out
    size_t replyTaken;      // bytes of the reply handed out
    size_t greetingPieces;  // pieces of the greeting handed out in full
    size_t replyPieces;     // pieces of the reply handed out in full
    size_t pieceEnd;        // where the piece being handed out ends
};

// Replaces the script: the i-th socket the client opens gets connections[i]; sockets beyond
// them fail to connect.
void fuzzScriptConnections(const std::vector<FuzzConnection>& connections);
FuzzConnection& fuzzConnection(size_t index);
size_t fuzzConnectionsOpened();
// Every host resolves to 127.0.0.1, except this one, which does not resolve.
extern const char fuzzUnresolvableHost[];
// How many times showMessage was called since the script was set.
int fuzzMessageCount();

// The piece-size header at the front of an input: one byte n, then n % 8 + 1 size bytes; a
// size byte b stands for b bytes, 0 for a full 2048-byte receive. Takes the header off data.
std::vector<size_t> takePieceSizes(const uint8_t** data, size_t* size);
// The length of the piece that starts at offset of a text of the given length, when pieces
// take the sizes in turn; index is the piece's number.
size_t pieceLength(const std::vector<size_t>& sizes, size_t index, size_t offset, size_t length);

// What readReply must gather from a reply cut into pieces of the given sizes (each piece one
// receive): every piece up to its first zero byte, no further than the cap, until the piece
// after which the whole text holds "250 " (complete) or a marker (refused) for the first time.
struct LiteralReply {
    std::string text;
    bool complete;
    bool refused;
    size_t piecesTaken;
    size_t bytesTaken;
};
LiteralReply readReplyLiterally(const std::string& reply, const std::vector<size_t>& sizes,
                                const char* const* markers, int markerCount, size_t cap);

// Straightforward (std::string) readings of the reply conventions, to compare against.
long long referenceLeadingNumber(const std::string& text);
long long referenceCountField(const std::string& text);
int referenceClamp(long long count, int limit);
// The entries a match (names) or database reply gives, each cut to 69 characters.
std::vector<std::string> referenceSlotLines(const std::string& text, int status, bool namesOnly, int limit);
// The bodies a definitions reply gives.
std::vector<std::string> referenceDefinitions(const std::string& text, int limit);

// Checks a list the client built against the expected entries: slots zero-filled past their
// text, terminated within 70 characters; texts with their two zero bytes.
void checkSlotList(char** list, int count, const std::vector<std::string>& expected);
void checkTextList(char** list, int count, const std::vector<std::string>& expected);
