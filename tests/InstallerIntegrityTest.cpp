#include <atomic>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <elf.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/fanotify.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "../format/InstallerLayout.h"

#include "support/Files.h"
#include "support/LiveTools.h"
#include "support/Program.h"
#include "support/TempDir.h"
#include "support/Tmux.h"

/* Installers that must not run what they hold: cut or damaged copies, a
   destination repointed meanwhile, a lookalike where /proc is missing,
   and runs ended by a signal. */

namespace
{

/* A section of a 64-bit ELF file by name; sh_offset 0 when absent. */
Elf64_Shdr Section(const std::string &bytes, const char *wanted)
{
    Elf64_Ehdr header;
    std::memcpy(&header, bytes.data(), sizeof header);
    auto section = [&](unsigned index) {
        Elf64_Shdr entry;
        std::memcpy(&entry, bytes.data() + header.e_shoff + size_t(index) * header.e_shentsize,
                    sizeof entry);
        return entry;
    };
    Elf64_Shdr names = section(header.e_shstrndx);
    for (unsigned i = 0; i < header.e_shnum; i++) {
        Elf64_Shdr entry = section(i);
        if (std::strcmp(bytes.data() + names.sh_offset + entry.sh_name, wanted) == 0)
            return entry;
    }
    return {};
}

/* Where a section of a 64-bit ELF file begins in the file; 0 when absent. */
size_t SectionOffset(const std::string &bytes, const char *wanted)
{
    return Section(bytes, wanted).sh_offset;
}

/* Where the middle of a function's code lies in the file, by its symbol; 0 when absent. */
size_t FunctionMiddle(const std::string &bytes, const std::string &wanted)
{
    Elf64_Shdr symbols = Section(bytes, ".symtab"), names = Section(bytes, ".strtab");
    Elf64_Shdr text = Section(bytes, ".text");
    for (size_t at = symbols.sh_offset;
         at + sizeof(Elf64_Sym) <= symbols.sh_offset + symbols.sh_size; at += sizeof(Elf64_Sym)) {
        Elf64_Sym symbol;
        std::memcpy(&symbol, bytes.data() + at, sizeof symbol);
        if (ELF64_ST_TYPE(symbol.st_info) == STT_FUNC && symbol.st_value >= text.sh_addr &&
            bytes.data() + names.sh_offset + symbol.st_name == wanted)
            return symbol.st_value - text.sh_addr + text.sh_offset + symbol.st_size / 2;
    }
    return 0;
}

class InstallerIntegrity : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        mkdir((dir_ / "src").c_str(), 0777);
        mkdir((dir_ / "out").c_str(), 0777);
        WriteFile(dir_ / "src/a.txt", "first\n");
    }

    void Make(const std::string &command, const std::string &stub = VELORIN_BINARY)
    {
        RunResult made = RunPack({dir_ / "src", installer_, "-installer", "-stub", stub, "-run",
                                  command, "-level", "1"});
        ASSERT_EQ(made.exitCode, 0) << made.err;
    }

    RunOptions Options()
    {
        RunOptions options;
        AddVelorinControls(options, dir_ / "balance");
        options.environment["RECORD"] = dir_ / "record";
        return options;
    }

    void NeedRoot()
    {
        if (geteuid() == 0)
            return;
        if (AreLiveTestsRequired())
            FAIL() << "needs root";
        GTEST_SKIP() << "needs root";
    }

    TempDir dir_;
    std::string installer_ = dir_ / "app.run";
};

/* Cuts in every part of an installer made from the shipped program, and bit flips in its slot:
 * never the command, never a status a shell takes for success. */
TEST_F(InstallerIntegrity, CutOrDamagedCopiesNeverRunTheirCommand)
{
    Make("echo ran > \"$RECORD\"", VELORIN_SHIPPED_BINARY);
    std::string whole = ReadFile(installer_);
    size_t slot = SectionOffset(whole, INSTALLER_SECTION);
    ASSERT_GT(slot, 0u);
    size_t stub = ReadFile(VELORIN_SHIPPED_BINARY).size();
    size_t page = slot / 4096 * 4096;
    std::string copy = dir_ / "copy.run";
    auto run = [&](const std::string &bytes) {
        WriteFile(copy, bytes);
        chmod(copy.c_str(), 0755);
        RunOptions options;
        options.environment["RECORD"] = dir_ / "record";
        return RunProgram(copy, {"-dest", dir_ / "out"}, options);
    };

    struct Cut {
        size_t at;
        const char *said; /* nullptr: the system may end it before it can say anything */
    };
    std::vector<Cut> cuts = {{64, nullptr},
                             {stub / 3, nullptr},
                             {page - 1, nullptr},
                             {page + 1, "this program is incomplete: "},
                             /* The slot may begin its page. */
                             {slot - 1, slot > page ? "this program is incomplete: " : nullptr},
                             {slot + 1, "this program is incomplete: "},
                             {slot + 20, "this program is incomplete: "},
                             {slot + 40, "this program is incomplete: "},
                             {slot + INSTALLER_SLOT_SIZE, "this program is incomplete: "},
                             {slot + INSTALLER_SLOT_SIZE + 15, "this program is incomplete: "},
                             {slot + INSTALLER_SLOT_SIZE + 16, "the installer is incomplete: "},
                             {stub - 1, "the installer is incomplete: "},
                             {stub + 1, "the installer is incomplete: "},
                             {(stub + whole.size()) / 2, "the installer is incomplete: "},
                             {whole.size() - 30, "the installer is incomplete: "},
                             {whole.size() - 1, "the installer is incomplete: "}};
    for (const Cut &cut : cuts) {
        RunResult result = run(whole.substr(0, cut.at));
        if (cut.said != nullptr) {
            EXPECT_EQ(result.exitCode, 125) << cut.at << result.err;
            EXPECT_NE(result.err.find(std::string(cut.said) + std::to_string(cut.at) + " of "),
                      std::string::npos)
                << cut.at << ": " << result.err;
        } else {
            EXPECT_NE(result.exitCode, 0) << cut.at << result.err;
        }
        EXPECT_FALSE(Exists(dir_ / "record")) << cut.at;
        EXPECT_TRUE(SnapshotTree(dir_ / "out").empty()) << cut.at;
        /* velorin-pack refuses every cut copy too, and says why. */
        RunResult verified = RunPack({"-verify", copy});
        EXPECT_EQ(verified.exitCode, 1) << cut.at << verified.out;
        EXPECT_TRUE(verified.err.find("incomplete") != std::string::npos ||
                    verified.err.find("an installer cut short or damaged") != std::string::npos)
            << cut.at << ": " << verified.err;
    }

    /* The marker, the version, the state, the slot's own place, its end. */
    for (size_t at : {size_t(0), size_t(9), size_t(15), size_t(19), size_t(23), size_t(31),
                      INSTALLER_SLOT_SIZE, INSTALLER_SLOT_SIZE + 15}) {
        std::string damaged = whole;
        damaged[slot + at] ^= 0x20;
        RunResult result = run(damaged);
        EXPECT_EQ(result.exitCode, 125) << at;
        EXPECT_NE(result.err.find("damaged"), std::string::npos) << at << ": " << result.err;
        EXPECT_FALSE(Exists(dir_ / "record")) << at;
    }

    /* Bytes of the program part outside the slot, where the program still starts: its code
     * (a function only -help runs), its data (a text only -help prints), and what is never
     * loaded (the toolchain's note). */
    size_t text = FunctionMiddle(whole, "_Z21PrintInstallerOptionsP8_IO_FILE");
    size_t data = whole.find("Exit status: 0 done");
    Elf64_Shdr rodata = Section(whole, ".rodata");
    ASSERT_GT(text, 0u);
    ASSERT_TRUE(data > rodata.sh_offset && data < rodata.sh_offset + rodata.sh_size);
    for (size_t at : {text, data, SectionOffset(whole, ".comment") + 1}) {
        std::string damaged = whole;
        damaged[at] ^= 0x01;
        RunResult result = run(damaged);
        EXPECT_EQ(result.exitCode, 125) << at;
        EXPECT_NE(result.err.find(
                      "copy.run: the installer is damaged: its program part does not match its "
                      "checksum; nothing was unpacked"),
                  std::string::npos)
            << at << ": " << result.err;
        EXPECT_FALSE(Exists(dir_ / "record")) << at;
        EXPECT_TRUE(SnapshotTree(dir_ / "out").empty()) << at;
        RunResult listed = RunPack({"-list", copy});
        EXPECT_EQ(listed.exitCode, 1) << at;
        EXPECT_NE(listed.err.find("its program part does not match its checksum"),
                  std::string::npos)
            << listed.err;
    }

    /* A plain velorin with a damaged marker is no sound velorin either. */
    std::string plain = ReadFile(VELORIN_SHIPPED_BINARY);
    plain[slot + 3] ^= 0x01;
    WriteFile(copy, plain);
    chmod(copy.c_str(), 0755);
    RunResult refused = RunProgram(copy, {"-archive", dir_ / "none.gz", "-dest", dir_ / "out"});
    EXPECT_EQ(refused.exitCode, 125);
    EXPECT_NE(refused.err.find("this program is damaged"), std::string::npos) << refused.err;
}

/* An installer made before its program part had a checksum (a trailer without that record)
 * runs as it did. */
TEST_F(InstallerIntegrity, InstallersWithoutProgramChecksumStillRun)
{
    Make("echo ran > \"$RECORD\"");
    std::string whole = ReadFile(installer_);
    size_t slotOffset = SectionOffset(whole, INSTALLER_SECTION);
    auto *bytes = reinterpret_cast<uint8_t *>(whole.data());
    InstallerSlot slot;
    ASSERT_TRUE(DecodeInstallerSlot(bytes + slotOffset, slot));
    size_t trailerStart = slot.archiveStart + slot.archiveLength;
    InstallerTrailer trailer;
    ASSERT_TRUE(DecodeInstallerTrailer(bytes + trailerStart, slot.trailerLength, trailer));
    ASSERT_TRUE(trailer.hasProgramChecksum);
    trailer.hasProgramChecksum = false;
    std::string older = whole.substr(0, trailerStart) + EncodeInstallerTrailer(trailer);
    slot.trailerLength = older.size() - trailerStart;
    slot.totalSize = older.size();
    EncodeInstallerSlot(slot, reinterpret_cast<uint8_t *>(older.data()) + slotOffset);
    WriteFile(installer_, older);

    RunResult result = RunProgram(installer_, {"-dest", dir_ / "out"}, Options());
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(ReadFile(dir_ / "record"), "ran\n");
    EXPECT_EQ(ReadFile(dir_ / "out/a.txt"), "first\n");
    EXPECT_EQ(RunPack({"-verify", installer_}).exitCode, 0);
}

/* The command runs in the directory both passes wrote into, even when the name given as -dest
 * is pointed elsewhere while the files are written. */
TEST_F(InstallerIntegrity, CommandRunsWhereTheFilesWentWhateverDestNamesLater)
{
    WriteFile(dir_ / "src/zz.bin", MakeData(24 << 20, 5));
    Make("pwd -P > \"$RECORD\"");
    mkdir((dir_ / "A").c_str(), 0777);
    mkdir((dir_ / "B").c_str(), 0777);
    ASSERT_EQ(symlink("A", (dir_ / "link").c_str()), 0);
    ASSERT_EQ(symlink("B", (dir_ / "link.new").c_str()), 0);

    std::atomic<bool> done{false}, swapped{false};
    std::thread racer([&] {
        while (!done && !Exists(dir_ / "A/a.txt"))
            usleep(100);
        swapped = rename((dir_ / "link.new").c_str(), (dir_ / "link").c_str()) == 0;
    });
    RunResult result = RunProgram(installer_, {"-dest", dir_ / "link"}, Options());
    done = true;
    racer.join();
    EXPECT_EQ(result.exitCode, 0) << result.err;
    ASSERT_TRUE(swapped);
    EXPECT_EQ(ReadFile(dir_ / "record"), std::filesystem::canonical(dir_ / "A").string() + "\n");
    EXPECT_TRUE(Exists(dir_ / "A/zz.bin"));
    EXPECT_TRUE(SnapshotTree(dir_ / "B").empty());
}

/* Without /proc, a copy with another command that the shell would not run (not executable),
 * earlier in PATH, is never taken for the installer. */
TEST_F(InstallerIntegrity, WithoutProcOnlyTheFileTheShellRanIsTrusted)
{
    NeedRoot();
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "the sanitizers need /proc";
#endif
    std::string unshare = FindTool("unshare");
    ASSERT_FALSE(unshare.empty());
    Make("echo real > \"$RECORD\"");
    std::string whole = ReadFile(installer_);
    uint8_t slotBytes[INSTALLER_SLOT_SIZE];
    std::memcpy(slotBytes, whole.data() + SectionOffset(whole, INSTALLER_SECTION),
                sizeof slotBytes);
    InstallerSlot slot;
    ASSERT_TRUE(DecodeInstallerSlot(slotBytes, slot));
    size_t trailerStart = slot.archiveStart + slot.archiveLength;
    InstallerTrailer trailer;
    ASSERT_TRUE(
        DecodeInstallerTrailer(reinterpret_cast<const uint8_t *>(whole.data()) + trailerStart,
                               slot.trailerLength, trailer));
    trailer.command = "echo fake > \"$RECORD\"";
    std::string lookalike = whole.substr(0, trailerStart) + EncodeInstallerTrailer(trailer);
    ASSERT_EQ(lookalike.size(), whole.size());

    mkdir((dir_ / "early").c_str(), 0755);
    mkdir((dir_ / "late").c_str(), 0755);
    WriteFile(dir_ / "early/app.run", lookalike);
    chmod((dir_ / "early/app.run").c_str(), 0644);
    ASSERT_EQ(rename(installer_.c_str(), (dir_ / "late/app.run").c_str()), 0);
    RunOptions options = Options();
    options.environment["PATH"] = dir_ / "early:" + dir_ / "late:/usr/sbin:/usr/bin:/sbin:/bin";
    RunResult result = RunProgram(
        unshare,
        {"-m", "sh", "-c", "mount -t tmpfs none /proc && exec app.run -dest \"$0\"", dir_ / "out"},
        options);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(ReadFile(dir_ / "record"), "real\n");
}

/* Started through a descriptor where /proc is missing, the installer cannot find the file it was
 * started from (the system names it /dev/fd/N): it says so and runs nothing. */
TEST_F(InstallerIntegrity, WithoutProcAnInstallerThatCannotFindItselfRunsNothing)
{
    NeedRoot();
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "the sanitizers need /proc";
#endif
    Make("echo ran > \"$RECORD\"");
    std::string err = dir_ / "err";
    std::string record = "RECORD=" + dir_ / "record";
    pid_t child = fork();
    if (child == 0) {
        int installer = open(installer_.c_str(), O_RDONLY | O_CLOEXEC);
        int errors = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (installer < 0 || errors < 0 || dup2(errors, STDERR_FILENO) < 0 ||
            unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("none", "/proc", "tmpfs", 0, nullptr) != 0)
            _exit(99);
        const char *argv[] = {"app.run", "-dest", "/nonexistent", nullptr};
        const char *envp[] = {record.c_str(), "VELORIN_HOST_PRESENTATION=headless", nullptr};
        syscall(SYS_execveat, installer, "", argv, envp, AT_EMPTY_PATH);
        _exit(98);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 125);
    EXPECT_NE(ReadFile(err).find("app.run: cannot tell which file is running: \"/dev/fd/"),
              std::string::npos)
        << ReadFile(err);
    EXPECT_FALSE(Exists(dir_ / "record"));
}

/* Holds the first file opened on a mount until released (fanotify, which needs root). */
class FirstOpeningHeld
{
  public:
    explicit FirstOpeningHeld(const std::string &mount)
    {
        descriptor_ = fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, O_RDONLY | O_CLOEXEC);
        if (descriptor_ >= 0 && fanotify_mark(descriptor_, FAN_MARK_ADD | FAN_MARK_MOUNT,
                                              FAN_OPEN_PERM, AT_FDCWD, mount.c_str()) != 0) {
            close(descriptor_);
            descriptor_ = -1;
        }
    }
    ~FirstOpeningHeld() { Release(); }

    bool IsWatching() const { return descriptor_ >= 0; }
    /* The process whose opening is held. */
    pid_t Opener() const { return opener_; }

    bool WaitUntilWanted()
    {
        pollfd ready = {descriptor_, POLLIN, 0};
        if (poll(&ready, 1, 60000) != 1)
            return false;
        alignas(fanotify_event_metadata) char buffer[4096];
        ssize_t length = read(descriptor_, buffer, sizeof buffer);
        auto *event = reinterpret_cast<fanotify_event_metadata *>(buffer);
        if (length <= 0 || !FAN_EVENT_OK(event, length))
            return false;
        held_ = event->fd;
        opener_ = event->pid;
        return true;
    }

    /* Closing the group lets every opening go on. */
    void Release()
    {
        if (held_ >= 0) {
            fanotify_response answer = {held_, FAN_ALLOW};
            ssize_t ignored = write(descriptor_, &answer, sizeof answer);
            (void)ignored;
            close(held_);
            held_ = -1;
        }
        if (descriptor_ >= 0)
            close(descriptor_);
        descriptor_ = -1;
    }

  private:
    int descriptor_ = -1;
    int held_ = -1;
    pid_t opener_ = -1;
};

/* SIGTERM, SIGHUP and SIGINT while the files are written, and SIGTERM and SIGHUP while the
 * command runs: the temporary directory goes and the installer ends by the signal. */
TEST_F(InstallerIntegrity, EndingSignalsRemoveTheTemporaryDirectory)
{
    NeedRoot();
    std::string tmp = dir_ / "tmp";
    mkdir(tmp.c_str(), 0777);
    ASSERT_EQ(mount("none", tmp.c_str(), "tmpfs", 0, nullptr), 0);
    WriteFile(dir_ / "src/setup.sh", "#!/bin/sh\necho started > \"$RECORD\"\nexec sleep 60\n");
    chmod((dir_ / "src/setup.sh").c_str(), 0755);
    Make("./setup.sh");
    RunOptions options = Options();
    options.environment["TMPDIR"] = tmp;

    for (int signalNumber : {SIGTERM, SIGHUP, SIGINT}) {
        FirstOpeningHeld held(tmp);
        ASSERT_TRUE(held.IsWatching());
        BackgroundProgram run(installer_, {}, options);
        ASSERT_TRUE(held.WaitUntilWanted());
        kill(run.Pid(), signalNumber);
        held.Release();
        RunResult result = run.Finish(60);
        EXPECT_EQ(result.signal, signalNumber) << result.err;
        EXPECT_TRUE(SnapshotTree(tmp).empty()) << signalNumber;
        EXPECT_FALSE(Exists(dir_ / "record"));
    }
    for (int signalNumber : {SIGTERM, SIGHUP}) {
        BackgroundProgram run(installer_, {}, options);
        for (int waited = 0; !Exists(dir_ / "record"); waited++) {
            ASSERT_LT(waited, 30000) << "the command did not start";
            usleep(1000);
        }
        kill(run.Pid(), signalNumber);
        RunResult result = run.Finish(30);
        EXPECT_EQ(result.signal, signalNumber) << result.err;
        EXPECT_TRUE(SnapshotTree(tmp).empty()) << signalNumber;
        unlink((dir_ / "record").c_str());
    }

    /* Kept with -keep, and said where. */
    BackgroundProgram kept(installer_, {"-keep"}, options);
    for (int waited = 0; !Exists(dir_ / "record"); waited++) {
        ASSERT_LT(waited, 30000) << "the command did not start";
        usleep(1000);
    }
    kill(kept.Pid(), SIGTERM);
    RunResult result = kept.Finish(30);
    EXPECT_EQ(result.signal, SIGTERM);
    EXPECT_NE(result.err.find("the files are kept in " + tmp + "/velorin-"), std::string::npos)
        << result.err;
    umount2(tmp.c_str(), MNT_DETACH);
}

/* Directories the command made unreadable or unwritable, as a user other than root, go too. */
TEST_F(InstallerIntegrity, DirectoriesTheCommandLockedAreRemoved)
{
    NeedRoot();
    chmod(dir_.Path().c_str(), 0755);
    std::string tmp = dir_ / "tmp";
    mkdir(tmp.c_str(), 0777);
    chmod(tmp.c_str(), 0777);
    Make("mkdir -p none/deep unlisted open/inner && touch none/deep/f unlisted/f open/inner/f && "
         "chmod 000 none/deep none && chmod 300 unlisted && chmod 100 open/inner && "
         "chmod 000 .");
    RunOptions options = Options();
    options.environment["TMPDIR"] = tmp;
    options.environment.erase("RECORD");
    options.userId = options.groupId = 65534;
    options.environment["VELORIN_HOST_BALANCE_REPORT"] = tmp + "/balance";
    RunResult result = RunProgram(installer_, {}, options);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    unlink((tmp + "/balance").c_str());
    EXPECT_TRUE(SnapshotTree(tmp).empty()) << result.err;
}

class InstallerIntegrityInTerminal : public InstallerIntegrity, protected TmuxServer
{
};

/* With the box drawn in the terminal, SIGTERM gives the terminal back and removes the
 * temporary directory too. */
TEST_F(InstallerIntegrityInTerminal, SigtermWithTheBoxUpRemovesTheTemporaryDirectory)
{
    REQUIRE_LIVE_TOOLS("tmux", "stty");
    NeedRoot();
    std::string tmp = dir_ / "tmp";
    mkdir(tmp.c_str(), 0777);
    ASSERT_EQ(mount("none", tmp.c_str(), "tmpfs", 0, nullptr), 0);
    Make("echo ran > \"$RECORD\"");
    FirstOpeningHeld held(tmp);
    ASSERT_TRUE(held.IsWatching());
    std::string installer = "exec env -u DISPLAY -u WAYLAND_DISPLAY VELORIN_HOST_CLOCK=instant "
                            "TMPDIR=" +
                            Quote(tmp) + " RECORD=" + Quote(dir_ / "record") + " " +
                            Quote(installer_);
    Tmux({"new-session", "-d", "-x", "100", "-y", "30",
          RecordStatus(installer, dir_.Path()) + "; sleep 600"});
    ASSERT_TRUE(held.WaitUntilWanted());
    WaitForScreen("[a] Abort");
    kill(held.Opener(), SIGTERM);
    held.Release();
    EXPECT_EQ(WaitForStatus(dir_.Path()), 128 + SIGTERM);
    EXPECT_TRUE(SnapshotTree(tmp).empty());
    EXPECT_FALSE(Exists(dir_ / "record"));
    std::string settings = ReadFile(dir_ / "stty");
    EXPECT_EQ(settings.find("-icanon"), std::string::npos) << settings;
    umount2(tmp.c_str(), MNT_DETACH);
}

} // namespace
