#ifndef TOOLS_PROGRESS_LINE_H
#define TOOLS_PROGRESS_LINE_H

#include <chrono>
#include <cstddef>
#include <string>

#include "PackTree.h"

/* One line of progress on a terminal, rewritten in place: files and bytes
   done of the totals, the archive's size so far and its ratio to the data
   read, the rate, and the time left. It uses no escape
   sequences, so it works on any terminal, fits the terminal's width so that
   it never wraps, and is drawn only while the program is in the foreground. */
class ProgressLine
{
  public:
    /* Shows nothing unless descriptor is a terminal. */
    explicit ProgressLine(int descriptor);

    bool Shown() const { return terminal_; }
    /* Redraws the line, at most ten times a second. */
    void Update(const PackProgress &progress);
    /* Takes the line away, leaving the cursor at the start of an empty line. */
    void Clear();

  private:
    bool InForeground() const;
    void Write(const std::string &text);

    int descriptor_;
    bool terminal_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastLooked_;
    bool looked_ = false;
    bool drawn_ = false;
    size_t shownLength_ = 0;
};

/* The text of the line for progress after seconds, cut to width columns. */
std::string FormatProgress(const PackProgress &progress, double seconds, size_t width);

#endif
