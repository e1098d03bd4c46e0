#ifndef PLATFORM_SIGNATURE_SIGNATURE_TEXT_H
#define PLATFORM_SIGNATURE_SIGNATURE_TEXT_H

#include <cstddef>
#include <cstdint>
#include <string>

/* Exactly length bytes from the whole of text, in base64's original
   alphabet with padding. */
bool DecodeBase64(const std::string &text, uint8_t *bytes, size_t length);
std::string EncodeBase64(const uint8_t *bytes, size_t length);

/* A key or signature file's text: false with the system's error number
   (EFBIG when it is longer than limit). */
bool ReadSmallFile(const char *path, size_t limit, std::string &text, int &errorNumber);

/* The base64 line of a key file (after its comment line), or the text
   itself when it is that line alone. */
std::string KeyLine(const std::string &text);

#endif
