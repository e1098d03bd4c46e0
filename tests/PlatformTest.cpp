#include <cstdio>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <proto/dos.h>
#include <proto/exec.h>

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
