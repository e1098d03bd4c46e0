#include <signature/minisign.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <sodium.h>

#include "SignatureText.h"

namespace
{

const char untrustedPrefix[] = "untrusted comment: ";
const char trustedPrefix[] = "trusted comment: ";

bool StartsWith(const std::string &text, const char *prefix)
{
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

/* The text's lines, without their ends ("\n" or "\r\n"). */
std::vector<std::string> SplitLines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return lines;
}

} // namespace

bool DecodeBase64(const std::string &text, uint8_t *bytes, size_t length)
{
    size_t decoded = 0;
    const char *end = nullptr;
    return sodium_base642bin(bytes, length, text.data(), text.size(), nullptr, &decoded, &end,
                             sodium_base64_VARIANT_ORIGINAL) == 0 &&
           decoded == length && end == text.data() + text.size();
}

std::string EncodeBase64(const uint8_t *bytes, size_t length)
{
    std::string text(sodium_base64_ENCODED_LEN(length, sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(text.data(), text.size(), bytes, length, sodium_base64_VARIANT_ORIGINAL);
    text.resize(std::strlen(text.c_str()));
    return text;
}

bool ReadSmallFile(const char *path, size_t limit, std::string &text, int &errorNumber)
{
    int descriptor;
    do
        descriptor = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0) {
        errorNumber = errno;
        return false;
    }
    /* Opened without waiting, in case it is a FIFO with no writer (which
       then reads as empty); read as usual, so that a pipe's writer is
       waited for. */
    fcntl(descriptor, F_SETFL, 0);
    text.clear();
    char piece[1024];
    for (;;) {
        ssize_t got = read(descriptor, piece, sizeof piece);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            errorNumber = errno;
            close(descriptor);
            return false;
        }
        if (got == 0)
            break;
        text.append(piece, size_t(got));
        if (text.size() > limit) {
            errorNumber = EFBIG;
            close(descriptor);
            return false;
        }
    }
    close(descriptor);
    return true;
}

/* A key file's second line, after its comment; or the text itself when it
   is the base64 line alone. */
std::string KeyLine(const std::string &text)
{
    std::vector<std::string> lines = SplitLines(text);
    if (lines.size() >= 2 && StartsWith(lines[0], untrustedPrefix))
        return lines[1];
    return lines.size() == 1 ? lines[0] : std::string();
}

std::string ShowKeyId(const uint8_t id[KEY_ID_SIZE])
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = KEY_ID_SIZE; i-- > 0;) {
        text += digits[id[i] >> 4];
        text += digits[id[i] & 15];
    }
    /* minisign writes the number without leading zeros. */
    size_t first = text.find_first_not_of('0');
    return first == std::string::npos ? "0" : text.substr(first);
}

bool DecodePublicKey(const std::string &text, PublicKey &key)
{
    uint8_t bytes[2 + KEY_ID_SIZE + PUBLIC_KEY_SIZE];
    if (!DecodeBase64(KeyLine(text), bytes, sizeof bytes) || bytes[0] != 'E' || bytes[1] != 'd')
        return false;
    std::memcpy(key.id, bytes + 2, KEY_ID_SIZE);
    std::memcpy(key.key, bytes + 2 + KEY_ID_SIZE, PUBLIC_KEY_SIZE);
    return true;
}

bool ReadPublicKey(const std::string &given, PublicKey &key, std::string &error)
{
    std::string text;
    int errorNumber = 0;
    if (ReadSmallFile(given.c_str(), SIGNATURE_FILE_LIMIT, text, errorNumber)) {
        if (DecodePublicKey(text, key))
            return true;
        error = "it is not a minisign public key";
        return false;
    }
    /* Not a file: the key's own text, as minisign -P takes it. */
    if (errorNumber == ENOENT && given.find('\n') == std::string::npos &&
        DecodePublicKey(given, key))
        return true;
    error = std::strerror(errorNumber);
    return false;
}

bool DecodeSignature(const std::string &text, Signature &signature)
{
    std::vector<std::string> lines = SplitLines(text);
    uint8_t head[2 + KEY_ID_SIZE + SIGNATURE_SIZE];
    if (lines.size() < 4 || !StartsWith(lines[0], untrustedPrefix) ||
        !DecodeBase64(lines[1], head, sizeof head) || !StartsWith(lines[2], trustedPrefix) ||
        !DecodeBase64(lines[3], signature.commentSignature, SIGNATURE_SIZE) || head[0] != 'E')
        return false;
    for (size_t i = 4; i < lines.size(); i++) {
        if (!lines[i].empty())
            return false;
    }
    if (head[1] != 'D' && head[1] != 'd')
        return false;
    signature.prehashed = head[1] == 'D';
    std::memcpy(signature.keyId, head + 2, KEY_ID_SIZE);
    std::memcpy(signature.signature, head + 2 + KEY_ID_SIZE, SIGNATURE_SIZE);
    signature.trustedComment = lines[2].substr(std::strlen(trustedPrefix));
    return true;
}

std::string EncodeSignature(const Signature &signature, const std::string &untrustedComment)
{
    uint8_t head[2 + KEY_ID_SIZE + SIGNATURE_SIZE] = {'E',
                                                      uint8_t(signature.prehashed ? 'D' : 'd')};
    std::memcpy(head + 2, signature.keyId, KEY_ID_SIZE);
    std::memcpy(head + 2 + KEY_ID_SIZE, signature.signature, SIGNATURE_SIZE);
    return untrustedPrefix + untrustedComment + "\n" + EncodeBase64(head, sizeof head) + "\n" +
           trustedPrefix + signature.trustedComment + "\n" +
           EncodeBase64(signature.commentSignature, SIGNATURE_SIZE) + "\n";
}

bool ReadSignatureFile(const char *path, Signature &signature, int &errorNumber)
{
    std::string text;
    bool read = ReadSmallFile(path, SIGNATURE_FILE_LIMIT, text, errorNumber);
    /* A file too long to be a signature is not one. */
    if (!read && errorNumber == EFBIG)
        errorNumber = 0;
    if (!read)
        return false;
    errorNumber = 0;
    return DecodeSignature(text, signature);
}
