// Locating or downloading a Java runtime when none is found (the question
// dialog 104, the file dialog and the download with its progress).
#pragma once

#include <windows.h>

#include "launcher/text.h"

// The locate/download flow, with the progress window when there is one (it
// is also the worker of the progress dialog in download-only mode, entry
// 155).  Asks the user (unless entry 157 says to download at once), then
// either loads the java executable the user located, or downloads the
// archive of entry 150 into "jre.tar.gz" of the extraction directory and
// sets JRE included for the carried-runtime unpacking.  Returns after one of
// them; a cancel or a failed download ends the process.
void runLocateDownloadFlow(HWND progressWindow);

// Downloads `location` into "jre.tar.gz" of the current directory: up to
// three attempts, the progress window's status line and bar showing the
// transfer.  Ends the process with message 20002 when the internet library
// is missing and with message 20003 when every attempt failed.
void downloadJre(HWND progressWindow, const wstring& location);

// Called by the thread that ends the start after a cancel while the flow's
// worker may be downloading: the transfer stops before its next chunk, its
// partly written archive is closed and deleted, and the worker then waits
// for the end of the process.  Returns once that is done, or after about
// three seconds when a read does not return.
void stopDownload();
