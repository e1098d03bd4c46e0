#include "../host/HostControls.h"
#include "../text/HostReason.h"
#include "Beneath.h"
#include "HostLibraries.h"
#include "HostProtection.h"
#include "RunEnding.h"
#include "RunTally.h"
#include "WindowHooks.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

struct NewlibIFace hostNewlibInterface;

RunTally &GetRunTally()
{
    static RunTally tally;
    return tally;
}

namespace
{

std::atomic<RunEnding> runEnding{nullptr};

/* The ending runs once: whichever end of the run comes first takes it. */
int PassThroughEnding(int code, bool atOnce)
{
    AnnounceRunEnd(code);
    RunEnding ending = runEnding.exchange(nullptr);
    return ending != nullptr ? ending(code, atOnce) : code;
}

/* A file created below a held lock, open for writing: the stream writes
   straight to its descriptor, and SetProtection finds it by its name. */
struct CreatedFile {
    int descriptor;
    std::string name;
    mode_t mode;
};

std::vector<CreatedFile *> createdFiles;

ssize_t WriteCreated(void *cookie, const char *data, size_t size)
{
    int descriptor = static_cast<CreatedFile *>(cookie)->descriptor;
    size_t done = 0;
    while (done < size) {
        ssize_t count = write(descriptor, data + done, size - done);
        if (count < 0 && errno == EINTR)
            continue;
        /* Fewer bytes than asked for, never a negative count, is how a
           stream learns of the failure; errno says why. */
        if (count <= 0)
            break;
        done += size_t(count);
    }
    GetRunTally().bytes += done;
    return ssize_t(done);
}

int CloseCreated(void *cookie)
{
    CreatedFile *file = static_cast<CreatedFile *>(cookie);
    int result = close(file->descriptor);
    std::erase(createdFiles, file);
    delete file;
    return result;
}

/* Takes the name for a new file below parent, which this process then
   alone has: created exclusively, so it has no other name and belongs to
   the user running the program. A regular file already there is removed
   first, never opened, so that nothing reaches its other names or keeps its
   owner; anything else in the way is looked at without being opened and
   left as it is. -1 with errno set: ELOOP for a symbolic link, ENXIO for an
   object that is not a regular file or a directory. */
int CreateReplacing(int parent, const char *last)
{
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY;
    int descriptor = OpenLastBeneath(parent, last, flags, 0666);
    if (descriptor >= 0 || errno != EEXIST)
        return descriptor;
    /* Gone again meanwhile: the name is free. */
    struct stat status;
    if (fstatat(parent, last, &status, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT)
            return -1;
    } else if (!S_ISREG(status.st_mode)) {
        errno = S_ISLNK(status.st_mode) ? ELOOP : S_ISDIR(status.st_mode) ? EISDIR : ENXIO;
        return -1;
    } else if (unlinkat(parent, last, 0) != 0 && errno != ENOENT) {
        return -1;
    }
    /* Taken again meanwhile: another program is writing here too, and the
       entry fails with EEXIST. */
    return OpenLastBeneath(parent, last, flags, 0666);
}

/* Below a held lock, files are only made and written: "w" or "wb". */
bool IsCreatingMode(const char *mode)
{
    return mode[0] == 'w' && std::strchr(mode, '+') == nullptr;
}

FILE *StreamOnCreated(int descriptor, CONST_STRPTR name)
{
    CreatedFile *file =
        new (std::nothrow) CreatedFile{descriptor, name, mode_t(0666 & ~CurrentUmask())};
    cookie_io_functions_t functions = {nullptr, WriteCreated, nullptr, CloseCreated};
    FILE *stream = file != nullptr ? fopencookie(file, "w", functions) : nullptr;
    if (stream == nullptr) {
        RecordHostReason(ENOMEM);
        close(descriptor);
        delete file;
        return nullptr;
    }
    createdFiles.push_back(file);
    GetRunTally().files++;
    RecordHostReason(0);
    return stream;
}

} // namespace

int FindCreatedFile(CONST_STRPTR name, mode_t **mode)
{
    for (CreatedFile *file : createdFiles) {
        if (file->name != name)
            continue;
        if (mode != nullptr)
            *mode = &file->mode;
        return file->descriptor;
    }
    return -1;
}

/* The runtime's abort ends the process through the ordinary exit path, so the
   start-up still closes every library it opened, and with a return code the
   calling script can test rather than a signal and a core dump. */
void NewlibIFace::abort()
{
    exit(NEWLIB_ABORT_RETURN_CODE);
}

void SetRunEnding(RunEnding ending)
{
    runEnding = ending;
}

void NewlibIFace::exit(int code)
{
    std::exit(PassThroughEnding(code, false));
}

void NewlibIFace::_exit(int code)
{
    ::_exit(PassThroughEnding(code, true));
}

FILE *NewlibIFace::fopen(const char *name, const char *mode)
{
    int root;
    std::string below;
    if (!FindLockAbove(name, root, below)) {
        FILE *file = std::fopen(name, mode);
        RecordHostReason(file != nullptr ? 0 : errno);
        return file;
    }
    if (!IsCreatingMode(mode)) {
        RecordHostReason(EINVAL);
        return nullptr;
    }
    const char *last;
    int parent = ResolveParentBeneath(root, below.c_str(), &last);
    int descriptor = parent < 0 ? -1 : CreateReplacing(parent, last);
    if (descriptor < 0) {
        if (errno == ELOOP)
            RecordHostReasonText("A symbolic link is in the way");
        else if (errno == ENXIO)
            RecordHostReasonText("Not a regular file");
        else
            RecordHostReason(errno);
        return nullptr;
    }
    return StreamOnCreated(descriptor, name);
}

size_t NewlibIFace::fwrite(const void *data, size_t size, size_t count, FILE *file)
{
    size_t written = std::fwrite(data, size, count, file);
    RecordHostReason(written < count ? errno : 0);
    return written;
}

/* VELORIN_HOST_FAIL=fclose: the file is closed, but the close reports the
   loss of data that a network file system reports there. */
int NewlibIFace::fclose(FILE *file)
{
    int result = std::fclose(file);
    if (result == 0 && IsHostCallFailing("fclose")) {
        errno = EIO;
        result = EOF;
    }
    RecordHostReason(result != 0 ? errno : 0);
    return result;
}
