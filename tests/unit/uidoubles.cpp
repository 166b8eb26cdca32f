// Recording, scripted doubles of the user interface functions for the unit tests.
#include "tests/unit/uidoubles.h"

#include <stdarg.h>
#include <stdio.h>

#include "core/userinterface.h"

// The program formats messages into a buffer of this size.
static const int messageBufferSize = 256;

static std::vector<UiCall> recordedCalls;
static std::vector<int> yesNoAnswers;
static size_t yesNoUsed = 0;
static std::vector<int> databaseChoices;
static size_t databaseChoicesUsed = 0;
static std::function<void()> questionHook;
static std::function<void()> choiceHook;
static std::vector<int> suggestionAnswers;
static size_t suggestionAnswersUsed = 0;
static std::string suggestionWord;

static void record(const char* function, const std::string& text, const void* owner, int milliseconds)
{
    recordedCalls.push_back(UiCall{function, text, owner, milliseconds});
}

void resetUiDoubles()
{
    recordedCalls.clear();
    yesNoAnswers.clear();
    yesNoUsed = 0;
    databaseChoices.clear();
    databaseChoicesUsed = 0;
    questionHook = nullptr;
    choiceHook = nullptr;
    suggestionAnswers.clear();
    suggestionAnswersUsed = 0;
    suggestionWord.clear();
}

void scriptSuggestionAnswers(const std::vector<int>& answers, const std::string& chosenWord)
{
    suggestionAnswers = answers;
    suggestionAnswersUsed = 0;
    suggestionWord = chosenWord;
}

void onQuestion(const std::function<void()>& hook) { questionHook = hook; }

void onDatabaseChoice(const std::function<void()>& hook) { choiceHook = hook; }

const std::vector<UiCall>& uiCalls() { return recordedCalls; }

int countUiCalls(const char* function)
{
    int count = 0;
    for (const UiCall& call : recordedCalls)
        if (call.function == function)
            count++;
    return count;
}

void scriptYesNoAnswers(const std::vector<int>& answers)
{
    yesNoAnswers = answers;
    yesNoUsed = 0;
}

void scriptDatabaseChoices(const std::vector<int>& answers)
{
    databaseChoices = answers;
    databaseChoicesUsed = 0;
}

void showMessage(void* owner, const char* format, ...)
{
    char text[messageBufferSize];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    record("showMessage", text, owner, 0);
}

int askYesNo(const char* text)
{
    record("askYesNo", text, nullptr, 0);
    if (questionHook)
        questionHook();
    return yesNoUsed < yesNoAnswers.size() ? yesNoAnswers[yesNoUsed++] : 0;
}

void showStatus(const char* text, int milliseconds) { record("showStatus", text, nullptr, milliseconds); }

void hideStatus() { record("hideStatus", "", nullptr, 0); }

void showWaitingStatus(const char* text) { record("showWaitingStatus", text, nullptr, 0); }

int runDatabaseChoiceDialog(const DictSession*)
{
    record("runDatabaseChoiceDialog", "", nullptr, 0);
    if (choiceHook)
        choiceHook();
    return databaseChoicesUsed < databaseChoices.size() ? databaseChoices[databaseChoicesUsed++] : 0;
}

int runSuggestionDialog(const char* const* words, int count, char* chosen, int capacity)
{
    std::string listed;
    for (int i = 0; i < count; i++)
        listed += (i ? "," : "") + std::string(words[i]);
    record("runSuggestionDialog", listed, nullptr, 0);
    int answer = suggestionAnswersUsed < suggestionAnswers.size() ? suggestionAnswers[suggestionAnswersUsed++]
                                                                  : suggestionCancelled;
    if (answer == suggestionChosen && capacity > 0)
        snprintf(chosen, static_cast<size_t>(capacity), "%s", suggestionWord.c_str());
    return answer;
}
