#ifndef FORMAT_SHOWN_NAME_H
#define FORMAT_SHOWN_NAME_H

#include <string>

/* A name as the tools print it: control bytes and malformed UTF-8 escaped,
   backslashes doubled, so that the text is unambiguous and cannot drive a
   terminal. */
std::string ShowName(const std::string &name);

#endif
