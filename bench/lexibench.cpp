// lexibench: times reading replies from loopback, cutting definitions replies, and a look-up's
// exchanges against the local dictd, directly and through delaying proxies (scripts/bench starts
// them), counts the words of an English text that end in "not found", and times offline look-ups in
// WordNet's dictd files and in WordNet converted to StarDict; prints one line per figure as "name value
// unit".
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "config/config.h"
#include "core/dictsession.h"
#include "core/lookuptext.h"
#include "core/offlinedict.h"
#include "core/stardict.h"
#include "core/pagetext.h"
#include "tests/unit/fakeserver.h"
#include "tests/unit/uidoubles.h"

extern char** environ;

static const size_t kibi = 1024;
static const size_t mebi = 1024 * 1024;
static const double bytesPerMegabyte = 1e6;
// A body of this many bytes per definition keeps a 32 MiB reply within the list limit.
static const size_t definitionBodyBytes = 8 * 1024;
static const char* const defineRefusals[] = {"550 ", "552 ", "501 "};
static const int defineRefusalCount = 3;
// The dictd scripts/start-dictd starts; scripts/bench gives its address in LEXITRAY_REAL_DICTD.
static const char* localDictd = "127.0.0.2";
static const int lookUpRuns = 21;
// Through a delaying proxy every run costs round trips: fewer runs suffice.
static const int proxiedRuns = 9;
// How time per megabyte may grow from 1 MiB to 32 MiB and still count as linear.
static const double linearLimit = 1.5;
static const size_t evictionBytes = 128 * 1024 * 1024;

typedef std::chrono::steady_clock Clock;

static double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

static double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

static double fastest(const std::vector<double>& values)
{
    return *std::min_element(values.begin(), values.end());
}

static void figure(const std::string& name, double value, const char* unit)
{
    printf("%s %.3f %s\n", name.c_str(), value, unit);
    fflush(stdout);
}

static std::string sizeName(size_t bytes)
{
    return bytes >= mebi ? std::to_string(bytes / mebi) + "MiB" : std::to_string(bytes / kibi) + "KiB";
}

// A definitions reply of exactly total bytes: bodies of lines of letters (no status-like
// text in them), each body about definitionBodyBytes, then the closing status line.
static std::string definitionsReply(size_t total)
{
    const std::string line = "abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ abcdefghijklmnop\r\n";
    const std::string header = "151 \"bench\" wn \"WordNet (r) 3.0 (2006)\"\r\n";
    const std::string closing = "\r\n.\r\n250 ok [d/m/c = 1/0/20; 0.000r 0.000u 0.000s]\r\n";
    const std::string terminator = "\r\n.\r\n";
    size_t bodies = std::max<size_t>(1, total / definitionBodyBytes);
    char status[64];
    snprintf(status, sizeof status, "150 %zu definitions retrieved\r\n", bodies);
    std::string reply = status;
    reply.reserve(total);
    size_t fixed = reply.size() + bodies * header.size() + (bodies - 1) * terminator.size() + closing.size();
    size_t bodyBytes = total > fixed ? total - fixed : bodies;
    for (size_t i = 0; i < bodies; i++) {
        reply += header;
        size_t want = bodyBytes / bodies + (i == bodies - 1 ? bodyBytes % bodies : 0);
        std::string body;
        while (body.size() + line.size() <= want)
            body += line;
        body.append(want - body.size(), 'x');
        reply += body;
        reply += i == bodies - 1 ? closing : terminator;
    }
    return reply;
}

// The page faults the process has taken so far that needed no disk: first touches of fresh memory.
static long freshPageFaults()
{
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

// Times readReply on one reply served by a fake server on loopback; the median of runs, with
// the median count of page faults taken while reading in faults.
static double timeReadReply(const std::string& reply, int runs, bool* complete, double* faults)
{
    std::vector<double> times, faultCounts;
    *complete = true;
    for (int run = 0; run < runs; run++) {
        FakeServer server({{sendText(fakeGreeting), awaitRequest(), sendText(reply)}});
        resetDictSession();
        if (!dictSession.connectToServer(server.host())) {
            *complete = false;
            return 0;
        }
        const char request[] = "define wn bench\r\n";
        netSend(dictSession.socket, request, (int)sizeof request - 1);
        ReplyText text = {};
        long faultsBefore = freshPageFaults();
        Clock::time_point start = Clock::now();
        ReplyOutcome outcome = dictSession.readReply(defineRefusals, defineRefusalCount, &text);
        times.push_back(secondsSince(start));
        faultCounts.push_back((double)(freshPageFaults() - faultsBefore));
        // Reading ends at the piece that holds "250 "; the rest of that status line may still
        // be on its way, so the reply is whole once everything up to the marker has come.
        size_t markerEnd = reply.rfind("250 ") + 4;
        *complete = *complete && outcome == replyComplete && text.length >= markerEnd &&
                    text.length <= reply.size() && reply.compare(0, text.length, text.data, text.length) == 0;
        releaseReply(&text);
        resetDictSession();
    }
    *faults = median(faultCounts);
    return median(times);
}

// Writes through a buffer larger than any cache, so the next timing starts from memory.
static void evictCaches()
{
    static std::vector<char> scratch(evictionBytes);
    for (size_t i = 0; i < scratch.size(); i += 64)
        scratch[i]++;
}

// Times cutDefinitionTexts; with cold set each run starts with the reply out of the caches,
// so that a reply that fits in them is not flattered against one that does not.
static double timeCutting(const std::string& reply, int runs, bool cold, int expectedCount, bool* right)
{
    std::vector<double> times;
    *right = true;
    for (int run = 0; run < runs; run++) {
        char** texts = nullptr;
        if (cold)
            evictCaches();
        Clock::time_point start = Clock::now();
        int count = cutDefinitionTexts(reply.data(), reply.size(), &texts);
        times.push_back(secondsSince(start));
        *right = *right && count == expectedCount;
        releaseTextList(texts, count);
    }
    return median(times);
}

static void benchReplies()
{
    const size_t sizes[] = {1 * kibi, 16 * kibi, 256 * kibi, 1 * mebi,
                            4 * mebi, 16 * mebi, 32 * mebi,  64 * mebi};
    double perMegabyteAt1 = 0, perMegabyteAt32 = 0;
    // Time per megabyte of cutting, from memory (cold) and with the reply in the caches (warm).
    double cutPerMegabyteAt1[2] = {0, 0}, cutPerMegabyteAt32[2] = {0, 0};
    for (size_t size : sizes) {
        // The largest reply is exactly the cap: it still completes.
        if (size > dictLimits.replyCapBytes)
            continue;
        std::string reply = definitionsReply(size);
        int runs = size <= mebi ? 15 : size <= 16 * mebi ? 7 : 5;
        bool complete = false;
        double faults = 0;
        double seconds = timeReadReply(reply, runs, &complete, &faults);
        if (!complete) {
            fprintf(stderr, "readReply did not complete a %s reply\n", sizeName(size).c_str());
            exit(1);
        }
        double megabytes = (double)size / bytesPerMegabyte;
        figure("readreply_" + sizeName(size), megabytes / seconds, "MB/s");
        figure("readreply_" + sizeName(size) + "_page_faults", faults / megabytes, "per MB");
        if (size == mebi)
            perMegabyteAt1 = seconds / megabytes;
        if (size == 32 * mebi)
            perMegabyteAt32 = seconds / megabytes;

        for (int cold = 1; cold >= 0 && (size == mebi || size == 32 * mebi); cold--) {
            bool right = false;
            int expected = (int)std::max<size_t>(1, size / definitionBodyBytes);
            double cutSeconds = timeCutting(reply, runs, cold == 1, expected, &right);
            if (!right) {
                fprintf(stderr, "cutting a %s reply gave the wrong count\n", sizeName(size).c_str());
                exit(1);
            }
            figure("cut_definitions_" + sizeName(size) + (cold ? "_cold" : "_warm"), megabytes / cutSeconds,
                   "MB/s");
            (size == mebi ? cutPerMegabyteAt1 : cutPerMegabyteAt32)[cold] = cutSeconds / megabytes;
        }
    }
    figure("readreply_time_per_MB_32MiB_over_1MiB", perMegabyteAt32 / perMegabyteAt1, "x");
    figure("cut_definitions_cold_time_per_MB_32MiB_over_1MiB", cutPerMegabyteAt32[1] / cutPerMegabyteAt1[1],
           "x");
    figure("cut_definitions_warm_time_per_MB_32MiB_over_1MiB", cutPerMegabyteAt32[0] / cutPerMegabyteAt1[0],
           "x");
    if (perMegabyteAt32 > linearLimit * perMegabyteAt1 ||
        cutPerMegabyteAt32[1] > linearLimit * cutPerMegabyteAt1[1])
        fprintf(stderr, "note: reading or cutting grows faster than linearly\n");
}

// The portable part of opening the viewer on one giant definition: from the stored text to the
// text the edit box gets (its head and the note). The window part is timed under Wine by the
// end-to-end tests.
static void benchViewerText()
{
    const size_t sizes[] = {1 * mebi, 8 * mebi, 40 * mebi};
    const std::string line = "abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQ\r\n";
    for (size_t size : sizes) {
        std::string definition;
        definition.reserve(size);
        while (definition.size() + line.size() <= size)
            definition += line;
        std::vector<double> times;
        size_t shownLength = 0;
        for (int run = 0; run < 5; run++) {
            Clock::time_point start = Clock::now();
            const char* text = definition.c_str();
            char* shown = newShownDefinition(text, strlen(text), shownDefinitionLimit);
            shownLength = strlen(shown);
            delete[] shown;
            times.push_back(secondsSince(start) * 1000);
        }
        figure("viewer_text_" + sizeName(size), median(times), "ms");
        figure("viewer_text_" + sizeName(size) + "_shown", (double)shownLength / kibi, "KiB");
    }
}

// Builds the viewer's page (links out of braces, headings) from definitions already in UTF-16, as
// the window gives them: a WordNet-like entry of 75 senses in 75 parts, and one definition of 1 to
// 40 MiB. Prints the time and the page's bytes (text, links and sections, counted from what it
// holds, and the fresh memory the build touched) per byte of the definition's UTF-8 text.
static void benchPageText()
{
    const std::u16string sense =
        u"  v 1: destroy the integrity of; usually by force; cause to separate into pieces "
        u"or fragments; \"He broke the glass plate\" [syn: {break}, {separate}, {split "
        u"up},\r\n       {fall apart}, {come apart}]\r\n";
    const size_t utf8SenseBytes = sense.size();  // ASCII: one byte a unit
    const std::u16string word = u"break", description = u"WordNet (r) 3.0 (2006)";
    {
        std::vector<PagePart> parts(75, PagePart{word.data(), word.size(), description.data(),
                                                 description.size(), sense.data(), sense.size()});
        std::vector<double> times;
        for (int run = 0; run < 21; run++) {
            Clock::time_point start = Clock::now();
            PageText page;
            bool built = buildPageText(parts.data(), 75, true, &page);
            times.push_back(secondsSince(start) * 1e6);
            if (!built || page.sectionCount != 75)
                printf("page_75_parts: wrong page\n");
            releasePageText(&page);
        }
        figure("page_75_parts", median(times), "us");
    }
    const size_t sizes[] = {1 * mebi, 8 * mebi, 40 * mebi};
    for (size_t size : sizes) {
        std::u16string body;
        body.reserve(size / utf8SenseBytes * sense.size() + 1);
        while ((body.size() + sense.size()) <= size)
            body += sense;
        PagePart part = {word.data(),        word.size(), description.data(),
                         description.size(), body.data(), body.size()};
        std::vector<double> times;
        double held = 0, touched = 0;
        for (int run = 0; run < 5; run++) {
            long faults = freshPageFaults();
            Clock::time_point start = Clock::now();
            PageText page;
            bool built = buildPageText(&part, 1, true, &page);
            times.push_back(secondsSince(start) * 1000);
            // Freed blocks come back for later runs: only the first touches fresh memory.
            if (run == 0)
                touched = (double)(freshPageFaults() - faults) * 4096;
            if (!built)
                printf("page_text: no page\n");
            held = (double)((body.size() + word.size() + description.size() + 8) * sizeof(char16_t) +
                            (body.size() / sense.size()) * 5 * sizeof(PageLink) + sizeof(PageSection));
            releasePageText(&page);
        }
        // The definition as the server sent it: one UTF-8 byte per unit here.
        double textBytes = (double)body.size();
        figure("page_text_" + sizeName(size), median(times), "ms");
        figure("page_text_" + sizeName(size) + "_held_per_text_byte", held / textBytes, "x");
        figure("page_text_" + sizeName(size) + "_touched_per_text_byte", touched / textBytes, "x");
    }
}

// One look-up's exchanges as the program makes them: greeting, MATCH, SHOW DB, DEFINE.
static bool lookUp(const char* word, const char* database)
{
    resetDictSession();
    // The database list belongs to the match connection: the definitions' connection clears it.
    bool right = dictSession.connectToServer(localDictd) == 1 &&
                 dictSession.findMatches(word, localDictd) == dictSuccess && dictSession.databaseCount > 0;
    const char* chosen = database;
    if (right && chosen == nullptr)
        chosen = dictSession.getMatchDatabase(0);
    right = right && dictSession.retrieveDefinitions(chosen, word, localDictd) == dictSuccess &&
            dictSession.getDefinitionCount() > 0;
    resetDictSession();
    return right;
}

static double timeLookUps(const char* word, const char* database, bool* right, double* best)
{
    std::vector<double> times;
    *right = true;
    for (int run = 0; run < lookUpRuns; run++) {
        Clock::time_point start = Clock::now();
        *right = lookUp(word, database) && *right;
        times.push_back(secondsSince(start) * 1000);
    }
    *best = fastest(times);
    return median(times);
}

// Runs the dict client as a whole process with its output thrown away.
static double timeDictClient(const char* host, int runs, const char* word, const char* database, bool* right,
                             double* best)
{
    std::vector<double> times;
    *right = true;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    char* argv[] = {(char*)"dict",   (char*)"-h", (char*)host, (char*)"-d",
                    (char*)database, (char*)word, nullptr};
    for (int run = 0; run < runs; run++) {
        Clock::time_point start = Clock::now();
        pid_t child = 0;
        int status = 0;
        if (posix_spawnp(&child, "dict", &actions, nullptr, argv, environ) != 0 ||
            waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            *right = false;
            break;
        }
        times.push_back(secondsSince(start) * 1000);
    }
    posix_spawn_file_actions_destroy(&actions);
    *best = times.empty() ? 0 : fastest(times);
    return times.empty() ? 0 : median(times);
}

// The whole look-up workflow (lookUpWord) with server entry 0 at host and the database choice
// off, as a user who skips it; "hack" matches in wn first, so this fetches what dict -d wn does.
static bool lookUpThroughWorkflow(const char* host)
{
    char entry[64];
    snprintf(entry, sizeof entry, "%s : bench", host);
    writeConfigString("server", "0");
    writeConfigString("server0", entry);
    resetUiDoubles();
    resetDictSession();
    bool right = dictSession.lookUpWord("hack") == 1 && dictSession.getMatchCount() > 0 &&
                 strcmp(dictSession.getMatchDatabase(0), "wn") == 0 && dictSession.getDefinitionCount() > 0 &&
                 countUiCalls("askYesNo") == 0;
    resetDictSession();
    return right;
}

static double timeWorkflow(const char* host, int runs, bool* right, double* best)
{
    std::vector<double> times;
    *right = true;
    for (int run = 0; run < runs && *right; run++) {
        Clock::time_point start = Clock::now();
        *right = lookUpThroughWorkflow(host);
        times.push_back(secondsSince(start) * 1000);
    }
    *best = fastest(times);
    return median(times);
}

// The look-up started as the word box opens, with Enter 500 ms later: from Enter until the definitions
// are in (the median of runs), as the program's look-ahead does it on a thread of its own.
static double timeLookAhead(const char* host, int runs, bool* right)
{
    const int enterAfterMs = 500;
    std::vector<double> times;
    *right = true;
    for (int run = 0; run < runs && *right; run++) {
        bool found = false;
        std::thread ahead([&] { found = lookUpThroughWorkflow(host); });
        std::this_thread::sleep_for(std::chrono::milliseconds(enterAfterMs));
        Clock::time_point enter = Clock::now();
        ahead.join();
        times.push_back(secondsSince(enter) * 1000);
        *right = found;
    }
    return median(times);
}

// LEXITRAY_BENCH_PROXIES names the delaying proxies as "delay=address,...", delay in ms each way.
static void benchThroughProxies()
{
    double noDelay = 0;
    const char* list = getenv("LEXITRAY_BENCH_PROXIES");
    if (list == nullptr || list[0] == '\0') {
        fprintf(stderr, "no delaying proxies given (LEXITRAY_BENCH_PROXIES); run through scripts/bench\n");
        return;
    }
    std::string rest = list;
    while (!rest.empty()) {
        size_t comma = rest.find(',');
        std::string item = rest.substr(0, comma);
        rest = comma == std::string::npos ? std::string() : rest.substr(comma + 1);
        size_t equals = item.find('=');
        if (equals == std::string::npos)
            continue;
        std::string delay = item.substr(0, equals), address = item.substr(equals + 1);
        std::string name = "wan_" + delay + "ms_";
        bool right = false;
        double best = 0;
        double ours = timeWorkflow(address.c_str(), proxiedRuns, &right, &best);
        if (!right) {
            fprintf(stderr, "look-up through the proxy at %s failed\n", address.c_str());
            continue;
        }
        double client = timeDictClient(address.c_str(), proxiedRuns, "hack", "wn", &right, &best);
        if (!right) {
            fprintf(stderr, "the dict client did not run through the proxy at %s\n", address.c_str());
            continue;
        }
        figure(name + "lookup_median", ours, "ms");
        figure(name + "dict_median", client, "ms");
        figure(name + "lookup_over_dict", ours / client, "x");
        if (delay == "0")
            noDelay = ours;
        if (delay == "50" && noDelay > 0) {
            double enterToDefinitions = timeLookAhead(address.c_str(), proxiedRuns, &right);
            if (!right) {
                fprintf(stderr, "the look-up ahead through the proxy at %s failed\n", address.c_str());
                continue;
            }
            figure(name + "ahead_enter_to_definitions_median", enterToDefinitions, "ms");
            // Against Enter to definitions with no delay at all and nothing looked up ahead.
            figure(name + "ahead_over_no_delay_lookup", enterToDefinitions / noDelay, "x");
        }
    }
}

// The English prose of the "not found" figures: a text every Debian system has, which nobody on
// the team wrote. LEXITRAY_BENCH_TEXT names another.
static const char defaultProseFile[] = "/usr/share/common-licenses/GPL-3";
// The words a reader looks up: seven letters or more.
static const size_t shortestCountedWord = 7;

// The distinct words (ignoring case) of seven letters or more of the text, as a selection of each
// would give them to the look-up: cut at blanks, the marks around them trimmed, letters only
// (an apostrophe or hyphen inside allowed).
static std::vector<std::string> proseWords(const std::string& text)
{
    std::vector<std::string> words, seen;
    size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && (unsigned char)text[at] <= ' ')
            at++;
        char word[wordBufferSize];
        takeCapturedWord(text.data() + at, text.size() - at, word, wordBufferSize);
        at += strlen(word);
        while (at < text.size() && (unsigned char)text[at] > ' ')
            at++;
        char trimmed[wordBufferSize];
        trimWord(word, trimmed, wordBufferSize);
        std::string candidate = trimmed, lower;
        size_t letters = 0;
        bool plain = true;
        for (char c : candidate) {
            bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
            letters += letter ? 1 : 0;
            plain = plain && (letter || c == '\'' || c == '-');
            lower += (char)(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        }
        if (!plain || letters < shortestCountedWord ||
            std::find(seen.begin(), seen.end(), lower) != seen.end())
            continue;
        seen.push_back(lower);
        words.push_back(candidate);
    }
    return words;
}

// How many of the words end in the "not found" question when looked up with server entry 0 at
// the local dictd, with the base forms on or off (near spellings off: they would only ask).
static int countNotFound(const std::vector<std::string>& words, bool baseForms, std::string* examples)
{
    char entry[64];
    snprintf(entry, sizeof entry, "%s : bench", localDictd);
    writeConfigString("server", "0");
    writeConfigString("server0", entry);
    writeConfigString("baseforms", baseForms ? "1" : "0");
    writeConfigString("suggest", "0");
    int notFound = 0;
    for (const std::string& word : words) {
        resetUiDoubles();
        resetDictSession();
        dictSession.lookUpWord(word.c_str());
        bool asked = false;
        for (const UiCall& call : uiCalls())
            asked = asked ||
                    (call.function == "askYesNo" && call.text.find("was not found") != std::string::npos);
        if (asked && examples->size() < 300)
            *examples += " " + word;
        notFound += asked ? 1 : 0;
    }
    resetDictSession();
    writeConfigString("baseforms", "1");
    writeConfigString("suggest", "1");
    return notFound;
}

static void benchNotFound()
{
    const char* path = getenv("LEXITRAY_BENCH_TEXT");
    if (path == nullptr || path[0] == '\0')
        path = defaultProseFile;
    FILE* file = fopen(path, "rb");
    if (file == nullptr) {
        fprintf(stderr, "no text at %s for the not-found figures\n", path);
        return;
    }
    std::string text;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, got);
    fclose(file);
    std::vector<std::string> words = proseWords(text);
    if (words.empty())
        return;
    std::string missedAsWritten, missedWithBaseForms;
    int asWritten = countNotFound(words, false, &missedAsWritten);
    int withBaseForms = countNotFound(words, true, &missedWithBaseForms);
    fprintf(stderr, "not found (%s), as written:%s\n", path, missedAsWritten.c_str());
    fprintf(stderr, "not found (%s), with base forms:%s\n", path, missedWithBaseForms.c_str());
    figure("not_found_words_7_letters", (double)words.size(), "words");
    figure("not_found_as_written", 100.0 * asWritten / (double)words.size(), "%");
    figure("not_found_with_base_forms", 100.0 * withBaseForms / (double)words.size(), "%");
}

// Builds the page of every dictionary's definitions of "break" from the local dictd (WordNet's
// longest entry among them): its time, its definitions, links and size. The text is widened byte
// by byte, which is exact for these ASCII entries.
static void benchPageOfBreak()
{
    resetDictSession();
    if (dictSession.retrieveDefinitions("*", "break", localDictd) != dictSuccess) {
        fprintf(stderr, "no definitions of break from %s\n", localDictd);
        return;
    }
    std::vector<std::u16string> bodies;
    for (int i = 0; i < dictSession.getDefinitionCount(); i++) {
        const char* text = dictSession.getDefinition(i);
        bodies.emplace_back(text, text + strlen(text));
    }
    resetDictSession();
    const std::u16string word = u"break", description = u"dictionary";
    std::vector<PagePart> parts;
    size_t units = 0;
    for (const std::u16string& body : bodies) {
        parts.push_back(
            {word.data(), word.size(), description.data(), description.size(), body.data(), body.size()});
        units += body.size();
    }
    std::vector<double> times;
    size_t links = 0;
    for (int run = 0; run < 21; run++) {
        Clock::time_point start = Clock::now();
        PageText page;
        buildPageText(parts.data(), static_cast<int>(parts.size()), true, &page);
        times.push_back(secondsSince(start) * 1e6);
        links = page.linkCount;
        releasePageText(&page);
    }
    figure("page_break_all_dictionaries", median(times), "us");
    figure("page_break_definitions", (double)parts.size(), "definitions");
    figure("page_break_links", (double)links, "links");
    figure("page_break_text", (double)units / kibi, "KiB");
}

static void benchLookUps()
{
    bool right = false;
    double best = 0;
    double glimmerwort = timeLookUps("glimmerwort", nullptr, &right, &best);
    if (!right) {
        fprintf(stderr, "look-up of glimmerwort against %s failed (is dictd running?)\n", localDictd);
        return;
    }
    figure("lookup_exchanges_glimmerwort_median", glimmerwort, "ms");
    figure("lookup_exchanges_glimmerwort_fastest", best, "ms");
    benchPageOfBreak();
    double hack = timeLookUps("hack", "wn", &right, &best);
    if (right) {
        figure("lookup_exchanges_hack_wn_median", hack, "ms");
        figure("lookup_exchanges_hack_wn_fastest", best, "ms");
    }
    double client = timeDictClient(localDictd, lookUpRuns, "hack", "wn", &right, &best);
    if (right) {
        figure("dict_client_hack_wn_median", client, "ms");
        figure("dict_client_hack_wn_fastest", best, "ms");
    } else {
        fprintf(stderr, "the dict client did not run\n");
    }
    double workflow = timeWorkflow(localDictd, lookUpRuns, &right, &best);
    if (right) {
        figure("lookup_word_hack_median", workflow, "ms");
        figure("lookup_word_hack_fastest", best, "ms");
        figure("lookup_word_over_dict_client", workflow / client, "x");
    }
}

// Offline look-ups in WordNet from /usr/share/dictd: an exact match with its definition, and a lev match
// (every candidate one edit away binary-searched in the mapped index). Goals: 1 ms and 30 ms.
static void benchOffline()
{
    const char* folders[] = {"/usr/share/dictd"};
    Clock::time_point loadStart = Clock::now();
    if (loadOfflineDictionaries(folders, 1) == 0) {
        printf("offline: no databases in /usr/share/dictd\n");
        return;
    }
    figure("offline_load_all_databases", secondsSince(loadStart) * 1000, "ms");
    struct Timed {
        const char* name;
        std::vector<const char*> requests;
    };
    const Timed runs[] = {
        {"offline_exact_and_define_serendipity",
         {"match wn exact serendipity\r\n", "define wn serendipity\r\n"}},
        {"offline_lev_wn_serendipty", {"match wn lev serendipty\r\n"}},
        {"offline_lev_wn_hous", {"match wn lev hous\r\n"}},
    };
    for (const Timed& run : runs) {
        std::vector<double> times;
        for (int i = 0; i < lookUpRuns; i++) {
            Clock::time_point start = Clock::now();
            for (const char* request : run.requests) {
                ReplyText reply = {nullptr, 0, 0, false};
                answerOfflineRequest(request, strlen(request), &reply);
                releaseReply(&reply);
            }
            times.push_back(secondsSince(start) * 1000);
        }
        figure(std::string(run.name) + "_median", median(times), "ms");
        figure(std::string(run.name) + "_fastest", fastest(times), "ms");
    }
    unloadOfflineDictionaries();
}

// Reads a whole file; empty when it cannot.
static std::string wholeFile(const std::string& path)
{
    std::string bytes;
    FILE* file = fopen(path.c_str(), "rb");
    char buffer[65536];
    size_t got;
    while (file != nullptr && (got = fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes.append(buffer, got);
    if (file != nullptr)
        fclose(file);
    return bytes;
}

// The same two look-ups in a StarDict dictionary of 100,000 entries: WordNet converted by stardict-tools
// (whose index, with each 32-bit number padded to 8 bytes, is rewritten), every third entry or so left out.
static void benchStardict()
{
    const char* converter = "/usr/lib/stardict-tools/dictd2dic";
    if (access(converter, X_OK) != 0 || access("/usr/share/dictd/wn.index", R_OK) != 0) {
        printf("stardict: stardict-tools or dict-wn is not installed\n");
        return;
    }
    char folderTemplate[] = "/tmp/lexibench-stardict-XXXXXX";
    const char* folder = mkdtemp(folderTemplate);
    if (folder == nullptr)
        return;
    std::string at = std::string("cd ") + folder + " && ";
    std::string convert = at +
                          "cp /usr/share/dictd/wn.index . && zcat /usr/share/dictd/wn.dict.dz > wn.dict && " +
                          "touch wn.idxhead && " + converter + " wn >/dev/null && " +
                          "mv dictd_freedict2_wn.dict.dz bench.dict.dz && rm wn.dict";
    std::string converted = system(convert.c_str()) == 0
                                ? wholeFile(std::string(folder) + "/dictd_freedict2_wn.idx")
                                : std::string();
    const size_t tail = 16, wanted = 100000;
    size_t total = 0;
    for (size_t i = 0; (i = converted.find('\0', i)) != std::string::npos && i + tail < converted.size();
         total++)
        i += tail + 1;
    std::string idx;
    size_t kept = 0, entry = 0;
    for (size_t i = 0; i < converted.size() && total > 0; entry++) {
        size_t zero = converted.find('\0', i);
        if (zero == std::string::npos || converted.size() - zero - 1 < tail)
            break;
        std::string word = converted.substr(i, zero - i);
        if (entry * wanted / total != (entry + 1) * wanted / total || word == "serendipity") {
            idx += word + '\0' + converted.substr(zero + 1, 4) + converted.substr(zero + 9, 4);
            kept++;
        }
        i = zero + 1 + tail;
    }
    std::string ifo = "StarDict's dict ifo file\nversion=2.4.2\nbookname=wn\nsametypesequence=m\nwordcount=" +
                      std::to_string(kept) + "\nidxfilesize=" + std::to_string(idx.size()) + "\n";
    FILE* out = fopen((std::string(folder) + "/bench.idx").c_str(), "wb");
    bool written = out != nullptr && fwrite(idx.data(), 1, idx.size(), out) == idx.size();
    if (out != nullptr)
        fclose(out);
    out = fopen((std::string(folder) + "/bench.ifo").c_str(), "wb");
    written = written && out != nullptr && fwrite(ifo.data(), 1, ifo.size(), out) == ifo.size();
    if (out != nullptr)
        fclose(out);
    StardictDictionary dict;
    const char* problem = "it was not converted";
    Clock::time_point openStart = Clock::now();
    if (written && openStardict((std::string(folder) + "/bench.ifo").c_str(), &dict, &problem)) {
        figure("stardict_open_and_check", secondsSince(openStart) * 1000, "ms");
        figure("stardict_entries", dict.wordCount, "entries");
        struct Timed {
            const char* name;
            const char* word;
            bool near;
        };
        const Timed runs[] = {{"stardict_exact_and_define_serendipity", "serendipity", false},
                              {"stardict_lev_wn_serendipty", "serendipty", true},
                              {"stardict_lev_wn_hous", "hous", true}};
        for (const Timed& run : runs) {
            std::vector<double> times;
            int found = 0;
            for (int i = 0; i < lookUpRuns; i++) {
                Clock::time_point start = Clock::now();
                StardictMatches matches = {nullptr, 0, 0, false};
                if (run.near)
                    findStardictNear(&dict, run.word, strlen(run.word), &matches);
                else
                    findStardictWord(&dict, run.word, strlen(run.word), &matches);
                for (int m = 0; m < matches.count && !run.near; m++) {
                    size_t length;
                    free(readStardictDefinition(&dict, matches.entries[m], &length, &problem));
                }
                found = matches.count;
                releaseStardictMatches(&matches);
                times.push_back(secondsSince(start) * 1000);
            }
            figure(std::string(run.name) + "_found", found, "entries");
            figure(std::string(run.name) + "_median", median(times), "ms");
            figure(std::string(run.name) + "_fastest", fastest(times), "ms");
        }
        closeStardict(&dict);
    } else {
        printf("stardict: the converted WordNet was refused: %s\n", problem);
    }
    if (system(("rm -rf " + std::string(folder)).c_str()) != 0)
        fprintf(stderr, "stardict: %s was not removed\n", folder);
}

int main(int argc, char** argv)
{
    bool replies = true, lookUps = true;
    if (argc > 1 && strcmp(argv[1], "replies") == 0)
        lookUps = false;
    if (argc > 1 && strcmp(argv[1], "lookup") == 0)
        replies = false;
    if (argc > 1 && strcmp(argv[1], "page") == 0) {
        benchPageText();
        return 0;
    }
    if (argc > 1 && strcmp(argv[1], "offline") == 0) {
        benchOffline();
        benchStardict();
        return 0;
    }
    netStartup();
    const char* realDictd = getenv("LEXITRAY_REAL_DICTD");
    if (realDictd != nullptr && realDictd[0] != '\0')
        localDictd = realDictd;
    if (replies) {
        benchReplies();
        benchViewerText();
        benchPageText();
    }
    if (lookUps) {
        dictLimits = dictDefaultLimits;
        hideDbDialog = true;
        benchLookUps();
        benchThroughProxies();
        benchNotFound();
        benchOffline();
        benchStardict();
    }
    return 0;
}
