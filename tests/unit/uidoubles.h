// Test doubles of the user interface functions the core calls: they record every call and
// answer from a script.
#pragma once
#include <functional>
#include <string>
#include <vector>

struct UiCall {
    std::string function;  // "showMessage", "askYesNo", "showStatus", "hideStatus", "showWaitingStatus",
                           // "runDatabaseChoiceDialog", "runSuggestionDialog"
    std::string text;      // the formatted message, question or status text; the suggestions
                           // joined by commas
    const void* owner;     // showMessage's owner window
    int milliseconds;      // showStatus's duration
};

// Forgets the recorded calls and the scripted answers.
void resetUiDoubles();
// Every call since the last reset, in order.
const std::vector<UiCall>& uiCalls();
// How many calls of the named function were recorded.
int countUiCalls(const char* function);
// Answers for askYesNo (1 Yes, 0 No), used in order; once used up, the answer is No.
void scriptYesNoAnswers(const std::vector<int>& answers);
// Answers for runDatabaseChoiceDialog, used in order; once used up, the answer is 0.
void scriptDatabaseChoices(const std::vector<int>& answers);
// Runs hook whenever askYesNo is called, before it answers (to look at the servers then).
void onQuestion(const std::function<void()>& hook);
// Runs hook whenever runDatabaseChoiceDialog is called, before it answers (the user taking time
// to choose, a server changing meanwhile).
void onDatabaseChoice(const std::function<void()>& hook);
// Answers for runSuggestionDialog (suggestionChosen etc.), used in order; once used up, the
// answer is suggestionCancelled. A chosen answer hands back chosenWord.
void scriptSuggestionAnswers(const std::vector<int>& answers, const std::string& chosenWord);
