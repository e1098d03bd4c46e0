#ifndef PLATFORM_HOST_CONTROLS_H
#define PLATFORM_HOST_CONTROLS_H

/*
 * Host controls: the one place where tests reach into the platform layer.
 *
 * They are environment variables, read once by the start-up and only by the
 * platform layer. With none of them set, the platform behaves as the system
 * it stands in for; the program itself never sees them.
 *
 *   VELORIN_HOST_LIBRARIES   Comma-separated NAME=STATE pairs that change what
 *                            the library registry offers, for example
 *                            "intuition.library=35,graphics.library=missing".
 *                            STATE is a version number (the library reports
 *                            that version), "missing" (OpenLibrary finds no
 *                            such library) or "no-interface" (the library
 *                            opens, but has no "main" interface).
 *   VELORIN_HOST_CLOCK       "instant": Delay returns at once instead of
 *                            waiting its ticks.
 *   VELORIN_HOST_BALANCE_REPORT
 *                            A file to which the start-up writes, as the very
 *                            last step of the process, how often each library
 *                            was opened and closed, each interface fetched and
 *                            dropped, and how many DOS locks are still held.
 */

enum HostLibraryState {
    HOST_LIBRARY_PRESENT,
    HOST_LIBRARY_VERSION,
    HOST_LIBRARY_MISSING,
    HOST_LIBRARY_NO_INTERFACE,
};

void ReadHostControls();

/* What VELORIN_HOST_LIBRARIES says of one library; *version is set for
   HOST_LIBRARY_VERSION. */
HostLibraryState GetHostLibraryControl(const char *libraryName, unsigned *version);

bool IsHostClockInstant();

/* The balance report's file, or nullptr when none was asked for. */
const char *GetHostBalanceReportPath();

#endif
