// Resource and control ids shared by the resource script and the code.
// Plain #defines: the resource compiler reads this file too.
#pragma once

// Icon group of the application (also shown in both dialogs).
#define IDI_LAUNCHER 1001

// Progress dialog, window class "MyDialogClass".
#define IDD_PROGRESS 103
// Question dialog: locate or download a Java runtime.
#define IDD_QUESTION 104

// Controls.  IDCANCEL (2) is the cancel button of both dialogs.
#define IDC_PROGRESS_BAR 1001
#define IDC_STATUS_LINE 1002
#define IDC_MESSAGE_TEXT 1003
#define IDC_DOWNLOAD_BUTTON 1004
#define IDC_LOCATE_BUTTON 1005
