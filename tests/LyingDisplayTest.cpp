#include <string>
#include <vector>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "support/Archives.h"
#include "support/FakeXServer.h"
#include "support/Files.h"
#include "support/LiveTools.h"
#include "support/Program.h"
#include "support/TempDir.h"

namespace
{

/* What a setup reply claims to hold, against the one pixmap format, screen,
   depth and visual that it does hold. */
struct Claims {
    unsigned vendorLength = 4;
    unsigned formats = 1;
    unsigned screens = 1;
    unsigned depths = 1;
    unsigned visuals = 1;
    unsigned width = 1024, height = 768;
    /* The reply's bytes kept, its length set to match; 0 for all. */
    size_t kept = 0;
};

/* A setup reply as Xvfb's in shape: one screen of 24-bit true colour in
   32-bit pixels. */
std::string MakeSetupReply(const Claims &claims)
{
    XBytes body;
    body.Card32(0).Card32(0x00200000).Card32(0x001FFFFF).Card32(256);
    body.Card16(claims.vendorLength).Card16(65535).Byte(claims.screens).Byte(claims.formats);
    body.Byte(0).Byte(0).Byte(32).Byte(32).Byte(8).Byte(255).Pad(4);
    body.bytes += "Fake";
    body.Byte(24).Byte(32).Byte(32).Pad(5);
    body.Card32(0x100).Card32(0x20).Card32(0xFFFFFF).Card32(0).Card32(0);
    body.Card16(claims.width).Card16(claims.height).Card16(270).Card16(203).Card16(1).Card16(1);
    body.Card32(0x21).Byte(0).Byte(0).Byte(24).Byte(claims.depths);
    body.Byte(24).Byte(0).Card16(claims.visuals).Pad(4);
    body.Card32(0x21).Byte(4).Byte(8).Card16(256);
    body.Card32(0xFF0000).Card32(0xFF00).Card32(0xFF).Pad(4);
    size_t size = claims.kept != 0 ? claims.kept - 8 : body.bytes.size();
    body.bytes.resize(size);
    return XBytes().Byte(1).Byte(0).Card16(11).Card16(0).Card16(size / 4).bytes + body.bytes;
}

class LyingDisplay : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        WriteArchive(dir_ / "pkg.gz", StreamBuilder().Directory("d").File("d/f", data_).Bytes());
    }

    /* Unpacks as for a person, with standard error not a terminal, on the
       fake server's display: everything is unpacked, as by any run. */
    RunResult Unpack(const FakeXServer &server, const std::vector<std::string> &limit = {})
    {
        std::string out = dir_ / ("out" + std::to_string(++runs_));
        mkdir(out.c_str(), 0777);
        RunOptions options;
        options.environment["VELORIN_HOST_PRESENTATION"] = "";
        options.environment["DISPLAY"] = server.Name();
        options.environment["XAUTHORITY"] = dir_ / "no-authority";
        AddVelorinControls(options, dir_ / "balance");
        std::vector<std::string> command = limit;
        command.insert(command.end(), {VELORIN_BINARY, "-archive", dir_ / "pkg.gz", "-dest", out});
        RunResult result =
            RunProgram(command.front(), {command.begin() + 1, command.end()}, options);
        EXPECT_EQ(result.exitCode, 1) << result.err;
        EXPECT_TRUE(ReadFile(out + "/d/f") == data_);
        ExpectBalanced(ReadFile(dir_ / "balance"));
        return result;
    }

    TempDir dir_;
    int runs_ = 0;
    std::string data_ = MakeData(200000, 7);
};

TEST_F(LyingDisplay, InconsistentSetupIsSaidInOneLineAndTheRunGoesOnWithoutTheWindow)
{
    const struct {
        Claims claims;
        const char *why;
    } lies[] = {
        {{.depths = 255, .visuals = 65535, .kept = 100},
         "a depth's visuals run past its 100 bytes"},
        {{.depths = 2}, "a screen's depths run past its 124 bytes"},
        {{.formats = 200}, "the pixmap formats run past its 124 bytes"},
        {{.vendorLength = 60000}, "the vendor's name runs past its 124 bytes"},
        {{.screens = 3}, "a screen runs past its 124 bytes"},
        {{.kept = 80}, "a screen runs past its 80 bytes"},
        {{.kept = 12}, "its fixed part runs past its 12 bytes"},
    };
    for (const auto &[claims, why] : lies) {
        SCOPED_TRACE(why);
        FakeXServer server(MakeSetupReply(claims));
        ASSERT_TRUE(server.IsListening());
        EXPECT_EQ(Unpack(server).err, "No window on the display \"" + server.Name() +
                                          "\": the X server's setup is inconsistent: " + why +
                                          "; unpacking goes on without a window\n");
    }
}

/* A refusal whose reason claims 255 bytes in a reply of 8: the reason is
   what the reply holds, nothing past it, and the line says how the run
   goes on. */
TEST_F(LyingDisplay, RefusalReasonIsReadNoFurtherThanItsReply)
{
    std::string refusal = XBytes().Byte(0).Byte(255).Card16(11).Card16(0).Card16(2).bytes;
    refusal += "No entry";
    FakeXServer server(refusal);
    ASSERT_TRUE(server.IsListening());
    EXPECT_EQ(Unpack(server).err,
              "No window on the display \"" + server.Name() +
                  "\": the X server refused the connection: No entry; unpacking "
                  "goes on without a window\n");
}

/* A consistent setup shows the window; a property whose value is longer
   than its reply is not read past the reply (which the sanitized build
   would catch). */
TEST_F(LyingDisplay, PropertyLongerThanItsReplyIsNotRead)
{
    std::string workArea = XBytes()
                               .Byte(1)
                               .Byte(32)
                               .Card16(0)
                               .Card32(0) /* no words after the reply's 32 bytes */
                               .Card32(6) /* CARDINAL */
                               .Card32(0)
                               .Card32(4) /* four values, all missing */
                               .Pad(12)
                               .bytes;
    FakeXServer server(MakeSetupReply({}), workArea);
    ASSERT_TRUE(server.IsListening());
    EXPECT_EQ(Unpack(server).err, "");
}

/* The vastest screen a server can claim shows the window in the memory
   that an 8K screen's takes. */
TEST_F(LyingDisplay, VastScreenNeedsNoVastWindow)
{
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "the sanitizers reserve more address space than the limit";
#endif
    FakeXServer server(MakeSetupReply({.width = 65535, .height = 65535}));
    ASSERT_TRUE(server.IsListening());
    EXPECT_EQ(Unpack(server, {FindTool("prlimit"), "--as=1000000000"}).err, "");
}

} // namespace
