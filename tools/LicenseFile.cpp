#include "LicenseFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../format/InstallerLayout.h"

#include "../format/ShownName.h"

namespace
{

/* The length of the well-formed UTF-8 character at text[at] (shortest
   form, no surrogate, at most U+10FFFF), and the character; 0 when the
   bytes there are not one. */
size_t ReadCharacter(const std::string &text, size_t at, unsigned long &character)
{
    unsigned char lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) {
        character = lead;
        return 1;
    }
    size_t length = lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : lead >= 0xc0 ? 2 : 0;
    if (length == 0 || lead > 0xf4 || at + length > text.size())
        return 0;
    character = lead & (0x3f >> (length - 1));
    for (size_t i = 1; i < length; i++) {
        unsigned char next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xc0) != 0x80)
            return 0;
        character = character << 6 | (next & 0x3f);
    }
    static const unsigned long smallest[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (character < smallest[length] || character > 0x10ffff ||
        (character >= 0xd800 && character <= 0xdfff))
        return 0;
    return length;
}

bool IsAllowedControl(unsigned long character)
{
    return character == '\t' || character == '\n' || character == '\r' || character == '\f';
}

} // namespace

bool CheckLicenseText(const std::string &text, std::string &error)
{
    if (text.find_first_not_of(" \t\r\n\f") == std::string::npos) {
        error = "is empty";
        return false;
    }
    if (text.size() > INSTALLER_LICENSE_LIMIT) {
        error = "is longer than " + std::to_string(INSTALLER_LICENSE_LIMIT) +
                " bytes, the most an installer's licence may hold";
        return false;
    }
    size_t line = 1;
    for (size_t at = 0; at < text.size();) {
        unsigned long character = 0;
        size_t length = ReadCharacter(text, at, character);
        if (length == 0) {
            error = "is not UTF-8 text (line " + std::to_string(line) + ", byte " +
                    std::to_string(at + 1) + ")";
            return false;
        }
        bool control =
            character < 0x20 || character == 0x7f || (character >= 0x80 && character < 0xa0);
        if (control && !IsAllowedControl(character)) {
            char code[16];
            std::snprintf(code, sizeof code, "U+%04lX", character);
            error = "holds the control character " + std::string(code) + " (line " +
                    std::to_string(line) + "); a licence is plain text";
            return false;
        }
        line += character == '\n';
        at += length;
    }
    return true;
}

bool ReadLicenseFile(const std::string &path, std::string &text, std::string &error)
{
    std::string shown = "the licence " + ShowName(path);
    int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0) {
        error = "cannot read " + shown + ": " + std::strerror(errno);
        return false;
    }
    struct stat status;
    if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        error = shown + " is not a regular file";
        close(descriptor);
        return false;
    }
    /* One byte more than a licence may hold tells a file too long. */
    text.assign(INSTALLER_LICENSE_LIMIT + 4, '\0');
    size_t done = 0;
    while (done < text.size()) {
        ssize_t got = read(descriptor, text.data() + done, text.size() - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            error = "cannot read " + shown + ": " + std::strerror(errno);
            close(descriptor);
            return false;
        }
        if (got == 0)
            break;
        done += size_t(got);
    }
    close(descriptor);
    text.resize(done);
    if (text.rfind("\xef\xbb\xbf", 0) == 0)
        text.erase(0, 3);
    std::string fault;
    if (!CheckLicenseText(text, fault)) {
        error = shown + " " + fault;
        return false;
    }
    return true;
}
