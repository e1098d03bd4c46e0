#include "KeyInput.h"

#include <cctype>

std::string KeyInput::Decode(const char *bytes, size_t length)
{
    std::string keys;
    for (size_t i = 0; i < length; i++) {
        unsigned char byte = static_cast<unsigned char>(bytes[i]);
        switch (state_) {
        case TYPING:
            if (byte == 0x1b)
                state_ = AFTER_ESCAPE;
            else
                keys += char(std::tolower(byte));
            break;
        case AFTER_ESCAPE:
            /* CSI and SS3 sequences run to a final byte; Alt with a key is
               two bytes. */
            state_ = byte == '[' || byte == 'O' ? IN_SEQUENCE : TYPING;
            break;
        case IN_SEQUENCE:
            if (byte >= 0x40 && byte <= 0x7e)
                state_ = TYPING;
            break;
        }
    }
    return keys;
}
