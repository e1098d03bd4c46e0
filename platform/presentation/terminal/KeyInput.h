#ifndef PLATFORM_TERMINAL_KEY_INPUT_H
#define PLATFORM_TERMINAL_KEY_INPUT_H

#include <string>

/* Keys as a person types them: bytes read from the terminal, less the
   sequences that cursor and function keys send (an arrow is not an "A"),
   each key in lower case. A sequence cut between two reads is finished in
   the next. */
class KeyInput
{
  public:
    std::string Decode(const char *bytes, size_t length);

  private:
    enum State { TYPING, AFTER_ESCAPE, IN_SEQUENCE } state_ = TYPING;
};

#endif
