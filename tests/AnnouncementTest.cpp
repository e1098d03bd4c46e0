#include <cstdlib>
#include <string>
#include <vector>

#include <sys/stat.h>

#include <proto/dos.h>

#include "../archive/archive.h"
#include "support/Archives.h"
#include "support/Files.h"
#include "support/ModelWindow.h"
#include "support/TempDir.h"

namespace
{

/* The message line names every entry as it comes, in both passes,
   whatever its type; an entry that is passed over is named and nothing
   more. The passes run in this process, entry by entry, with the window in
   the platform's model. */
class Announcement : public StandardWindowTest
{
  protected:
    /* The message line after each entry of one pass over the stream. */
    std::vector<std::string> RunPass(const std::string &stream, int sizing)
    {
        WriteArchive(dir_ / "pkg.gz", stream);
        mkdir((dir_ / "out").c_str(), 0777);
        std::vector<std::string> lines;
        if (OpenArchive((dir_ / "pkg.gz").c_str()) != 0) {
            ADD_FAILURE() << "the archive does not open";
            return lines;
        }
        Buffer = static_cast<uint8_t *>(std::malloc(BUFFER_SIZE));
        fakeit = sizing;
        totalfilesize = 100;
        bytescount = 0;
        BPTR lock = IDOS->Lock((dir_ / "out").c_str(), SHARED_LOCK);
        std::string prefix = dir_ / "out/";
        prefix.copy(thefile, sizeof thefile - 1);
        thefile[prefix.size()] = '\0';
        int result;
        while ((result = UnpackFile(archive)) == ENTRY_DONE)
            lines.push_back(Model().laidOutText);
        EXPECT_EQ(result, ARCHIVE_ENDED);
        IDOS->UnLock(lock);
        CloseArchive();
        std::free(Buffer);
        Buffer = nullptr;
        return lines;
    }

    TempDir dir_;
    const std::string stream_ = StreamBuilder()
                                    .Directory("docs")
                                    .File("docs/readme", "hello")
                                    .Entry("", 0, 2)
                                    .Entry("odd\x1b[2J", 0, 9)
                                    .Entry(std::string(256, 'n'), 0, 3)
                                    .File("last", "")
                                    .Bytes();
};

TEST_F(Announcement, SizingPassPreparesEveryEntryAndCreatesNothing)
{
    EXPECT_EQ(RunPass(stream_, 1),
              (std::vector<std::string>{"Preparing docs", "Preparing docs/readme", "Preparing ",
                                        "Preparing odd\x1b[2J",
                                        "Preparing " + std::string(256, 'n'), "Preparing last"}));
    EXPECT_TRUE(SnapshotTree(dir_ / "out").empty());
}

TEST_F(Announcement, WritingPassNamesEveryEntryAndPassesOverTheOthers)
{
    EXPECT_EQ(RunPass(stream_, 0),
              (std::vector<std::string>{"docs", "docs/readme", "", "odd\x1b[2J",
                                        std::string(256, 'n'), "last"}));
    EXPECT_EQ(SnapshotTree(dir_ / "out"),
              (TreeSnapshot{{"docs", "dir"}, {"docs/readme", "file:hello"}, {"last", "file:"}}));
}

} // namespace
