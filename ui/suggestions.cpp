// The "Did you mean?" dialog: near spellings the server suggested for a word it does not know.
#include "core/userinterface.h"

// Until the dialog is built, a look-up goes on as the not-found question's Yes would.
int runSuggestionDialog(const char* const*, int, char*, int) { return suggestionNextServer; }
