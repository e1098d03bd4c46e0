#include "DisplayAddress.h"

#include <arpa/inet.h>

namespace
{

/* A decimal number of at most five digits, the whole of text. */
bool ReadNumber(const std::string &text, unsigned &number)
{
    if (text.empty() || text.size() > 5)
        return false;
    number = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        number = number * 10 + unsigned(c - '0');
    }
    return true;
}

} // namespace

bool ParseDisplayAddress(const std::string &name, DisplayAddress &address, std::string &why)
{
    address = DisplayAddress{};
    if (name.empty()) {
        why = "DISPLAY is empty";
        return false;
    }
    size_t colon = name.rfind(':');
    if (colon == std::string::npos) {
        why = "DISPLAY names no display number";
        return false;
    }
    std::string host = name.substr(0, colon);
    std::string numbers = name.substr(colon + 1);
    size_t dot = numbers.find('.');
    std::string screen = dot == std::string::npos ? "0" : numbers.substr(dot + 1);
    if (!ReadNumber(numbers.substr(0, dot), address.display) ||
        !ReadNumber(screen, address.screen) || address.display > 59535) {
        why = "DISPLAY names no display number";
        return false;
    }
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    if (host.empty() || host == "unix") {
        address.kind = DisplayAddress::LOCAL;
    } else if (host == "localhost") {
        address.kind = DisplayAddress::LOOPBACK;
    } else if (inet_pton(AF_INET, host.c_str(), &address.ipv4) == 1) {
        address.kind = DisplayAddress::IPV4;
    } else if (inet_pton(AF_INET6, host.c_str(), &address.ipv6) == 1) {
        address.kind = DisplayAddress::IPV6;
    } else {
        why = "the host \"" + host +
              "\" would have to be looked up by name, which Velorin does not do";
        return false;
    }
    return true;
}
