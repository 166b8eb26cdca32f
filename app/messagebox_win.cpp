// The message boxes the core and the shell show: plain messages and the Yes/No failover question.
#include <windows.h>
#include <shlwapi.h>
#include <stdarg.h>

#include "app/trayapp.h"
#include "core/userinterface.h"
#include "ui/lookupthread.h"
#include "ui/widetext.h"

namespace {

const char messageTitle[] = "Lexitray";

// Every message of the program fits; a longer one (a long host name in it) is cut, not overrun.
const int messageCapacity = 256;

struct Message {
    HWND owner;
    char text[messageCapacity];
};

struct Question {
    const char* text;
    int answer;
};

}  // namespace

void showMessage(void* owner, const char* format, ...)
{
    // Formatted where it is asked for (a look-up's own thread), shown on the window thread.
    Message message;
    message.owner = static_cast<HWND>(owner);
    va_list arguments;
    va_start(arguments, format);
    wvnsprintfA(message.text, messageCapacity, format, arguments);
    va_end(arguments);
    message.text[messageCapacity - 1] = '\0';  // terminated even when cut
    askOnWindowThread(
        [](void* data) {
            Message* shown = static_cast<Message*>(data);
            // Bring the program forward so the box does not open behind the user's application.
            SetForegroundWindow(TrayWindow);
            MessageBoxA(shown->owner, shown->text, messageTitle, MB_OK);
        },
        &message);
}

// The question holds the word, which is UTF-8 like every text inside the program. A cancelled
// look-up's question is never asked, and counts as No.
int askYesNo(const char* text)
{
    Question question = {text, 0};
    askOnWindowThread(
        [](void* data) {
            Question* asked = static_cast<Question*>(data);
            const int questionCapacity = 512;
            wchar_t wide[questionCapacity];
            utf8ToWide(asked->text, wide, questionCapacity);
            asked->answer =
                MessageBoxW(nullptr, wide, L"Lexitray", MB_YESNO | MB_ICONQUESTION) == IDYES ? 1 : 0;
        },
        &question);
    return question.answer;
}
