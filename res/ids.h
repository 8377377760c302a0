/* Resource ids shared by the resource script and the launcher's code. */
#pragma once

#define IDS_CONFIRM 1       /* confirmation prompt, one %s for the version text */
#define IDS_CAPTION 2       /* caption of every message box */
#define IDS_DISK_PROMPT 3   /* disk prompt: %c drive, %s version, %d disk number */
#define IDS_EXTRACT_ERROR 5 /* the one error message of a failed run */

#define IDI_APPLICATION_ICON 101 /* the executable's icon */
#define IDD_PROGRESS 102         /* the progress dialog */
#define IDI_DIALOG_ICON 106      /* the icon shown in the dialog */

#define IDC_PROGRESS_BAR 1000 /* the dialog's progress bar */
#define IDC_WAIT_TEXT 1001    /* the dialog's text asking the user to wait */
