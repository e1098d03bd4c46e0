#ifndef PLATFORM_DISPLAY_ADDRESS_H
#define PLATFORM_DISPLAY_ADDRESS_H

#include <string>

#include <netinet/in.h>

/* Where an X display is, read from a DISPLAY value: [host]:display[.screen].
   A program linked statically cannot ask the system's name services, so
   the only host names understood are those that need no look-up: none or
   "unix" (this machine's sockets), "localhost" (the loopback addresses, as
   SSH's forwarding uses) and numeric IPv4 or IPv6 addresses ("[::1]:0" or
   "::1:0"). */
struct DisplayAddress {
    enum Kind { LOCAL, LOOPBACK, IPV4, IPV6 } kind;
    in_addr ipv4;
    in6_addr ipv6;
    unsigned display;
    unsigned screen;
};

/* False, with the reason in why, for a value that names no display this
   program can reach. */
bool ParseDisplayAddress(const std::string &name, DisplayAddress &address, std::string &why);

#endif
