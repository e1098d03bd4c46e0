#include <cstdio>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <proto/dos.h>
#include <proto/exec.h>
#include <proto/newlib.h>

#include "../platform/host/HostControls.h"
#include "../platform/system/HostLibraries.h"
#include "support/Files.h"
#include "support/TempDir.h"

namespace {

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

TEST(Dos, CreateDirMapsOtherFailures)
{
    TempDir dir;
    WriteFile(dir / "file", "x");
    EXPECT_EQ(IDOS->CreateDir((dir / "missing/child").c_str()), 0);
    EXPECT_EQ(IDOS->IoErr(), ERROR_OBJECT_NOT_FOUND);
    EXPECT_EQ(IDOS->CreateDir((dir / "file/child").c_str()), 0);
    EXPECT_EQ(IDOS->IoErr(), ERROR_OBJECT_WRONG_TYPE);
    EXPECT_EQ(IDOS->CreateDir((dir / std::string(300, 'n')).c_str()), 0);
    EXPECT_EQ(IDOS->IoErr(), ERROR_INVALID_COMPONENT_NAME);
}

TEST(Dos, LockFindsOnlyExistingObjects)
{
    TempDir dir;
    WriteFile(dir / "file", "x");
    for (const std::string &name : {dir.Path(), dir / "file"}) {
        BPTR lock = IDOS->Lock(name.c_str(), SHARED_LOCK);
        EXPECT_NE(lock, 0) << name;
        IDOS->UnLock(lock);
    }
    EXPECT_EQ(IDOS->Lock((dir / "absent").c_str(), SHARED_LOCK), 0);
    EXPECT_EQ(IDOS->IoErr(), ERROR_OBJECT_NOT_FOUND);
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
        const std::pair<const char *, LONG> names[] = {{"link", ERROR_IS_SOFT_LINK},
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

TEST(Dos, ExistingFileBelowAHeldLockKeepsItsPermissions)
{
    TempDir dir;
    WriteFile(dir / "file", "a longer earlier content");
    chmod((dir / "file").c_str(), 0640);
    BPTR destination = IDOS->Lock(dir.Path().c_str(), SHARED_LOCK);
    FILE *file = INewlib->fopen((dir / "file").c_str(), "w");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(INewlib->fwrite("new", 3, 1, file), 1u);
    EXPECT_EQ(INewlib->fclose(file), 0);
    IDOS->UnLock(destination);
    struct stat status;
    ASSERT_EQ(stat((dir / "file").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u);
    EXPECT_EQ(ReadFile(dir / "file"), "new");
}

TEST(Exec, OpenLibraryHonoursNameAndVersionAndCounts)
{
    EXPECT_EQ(IExec->OpenLibrary("nonexistent.library", 0), nullptr);
    EXPECT_EQ(IExec->OpenLibrary("dos.library", 54), nullptr);
    struct Library *dos = IExec->OpenLibrary("dos.library", 53);
    ASSERT_NE(dos, nullptr);
    UWORD opens = dos->lib_OpenCnt;
    struct Library *again = IExec->OpenLibrary("dos.library", 36);
    EXPECT_EQ(again, dos);
    EXPECT_EQ(dos->lib_OpenCnt, opens + 1);
    EXPECT_EQ(IExec->GetInterface(dos, "other", 1, nullptr), nullptr);
    EXPECT_EQ(IExec->GetInterface(dos, "main", 2, nullptr), nullptr);
    struct Interface *iface = IExec->GetInterface(dos, "main", 1, nullptr);
    EXPECT_EQ(iface, static_cast<struct Interface *>(IDOS));
    IExec->DropInterface(iface);
    IExec->CloseLibrary(again);
    IExec->CloseLibrary(dos);
    EXPECT_EQ(dos->lib_OpenCnt, opens - 1);
}

}  // namespace
