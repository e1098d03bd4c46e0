#include <cstdio>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <proto/dos.h>
#include <proto/newlib.h>

#include "../platform/host/HostControls.h"
#include "../platform/system/HeldDestination.h"
#include "../platform/system/HostLibraries.h"
#include "support/Files.h"
#include "support/TempDir.h"

namespace
{

TEST(Dos, CreateDirReportsAnExistingNameWhateverItIs)
{
    TempDir dir;
    unsigned held = CountHeldLocks();
    BPTR lock = IDOS->CreateDir((dir / "new").c_str());
    ASSERT_NE(lock, 0);
    EXPECT_EQ(CountHeldLocks(), held + 1);
    IDOS->UnLock(lock);
    EXPECT_EQ(CountHeldLocks(), held);

    WriteFile(dir / "file", "x");
    ASSERT_EQ(symlink("nowhere", (dir / "dangling").c_str()), 0);
    for (const char *name : {"new", "file", "dangling"}) {
        EXPECT_EQ(IDOS->CreateDir((dir / name).c_str()), 0) << name;
        EXPECT_EQ(IDOS->IoErr(), ERROR_OBJECT_EXISTS) << name;
    }
}

/* A directory created and held (an installer's -target) stays the destination after its name
   has come to name something else; Info tells of its file system. */
TEST(Dos, HeldDestinationIsTheDirectoryHeldWhateverItsNameNamesNow)
{
    TempDir dir;
    mkdir((dir / "made").c_str(), 0755);
    mkdir((dir / "elsewhere").c_str(), 0755);
    HoldDestination((dir / "made").c_str(), open((dir / "made").c_str(), O_PATH | O_DIRECTORY));
    ASSERT_EQ(rename((dir / "made").c_str(), (dir / "moved").c_str()), 0);
    ASSERT_EQ(symlink("elsewhere", (dir / "made").c_str()), 0);
    BPTR lock = IDOS->Lock((dir / "made").c_str(), SHARED_LOCK);
    ASSERT_NE(lock, 0);
    BPTR created = IDOS->CreateDir((dir / "made/inside").c_str());
    EXPECT_NE(created, 0);
    IDOS->UnLock(created);
    EXPECT_EQ(access((dir / "moved/inside").c_str(), F_OK), 0);
    EXPECT_TRUE(SnapshotTree(dir / "elsewhere").empty());

    struct InfoData info;
    ASSERT_EQ(IDOS->Info(lock, &info), DOSTRUE);
    EXPECT_GT(info.id_BytesPerBlock, 0);
    EXPECT_LE(info.id_NumBlocksUsed, info.id_NumBlocks);
    EXPECT_LE(info.id_NumFileNodesUsed, info.id_NumFileNodes);
    IDOS->UnLock(lock);
    HoldDestination("", -1);
}

TEST(Dos, NamesBelowAHeldLockNeverPassThroughALink)
{
    /* With openat2, and a component at a time as without it. */
    for (const char *resolution : {"", "openat2"}) {
        SCOPED_TRACE(resolution);
        GetHostControls().failingCalls = resolution;
        TempDir dir;
        mkdir((dir / "dest").c_str(), 0777);
        mkdir((dir / "dest/real").c_str(), 0777);
        mkdir((dir / "outside").c_str(), 0777);
        ASSERT_EQ(symlink("../outside", (dir / "dest/link").c_str()), 0);
        ASSERT_EQ(symlink("../outside/file", (dir / "dest/filelink").c_str()), 0);
        BPTR destination = IDOS->Lock((dir / "dest").c_str(), SHARED_LOCK);
        ASSERT_NE(destination, 0);
        const std::pair<const char *, LONG> names[] = {
            {"link", ERROR_IS_SOFT_LINK},
            {"link/x", ERROR_IS_SOFT_LINK},
            {"filelink", ERROR_IS_SOFT_LINK},
            {"real/../link/x", ERROR_INVALID_COMPONENT_NAME}};
        for (const auto &[name, error] : names) {
            SCOPED_TRACE(name);
            std::string path = dir / "dest/" + name;
            EXPECT_EQ(IDOS->Lock(path.c_str(), SHARED_LOCK), 0);
            EXPECT_EQ(IDOS->IoErr(), error);
            EXPECT_EQ(INewlib->fopen(path.c_str(), "w"), nullptr);
        }
        EXPECT_EQ(IDOS->CreateDir((dir / "dest/link/new").c_str()), 0);
        EXPECT_EQ(IDOS->IoErr(), ERROR_IS_SOFT_LINK);
        /* The same names are followed where no lock is held above them. */
        IDOS->UnLock(destination);
        BPTR followed = IDOS->Lock((dir / "dest/link").c_str(), SHARED_LOCK);
        EXPECT_NE(followed, 0);
        IDOS->UnLock(followed);
        EXPECT_TRUE(SnapshotTree(dir / "outside").empty());
    }
    GetHostControls().failingCalls = nullptr;
}

} // namespace
