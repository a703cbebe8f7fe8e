#include "frontend/jre_dialogs.h"

#include "launcher/errors.h"
#include "launcher/log.h"

void runLocateDownloadFlow(HWND progressWindow) {
    (void)progressWindow;
    // This build cannot locate or download a runtime; it says so instead of
    // pretending the flow ran.
    logError(L"locating or downloading a Java runtime is not supported by this launcher build");
    fatalText(L"Internal Error: locating or downloading a Java runtime is not supported by this launcher build");
}
