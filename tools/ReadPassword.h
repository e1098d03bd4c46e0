#ifndef TOOLS_READ_PASSWORD_H
#define TOOLS_READ_PASSWORD_H

#include <string>

/* The first line of passwordFile (without its line end) or, when it is
   empty, a line typed on the terminal after prompt, never echoed: the
   terminal's settings come back whatever ends the reading, SIGINT, SIGTERM
   and SIGHUP included. False with error set, as when there is no
   terminal. */
bool ReadPassword(const std::string &passwordFile, const std::string &prompt, std::string &password,
                  std::string &error);

#endif
