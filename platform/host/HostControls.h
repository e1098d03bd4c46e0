#ifndef PLATFORM_HOST_CONTROLS_H
#define PLATFORM_HOST_CONTROLS_H

/*
 * Host controls: the one place where tests reach into the platform layer.
 *
 * They are environment variables, read once by the start-up and only by the
 * platform layer; in-process tests may change the same fields through
 * GetHostControls(). With none of them set, the platform behaves as the
 * system it stands in for, and the program itself never sees them.
 *
 * Only test builds read them: this file is compiled with
 * VELORIN_HOST_CONTROLS=1 for velorin-testable and the test suite, which are
 * never installed. The velorin that users run reads none of them, so nothing
 * in its environment can make calls fail, press Abort, answer a request or
 * have a report written at its exit.
 *
 *   VELORIN_HOST_LIBRARIES   Comma-separated NAME=STATE pairs that change what
 *                            the library registry offers, for example
 *                            "intuition.library=35,graphics.library=missing".
 *                            STATE is a version number (the library reports
 *                            that version), "missing" (OpenLibrary finds no
 *                            such library) or "no-interface" (the library
 *                            opens, but has no "main" interface).
 *   VELORIN_HOST_CLOCK       "instant": Delay and the presentations' pauses
 *                            return at once instead of waiting their ticks.
 *   VELORIN_HOST_BALANCE_REPORT
 *                            A file to which the start-up writes, as the very
 *                            last step of the process, how often each library
 *                            was opened and closed, each interface fetched and
 *                            dropped, and how many locks, screens, windows,
 *                            gadgets and messages are still held.
 *   VELORIN_HOST_PRESENTATION
 *                            "desktop", "terminal" or "headless": how windows
 *                            are shown. Unset, the desktop is used when
 *                            DISPLAY names an X display that answers, the terminal
 *                            when standard error is one, and nothing otherwise.
 *   VELORIN_HOST_SCREEN      WIDTHxHEIGHT or WIDTHxHEIGHTxFONTHEIGHT: the
 *                            default public screen. Unset, it takes the
 *                            display's size on the desktop, and is 640x256
 *                            with an 8-line font elsewhere.
 *   VELORIN_HOST_INSTALLER_SCREEN
 *                            The same form: a public screen named "INSTALLER"
 *                            exists, with that size. Unset, there is none.
 *   VELORIN_HOST_FAIL        Comma-separated names of calls that fail:
 *                            LockPubScreen, GetVisualInfo, CreateContext,
 *                            CreateGadget, GetScreenDrawInfo, OpenWindowTags;
 *                            fclose (the runtime's: the file is closed, but
 *                            the call reports an I/O error, as a network file
 *                            system does for data it could not store);
 *                            openat2 (names below a locked directory are then
 *                            resolved a component at a time, as on a kernel
 *                            without openat2).
 *   VELORIN_HOST_ABORT_AT    N: the person presses a window's first button just
 *                            before the program looks at that window's
 *                            messages for the N-th time.
 *   VELORIN_HOST_ANSWER      The label of the button that answers a request
 *                            when no person can (the headless presentation);
 *                            unset, the rightmost button answers.
 */

enum HostLibraryState {
    HOST_LIBRARY_PRESENT,
    HOST_LIBRARY_VERSION,
    HOST_LIBRARY_MISSING,
    HOST_LIBRARY_NO_INTERFACE,
};

/* Each field's default is what the platform does with the control unset;
   the velorin that users run keeps every default. */
struct HostScreenSize {
    bool given = false;
    long width = 0;
    long height = 0;
    long fontHeight = 8;
};

struct HostControls {
    const char *libraries = nullptr;
    bool instantClock = false;
    const char *balanceReport = nullptr;
    const char *presentation = nullptr;
    HostScreenSize screen;
    HostScreenSize installerScreen;
    const char *failingCalls = nullptr;
    unsigned long abortAt = 0;
    const char *answer = nullptr;
};

void ReadHostControls();
HostControls &GetHostControls();

/* What VELORIN_HOST_LIBRARIES says of one library; *version is set for
   HOST_LIBRARY_VERSION. */
HostLibraryState GetHostLibraryControl(const char *libraryName, unsigned *version);

/* Whether VELORIN_HOST_FAIL names the call. */
bool IsHostCallFailing(const char *callName);

#endif
