#ifndef PLATFORM_WINDOW_PRESENTATION_H
#define PLATFORM_WINDOW_PRESENTATION_H

#include "HostModel.h"

#include <string>

/* How the model's windows reach a person: a desktop window, a drawing in the
   terminal, or nothing at all. The model calls only this; which one it is,
   ChoosePresentation decides at the first need,
   and the program never knows. */
class Presentation
{
  public:
    virtual ~Presentation() = default;

    /* The size of the default public screen, when the presentation has a
       display to offer; false leaves the host's default. */
    virtual bool GetDisplaySize(LONG &width, LONG &height)
    {
        (void)width;
        (void)height;
        return false;
    }
    virtual void ShowWindow(HostWindow &window) = 0;
    /* The window is about to close: show its last state. */
    virtual void HideWindow(HostWindow &window) = 0;
    /* A window's pixels changed; now asks for them to be shown at once. */
    virtual void Refresh(HostWindow &window, bool now) = 0;
    /* The program looks at its messages: take in the person's input now,
       and show what changed if it is time to. */
    virtual void CheckInput() = 0;
    /* A text was drawn into a window. As on the system's screens, drawing is
       to be seen without the program's help: shown, together with the
       person's input taken in, as often as the presentation can afford. */
    virtual void Drawn() {}
    /* The program pauses for ticks of 1/50 s with a window open, so that the
       person can read it. */
    virtual void Pause(LONG ticks) = 0;
    /* Shows a request window until a button is chosen; its GadgetID. */
    virtual UWORD Ask(HostWindow &request) = 0;
    /* An error line, whole and escaped, with the host's reason where there
       is one: it reaches standard error as one line, so that a script's log
       says why a run failed. A presentation that draws on standard error
       keeps the lines until it has taken its drawing down. */
    virtual void ReportErrorLine(const char *line);
    /* The run ends with the program's return code, after its windows have
       closed; possibly from another thread, with the process about to end,
       so nothing here may wait. */
    virtual void ReportRunEnd(int returnCode) { (void)returnCode; }

    /* Whether the windows reach a person on a desktop display, or in the
       terminal of standard error. */
    virtual bool IsOnDesktop() { return false; }
    virtual bool IsOnTerminal() { return false; }
};

/* The presentation, chosen at the first call. */
Presentation &GetPresentation();

/* Picks the presentation for this host. The presentations provide it, at
   link time: the model never includes them. */
Presentation *ChoosePresentation();

/* Takes the presentation down, as at the program's end: every window it
   showed is gone from the display and the terminal is given back, so that
   another program can have them (an installer's command). */
void EndPresentation();

/* Tells the presentation, if one was chosen, how the run ended. */
void ReportRunEnd(int returnCode);

#endif
