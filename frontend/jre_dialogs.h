// Locating or downloading a Java runtime when none is found (the question
// dialog 104, the file dialog and the download with its progress).
#pragma once

#include <windows.h>

// The locate/download flow, with the progress window when there is one (it
// is also the worker of the progress dialog in download-only mode, entry
// 155).  Returns after a runtime was located (and loaded) or downloaded into
// "jre.tar.gz" of the extraction directory (JRE included set), or ends the
// process.  Not built yet: ends with a logged error.
void runLocateDownloadFlow(HWND progressWindow);
