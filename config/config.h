// The configuration store: the profile file, first-run seeding, the server entries and their hosts.
#pragma once

// The profile file's name and its one section. Where the file lies is settled once at start
// (locateConfiguration); until then every access passes the bare name and the platform decides.
constexpr char configFileName[] = "Lexitray.cfg";
constexpr char configSection[] = "Lexitray";
// The folder below the user's application data that holds the profile file.
constexpr char configFolderName[] = "Lexitray";
// Room for the profile file's full path (260 characters, each up to three bytes in UTF-8) and its
// terminator.
const int configPathCapacity = 260 * 3 + 1;
// A stale file that nothing writes any more; every start that is not a first run removes it.
constexpr char staleConfigFileName[] = "Lexitray.cfg.new";

// The server entries server0 .. server16.
const int serverCount = 17;
// A host has at most 24 characters; its users keep it in 25 bytes.
const int maxHostLength = 24;
const int hostBufferSize = maxHostLength + 1;
// Room for one server entry as read from the file: 255 characters and the terminator.
const int serverEntryCapacity = 256;
// The value of `server` that marks a first run (the key is absent, or was set to it by hand).
const int firstRunSentinel = 999;

// The host used when a server entry is missing; also the host of builtInServers[0].
extern const char defaultServerHost[];
// The built-in server entries, "host : description", in index order.
extern const char* const builtInServers[serverCount];

// Mirrors the `hidedbdialog` key: start-up and the two dialogs that write the key set it, and
// look-ups follow it. False until start-up sets it.
extern bool hideDbDialog;

// The setting that keeps Recent Words in a file from one run to the next; off unless it reads as 1.
constexpr char keepWordsKey[] = "keepwords";
bool keepWordsOn();

// The key's value as a signed integer, or defaultValue when the key is absent or empty.
int readConfigInt(const char* key, int defaultValue);
// Whether a flag key is on: only a value that reads as the integer 1 is.
bool readConfigFlag(const char* key, int defaultValue);
// The key's text cut to capacity - 1 characters into buffer, or defaultText when the key is
// absent; a key present with an empty value gives the empty text. Nothing when capacity < 1.
void readConfigString(const char* key, const char* defaultText, char* buffer, int capacity);
// Stores text as the key's value, creating the file, the section and the key as needed.
// A failed write is lost without notice.
void writeConfigString(const char* key, const char* text);

// Settles where the profile file lies, once, before the first read: on Windows beside the
// program when a Lexitray.cfg is there, else in the user's application data, taking over the file
// an older version left in the Windows directory; natively the bare name stays. False when that file
// could not be copied (the next start tries again).
bool locateConfiguration();

// The check every start makes: when `server` is absent or 999 the file is seeded with the
// built-in servers and the default settings; otherwise the stale file is deleted.
void seedConfiguration();

// Writes into host (hostBufferSize bytes) the host of server entry `index`: the entry up to its
// first blank, at most maxHostLength characters. Any index is accepted; one without an entry
// gives defaultServerHost.
void readServerHost(char* host, int index);
