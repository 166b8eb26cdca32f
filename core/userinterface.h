// What the DICT client asks of the user interface. The tray program defines these; the unit
// tests link doubles that record the calls and answer from a script. A look-up calls them from its
// own thread: the program answers them on its window thread, and once the look-up has been
// cancelled, shows nothing and answers No, Cancel or the first match at once.
#pragma once

// Formats the text (wvsprintfA-style: %s %d %u %c) and shows it in a message box titled
// "Lexitray" with an OK button; owner is a window handle or null.
void showMessage(void* owner, const char* format, ...);

// A Yes/No question box titled "Lexitray" with the question icon and no owner; 1 for Yes.
int askYesNo(const char* text);

// Shows a status text beside the tray icon for the given milliseconds, or takes it away.
void showStatus(const char* text, int milliseconds);
void hideStatus();
// Shows how long a look-up has waited where the user can look at it without being interrupted (the
// tray icon's tip): it changes every second, so it must never become a notification of its own.
// hideStatus puts the usual tip back.
void showWaitingStatus(const char* text);

struct DictSession;

// Runs the modal database choice dialog over the look-up's matches; returns the index of the chosen
// match.
int runDatabaseChoiceDialog(const DictSession* session);

// How the "Did you mean?" dialog ended: closed or cancelled, a word chosen, or "Try Next Server".
const int suggestionCancelled = 0;
const int suggestionChosen = 1;
const int suggestionNextServer = 2;
// Runs the modal "Did you mean?" dialog (no owner) over count suggested words, in the server's
// order. When the user picks one, copies it, terminated and cut to capacity - 1 bytes, to chosen
// and returns suggestionChosen; otherwise one of the other two results.
int runSuggestionDialog(const char* const* words, int count, char* chosen, int capacity);
