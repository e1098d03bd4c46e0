// Feeds arbitrary bytes as a gzip member to the stream layer's own inflater
// (GzipMember), in input pieces and output requests of sizes the input
// chooses, and to zlib's inflate all at once, and checks that both deliver
// the same bytes and end the same way: the member's end after the same
// input, the same fault with zlib's message, or input that runs out. The
// rest follows gzip's magic bytes, or with the first byte's low bit set a
// whole plain gzip header, so that most inputs reach the deflate data.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include <zlib.h>

#include "../platform/stream/GzipMember.h"

namespace
{

/* More than this is not compared: a small input may inflate a thousandfold. */
constexpr size_t OUTPUT_LIMIT = 4u << 20;

enum class Ending { MemberEnd, Fault, OutOfInput, Limit };

struct Outcome {
    std::string bytes;
    Ending ending = Ending::OutOfInput;
    std::string message;
    size_t consumed = 0; /* the input taken, at the member's end */
};

[[noreturn]] void Report(const char *finding, const Outcome &zlib, const Outcome &ours)
{
    fprintf(
        stderr,
        "FINDING: %s\nzlib: %d \"%s\" %zu bytes, %zu taken\nours: %d \"%s\" %zu bytes, %zu taken\n",
        finding, int(zlib.ending), zlib.message.c_str(), zlib.bytes.size(), zlib.consumed,
        int(ours.ending), ours.message.c_str(), ours.bytes.size(), ours.consumed);
    abort();
}

Outcome InflateWithZlib(const std::string &member)
{
    Outcome outcome;
    z_stream stream{};
    if (inflateInit2(&stream, 15 + 16) != Z_OK)
        abort();
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(member.data()));
    stream.avail_in = uInt(member.size());
    std::string buffer(65536, '\0');
    for (;;) {
        stream.next_out = reinterpret_cast<Bytef *>(buffer.data());
        stream.avail_out = uInt(buffer.size());
        int result = inflate(&stream, Z_NO_FLUSH);
        outcome.bytes.append(buffer.data(), buffer.size() - stream.avail_out);
        if (result == Z_STREAM_END) {
            outcome.ending = Ending::MemberEnd;
            outcome.consumed = member.size() - stream.avail_in;
            break;
        }
        if (result == Z_DATA_ERROR) {
            outcome.ending = Ending::Fault;
            outcome.message = stream.msg;
            break;
        }
        if (outcome.bytes.size() >= OUTPUT_LIMIT) {
            outcome.ending = Ending::Limit;
            break;
        }
        if (stream.avail_in == 0 && stream.avail_out != 0)
            break;
        if (result != Z_OK && result != Z_BUF_ERROR)
            abort();
    }
    inflateEnd(&stream);
    return outcome;
}

/* Input pieces and output requests from one byte to many thousands. */
unsigned NextSize(std::minstd_rand &random)
{
    unsigned kind = random() % 8;
    if (kind < 4)
        return 1 + random() % 8;
    if (kind < 7)
        return 1 + random() % 600;
    return 1 + random() % 300000;
}

Outcome InflateWithOurs(const std::string &member, uint32_t seed)
{
    Outcome outcome;
    std::minstd_rand random(seed);
    GzipMember inflater;
    inflater.Begin();
    size_t given = 0;
    const unsigned char *next = reinterpret_cast<const unsigned char *>(member.data());
    unsigned available = 0;
    std::string buffer;
    while (outcome.bytes.size() < OUTPUT_LIMIT) {
        if (available == 0 && given < member.size()) {
            unsigned piece = NextSize(random);
            available = piece < member.size() - given ? piece : unsigned(member.size() - given);
            next = reinterpret_cast<const unsigned char *>(member.data()) + given;
            given += available;
        }
        buffer.resize(NextSize(random));
        unsigned produced = 0;
        GzipMember::Step step =
            inflater.Inflate(next, available, reinterpret_cast<unsigned char *>(buffer.data()),
                             unsigned(buffer.size()), &produced);
        outcome.bytes.append(buffer.data(), produced);
        if (step == GzipMember::Step::MemberEnd) {
            outcome.ending = Ending::MemberEnd;
            outcome.consumed = given - available;
            return outcome;
        }
        if (step == GzipMember::Step::Failed) {
            outcome.ending = Ending::Fault;
            outcome.message = inflater.Error();
            return outcome;
        }
        if (step == GzipMember::Step::NeedInput && available != 0)
            Report("the inflater asks for input with input left", outcome, outcome);
        if (step == GzipMember::Step::NeedInput && given == member.size())
            return outcome;
        if (step == GzipMember::Step::More && produced != buffer.size())
            Report("the inflater stops short of a full request", outcome, outcome);
    }
    outcome.ending = Ending::Limit;
    return outcome;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    /* The stream layer begins a member only at gzip's magic bytes. */
    std::string member =
        (data[0] & 1) ? std::string("\x1f\x8b\x08\0\0\0\0\0\0\x03", 10) : "\x1f\x8b";
    member.append(reinterpret_cast<const char *>(data + 3), size - 3);
    uint32_t seed = (uint32_t(data[1]) | uint32_t(data[2]) << 8) + 1;
    Outcome zlib = InflateWithZlib(member);
    Outcome ours = InflateWithOurs(member, seed);
    size_t common = zlib.bytes.size() < ours.bytes.size() ? zlib.bytes.size() : ours.bytes.size();
    if (memcmp(zlib.bytes.data(), ours.bytes.data(), common) != 0)
        Report("different bytes", zlib, ours);
    if (zlib.ending == Ending::Limit || ours.ending == Ending::Limit)
        return 0;
    if (zlib.bytes.size() != ours.bytes.size() || zlib.ending != ours.ending)
        Report("a different end", zlib, ours);
    if (zlib.message != ours.message)
        Report("a different fault", zlib, ours);
    if (zlib.consumed != ours.consumed)
        Report("the member ends elsewhere", zlib, ours);
    return 0;
}
