#include "WrapText.h"

std::vector<std::string> SplitTextLines(const std::string &text)
{
    std::vector<std::string> lines(1);
    size_t characters = 0;
    for (size_t at = 0; at < text.size(); at++) {
        char c = text[at];
        if (c == '\n' || c == '\r' || c == '\f') {
            if (c == '\r' && at + 1 < text.size() && text[at + 1] == '\n')
                at++;
            lines.emplace_back();
            characters = 0;
        } else if (c == '\t') {
            size_t spaces = 8 - characters % 8;
            lines.back().append(spaces, ' ');
            characters += spaces;
        } else {
            lines.back() += c;
            /* A UTF-8 character counts once, at its first byte. */
            characters += (static_cast<unsigned char>(c) & 0xc0) != 0x80;
        }
    }
    /* A text that ends with a line end has no empty line after it. */
    if (lines.size() > 1 && lines.back().empty())
        lines.pop_back();
    return lines;
}

std::vector<std::string> WrapUnits(const std::vector<TextUnit> &units, size_t columns)
{
    if (columns == 0)
        columns = 1;
    std::vector<std::string> lines;
    std::string line, spaces;
    size_t lineWidth = 0, spacesWidth = 0;
    bool indent = true;
    auto endLine = [&] {
        lines.push_back(line);
        line.clear();
        lineWidth = 0;
    };
    for (size_t at = 0; at < units.size();) {
        if (units[at].bytes == " ") {
            spaces += ' ';
            spacesWidth++;
            at++;
            continue;
        }
        size_t end = at, wordWidth = 0;
        while (end < units.size() && units[end].bytes != " ")
            wordWidth += units[end++].width;
        bool kept = indent || !line.empty();
        if (kept && lineWidth + spacesWidth + wordWidth <= columns) {
            line += spaces;
            lineWidth += spacesWidth;
        } else if (!line.empty()) {
            endLine();
        }
        indent = false;
        spaces.clear();
        spacesWidth = 0;
        for (; at < end; at++) {
            if (lineWidth + units[at].width > columns && lineWidth > 0)
                endLine();
            line += units[at].bytes;
            lineWidth += units[at].width;
        }
    }
    if (!line.empty() || lines.empty())
        lines.push_back(line);
    return lines;
}
