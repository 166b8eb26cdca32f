// Answering DICT requests from the offline dictionaries with dictd's replies: MATCH, DEFINE and SHOW DB,
// asked of each database's reader.
#include "core/offlinedict.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "core/offlinereader.h"

// dictd's limits: the most matches one MATCH lists and definitions one DEFINE sends, over all databases.
static const int maxMatches = 2000;
static const int maxDefinitions = 200;

static void appendText(ReplyText* reply, const char* text) { appendReplyText(reply, text, strlen(text)); }

// Whether two texts are equal but for ASCII case (commands and strategies are case-insensitive).
static bool equalIgnoringCase(const char* a, const char* b)
{
    for (;; a++, b++) {
        char x = *a >= 'A' && *a <= 'Z' ? (char)(*a + 32) : *a;
        char y = *b >= 'A' && *b <= 'Z' ? (char)(*b + 32) : *b;
        if (x != y)
            return false;
        if (x == '\0')
            return true;
    }
}

static Strategy strategyNamed(const char* name)
{
    if (strcmp(name, ".") == 0)
        return strategyLev;
    static const char* const names[] = {"exact", "prefix", "lev"};
    for (int i = 0; i < 3; i++) {
        if (equalIgnoringCase(name, names[i]))
            return (Strategy)i;
    }
    return strategyUnknown;
}

// Appends a headword in double quotes, with quotes and backslashes escaped.
static void appendQuoted(ReplyText* reply, const char* text, size_t length)
{
    appendReplyText(reply, "\"", 1);
    size_t from = 0;
    for (size_t i = 0; i < length; i++) {
        if (text[i] == '"' || text[i] == '\\') {
            appendReplyText(reply, text + from, i - from);
            appendReplyText(reply, "\\", 1);
            from = i;
        }
    }
    appendReplyText(reply, text + from, length - from);
    appendReplyText(reply, "\"", 1);
}

// Appends a definition body as dictd sends it: up to a zero byte, each line ending in CR LF.
static void appendBody(ReplyText* reply, const char* text, size_t length)
{
    const char* zero = (const char*)memchr(text, '\0', length);
    if (zero != nullptr)
        length = (size_t)(zero - text);
    size_t at = 0;
    while (at < length) {
        const char* found = (const char*)memchr(text + at, '\n', length - at);
        size_t end = found == nullptr ? length : (size_t)(found - text);
        // dictd doubles the dot of a line that is only a dot, and leaves other lines as they are.
        if (text[at] == '.' && end == at + 1 && found != nullptr)
            appendReplyText(reply, ".", 1);
        appendReplyText(reply, text + at, end - at);
        appendReplyText(reply, "\r\n", 2);
        at = end + 1;
    }
}

static bool sameHeadword(const OfflineEntry& a, const OfflineEntry& b)
{
    return a.shownLength == b.shownLength && memcmp(a.shown, b.shown, a.shownLength) == 0;
}

// The databases a request names: all ("*" and "!"), or the one of that name; false when none has it.
static bool selectDatabases(const char* name, int* first, int* last, bool* stopAtFirst)
{
    *stopAtFirst = strcmp(name, "!") == 0;
    if (*stopAtFirst || strcmp(name, "*") == 0) {
        *first = 0;
        *last = offlineDatabaseCount;
        return true;
    }
    for (int i = 0; i < offlineDatabaseCount; i++) {
        if (strcmp(offlineDatabases[i].name, name) == 0) {
            *first = i;
            *last = i + 1;
            return true;
        }
    }
    return false;
}

static void answerMatch(const char* database, const char* strategyName, const char* word, ReplyText* reply)
{
    int first, last;
    bool stopAtFirst;
    if (!selectDatabases(database, &first, &last, &stopAtFirst)) {
        appendText(reply, "550 invalid database, use SHOW DB for list\r\n");
        return;
    }
    Strategy strategy = strategyNamed(strategyName);
    if (strategy == strategyUnknown) {
        appendText(reply, "551 invalid strategy, use SHOW STRAT for a list\r\n");
        return;
    }
    ReplyText lines = {nullptr, 0, 0, false};
    int total = 0;
    int found = 0;  // before repeats are left out, as dictd counts against its limit
    for (int d = first; d < last; d++) {
        OfflineDatabase* db = &offlineDatabases[d];
        MatchList list = {nullptr, 0, 0, false, maxMatches - found};
        db->reader->search(db, strategy, word, &list);
        found += list.count;
        // dictd leaves out a headword the same as the one just listed, but lists it again further on.
        OfflineEntry previous = {nullptr, 0, 0, 0};
        for (int i = 0; i < list.count; i++) {
            OfflineEntry entry;
            if (!db->reader->entry(db, list.lines[i], &entry))
                continue;
            if (previous.shown != nullptr && sameHeadword(entry, previous))
                continue;
            previous = entry;
            appendText(&lines, db->name);
            appendReplyText(&lines, " ", 1);
            appendQuoted(&lines, entry.shown, entry.shownLength);
            appendReplyText(&lines, "\r\n", 2);
            total++;
        }
        free(list.lines);
        if (stopAtFirst && list.count > 0)
            break;
    }
    if (total == 0) {
        appendText(reply, "552 no match\r\n");
    } else {
        char status[64];
        snprintf(status, sizeof status, "152 %d matches found\r\n", total);
        appendText(reply, status);
        if (lines.data != nullptr)
            appendReplyText(reply, lines.data, lines.length);
        appendText(reply, ".\r\n250 ok\r\n");
    }
    releaseReply(&lines);
}

static void answerDefine(const char* database, const char* word, ReplyText* reply)
{
    int first, last;
    bool stopAtFirst;
    if (!selectDatabases(database, &first, &last, &stopAtFirst)) {
        appendText(reply, "550 invalid database, use SHOW DB for list\r\n");
        return;
    }
    ReplyText bodies = {nullptr, 0, 0, false};
    int total = 0;
    int found = 0;  // before repeats are left out, as dictd counts against its limit
    // dictd sends a definition once where neighbouring lines point at the same data, in one database or
    // across two; it starts as if one at offset 0 of length 0 had been sent.
    uint64_t previousOffset = 0;
    uint64_t previousLength = 0;
    const OfflineDatabase* damaged = nullptr;
    for (int d = first; d < last && damaged == nullptr; d++) {
        OfflineDatabase* db = &offlineDatabases[d];
        MatchList list = {nullptr, 0, 0, false, maxDefinitions - found};
        db->reader->search(db, strategyExact, word, &list);
        found += list.count;
        for (int i = 0; i < list.count; i++) {
            OfflineEntry entry;
            if (!db->reader->entry(db, list.lines[i], &entry))
                continue;
            if (entry.offset == previousOffset && entry.length == previousLength)
                continue;
            previousOffset = entry.offset;
            previousLength = entry.length;
            size_t length = 0;
            char* text = db->reader->definition(db, list.lines[i], &length);
            if (text == nullptr) {
                damaged = db;
                break;
            }
            appendText(&bodies, "151 ");
            appendQuoted(&bodies, entry.shown, entry.shownLength);
            appendReplyText(&bodies, " ", 1);
            appendText(&bodies, db->name);
            appendReplyText(&bodies, " \"", 2);
            appendText(&bodies, db->description);
            appendReplyText(&bodies, "\"\r\n", 3);
            appendBody(&bodies, text, length);
            appendReplyText(&bodies, ".\r\n", 3);
            free(text);
            total++;
        }
        free(list.lines);
        if (stopAtFirst && list.count > 0)
            break;
    }
    if (damaged != nullptr) {
        // Not "no match": the index lists the word, its data cannot be read.
        char status[1024];
        snprintf(status, sizeof status,
                 "%d The dictionary file %s is damaged: a definition in it cannot be read.\r\n",
                 offlineDamagedStatus, damaged->dataPath != nullptr ? damaged->dataPath : damaged->name);
        appendText(reply, status);
    } else if (total == 0) {
        appendText(reply, "552 no match\r\n");
    } else {
        char status[64];
        snprintf(status, sizeof status, "150 %d definitions retrieved\r\n", total);
        appendText(reply, status);
        if (bodies.data != nullptr)
            appendReplyText(reply, bodies.data, bodies.length);
        appendText(reply, "250 ok\r\n");
    }
    releaseReply(&bodies);
}

static void answerShowDatabases(ReplyText* reply)
{
    if (offlineDatabaseCount == 0) {
        appendText(reply, "554 No databases present\r\n");
        return;
    }
    char status[64];
    snprintf(status, sizeof status, "110 %d databases present\r\n", offlineDatabaseCount);
    appendText(reply, status);
    for (int i = 0; i < offlineDatabaseCount; i++) {
        appendText(reply, offlineDatabases[i].name);
        appendText(reply, " \"");
        appendText(reply, offlineDatabases[i].description);
        appendText(reply, "\"\r\n");
    }
    appendText(reply, ".\r\n250 ok\r\n");
}

// ---- Requests

// The most parameters a request of ours has, and one more to tell that there were too many.
static const int maxParameters = 5;

// Splits a request line into parameters as dictd does: blanks separate; a backslash outside quotes takes
// the next character as it is; text in double or single quotes is taken as it is, and quoted and plain
// pieces next to each other make one parameter. The parameters are copied one after another, bounded,
// into the room bytes at starts[0]; starts receives where each begins. Returns how many, at most
// maxParameters.
static int splitRequest(const char* line, size_t length, size_t room, char** starts)
{
    int count = 0;
    size_t at = 0;
    char* out = starts[0];
    char* outEnd = out + room;
    while (count < maxParameters) {
        while (at < length && (line[at] == ' ' || line[at] == '\t'))
            at++;
        if (at >= length)
            break;
        char* word = out;
        while (at < length && line[at] != ' ' && line[at] != '\t') {
            char c = line[at++];
            if (c == '"' || c == '\'') {
                while (at < length && line[at] != c && out < outEnd - 1)
                    *out++ = line[at++];
                if (at < length)
                    at++;
            } else if (c == '\\' && at < length) {
                if (out < outEnd - 1)
                    *out++ = line[at++];
            } else if (out < outEnd - 1) {
                *out++ = c;
            }
        }
        *out++ = '\0';
        starts[count++] = word;
        if (out >= outEnd)
            break;
    }
    return count;
}

void answerOfflineRequest(const char* request, size_t length, ReplyText* reply)
{
    waitForPendingOfflineLoads(dictLimits.replyTimeoutMs);
    OfflineLockHeld held;
    while (length > 0 && (request[length - 1] == '\n' || request[length - 1] == '\r'))
        length--;
    // Every parameter fits in the line's own length; room for their terminators besides.
    size_t room = length + maxParameters + 1;
    char* space = (char*)malloc(room);
    if (space == nullptr) {
        appendText(reply, "420 server temporarily unavailable\r\n");
        return;
    }
    char* parameters[maxParameters] = {space};
    int count = splitRequest(request, length, room, parameters);
    const char* command = count > 0 ? parameters[0] : "";
    if (equalIgnoringCase(command, "match") || equalIgnoringCase(command, "m")) {
        if (count == 4)
            answerMatch(parameters[1], parameters[2], parameters[3], reply);
        else
            appendText(reply, "501 syntax error, illegal parameters\r\n");
    } else if (equalIgnoringCase(command, "define") || equalIgnoringCase(command, "d")) {
        if (count == 3)
            answerDefine(parameters[1], parameters[2], reply);
        else
            appendText(reply, "501 syntax error, illegal parameters\r\n");
    } else if (equalIgnoringCase(command, "show")) {
        if (count == 2 &&
            (equalIgnoringCase(parameters[1], "db") || equalIgnoringCase(parameters[1], "databases")))
            answerShowDatabases(reply);
        else
            appendText(reply, "501 syntax error, illegal parameters\r\n");
    } else {
        appendText(reply, "500 unknown command\r\n");
    }
    free(space);
}
