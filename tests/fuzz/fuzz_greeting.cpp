// Fuzz target: connectToServer reading the server's greeting, delivered in pieces whose sizes
// the first bytes of the input choose. The greeting is read until its line end, a zero byte,
// 2048 characters, or the server falling silent; it is accepted when it begins with status 220.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/dictsession.h"
#include "tests/fuzz/fuzzsupport.h"

static const size_t greetingRoom = dictPieceSize;
static const int greetingStatus = 220;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<size_t> sizes = takePieceSizes(&data, &size);
    std::string greeting((const char*)data, size);
    FuzzConnection server = {};
    server.connects = true;
    server.greeting = greeting;
    server.pieceSizes = sizes;
    fuzzScriptConnections({server});
    dictLimits = dictDefaultLimits;
    dictSession.databaseCount = 3;
    int result = dictSession.connectToServer("fuzz.test");

    // The reading as described above, receive by receive.
    std::string text;
    size_t at = 0, piece = 0, pieceEnd = 0;
    while (text.size() < greetingRoom && at < greeting.size()) {
        if (pieceEnd <= at)
            pieceEnd = at + pieceLength(sizes, piece, at, greeting.size());
        size_t count = std::min(greetingRoom - text.size(), pieceEnd - at);
        std::string got = greeting.substr(at, count);
        at += count;
        if (at == pieceEnd)
            piece++;
        size_t zero = got.find('\0');
        text += got.substr(0, zero);
        if (zero != std::string::npos || got.find('\n') != std::string::npos)
            break;
    }
    bool accepted = text.size() >= 4 && referenceLeadingNumber(text) == greetingStatus;
    FUZZ_CHECK(result == (accepted ? 1 : 0));
    FUZZ_CHECK(fuzzConnection(0).greetingTaken == at);
    // A connected socket stays open whatever the greeting; no database list belongs to it.
    FUZZ_CHECK(dictSession.socketOpen && !fuzzConnection(0).closed);
    FUZZ_CHECK(dictSession.databaseCount == 0 && dictSession.databaseLines == nullptr);
    dictSession.closeSocket();
    return 0;
}
