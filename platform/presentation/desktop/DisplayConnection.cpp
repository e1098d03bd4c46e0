#include "DisplayConnection.h"

#include <cerrno>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <X11/X.h>
#include <X11/Xauth.h>

namespace
{

/* Connects socket to where, waiting no later than deadline; 0 or an errno. */
int ConnectBefore(int socket, const sockaddr *where, socklen_t length,
                  std::chrono::steady_clock::time_point deadline)
{
    int flags = fcntl(socket, F_GETFL);
    fcntl(socket, F_SETFL, flags | O_NONBLOCK);
    int error = 0;
    if (connect(socket, where, length) != 0) {
        error = errno;
        while (error == EINPROGRESS || error == EAGAIN || error == EINTR) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                error = ETIMEDOUT;
                break;
            }
            pollfd wait = {socket, POLLOUT, 0};
            int ready = poll(&wait, 1, int(left.count()));
            if (ready < 0) {
                error = errno;
            } else if (ready == 1) {
                socklen_t size = sizeof error;
                getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &size);
            }
        }
    }
    fcntl(socket, F_SETFL, flags);
    return error;
}

/* A socket of the family connected to where, or -1 with errno set. */
int OpenSocket(int family, const sockaddr *where, socklen_t length,
               std::chrono::steady_clock::time_point deadline)
{
    int connection = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (connection < 0)
        return -1;
    int error = ConnectBefore(connection, where, length, deadline);
    if (error != 0) {
        close(connection);
        errno = error;
        return -1;
    }
    if (family != AF_UNIX) {
        int on = 1;
        setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    return connection;
}

/* The server's socket on this machine: the abstract name first, which
   needs no file (and so works from inside a chroot), then the file. */
int OpenLocalSocket(unsigned display, std::chrono::steady_clock::time_point deadline)
{
    std::string path = "/tmp/.X11-unix/X" + std::to_string(display);
    int connection = -1;
    for (bool abstract : {true, false}) {
        sockaddr_un where = {};
        where.sun_family = AF_UNIX;
        std::memcpy(where.sun_path + (abstract ? 1 : 0), path.data(), path.size());
        socklen_t length =
            socklen_t(offsetof(sockaddr_un, sun_path) + path.size() + (abstract ? 1 : 0));
        connection = OpenSocket(AF_UNIX, reinterpret_cast<sockaddr *>(&where), length, deadline);
        if (connection >= 0)
            break;
    }
    return connection;
}

int OpenTcpSocket(const DisplayAddress &address, std::chrono::steady_clock::time_point deadline)
{
    in_port_t port = htons(in_port_t(6000 + address.display));
    sockaddr_in ipv4 = {};
    ipv4.sin_family = AF_INET;
    ipv4.sin_port = port;
    sockaddr_in6 ipv6 = {};
    ipv6.sin6_family = AF_INET6;
    ipv6.sin6_port = port;
    if (address.kind == DisplayAddress::IPV4) {
        ipv4.sin_addr = address.ipv4;
        return OpenSocket(AF_INET, reinterpret_cast<sockaddr *>(&ipv4), sizeof ipv4, deadline);
    }
    if (address.kind == DisplayAddress::IPV6) {
        ipv6.sin6_addr = address.ipv6;
        return OpenSocket(AF_INET6, reinterpret_cast<sockaddr *>(&ipv6), sizeof ipv6, deadline);
    }
    /* localhost: IPv4's loopback, then IPv6's, as a forwarding SSH server
       listens on either. */
    ipv4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int connection =
        OpenSocket(AF_INET, reinterpret_cast<sockaddr *>(&ipv4), sizeof ipv4, deadline);
    if (connection >= 0)
        return connection;
    int error = errno;
    ipv6.sin6_addr = in6addr_loopback;
    connection = OpenSocket(AF_INET6, reinterpret_cast<sockaddr *>(&ipv6), sizeof ipv6, deadline);
    if (connection < 0 && errno == ECONNREFUSED)
        errno = error;
    return connection;
}

/* The authority file's entry for the connected socket, as X servers and
   SSH write them: a connection on this machine (a local socket or a
   loopback address) under this machine's name, another by its address. */
Xauth *FindAuthorisation(int socket, unsigned display)
{
    sockaddr_storage peer = {};
    socklen_t length = sizeof peer;
    getpeername(socket, reinterpret_cast<sockaddr *>(&peer), &length);
    unsigned short family = FamilyLocal;
    std::string address;
    if (peer.ss_family == AF_INET) {
        const in_addr &ip = reinterpret_cast<const sockaddr_in &>(peer).sin_addr;
        if ((ntohl(ip.s_addr) >> 24) != 127) {
            family = FamilyInternet;
            address.assign(reinterpret_cast<const char *>(&ip), 4);
        }
    } else if (peer.ss_family == AF_INET6) {
        const in6_addr &ip = reinterpret_cast<const sockaddr_in6 &>(peer).sin6_addr;
        if (IN6_IS_ADDR_V4MAPPED(&ip)) {
            family = FamilyInternet;
            address.assign(reinterpret_cast<const char *>(&ip) + 12, 4);
        } else if (!IN6_IS_ADDR_LOOPBACK(&ip)) {
            family = FamilyInternet6;
            address.assign(reinterpret_cast<const char *>(&ip), 16);
        }
    }
    if (family == FamilyLocal) {
        char host[256] = {};
        gethostname(host, sizeof host - 1);
        address = host;
    }
    std::string number = std::to_string(display);
    char cookieName[] = "MIT-MAGIC-COOKIE-1";
    char *types[] = {cookieName};
    int typeLengths[] = {int(sizeof cookieName - 1)};
    return XauGetBestAuthByAddr(family, (unsigned short)address.size(), address.data(),
                                (unsigned short)number.size(), number.data(), 1, types,
                                typeLengths);
}

} // namespace

int ConnectDisplaySocket(const DisplayAddress &address,
                         std::chrono::steady_clock::time_point deadline, std::string &why)
{
    int connection = address.kind == DisplayAddress::LOCAL
                         ? OpenLocalSocket(address.display, deadline)
                         : OpenTcpSocket(address, deadline);
    if (connection < 0)
        why = errno == ETIMEDOUT ? std::string("the display did not answer") : std::strerror(errno);
    return connection;
}

xcb_connection_t *OpenXConnection(int socket, const DisplayAddress &address, std::string &why)
{
    Xauth *entry = FindAuthorisation(socket, address.display);
    xcb_auth_info_t authorisation = {};
    if (entry != nullptr) {
        authorisation = {entry->name_length, entry->name, entry->data_length, entry->data};
    }
    /* XCB writes a refusing server's reason to standard error itself. Only
       this thread runs while the program waits for the display, so the
       reason is caught in a pipe for the one line that says why. */
    int caught[2];
    bool catching = pipe2(caught, O_CLOEXEC | O_NONBLOCK) == 0;
    int savedError = catching ? fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3) : -1;
    if (savedError >= 0)
        dup2(caught[1], STDERR_FILENO);
    xcb_connection_t *connection =
        xcb_connect_to_fd(socket, entry != nullptr ? &authorisation : nullptr);
    if (savedError >= 0) {
        dup2(savedError, STDERR_FILENO);
        close(savedError);
    }
    if (entry != nullptr)
        XauDisposeAuth(entry);
    std::string reason;
    if (catching) {
        close(caught[1]);
        char buffer[512];
        ssize_t got = read(caught[0], buffer, sizeof buffer);
        if (got > 0)
            reason.assign(buffer, size_t(got));
        close(caught[0]);
    }
    if (xcb_connection_has_error(connection) == 0)
        return connection;
    xcb_disconnect(connection);
    /* XCB writes as many bytes as the server says its reason holds, even
       past the end of the reply it read: the text ends at the first zero
       byte, as a reason padded with zeros does. */
    reason.resize(std::strlen(reason.c_str()));
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' '))
        reason.pop_back();
    why = reason.empty() ? "the connection closed before the X server answered"
                         : "the X server refused the connection: " + reason;
    return nullptr;
}
