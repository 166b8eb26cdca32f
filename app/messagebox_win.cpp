// The message boxes the core and the shell show: plain messages and the Yes/No failover question.
#include <windows.h>
#include <shlwapi.h>
#include <stdarg.h>

#include "app/trayapp.h"
#include "core/userinterface.h"
#include "ui/widetext.h"

namespace {

const char messageTitle[] = "Lexitray";

// Every message of the program fits; a longer one (a long host name in it) is cut, not overrun.
const int messageCapacity = 256;
char messageText[messageCapacity];

}  // namespace

void showMessage(void* owner, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    wvnsprintfA(messageText, messageCapacity, format, arguments);
    va_end(arguments);
    messageText[messageCapacity - 1] = '\0';  // terminated even when cut
    // Bring the program forward so the box does not open behind the user's application.
    SetForegroundWindow(TrayWindow);
    MessageBoxA(static_cast<HWND>(owner), messageText, messageTitle, MB_OK);
}

// The question holds the word, which is UTF-8 like every text inside the program.
int askYesNo(const char* text)
{
    const int questionCapacity = 512;
    wchar_t question[questionCapacity];
    utf8ToWide(text, question, questionCapacity);
    return MessageBoxW(nullptr, question, L"Lexitray", MB_YESNO | MB_ICONQUESTION) == IDYES ? 1 : 0;
}
