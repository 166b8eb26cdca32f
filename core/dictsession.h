// DictSession: the one record of the current DICT connection and of the last look-up's results.
#pragma once
#include <stddef.h>
#include "core/aheadlinks.h"
#include "core/netio.h"
#include "core/netio_wait.h"

// Room for a word as the program passes it on: 255 bytes of UTF-8 and the terminator.
const int dictWordSize = 256;
// Slots for a database name or a database line: 69 characters and the terminator.
const int dictSlotSize = 70;
// The server index of definitions that came from the offline dictionaries on this computer.
const int offlineServerIndex = -2;
// When the offline dictionaries answer (the setting "offline").
const int offlineNever = 0;
const int offlineWhenNoServer = 1;
const int offlineFirst = 2;
// How an offline attempt ended: definitions found; the user ended the look-up (or it was cancelled);
// the user asked for the servers; nothing found and nothing asked.
const int offlineFound = 1;
const int offlineEnded = 0;
const int offlineTryServers = 2;
const int offlineNothing = 3;
// The DICT port; every server of the list listens on it.
const unsigned short dictPort = 2628;
// The most bytes one receive of a greeting asks for.
const int dictPieceSize = 2048;
// The most bytes one receive of a reply asks for: a giant definition arrives in few receives
// (under Wine every receive is a round trip to its server process; 2 KiB pieces made 40 MB
// take 14 s to read).
const int dictReplyPieceSize = 64 * 1024;
// The database list request, the same on every connection.
const char dictDatabaseRequest[] = "show databases\r\n";
// The most words the "Did you mean?" dialog offers.
const int maxSuggestions = 20;
// Results of the exchanges; callers count only dictSuccess as success.
const int dictSendFailed = 0;
const int dictSuccess = 1;
const int dictRefused = 15;

// How readReply ended.
enum ReplyOutcome { replyComplete, replyRefused, replyEnded };

// A reply as received: data holds length bytes and a terminating zero (data is null while
// nothing has been appended). It never holds a zero byte of its own. full is set once the
// reply has reached the cap (or memory ran out): nothing more is appended then.
struct ReplyText {
    char* data;
    size_t length;
    size_t capacity;
    bool full;
};
void releaseReply(ReplyText* reply);
// Gives back the room a large reply left for the next one (up to the reply cap): a resident program
// must not hold it between look-ups.
void releaseSpareReplyRoom();
// Appends a received piece up to its first zero byte and no further than the reply cap.
void appendReplyText(ReplyText* reply, const char* piece, size_t pieceLength);

// Limits that keep a slow, silent or hostile server from freezing the tray or eating memory.
// Process-wide so that tests can shorten them; the program never changes them.
struct DictLimits {
    int connectTimeoutMs;  // a connect that has not completed by then counts as failed
    int receiveTimeoutMs;  // a receive that waits longer counts as failed
    int replyTimeoutMs;    // a whole reply (or greeting) taking longer ends as "ended"
    size_t replyCapBytes;  // a reply that reaches this size ends as "ended"
    int maxListEntries;    // the most matches, databases or definitions one reply may give
    int aheadIdleLimitMs;  // a connection opened ahead and older than this is replaced before use
    int attemptTimeoutMs;  // the whole attempt on one server, every step of it, ends by then
};
extern DictLimits dictLimits;
extern const DictLimits dictDefaultLimits;

ReplyDeadline deadlineIn(int milliseconds);
// Receives as netReceive does, waiting at most one receive time-out and never past deadline.
int receiveBefore(NetSocket s, char* buffer, int capacity, ReplyDeadline deadline);
// The whole milliseconds left until deadline; 0 once it has passed.
int millisecondsUntil(ReplyDeadline deadline);
// Receives a server's greeting line on s into greeting (capacity bytes with the terminator),
// reading on until its line end, a zero byte, a full buffer, the end of the connection or the
// deadline; returns its length. What came after the line end in the same piece goes to carried
// (room for dictPieceSize bytes) and its length to carriedLength.
size_t receiveGreeting(NetSocket s, char* greeting, size_t capacity, ReplyDeadline deadline, char* carried,
                       int* carriedLength);
// Whether a greeting text is the 220 greeting.
bool isGreeting(const char* greeting, size_t length);

struct DictSession {
    NetSocket socket;
    char** matchDatabases;
    int matchCount;
    int definitionCount;
    char** definitions;
    // The dictionary each definition came from, as its header line names it; null when unknown.
    char (*definitionSources)[dictSlotSize];
    // Every database's definitions at once, in the server's order, without asking which (the
    // setting "onepage"); set by the look-up.
    bool allDatabases;
    int currentDefinition;
    int databaseCount;
    char** databaseLines;
    // Whether socket still needs closing: a closed handle must never be closed twice, since
    // the number may meanwhile belong to another socket.
    bool socketOpen;
    // Bytes that came on socket after the greeting's line (a server that answers a request
    // sent ahead of its greeting may send both in one piece): the front of the next reply.
    int carriedLength;
    char carried[dictPieceSize];
    // The connections of the look-up under way, when lookUpWord opened them ahead.
    AheadConnections ahead;
    // What the last successful look-up shows: the word as the user gave it, the word whose
    // definitions were fetched (the same, or what was looked up in its place), the server entry
    // they came from and the database they came from.
    char askedWord[dictWordSize];
    char shownWord[dictWordSize];
    int shownServerIndex;
    char shownDatabase[dictSlotSize];
    // The description of shownDatabase from the server's database list, taken before the list goes
    // with the definitions' connection; empty when the look-up kept none (the viewer names the
    // database then).
    char shownDescription[dictSlotSize];
    // What findMatches tries when the word as written matches nothing: its base forms, and then
    // the server's near spellings. Off unless the look-up switches them on from the settings.
    bool tryBaseForms;
    bool trySuggestions;
    // The word whose matches findMatches listed: the word as given, or the base form that matched.
    char matchedWord[dictWordSize];
    // The near spellings findMatches found when nothing matched (only with trySuggestions).
    int suggestionCount;
    char suggestions[maxSuggestions][dictWordSize];

    int getDefinitionCount();
    int getMatchCount();
    char* getDefinition(int index);
    char* getMatchDatabase(int index);

    // The address the look-up's first connection to wonHost went to (wonHost empty: none yet);
    // the look-up's other connections to that host go there too.
    char wonHost[aheadHostSize];
    NetAddress wonAddress;

    // Resolves the host into addresses (room for netMaxAddresses), in the system's order;
    // how many, 0 when the name does not resolve.
    int resolveHost(const char* host, NetAddress* addresses);
    // The addresses to connect to for host: the one the look-up connected to before when it
    // was this host, else those resolveHost gives.
    int addressesFor(const char* host, NetAddress* addresses);
    // Records the address the look-up reached host at (a host too long to record is resolved anew).
    void rememberWinner(const char* host, const NetAddress& address);
    // Opens a connection to host:2628 into socket, trying the host's addresses as AddressRace
    // does, and checks the 220 greeting; 1 when both succeed. Shows "Couldn't resolve %s" when
    // the name does not resolve; a cancelled look-up connects nothing and shows nothing.
    int connectToServer(const char* host);
    // Receives on socket until "250 " (complete) or one of the markers (refused) turns up,
    // closing the socket then, or until the server ends the connection, a receive fails or
    // times out, or the reply reaches the cap (ended, socket left as it is).
    // reply starts empty; the caller releases it.
    ReplyOutcome readReply(const char* const* refusalMarkers, int markerCount, ReplyText* reply);
    // The same, leaving socket open: further requests may follow on it.
    ReplyOutcome receiveReply(const char* const* refusalMarkers, int markerCount, ReplyText* reply);
    // Sends count MATCH requests (strategies[i] for words[i]) in one write on socket; 1 when out.
    int sendMatchRequests(const char* const* strategies, const char* const* words, int count);
    // Reads the replies to count MATCH requests sent together on socket into replies[0, count), in
    // order; with restOfLine the rest of the line of an earlier reply comes first. Returns how many
    // came whole: fewer when the server ended the connection, went silent or sent too much.
    int readMatchReplies(int count, bool restOfLine, ReplyText* replies);
    // After the exact match found nothing on socket: the first of the word's base forms that
    // matches there, its database names in names and the form in matchedWord; 0 when none does.
    // socketInStep tells whether the connection is still fit for further requests afterwards.
    int matchBaseForm(const char* word, bool restOfLine, char*** names, bool* socketInStep);
    // After the word and its base forms found nothing on socket: the server's near spellings of
    // word (strategy lev, or its default one where it does not know lev) into suggestions.
    void findSuggestions(const char* word, bool restOfLine);
    // Takes the lists a database list reply (status 110) or a definitions reply (status 150, unless
    // refused) holds in place of those before, and releases the reply; keepDefinitions returns
    // dictSuccess when it held any.
    void keepDatabaseList(ReplyText* reply);
    int keepDefinitions(ReplyText* reply, bool refused);
    // Closes socket when it is still open; harmless to call again.
    void closeSocket();
    // Before a new connection: the previous one is closed, and no database list belongs to the new one
    // until one is read on it.
    void forgetConnection();
    // Receives up to capacity bytes on socket as receiveBefore does, the carried bytes first.
    int receivePiece(char* buffer, int capacity, ReplyDeadline deadline);

    // Opens the three connections of a look-up of word on host at once, without waiting for
    // one before the next, and sends the match request and the database list request as soon
    // as their connections stand (before the greetings). Then judges the first connection's
    // greeting and makes it socket: returns what connectToServer would. The other two wait in
    // ahead for findMatches and retrieveDefinitions. Shows "Couldn't resolve %s" as
    // connectToServer does.
    int connectAhead(const char* host, const char* word);
    // Closes every connection opened ahead and not taken yet.
    void closeAhead();
    // Whether connections were opened ahead to host.
    bool aheadTo(const char* host) const;
    // Makes request the one for that connection opened ahead; it goes out once the connection stands.
    void standAheadRequest(LookUpLink which, const char* request, int length);
    // Completes the connects of the ahead connections that have completed by timeoutMs (0: those
    // done already) and sends the requests that stand for them.
    void serviceAhead(int timeoutMs);
    // Makes the ahead connection `which` socket, as connectToServer would a new one, with request
    // sent on it; falls back to a new connection when it did not connect, when the server turned
    // it away (a greeting other than 220, or its end), when, idle, the server has ended it, when
    // it is older than dictLimits.aheadIdleLimitMs, or when the request cannot be sent on it.
    // 1 when the request is out; the link's `taken` tells whether it went on the ahead connection.
    int takeAhead(LookUpLink which, const char* host, const char* request, int length);

    // The MATCH exchange on the open socket, then "show databases" on a new connection (or on
    // those connectAhead opened to host, where the requests went out early).
    int findMatches(const char* word, const char* host);
    // "define" on a new connection to host (or on the one connectAhead opened to it; when that one
    // gives no reply at all, the request goes once more on a new connection).
    int retrieveDefinitions(const char* database, const char* word, const char* host);
    // One whole look-up of word, starting at the configured server entry; 1 when the
    // definitions are in the session.
    int lookUpWord(const char* word);
    // The same, starting at the given server entry (a word followed in the viewer is looked up
    // where the definitions it stands in came from).
    int lookUpWordFrom(const char* word, int serverIndex);
    // lookUpWordFrom's attempts, server after server.
    int lookUpOnServers(const char* word, int serverIndex);

    // Whether the offline dictionaries answered because no server did (the program says so once).
    bool offlineFallback;
    // Set while a failed name resolution is to be passed over quietly (the offline dictionaries answer).
    bool quietUnresolved;
    // The look-up's matches (with base forms and, when none, near spellings) from the offline
    // dictionaries, and their database list; dictSuccess when something matched.
    int findOfflineMatches(const char* word);
    // The definitions of word in the offline database.
    int retrieveOfflineDefinitions(const char* database, const char* word);
    // Looks current up offline as an attempt on a server would: "Did you mean?", the choice, the
    // definitions; with askNext the not-found question names "offline". A suggestion picked replaces
    // current; asked is the word as the user gave it. One of the outcomes below.
    int lookUpOffline(const char* asked, char* current, bool askNext);

    // Whether the look-up takes the first match without asking: hideDbDialog as it stood when the look-up
    // began, copied by its starter (choiceCopied set) or else by lookUpWordFrom.
    bool skipChoice;
    bool choiceCopied;
    // The database a kept word came from: when it is among the matches the look-up takes it without
    // asking (empty: none).
    char keptDatabase[dictSlotSize];

    // Releases the lists (the program never needs to; tests and leak checks do).
    void releaseLists();

    // The look-up's cancel signal, made by its owner before the look-up starts (null: the look-up
    // cannot be cancelled but from its own thread, as the tests do).
    NetSignal* cancelSignal;
    // How the look-up's waits stand while it runs.
    LookUpWaits waits;
    // Ends the look-up from any thread: its waits end at once and it asks and shows nothing more.
    void cancel();
    // Closes every connection and releases the lists and the signal.
    void release();
};

// Text conventions for cutting replies. All work on offsets into a text of the given length
// and never read past it.

// The leading number: white space skipped, an optional sign, then decimal digits; 0 when
// there are none. Clamped to +-2^62 instead of overflowing.
long long leadingNumber(const char* text, size_t length);
// Whether the text is at least 4 characters long and its leading number is status.
bool beginsWithStatus(const char* text, size_t length, int status);
// The count field of a status line: the leading number of the characters from the fifth
// one up to the next blank or line end.
long long countField(const char* text, size_t length);
// A count field made safe to use: negative gives 0, more than limit gives limit.
int clampCount(long long count, int limit);
// The offset just past the first CR LF at or after start, or length when there is none.
size_t dropFirstLine(const char* text, size_t length, size_t start);
// The offset of the first occurrence of needle in text[from, to), or to when there is none.
size_t findText(const char* text, size_t from, size_t to, const char* needle, size_t needleLength);

// Appends a received piece like appendReplyText and searches the new bytes, with the three before them, for
// "250 " and then for the markers. Returns replyComplete, replyRefused, or replyEnded when neither turned up.
ReplyOutcome appendReplyPiece(ReplyText* reply, const char* piece, size_t pieceLength,
                              const char* const* refusalMarkers, int markerCount);

// Cutting replies into lists. Each returns the number of entries filled (never more than
// the count the status line gives, nor than dictLimits.maxListEntries) and hands back a new
// array with room for one more entry, or null when none was filled; release it with
// releaseTextList.
// A match reply (status 152): the database name of each match line, cut to 69 characters.
int cutMatchNames(const char* text, size_t length, char*** names);
// A database reply (status 110): each line without its CR LF, cut to 69 characters.
int cutDatabaseLines(const char* text, size_t length, char*** lines);
// A definitions reply (status 150): each body without its header, last CR LF or terminator. With
// sources, also the dictionary each came from as its header names it (its description, else its
// database name, cut to 69 characters) in a new array (delete[]) of as many slots, null when none.
int cutDefinitionTexts(const char* text, size_t length, char*** texts,
                       char (**sources)[dictSlotSize] = nullptr);
void releaseTextList(char** list, int count);

// Cuts match replies that follow one another on a connection (requests sent together are answered
// in order) at their ends, looking at each byte once however the text arrives. A reply ends with
// its status line, unless that is 152: then with the line after its text's terminator line.
enum MatchCutStage { cutRestOfLine, cutStatusLine, cutMatchLines, cutFinalLine };
struct MatchReplyCutter {
    MatchCutStage stage;
    size_t replyStart;  // where the reply being cut begins
    size_t lineStart;   // where the line being looked at begins
    size_t scanned;     // everything before this has been looked at
};
// A cutter for replies from offset 0; with restOfLine the text first finishes a line whose
// beginning was read before (a reply judged by a marker before its line end came).
MatchReplyCutter startMatchCutter(bool restOfLine);
// Looks at text[scanned, length): the offset just past the next whole reply, with its beginning in
// replyStart (the cutter then stands at the reply after it), or 0 when the text ends first.
size_t nextMatchReplyEnd(const char* text, size_t length, MatchReplyCutter* cutter, size_t* replyStart);

// The distinct words of a match reply (status 152), in its order: the quoted text after each
// line's database name (the rest of the line when it is not quoted), cut to dictWordSize - 1
// bytes without splitting a character. Words equal but for the case of ASCII letters count once;
// empty ones not at all. Fills at most capacity slots (and no more than the status line
// announces) and returns how many.
int cutSuggestedWords(const char* text, size_t length, char (*words)[dictWordSize], int capacity);
