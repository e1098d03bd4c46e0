#ifndef PLATFORM_TEXT_HOST_REASON_H
#define PLATFORM_TEXT_HOST_REASON_H

/* The host's reason for the failure of the last call that the program made
   through the platform to reach a file: an archive that could not be opened
   or read, a directory or file that could not be created, written or
   closed. It follows the error line that reports the failure, so that a
   script's log says why. Every such call records its outcome, success
   included, so a reason never outlives the call it belongs to. */

/* The call failed with the host's error number, or succeeded (0). */
void RecordHostReason(int error);

/* The call failed for a reason of the platform's own; text lives for the
   whole run. */
void RecordHostReasonText(const char *text);

/* The recorded reason, or null when the last call succeeded or had none;
   forgets it. */
const char *TakeHostReason();

#endif
