#ifndef TESTS_SUPPORT_FAKE_X_SERVER_H
#define TESTS_SUPPORT_FAKE_X_SERVER_H

#include <string>
#include <thread>

/* Something that answers at a display's abstract socket as an X server
   would, with whatever it is told to say: the setup reply given, then, for
   a client that goes on, replies to the questions a window's set-up asks
   (atoms, the keyboard, a property, the input focus, an extension), the
   property's reply as given. Requests that need no reply are taken and
   dropped. One client at a time, on a display number of its own. */
class FakeXServer
{
  public:
    /* A reply holds its whole bytes, in this machine's byte order, which
       the client asks for. */
    FakeXServer(const std::string &setupReply, const std::string &propertyReply = "");
    FakeXServer(const FakeXServer &) = delete;
    FakeXServer &operator=(const FakeXServer &) = delete;
    ~FakeXServer();

    bool IsListening() const { return listener_ >= 0; }
    /* ":N", for DISPLAY. */
    const std::string &Name() const { return name_; }

  private:
    void Serve();
    void Answer(int client);

    std::string setupReply_;
    std::string propertyReply_;
    int listener_ = -1;
    std::string name_;
    std::thread thread_;
};

/* Builds an X reply or request field by field, in this machine's byte
   order. */
struct XBytes {
    std::string bytes;
    XBytes &Byte(unsigned value);
    XBytes &Card16(unsigned value);
    XBytes &Card32(unsigned value);
    XBytes &Pad(size_t count);
};

#endif
