#ifndef PLATFORM_STREAM_INFLATER_BUFFER_H
#define PLATFORM_STREAM_INFLATER_BUFFER_H

#include <cstddef>

/* The inflater's output buffer: the history a match may reach back into,
   the room it inflates into before the history is moved back to the start,
   and slack behind that room for the fast loop's word-wide copies, which
   may write a little past a match's end. */
constexpr size_t INFLATER_HISTORY = 32768;
constexpr size_t INFLATER_SPACE = 262144;
constexpr size_t INFLATER_SLACK = 64;
constexpr size_t INFLATER_BUFFER_SIZE = INFLATER_HISTORY + INFLATER_SPACE + INFLATER_SLACK;

/* The fast loop runs while this much input is left, more than one
   iteration's two refills read, and room for what one iteration writes:
   two literals and the longest match. */
constexpr ptrdiff_t INFLATER_FAST_INPUT = 32;
constexpr ptrdiff_t INFLATER_FAST_OUTPUT = 2 + 258;

#endif
