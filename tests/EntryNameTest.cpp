#include <string>

#include <gtest/gtest.h>

#include "../format/EntryName.h"
#include "support/Archives.h"
#include "support/Files.h"
#include "support/Program.h"
#include "support/TempDir.h"
#include <text/escape.h>

namespace
{

bool IsSafe(const std::string &name)
{
    std::string field = name;
    field.resize(256, '\0');
    return IsSafeEntryName(field.data(), field.size()) != 0;
}

std::string Escape(const std::string &text, int backslash = ESCAPE_BACKSLASH, size_t size = 256)
{
    std::string out(size, '\0');
    EscapeText(text.data(), text.size(), out.data(), out.size(), backslash);
    return out.c_str();
}

TEST(EntryName, RelativePathsAreSafe)
{
    for (const char *name :
         {"docs", "docs/readme", "a.b", "..a", "a..", ".hidden", "a/.b/c", "with space",
          "tab\there", "\xc3\xa9t\xc3\xa9", "List::Util.3perl.gz", "C:x", "x:", "a/b:c"})
        EXPECT_TRUE(IsSafe(name)) << name;
    EXPECT_TRUE(IsSafe(std::string(255, 'n')));
}

TEST(EntryName, NamesThatCouldLeaveTheDestinationAreUnsafe)
{
    for (const char *name : {"", "/", "/etc/passwd", "..", "../x", "a/../../x", "a/..", ".", "./a",
                             "a/./b", "a//b", "a/"})
        EXPECT_FALSE(IsSafe(name)) << name;
}

TEST(EntryName, FieldWithoutTerminatorIsUnsafeAndBytesAfterItAreIgnored)
{
    std::string full(256, 'a');
    EXPECT_FALSE(IsSafeEntryName(full.data(), full.size()));
    std::string trailing = std::string("ok") + '\0' + "/../:";
    trailing.resize(256, 'z');
    EXPECT_TRUE(IsSafeEntryName(trailing.data(), trailing.size()));
}

TEST(EntryName, EscapingKeepsTextButNeverTerminalControls)
{
    EXPECT_EQ(Escape("plain name.txt"), "plain name.txt");
    EXPECT_EQ(Escape("\x1b[31mred\x07"), "\\x1b[31mred\\x07");
    EXPECT_EQ(Escape("new\nline\x7f"), "new\\x0aline\\x7f");
    EXPECT_EQ(Escape("back\\slash"), "back\\\\slash");
    EXPECT_EQ(Escape("back\\slash", KEEP_BACKSLASH), "back\\slash");
    /* Well-formed UTF-8 stays; C1 controls, overlong forms, stray and cut
       sequences do not. */
    EXPECT_EQ(Escape("caf\xc3\xa9 \xe2\x82\xac"), "caf\xc3\xa9 \xe2\x82\xac");
    EXPECT_EQ(Escape("\xc2\x9b"
                     "2J"),
              "\\xc2\\x9b2J");
    EXPECT_EQ(Escape("\xc0\xaf"), "\\xc0\\xaf");
    EXPECT_EQ(Escape("\xa9x"), "\\xa9x");
    EXPECT_EQ(Escape("\xe2\x82"), "\\xe2\\x82");
    /* Characters that reorder or hide the text around them. */
    EXPECT_EQ(Escape("bin/\u202Eexe.txt"), "bin/\\xe2\\x80\\xaeexe.txt");
    EXPECT_EQ(Escape("\u200b\u2069\ufeff\u2010"),
              "\\xe2\\x80\\x8b\\xe2\\x81\\xa9\\xef\\xbb\\xbf\u2010");
}

TEST(EntryName, EscapingStopsAtTheFieldAndFitsTheBuffer)
{
    std::string out(8, '#');
    EscapeText("abc\x01zzzz", 4, out.data(), out.size(), ESCAPE_BACKSLASH);
    EXPECT_STREQ(out.c_str(), "abc\\x01");
    /* Too little room for the whole escape: it is left out, not cut. */
    EXPECT_EQ(Escape("abcdef\x01", ESCAPE_BACKSLASH, 9), "abcdef");
}

TEST(EntryName, UnsafeEntryStopsTheRunBeforeAnythingIsCreated)
{
    /* As files and as directories; an entry of another type never reaches
       the file system and is passed over, whatever its name. */
    const std::pair<std::string, std::string> cases[] = {
        {"../escape", "Unsafe entry name \"../escape\"\n"},
        {"/tmp/absolute", "Unsafe entry name \"/tmp/absolute\"\n"},
        {"", "Unsafe entry name \"\"\n"},
        {"docs/.", "Unsafe entry name \"docs/.\"\n"},
        {"back\\slash/..", "Unsafe entry name \"back\\\\slash/..\"\n"},
        {"bad\x1b]0;title\x07/..", "Unsafe entry name \"bad\\x1b]0;title\\x07/..\"\n"},
        {std::string(256, 'n'), "Unsafe entry name \"" + std::string(256, 'n') + "\"\n"},
    };
    for (const auto &[name, message] : cases) {
        for (uint16_t type : {0, 1}) {
            TempDir dir;
            mkdir((dir / "out").c_str(), 0777);
            std::string stream =
                StreamBuilder().Directory("docs").File("docs/readme", "hello").Bytes();
            stream += StreamBuilder().Entry(name, 0, type).Bytes().substr(8);
            WriteArchive(dir / "pkg.gz", stream);
            RunResult result = RunVelorin({"-archive", dir / "pkg.gz", "-dest", dir / "out"});
            EXPECT_EQ(result.exitCode, 0);
            EXPECT_EQ(result.err, message);
            EXPECT_TRUE(SnapshotTree(dir / "out").empty());
        }
    }
}

TEST(EntryName, ControlBytesInNamesNeverReachTheTerminal)
{
    /* A file with control bytes in its name is unpacked as it is named; an
       error line shows a name of 255 bytes, every tenth a control byte,
       escaped and whole. */
    TempDir dir;
    mkdir((dir / "out").c_str(), 0777);
    std::string odd = "odd\x1b[2Jname\x9b", missing = "missing/";
    while (missing.size() < 255)
        missing.push_back(missing.size() % 10 == 0 ? '\x1b' : 'n');
    WriteArchive(dir / "pkg.gz", StreamBuilder().File(odd, "fine").File(missing, "x").Bytes());
    RunResult result = RunVelorin({"-archive", dir / "pkg.gz", "-dest", dir / "out"});
    EXPECT_EQ(result.exitCode, 0);
    std::string shown;
    for (char c : missing)
        shown += c == '\x1b' ? std::string("\\x1b") : std::string(1, c);
    EXPECT_EQ(result.err, "Unable to create file " + shown + ": No such file or directory\n");
    EXPECT_EQ(ReadFile(dir / ("out/" + odd)), "fine");
}

} // namespace
