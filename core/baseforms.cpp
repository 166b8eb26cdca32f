// Base forms of inflected English words: a table of ending rules, tried in its order.
#include "core/baseforms.h"

#include <string.h>

// What the rest of the word (the stem, the word without the ending) must be for a rule to apply.
enum StemCondition {
    anyStem,            // nothing more
    pluralStem,         // not ending in s, u or an apostrophe (glass, bus, people's are no plurals of -s)
    stemWithVowel,      // holds a vowel (bed, ring, her are no -ed, -ing, -er forms)
    singleEndingStem,   // holds a vowel and does not end in a doubled letter (hoped, nicer)
    doubledEndingStem,  // holds a vowel and ends in a doubled consonant, of which one goes (stopped, running)
};

struct EndingRule {
    const char* ending;
    const char* replacement;  // never longer than the ending, so a candidate fits where the word did
    StemCondition condition;
};

// The table's order is the order the candidates are asked in, and the first that matches wins:
// "uses" tries "use" before "us", "hoped" tries "hope" before "hop", "called" tries "call"
// before "cal".
static const EndingRule endingRules[] = {
    {"'s", "", anyStem},              // people's
    {"\xE2\x80\x99s", "", anyStem},   // people's with a typographic apostrophe
    {"s'", "s", anyStem},             // the boss' (boss)
    {"s'", "", anyStem},              // friends' (friend)
    {"s\xE2\x80\x99", "s", anyStem},  // the same with a typographic apostrophe
    {"s\xE2\x80\x99", "", anyStem},
    {"ies", "y", anyStem},           // cities
    {"s", "", pluralStem},           // friends, uses, movies
    {"ses", "s", anyStem},           // buses
    {"xes", "x", anyStem},           // boxes
    {"zes", "z", anyStem},           // quizzes (quizz, then the doubled rule does not apply)
    {"ches", "ch", anyStem},         // churches
    {"shes", "sh", anyStem},         // wishes
    {"men", "man", anyStem},         // businessmen
    {"ied", "y", anyStem},           // carried
    {"ed", "e", singleEndingStem},   // hoped, used
    {"ed", "", stemWithVowel},       // wanted, called
    {"ed", "", doubledEndingStem},   // stopped
    {"ing", "e", singleEndingStem},  // coming
    {"ing", "", stemWithVowel},      // thinking
    {"ing", "", doubledEndingStem},  // running
    {"ier", "y", anyStem},           // happier
    {"er", "e", singleEndingStem},   // nicer
    {"er", "", stemWithVowel},       // faster
    {"er", "", doubledEndingStem},   // bigger
    {"iest", "y", anyStem},          // happiest
    {"est", "e", singleEndingStem},  // nicest
    {"est", "", stemWithVowel},      // fastest
    {"est", "", doubledEndingStem},  // biggest
};
static const int endingRuleCount = (int)(sizeof endingRules / sizeof endingRules[0]);

// A candidate has at least this many letters.
static const int shortestBaseForm = 2;

static bool isVowel(char c)
{
    // A byte of a non-ASCII letter may stand for a vowel: the rule is given the benefit of the doubt.
    return strchr("aeiouy", c) != nullptr || (unsigned char)c >= 0x80;
}

static bool isConsonant(char c) { return c >= 'a' && c <= 'z' && !isVowel(c); }

static bool holdsVowel(const char* stem, size_t length)
{
    for (size_t i = 0; i < length; i++)
        if (isVowel(stem[i]))
            return true;
    return false;
}

static bool endsDoubled(const char* stem, size_t length)
{
    return length >= 2 && stem[length - 1] == stem[length - 2];
}

static bool endsWithTypographicApostrophe(const char* stem, size_t length)
{
    return length >= 3 && memcmp(stem + length - 3, "\xE2\x80\x99", 3) == 0;
}

// The letters of a UTF-8 text: its bytes less those that continue a character.
static size_t letterCount(const char* text, size_t length)
{
    size_t count = 0;
    for (size_t i = 0; i < length; i++)
        if (((unsigned char)text[i] & 0xC0) != 0x80)
            count++;
    return count;
}

// How much of the stem the rule keeps (it is then followed by the replacement), or -1 when the
// rule does not apply to a stem of that length.
static long keptStemLength(const EndingRule& rule, const char* stem, size_t length)
{
    switch (rule.condition) {
    case anyStem:
        return (long)length;
    case pluralStem:
        return length > 0 && !strchr("su'", stem[length - 1]) && !endsWithTypographicApostrophe(stem, length)
                   ? (long)length
                   : -1;
    case stemWithVowel:
        return holdsVowel(stem, length) ? (long)length : -1;
    case singleEndingStem:
        return holdsVowel(stem, length) && !endsDoubled(stem, length) ? (long)length : -1;
    case doubledEndingStem:
        return holdsVowel(stem, length) && endsDoubled(stem, length) && isConsonant(stem[length - 1])
                   ? (long)length - 1
                   : -1;
    }
    return -1;
}

int baseFormCandidates(const char* word, char (*candidates)[dictWordSize], int capacity)
{
    char lower[dictWordSize];
    size_t length = strlen(word);
    if (length >= (size_t)dictWordSize)
        return 0;
    for (size_t i = 0; i <= length; i++)
        lower[i] = word[i] >= 'A' && word[i] <= 'Z' ? (char)(word[i] - 'A' + 'a') : word[i];

    int count = 0;
    for (int r = 0; r < endingRuleCount && count < capacity; r++) {
        const EndingRule& rule = endingRules[r];
        size_t endingLength = strlen(rule.ending);
        if (endingLength >= length || memcmp(lower + length - endingLength, rule.ending, endingLength) != 0)
            continue;
        long kept = keptStemLength(rule, lower, length - endingLength);
        if (kept < 0)
            continue;
        char candidate[dictWordSize];
        size_t replacementLength = strlen(rule.replacement);
        memcpy(candidate, lower, (size_t)kept);
        memcpy(candidate + kept, rule.replacement, replacementLength + 1);
        size_t candidateLength = (size_t)kept + replacementLength;
        if (letterCount(candidate, candidateLength) < (size_t)shortestBaseForm ||
            strcmp(candidate, lower) == 0)
            continue;
        bool known = false;
        for (int i = 0; i < count && !known; i++)
            known = strcmp(candidates[i], candidate) == 0;
        if (!known)
            memcpy(candidates[count++], candidate, candidateLength + 1);
    }
    return count;
}
