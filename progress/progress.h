#ifndef PROGRESS_PROGRESS_H
#define PROGRESS_PROGRESS_H

/* The progress window's operations, as the extraction and the driver call them. */

/* Opens the window; 1 when it is open, 0 when it could not be opened. */
int InitInterface(void);

/* Takes down whatever part of the window exists; safe to call in any state. */
void CloseInterface(void);

/* Replaces the message line: flag 0 a progress line, flag 1 an error line,
   which is followed by a three-second pause. */
void UpdateMessage(const char *text, int flag);

/* Shows total on the total gauge and file on the file gauge and handles the
   Abort button; 0 when the user has confirmed the abort, 1 to go on. */
int UpdatePercentage(int total, int file);

#endif
