#include "DisplayText.h"

#include "../../text/EscapedText.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include <text/escape.h>
#include <uniwidth.h>

namespace
{

/* Whether the terminal takes UTF-8. Decided once, from the environment as
   text: the machine's locale files are not looked at, so that a name shows
   the same wherever the program runs, with or without them. */
bool utf8Terminal = false;

/* The character set of a locale name language[_territory][.codeset][@modifier]
   is UTF-8 when its codeset, compared without case and dashes, is utf8. */
bool IsUtf8LocaleName(const char *name)
{
    const char *codeset = std::strchr(name, '.');
    if (codeset == nullptr)
        return false;
    std::string compared;
    for (const char *c = codeset + 1; *c != '\0' && *c != '@'; c++)
        if (*c != '-')
            compared += char(std::tolower(static_cast<unsigned char>(*c)));
    return compared == "utf8";
}

void AddEscapedBytes(const char *bytes, size_t length, std::vector<DisplayCharacter> &characters)
{
    static const char hex[] = "0123456789abcdef";
    for (size_t i = 0; i < length; i++) {
        unsigned char byte = static_cast<unsigned char>(bytes[i]);
        for (char c : {'\\', 'x', hex[byte >> 4], hex[byte & 0x0F]})
            characters.push_back({std::string(1, c), 1});
    }
}

/* The columns a printable character takes, from the library's own tables. */
int GetCharacterWidth(unsigned long codePoint)
{
    return uc_width(ucs4_t(codePoint), "UTF-8");
}

/* The byte that an escape \xNN at characters[at] stands for, or -1. */
int ReadEscape(const std::vector<DisplayCharacter> &characters, size_t at)
{
    if (at + 3 >= characters.size() || characters[at].bytes != "\\" ||
        characters[at + 1].bytes != "x")
        return -1;
    std::string hex = characters[at + 2].bytes + characters[at + 3].bytes;
    if (hex.size() != 2 || !std::isxdigit(static_cast<unsigned char>(hex[0])) ||
        !std::isxdigit(static_cast<unsigned char>(hex[1])))
        return -1;
    return int(std::strtol(hex.c_str(), nullptr, 16));
}

/* How many characters from at make one unit that a cut keeps or drops
   whole: the escapes of one UTF-8 character's bytes, one escape, or one
   character. */
size_t GetUnitLength(const std::vector<DisplayCharacter> &characters, size_t at)
{
    int lead = ReadEscape(characters, at);
    if (lead < 0)
        return 1;
    size_t length = 4;
    int following = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    for (int i = 0; i < following; i++) {
        int next = ReadEscape(characters, at + length);
        if (next < 0x80 || next > 0xBF)
            break;
        length += 4;
    }
    return length;
}

} // namespace

void InitDisplayText()
{
    for (const char *variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char *name = std::getenv(variable);
        if (name != nullptr && *name != '\0') {
            utf8Terminal = IsUtf8LocaleName(name);
            return;
        }
    }
    utf8Terminal = false;
}

bool IsUtf8Display()
{
    return utf8Terminal;
}

std::vector<DisplayCharacter> SplitDisplayText(const std::string &bytes)
{
    std::string escaped = EscapedText(bytes);

    std::vector<DisplayCharacter> characters;
    for (size_t at = 0; at < escaped.size();) {
        const char *c = escaped.data() + at;
        if (static_cast<unsigned char>(*c) < 0x80) {
            characters.push_back({std::string(1, *c), 1});
            at++;
            continue;
        }
        /* Escaping left only printable, well-formed sequences. */
        unsigned long codePoint = 0;
        size_t length = ReadPrintableCharacter(c, escaped.size() - at, &codePoint);
        at += length;
        int width = utf8Terminal ? GetCharacterWidth(codePoint) : -1;
        if (width == 0 && !characters.empty())
            characters.back().bytes.append(c, length);
        else if (width == 1 || width == 2)
            characters.push_back({std::string(c, length), width});
        else
            AddEscapedBytes(c, length, characters);
    }
    return characters;
}

size_t MeasureDisplayText(const std::vector<DisplayCharacter> &characters)
{
    size_t columns = 0;
    for (const DisplayCharacter &character : characters)
        columns += size_t(character.width);
    return columns;
}

std::vector<DisplayCharacter> FitDisplayText(const std::string &bytes, size_t columns, bool keepEnd)
{
    std::vector<DisplayCharacter> characters = SplitDisplayText(bytes);
    if (MeasureDisplayText(characters) <= columns)
        return characters;
    std::vector<DisplayCharacter> mark;
    if (utf8Terminal)
        mark.push_back({"\u2026", 1});
    else
        mark.assign(3, {".", 1});
    if (columns <= mark.size()) {
        mark.resize(columns);
        return mark;
    }
    size_t room = columns - mark.size();

    /* The units from the start, with the columns each run of them takes. */
    std::vector<size_t> starts;
    for (size_t at = 0; at < characters.size(); at += GetUnitLength(characters, at))
        starts.push_back(at);
    auto unitWidth = [&](size_t unit) {
        size_t end = unit + 1 < starts.size() ? starts[unit + 1] : characters.size();
        size_t width = 0;
        for (size_t i = starts[unit]; i < end; i++)
            width += size_t(characters[i].width);
        return width;
    };

    std::vector<DisplayCharacter> fitted;
    size_t used = 0;
    if (keepEnd) {
        size_t first = starts.size();
        while (first > 0 && used + unitWidth(first - 1) <= room)
            used += unitWidth(--first);
        size_t from = first < starts.size() ? starts[first] : characters.size();
        /* Where a directory's name was cut, the kept part starts at the
           next '/', so that only whole names show. */
        for (size_t i = from; i + 1 < characters.size(); i++)
            if (characters[i].bytes == "/") {
                from = i;
                break;
            }
        fitted = mark;
        fitted.insert(fitted.end(), characters.begin() + ptrdiff_t(from), characters.end());
    } else {
        size_t unit = 0;
        while (unit < starts.size() && used + unitWidth(unit) <= room)
            used += unitWidth(unit++);
        size_t to = unit < starts.size() ? starts[unit] : characters.size();
        fitted.assign(characters.begin(), characters.begin() + ptrdiff_t(to));
        fitted.insert(fitted.end(), mark.begin(), mark.end());
    }
    return fitted;
}
