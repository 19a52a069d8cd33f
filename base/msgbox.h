/* brisk!quantoven base library: the system message box.
 * Shown through SDL2; where no display can show it, or with BRISK_BATCH=1,
 * the caption and the text go to standard error and the call returns at once. */
#ifndef BRISK_BASE_MSGBOX_H
#define BRISK_BASE_MSGBOX_H

#ifdef __cplusplus
extern "C" {
#endif

enum { SYS_MSGBOX_INFO = 0, SYS_MSGBOX_WARNING = 1, SYS_MSGBOX_ERROR = 2 };

/* Modal box with one OK button. Returns 0 when shown, 1 when written to standard error. */
int SYS_SystemMessageBox(const char *caption, const char *text, int icon);

#ifdef __cplusplus
}
#endif

#endif
