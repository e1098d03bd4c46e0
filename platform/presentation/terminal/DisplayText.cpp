#include "DisplayText.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

#include <langinfo.h>
#include <locale.h>

#include <text/escape.h>

namespace {

/* The environment's character set, when it is UTF-8; used per call with
   uselocale so that the program's own locale stays the C locale. */
locale_t utf8Locale = locale_t(0);

void AddEscapedBytes(const char *bytes, size_t length, std::vector<DisplayCharacter> &characters)
{
    for (size_t i = 0; i < length; i++) {
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(bytes[i]));
        for (const char *c = escaped; *c != '\0'; c++)
            characters.push_back({std::string(1, *c), 1});
    }
}

}  // namespace

void InitDisplayText()
{
    if (utf8Locale != locale_t(0))
        return;
    locale_t environment = newlocale(LC_CTYPE_MASK, "", locale_t(0));
    if (environment == locale_t(0))
        return;
    if (std::strcmp(nl_langinfo_l(CODESET, environment), "UTF-8") == 0)
        utf8Locale = environment;
    else
        freelocale(environment);
}

std::vector<DisplayCharacter> SplitDisplayText(const std::string &bytes)
{
    std::string escaped(bytes.size() * 4 + 1, '\0');
    EscapeText(bytes.data(), bytes.size(), escaped.data(), escaped.size(), KEEP_BACKSLASH);
    escaped.resize(std::strlen(escaped.c_str()));

    std::vector<DisplayCharacter> characters;
    locale_t previous = utf8Locale != locale_t(0) ? uselocale(utf8Locale) : locale_t(0);
    for (size_t at = 0; at < escaped.size();) {
        const char *c = escaped.data() + at;
        if (static_cast<unsigned char>(*c) < 0x80) {
            characters.push_back({std::string(1, *c), 1});
            at++;
            continue;
        }
        /* Escaping left only well-formed sequences: the lead byte says how
           long each one is. */
        size_t length = 1;
        while (at + length < escaped.size() && (c[length] & 0xC0) == 0x80)
            length++;
        at += length;
        int width = -1;
        if (utf8Locale != locale_t(0)) {
            wchar_t wide;
            std::mbstate_t state = {};
            if (std::mbrtowc(&wide, c, length, &state) == length)
                width = wcwidth(wide);
        }
        if (width == 0 && !characters.empty())
            characters.back().bytes.append(c, length);
        else if (width == 1 || width == 2)
            characters.push_back({std::string(c, length), width});
        else
            AddEscapedBytes(c, length, characters);
    }
    if (utf8Locale != locale_t(0))
        uselocale(previous);
    return characters;
}

size_t MeasureDisplayText(const std::vector<DisplayCharacter> &characters)
{
    size_t columns = 0;
    for (const DisplayCharacter &character : characters)
        columns += size_t(character.width);
    return columns;
}
