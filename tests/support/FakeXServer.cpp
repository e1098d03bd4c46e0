#include "FakeXServer.h"

#include <cstdint>
#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

XBytes &XBytes::Byte(unsigned value)
{
    bytes += char(value);
    return *this;
}

XBytes &XBytes::Card16(unsigned value)
{
    uint16_t field = uint16_t(value);
    bytes.append(reinterpret_cast<const char *>(&field), 2);
    return *this;
}

XBytes &XBytes::Card32(unsigned value)
{
    uint32_t field = value;
    bytes.append(reinterpret_cast<const char *>(&field), 4);
    return *this;
}

XBytes &XBytes::Pad(size_t count)
{
    bytes.append(count, '\0');
    return *this;
}

namespace
{

bool ReadExactly(int socket, char *into, size_t length)
{
    while (length > 0) {
        ssize_t got = read(socket, into, length);
        if (got <= 0)
            return false;
        into += got;
        length -= size_t(got);
    }
    return true;
}

void WriteAll(int socket, const std::string &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t put = send(socket, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (put <= 0)
            return;
        done += size_t(put);
    }
}

/* A 32-byte reply to request number sequence, with its second byte and
   the words from byte 8 on. */
std::string MakeReply(unsigned sequence, unsigned detail, unsigned word8 = 0)
{
    return XBytes().Byte(1).Byte(detail).Card16(sequence).Card32(0).Card32(word8).Pad(20).bytes;
}

} // namespace

FakeXServer::FakeXServer(const std::string &setupReply, const std::string &propertyReply)
    : setupReply_(setupReply), propertyReply_(propertyReply)
{
    /* Display numbers far above those the tests' real servers take. */
    for (unsigned number = 600; number < 800 && listener_ < 0; number++) {
        std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path + 1, path.data(), path.size());
        int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        socklen_t length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + path.size());
        if (bind(listener, reinterpret_cast<sockaddr *>(&address), length) == 0 &&
            listen(listener, 4) == 0) {
            listener_ = listener;
            name_ = path.substr(path.rfind('X') + 1).insert(0, 1, ':');
        } else {
            close(listener);
        }
    }
    if (listener_ >= 0)
        thread_ = std::thread(&FakeXServer::Serve, this);
}

FakeXServer::~FakeXServer()
{
    if (listener_ < 0)
        return;
    shutdown(listener_, SHUT_RDWR);
    thread_.join();
    close(listener_);
}

void FakeXServer::Serve()
{
    for (;;) {
        int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            return;
        Answer(client);
        close(client);
    }
}

void FakeXServer::Answer(int client)
{
    /* The client's setup: byte order, version, then the authorisation's
       name and data, each padded to four bytes. */
    char setup[12];
    if (!ReadExactly(client, setup, sizeof setup))
        return;
    uint16_t nameLength, dataLength;
    std::memcpy(&nameLength, setup + 6, 2);
    std::memcpy(&dataLength, setup + 8, 2);
    std::string authorisation((nameLength + 3) / 4 * 4 + (dataLength + 3) / 4 * 4, '\0');
    if (!ReadExactly(client, authorisation.data(), authorisation.size()))
        return;
    WriteAll(client, setupReply_);
    for (unsigned sequence = 1;; sequence++) {
        char header[4];
        if (!ReadExactly(client, header, sizeof header))
            return;
        uint16_t words;
        std::memcpy(&words, header + 2, 2);
        std::string rest(words > 0 ? size_t(words) * 4 - 4 : 0, '\0');
        if (!ReadExactly(client, rest.data(), rest.size()))
            return;
        switch (uint8_t(header[0])) {
        case 16: /* InternAtom: each name its own atom */
            WriteAll(client, MakeReply(sequence, 0, 100 + sequence));
            break;
        case 20: /* GetProperty */
            if (propertyReply_.size() >= 4) {
                std::string reply = propertyReply_;
                uint16_t number = uint16_t(sequence);
                std::memcpy(reply.data() + 2, &number, 2);
                WriteAll(client, reply);
            } else {
                WriteAll(client, MakeReply(sequence, 0));
            }
            break;
        case 43:  /* GetInputFocus */
        case 98:  /* QueryExtension: none is there */
        case 101: /* GetKeyboardMapping: no keys */
            WriteAll(client, MakeReply(sequence, 0));
            break;
        default:
            break;
        }
    }
}
