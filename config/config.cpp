// The configuration store: every setting is read from the profile file at each use.
#include "config/config.h"

#include <stdio.h>

#include "config/profile.h"

const char defaultServerHost[] = "dict.org";

const char* const builtInServers[serverCount] = {
    "dict.org : All databases of dict.org: WordNet, GCIDE, Moby Thesaurus, Jargon, FOLDOC",
    "localhost : Your own DICT server on this computer",
    "all.dict.org : The dict.org server under its second name, all databases",
    "dict.tu-chemnitz.de : German-English and English-German (Ding)",
    "dict.mova.org : Russian explanatory and Russian-English dictionaries",
    "dict.arabeyes.org : Arabic-English and English-Arabic",
    "dict.aioe.org : English dictionaries and translations to Italian",
    "dict.lojban.org : Lojban word lists (jbovlaste)",
    "dict.freedict.org : FreeDict bilingual dictionaries, many languages",
    "dict-mirror.freedict.org : FreeDict bilingual dictionaries, mirror",
    "dict.saugus.net : English dictionaries, thesaurus and acronyms",
    "dict.hewgill.com : Webster's 1913, WordNet and the Jargon File",
    "dict.dvo.ru : Russian-English and English-Russian (Mueller)",
    "dict.uni-leipzig.de : German vocabulary (Wortschatz)",
    "dict.linux.org.tw : Chinese-English and English-Chinese",
    "dict.bibleonline.ru : Bible dictionaries and concordances",
    "dict.trident.name : English dictionaries and computing terms",
};

bool hideDbDialog = false;

namespace {

// The profile file's full path once locateConfiguration has run; empty before, when the bare name
// serves (the unit tests keep it so).
char configFilePath[configPathCapacity];

// "server" and a decimal int with its sign fit easily.
const int serverKeyCapacity = 24;

// The default settings a first run writes after the server entries, in the order written.
struct SeedValue {
    const char* key;
    const char* text;
};
const SeedValue seedSettings[] = {
    {"server", "0"},       {"control", "1"}, {"shift", "1"},   {"alt", "0"},
    {"hidedbdialog", "0"}, {"letter", "D"},  {"startup", "1"},
};

void formatServerKey(char* key, int index) { snprintf(key, serverKeyCapacity, "server%d", index); }

// The profile file every read and write goes to.
const char* configFileLocation() { return configFilePath[0] != '\0' ? configFilePath : configFileName; }

}  // namespace

bool locateConfiguration()
{
    return profileLocateFile(configFileName, configFolderName, configFilePath, configPathCapacity);
}

int readConfigInt(const char* key, int defaultValue)
{
    return profileReadInt(configFileLocation(), configSection, key, defaultValue);
}

bool readConfigFlag(const char* key, int defaultValue) { return readConfigInt(key, defaultValue) == 1; }

bool keepWordsOn() { return readConfigFlag(keepWordsKey, 0); }

void readConfigString(const char* key, const char* defaultText, char* buffer, int capacity)
{
    profileReadString(configFileLocation(), configSection, key, defaultText, buffer, capacity);
}

void writeConfigString(const char* key, const char* text)
{
    profileWriteString(configFileLocation(), configSection, key, text);
}

void seedConfiguration()
{
    if (readConfigInt("server", firstRunSentinel) != firstRunSentinel) {
        // Whether the stale file existed, and whether it went, makes no difference.
        profileDeleteFile(staleConfigFileName);
        return;
    }
    char key[serverKeyCapacity];
    for (int index = 0; index < serverCount; index++) {
        formatServerKey(key, index);
        writeConfigString(key, builtInServers[index]);
    }
    for (const SeedValue& setting : seedSettings)
        writeConfigString(setting.key, setting.text);
}

void readServerHost(char* host, int index)
{
    char key[serverKeyCapacity];
    formatServerKey(key, index);
    char entry[serverEntryCapacity];
    readConfigString(key, defaultServerHost, entry, serverEntryCapacity);
    // A hand-edited host longer than a host can be is cut, so the caller's buffer holds it.
    int length = 0;
    while (length < maxHostLength && entry[length] != '\0' && entry[length] != ' ') {
        host[length] = entry[length];
        length++;
    }
    host[length] = '\0';
}
