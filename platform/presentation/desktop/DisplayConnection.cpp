#include "DisplayConnection.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <thread>

#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <X11/X.h>
#include <X11/Xauth.h>

#include "XSetup.h"

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

bool SendAll(int socket, const std::string &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t put = send(socket, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        done += size_t(put);
    }
    return true;
}

bool ReceiveAll(int socket, char *into, size_t length)
{
    while (length > 0) {
        ssize_t got = recv(socket, into, length, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        into += got;
        length -= size_t(got);
    }
    return true;
}

/* The connection's opening as XCB makes it: this machine's byte order,
   protocol 11.0, then the authorisation's name and data, each padded to
   four bytes. */
std::string MakeSetupRequest(const Xauth *entry)
{
    uint16_t nameLength = entry != nullptr ? entry->name_length : 0;
    uint16_t dataLength = entry != nullptr ? entry->data_length : 0;
    std::string request(12, '\0');
    request[0] = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? 'l' : 'B';
    const uint16_t fields[] = {11, 0, nameLength, dataLength};
    std::memcpy(request.data() + 2, fields, sizeof fields);
    if (entry != nullptr) {
        request.append(entry->name, nameLength).append(-nameLength & 3, '\0');
        request.append(entry->data, dataLength).append(-dataLength & 3, '\0');
    }
    return request;
}

/* The server's answer to the opening: its prefix, then as many bytes as
   the prefix gives. */
bool ReadSetupReply(int socket, std::string &reply)
{
    reply.assign(X_SETUP_PREFIX_SIZE, '\0');
    if (!ReceiveAll(socket, reply.data(), reply.size()))
        return false;
    uint16_t words;
    std::memcpy(&words, reply.data() + 6, sizeof words);
    reply.resize(X_SETUP_PREFIX_SIZE + size_t(words) * 4);
    return ReceiveAll(socket, reply.data() + X_SETUP_PREFIX_SIZE,
                      reply.size() - X_SETUP_PREFIX_SIZE);
}

/* Why a server that does not let the client in says so: a refusal gives
   its reason's length, which may claim more than the reply holds; a
   demand for further authentication fills the reply. The text ends at
   the first zero byte, as a reason padded with zeros does. */
std::string ReadRefusal(const std::string &reply)
{
    size_t length = reply.size() - X_SETUP_PREFIX_SIZE;
    if (reply[0] == 0)
        length = std::min<size_t>(length, uint8_t(reply[1]));
    std::string reason = reply.substr(X_SETUP_PREFIX_SIZE, length);
    reason.resize(std::strlen(reason.c_str()));
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' '))
        reason.pop_back();
    return reason;
}

/* XCB opens its connection on a socket pair and reads there exactly the
   reply read and checked here, so it never reads past it; then the
   display's socket takes the pair's place under XCB, as XCB would have
   set it: not blocking, closed on exec. The reply is given only once XCB
   has sent its own opening (without authorisation: the pair needs none),
   as XCB takes whatever arrives while it sends for replies and events. */
xcb_connection_t *HandOver(int socket, const std::string &reply, std::string &why)
{
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        why = std::strerror(errno);
        close(socket);
        return nullptr;
    }
    std::thread answer([&reply, ours = pair[1]] {
        char opening[12];
        if (ReceiveAll(ours, opening, sizeof opening))
            SendAll(ours, reply);
    });
    xcb_connection_t *connection = xcb_connect_to_fd(pair[0], nullptr);
    /* Ends the answer's wait where XCB failed before its opening. */
    shutdown(pair[1], SHUT_RDWR);
    answer.join();
    close(pair[1]);
    int flags = fcntl(socket, F_GETFL);
    if (xcb_connection_has_error(connection) != 0 || flags < 0 ||
        fcntl(socket, F_SETFL, flags | O_NONBLOCK) != 0 ||
        dup3(socket, xcb_get_file_descriptor(connection), O_CLOEXEC) < 0) {
        why = "the X server's setup could not be handed to XCB";
        xcb_disconnect(connection);
        close(socket);
        return nullptr;
    }
    close(socket);
    return connection;
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
    bool sent = SendAll(socket, MakeSetupRequest(entry));
    if (entry != nullptr)
        XauDisposeAuth(entry);
    std::string reply;
    if (!sent || !ReadSetupReply(socket, reply)) {
        why = "the connection closed before the X server answered";
        close(socket);
        return nullptr;
    }
    XSetup setup;
    if (reply[0] != 1 || !ReadXSetup(reinterpret_cast<const uint8_t *>(reply.data()), reply.size(),
                                     address.screen, setup, why)) {
        if (reply[0] == 0 || reply[0] == 2)
            why = "the X server refused the connection: " + ReadRefusal(reply);
        else if (reply[0] != 1)
            why = "the connection closed before the X server answered";
        close(socket);
        return nullptr;
    }
    return HandOver(socket, reply, why);
}
