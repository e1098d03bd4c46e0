// Feeds arbitrary bytes as an X server's setup reply to the reading that
// the desktop window uses, for a screen number that the first byte
// chooses. The rest is the reply; its length field is set to what it
// holds, as XCB reads exactly the length that a reply gives. Whatever the
// reply claims, nothing may be read past its end, and a reply taken must
// describe a screen that lies inside it and pixels that can be drawn.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../platform/presentation/desktop/XSetup.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    unsigned screen = data[0] % 4;
    /* A buffer of exactly the reply's size, so that any read past it is
       caught. */
    size_t words = (size - 1 < X_SETUP_PREFIX_SIZE ? 0 : size - 1 - X_SETUP_PREFIX_SIZE) / 4;
    if (words > 0xFFFF)
        words = 0xFFFF;
    size_t length = size - 1 < X_SETUP_PREFIX_SIZE ? size - 1 : X_SETUP_PREFIX_SIZE + words * 4;
    std::vector<uint8_t> reply(data + 1, data + 1 + length);
    if (reply.size() >= X_SETUP_PREFIX_SIZE) {
        uint16_t field = uint16_t(words);
        std::memcpy(reply.data() + 6, &field, 2);
    }
    XSetup setup;
    std::string why;
    bool taken = ReadXSetup(reply.data(), reply.size(), screen, setup, why);
    bool sound = taken ? why.empty() && setup.screenOffset + sizeof(xcb_screen_t) <= reply.size() &&
                             setup.screenOffset % 4 == 0 &&
                             setup.visual._class == XCB_VISUAL_CLASS_TRUE_COLOR &&
                             (setup.bitsPerPixel == 16 || setup.bitsPerPixel == 24 ||
                              setup.bitsPerPixel == 32)
                       : !why.empty();
    if (!sound) {
        fprintf(stderr, "FINDING: %s \"%s\"\n", taken ? "taken" : "refused", why.c_str());
        abort();
    }
    return 0;
}
