// vxavs: the About box the host shows on the author's request.

#include "callback_table.h"
#include "vxavs_version.h"

static const char kAboutTitle[] = "About plugin";
static const char kAboutText[] =
    "Plugin to perform drag and drop file\r\n"
    "into AVS window of Winamp.\r\n"
    "\r\n"
    "vxavs " VXAVS_VERSION " by the vxavs developers\r\n"
    "https://vxavs.example.org/";

// Called when the author asks for the About box; modal, returns when the box is closed.
extern "C" void __stdcall nbAbout(void) {
    // The texts are ANSI; the box is shown through the wide API, converted from the ANSI code page.
    wchar_t text[sizeof kAboutText], title[sizeof kAboutTitle];
    if (MultiByteToWideChar(CP_ACP, 0, kAboutText, -1, text, sizeof kAboutText) == 0) text[0] = L'\0';
    if (MultiByteToWideChar(CP_ACP, 0, kAboutTitle, -1, title, sizeof kAboutTitle) == 0) title[0] = L'\0';
    MessageBoxW(nullptr, text, title, MB_OK | MB_ICONINFORMATION);  // the answer is always OK
}
