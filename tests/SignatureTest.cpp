#include <csignal>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "../format/InstallerLayout.h"
#include <signature/minisign.h>

#include "../tools/RemoveOnSignal.h"
#include "support/Files.h"
#include "support/HeldFile.h"
#include "support/LiveTools.h"
#include "support/Program.h"
#include "support/TempDir.h"
#include "support/Tmux.h"

namespace
{

/* Keys made with minisign for each test, a tree to pack and an empty
   destination. */
class Signatures : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        REQUIRE_LIVE_TOOLS("minisign");
        mkdir((dir_ / "src").c_str(), 0777);
        mkdir((dir_ / "src/data").c_str(), 0777);
        mkdir((dir_ / "out").c_str(), 0777);
        WriteFile(dir_ / "src/data/blob.bin", data_);
        MakeKey("k");
        MakeKey("other");
    }

    void MakeKey(const std::string &name)
    {
        RunResult made =
            Minisign({"-G", "-W", "-p", dir_ / (name + ".pub"), "-s", dir_ / (name + ".key")});
        ASSERT_EQ(made.exitCode, 0) << made.err;
    }

    RunResult Minisign(const std::vector<std::string> &args)
    {
        return RunProgram(FindTool("minisign"), args);
    }

    /* The key's base64 line, as minisign -P takes it. */
    std::string KeyText(const std::string &name)
    {
        std::string text = ReadFile(dir_ / (name + ".pub"));
        size_t line = text.find('\n') + 1;
        return text.substr(line, text.find('\n', line) - line);
    }

    /* As minisign's comment line names it. */
    std::string KeyId(const std::string &name)
    {
        std::string text = ReadFile(dir_ / (name + ".pub"));
        std::string line = text.substr(0, text.find('\n'));
        return line.substr(line.rfind(' ') + 1);
    }

    void Pack(const std::string &archive, const std::vector<std::string> &options = {})
    {
        std::vector<std::string> args = {dir_ / "src", archive};
        args.insert(args.end(), options.begin(), options.end());
        RunResult packed = RunPack(args);
        ASSERT_EQ(packed.exitCode, 0) << packed.err;
    }

    RunResult Unpack(const std::string &archive, const std::vector<std::string> &options)
    {
        std::vector<std::string> args = {"-archive", archive, "-dest", dir_ / "out"};
        args.insert(args.end(), options.begin(), options.end());
        return RunVelorin(args);
    }

    /* Refused with one line saying why, velorin's failure code and nothing created. */
    void ExpectRefused(const std::string &archive, const std::vector<std::string> &options,
                       const std::string &why)
    {
        RunResult result = Unpack(archive, options);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_NE(result.err.find(why), std::string::npos) << result.err;
        EXPECT_TRUE(SnapshotTree(dir_ / "out").empty());
    }

    void ChangeByte(const std::string &path, off_t offset)
    {
        std::string bytes = ReadFile(path);
        bytes.at(size_t(offset)) ^= 0x20;
        WriteFile(path, bytes);
    }

    TempDir dir_;
    std::string data_ = MakeData(3000000, 5);
};

TEST_F(Signatures, MinisignAcceptsPackSignaturesAndVelorinAcceptsBoth)
{
    std::string archive = dir_ / "pkg.gz";
    Pack(archive, {"-SIGN", dir_ / "k.key"});
    EXPECT_EQ(Minisign({"-V", "-p", dir_ / "k.pub", "-m", archive}).exitCode, 0);
    EXPECT_EQ(Unpack(archive, {"-key", dir_ / "k.pub"}).exitCode, 1);
    EXPECT_TRUE(ReadFile(dir_ / "out/data/blob.bin") == data_);

    /* minisign's own, prehashed and legacy (over the whole message, read in pieces). */
    ASSERT_EQ(
        Minisign({"-S", "-s", dir_ / "k.key", "-m", archive, "-x", dir_ / "hashed.sig"}).exitCode,
        0);
    ASSERT_EQ(Minisign({"-S", "-l", "-s", dir_ / "k.key", "-m", archive, "-x", dir_ / "legacy.sig"})
                  .exitCode,
              0);
    for (const char *signature : {"hashed.sig", "legacy.sig"}) {
        RunResult result = Unpack(archive, {"-Key", KeyText("k"), "-signature", dir_ / signature});
        EXPECT_EQ(result.exitCode, 1) << signature << result.err;
    }
}

TEST_F(Signatures, VelorinRefusesWhatTheKeyDidNotSignAndCreatesNothing)
{
    std::string archive = dir_ / "pkg.gz";
    Pack(archive, {"-sign", dir_ / "k.key"});
    ASSERT_EQ(Minisign({"-S", "-l", "-s", dir_ / "k.key", "-m", archive, "-x", dir_ / "legacy.sig"})
                  .exitCode,
              0);
    ExpectRefused(archive, {"-key", dir_ / "other.pub"},
                  "signed by another key (" + KeyId("k") + ", not " + KeyId("other") + ")");
    ExpectRefused(archive, {"-key", dir_ / "k.pub", "-signature", dir_ / "none.sig"},
                  "No signature for archive");
    ExpectRefused(archive, {"-key", dir_ / "k.pub", "-signature", dir_ / "src/data/blob.bin"},
                  "is not a minisign signature");
    ExpectRefused(archive, {"-key", dir_ / "missing.pub"}, "Unable to read key");

    /* The trusted comment is signed too. */
    std::string signature = ReadFile(archive + ".minisig");
    std::string forged = signature;
    forged.replace(forged.find("file:"), 5, "FILE:");
    WriteFile(dir_ / "forged.sig", forged);
    ExpectRefused(archive, {"-key", dir_ / "k.pub", "-signature", dir_ / "forged.sig"},
                  "trusted comment");

    /* One byte changed anywhere, under either kind of signature. */
    struct stat status;
    ASSERT_EQ(stat(archive.c_str(), &status), 0);
    for (off_t offset : {off_t(0), off_t(status.st_size / 2), off_t(status.st_size - 1)}) {
        ChangeByte(archive, offset);
        ExpectRefused(archive, {"-key", dir_ / "k.pub"}, "does not match its signature");
        ExpectRefused(archive, {"-key", dir_ / "k.pub", "-signature", dir_ / "legacy.sig"},
                      "does not match its signature");
        ChangeByte(archive, offset);
    }
    EXPECT_EQ(Unpack(archive, {"-key", dir_ / "k.pub"}).exitCode, 1);

    RunResult usage = RunVelorin({"-archive", archive, "-dest", dir_ / "out", "-signature", "x"});
    EXPECT_EQ(usage.exitCode, 0);
    EXPECT_EQ(usage.out, "Missing key: -signature needs -key\n");
}

/* The check and both passes read one file: another put under the archive's
   name once the check has found the file does not get unpacked. */
TEST_F(Signatures, PassesReadTheFileThatWasChecked)
{
    Pack(dir_ / "pkg.gz", {"-sign", dir_ / "k.key"});
    mkdir((dir_ / "evil").c_str(), 0777);
    WriteFile(dir_ / "evil/evil.txt", "not signed");
    RunResult packed = RunPack({dir_ / "evil", dir_ / "evil.gz"});
    ASSERT_EQ(packed.exitCode, 0) << packed.err;
    std::string archive = dir_ / "held.gz";
    WriteFile(archive + ".minisig", ReadFile(dir_ / "pkg.gz.minisig"));
    HeldFile held(archive, ReadFile(dir_ / "pkg.gz"), HeldFile::AgainstReading);
    BackgroundVelorin velorin({"-archive", archive, "-dest", dir_ / "out", "-key", dir_ / "k.pub"});
    ASSERT_TRUE(held.WaitUntilWanted());
    ASSERT_EQ(rename((dir_ / "evil.gz").c_str(), archive.c_str()), 0);
    held.Release();
    RunResult result = velorin.Finish(120);
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_TRUE(ReadFile(dir_ / "out/data/blob.bin") == data_);
    EXPECT_FALSE(Exists(dir_ / "out/evil.txt"));
}

TEST_F(Signatures, SigningFailuresLeaveNothingBehind)
{
    std::string archive = dir_ / "pkg.gz";
    RunResult result = RunPack({dir_ / "src", archive, "-sign", dir_ / "k.pub"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("is not a minisign secret key"), std::string::npos) << result.err;
    result = RunPack({dir_ / "src", archive, "-sign-password-file", dir_ / "k.key"});
    EXPECT_EQ(result.exitCode, 2);
    result = RunPack({dir_ / "src", dir_ / "no/such/dir/pkg.gz", "-sign", dir_ / "k.key"});
    EXPECT_EQ(result.exitCode, 1);
    std::vector<std::string> left;
    for (const auto &[name, kind] : SnapshotTree(dir_.Path()))
        if (name.rfind("src", 0) != 0 && name != "out" && name.find(".pub") == std::string::npos &&
            name.find(".key") == std::string::npos)
            left.push_back(name);
    EXPECT_TRUE(left.empty()) << left.front();
}

/* A person compares the ID with the comment minisign wrote in the key file. */
TEST(KeyId, IsShownAsMinisignWritesIt)
{
    const uint8_t leadingZero[KEY_ID_SIZE] = {0xAD, 0xFF, 0x04, 0x53, 0x5B, 0xB2, 0x3E, 0x0F};
    const uint8_t full[KEY_ID_SIZE] = {0x50, 0x8B, 0xC2, 0x51, 0x55, 0x7B, 0xB2, 0x94};
    EXPECT_EQ(ShowKeyId(leadingZero), "F3EB25B5304FFAD");
    EXPECT_EQ(ShowKeyId(full), "94B27B5551C28B50");
}

/* An archive and its signature wait for their names together: a signal
   removes both, and a file kept gives its place to the next. */
TEST(SignalRemoval, RemovesTheArchiveAndItsSignatureAndKeepsWhatWasKept)
{
    TempDir dir;
    for (const char *name : {"kept", "archive", "archive.minisig"})
        WriteFile(dir / name, "x");
    pid_t child = fork();
    if (child == 0) {
        KeepOnSignal(RemoveOnSignal(AT_FDCWD, dir / "kept"));
        RemoveOnSignal(AT_FDCWD, dir / "archive");
        RemoveOnSignal(AT_FDCWD, dir / "archive.minisig");
        raise(SIGTERM);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_TRUE(Exists(dir / "kept"));
    EXPECT_FALSE(Exists(dir / "archive"));
    EXPECT_FALSE(Exists(dir / "archive.minisig"));
}

/* An encrypted key (minisign's scrypt, about a second and 1 GiB to open). */
class EncryptedKey : public Signatures, protected TmuxServer
{
  protected:
    void SetUp() override
    {
        Signatures::SetUp();
        if (IsSkipped() || HasFailure())
            return;
        RunOptions options;
        WriteFile(dir_ / "password", "two words\n");
        RunResult made = RunProgram(
            "/bin/sh",
            {"-c", "printf 'two words\\ntwo words\\n' | " + Quote(FindTool("minisign")) +
                       " -G -p " + Quote(dir_ / "e.pub") + " -s " + Quote(dir_ / "e.key")});
        ASSERT_EQ(made.exitCode, 0) << made.err;
    }

    void TearDown() override { KillServer(); }
};

TEST_F(EncryptedKey, PasswordFromAFileOrTheTerminalNeverEchoed)
{
    REQUIRE_LIVE_TOOLS("tmux", "stty");
    std::string archive = dir_ / "pkg.gz";
    Pack(archive, {"-sign", dir_ / "e.key", "-sign-password-file", dir_ / "password"});
    EXPECT_EQ(Minisign({"-V", "-p", dir_ / "e.pub", "-m", archive}).exitCode, 0);

    WriteFile(dir_ / "wrong", "two word\n");
    RunResult wrong = RunPack({dir_ / "src", dir_ / "wrong.gz", "-sign", dir_ / "e.key",
                               "-sign-password-file", dir_ / "wrong"});
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_NE(wrong.err.find("wrong password"), std::string::npos) << wrong.err;
    EXPECT_FALSE(Exists(dir_ / "wrong.gz"));

    /* Without a terminal it says how to give the password, and does not wait. */
    RunResult noTerminal = RunProgram(FindTool("setsid"), {"-w", VELORIN_PACK_BINARY, dir_ / "src",
                                                           dir_ / "t.gz", "-sign", dir_ / "e.key"});
    EXPECT_EQ(noTerminal.exitCode, 1);
    EXPECT_NE(noTerminal.err.find("-sign-password-file"), std::string::npos) << noTerminal.err;

    std::string pack = Quote(VELORIN_PACK_BINARY) + " " + Quote(dir_ / "src") + " " +
                       Quote(dir_ / "t.gz") + " -sign " + Quote(dir_ / "e.key");
    Tmux({"new-session", "-d", "-x", "100", "-y", "20",
          RecordStatus(pack, dir_.Path()) + "; sleep 600"});
    WaitForScreen("Password for the secret key");
    Tmux({"send-keys", "-l", "two words"});
    Tmux({"send-keys", "Enter"});
    EXPECT_EQ(WaitForStatus(dir_.Path()), 0);
    EXPECT_EQ(Screen().find("two words"), std::string::npos) << Screen();
    EXPECT_NE(ReadFile(dir_ / "stty").find(" echo "), std::string::npos);
    EXPECT_EQ(Minisign({"-V", "-p", dir_ / "e.pub", "-m", dir_ / "t.gz"}).exitCode, 0);
}

TEST_F(EncryptedKey, EndedAtThePromptGivesTheTerminalBackAndLeavesNothing)
{
    REQUIRE_LIVE_TOOLS("tmux", "stty");
    std::string pack = "echo $$ > " + Quote(dir_ / "pid") + "; exec " + Quote(VELORIN_PACK_BINARY) +
                       " " + Quote(dir_ / "src") + " " + Quote(dir_ / "t.gz") + " -sign " +
                       Quote(dir_ / "e.key");
    Tmux({"new-session", "-d", "-x", "100", "-y", "20",
          RecordStatus(pack, dir_.Path()) + "; sleep 600"});
    WaitForScreen("Password for the secret key");
    kill(std::stoi(ReadFile(dir_ / "pid")), SIGTERM);
    EXPECT_EQ(WaitForStatus(dir_.Path()), 128 + SIGTERM);
    EXPECT_NE(ReadFile(dir_ / "stty").find(" echo "), std::string::npos);
    EXPECT_FALSE(Exists(dir_ / "t.gz"));
    EXPECT_FALSE(Exists(dir_ / "t.gz.minisig"));
}

/* A signed installer whose command records that it ran. */
class SignedInstaller : public Signatures
{
  protected:
    void SetUp() override
    {
        Signatures::SetUp();
        if (IsSkipped() || HasFailure())
            return;
        RunResult made = RunPack({dir_ / "src", installer_, "-installer", "-stub", VELORIN_BINARY,
                                  "-run", "touch \"$RAN\"", "-sign", dir_ / "k.key"});
        ASSERT_EQ(made.exitCode, 0) << made.err;
    }

    RunResult Run(const std::vector<std::string> &args)
    {
        RunOptions options;
        AddVelorinControls(options, dir_ / "balance");
        options.environment["RAN"] = dir_ / "ran";
        return RunProgram(installer_, args, options);
    }

    /* Nothing unpacked, nothing run, 125 and the reason. */
    void ExpectRefused(const std::string &key, const std::string &why)
    {
        RunResult result = Run({"-key", key, "-dest", dir_ / "out"});
        EXPECT_EQ(result.exitCode, 125);
        EXPECT_NE(result.err.find(why), std::string::npos) << result.err;
        EXPECT_TRUE(SnapshotTree(dir_ / "out").empty());
        EXPECT_FALSE(Exists(dir_ / "ran"));
    }

    std::string installer_ = dir_ / "app.run";
};

TEST_F(SignedInstaller, ChecksItselfBeforeUnpackingAndHelpShowsTheKey)
{
    /* The whole file, program part included, has a detached signature too. */
    EXPECT_EQ(Minisign({"-V", "-p", dir_ / "k.pub", "-m", installer_}).exitCode, 0);
    RunResult help = Run({"-help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("signed with the minisign key " + KeyId("k")), std::string::npos)
        << help.out;
    ExpectRefused(dir_ / "other.pub", "signed by another key");
    EXPECT_EQ(Run({"-key", KeyText("k"), "-dest", dir_ / "out"}).exitCode, 0);
    EXPECT_TRUE(Exists(dir_ / "ran"));
    EXPECT_TRUE(ReadFile(dir_ / "out/data/blob.bin") == data_);
    /* Without -key it runs as any installer. */
    unlink((dir_ / "ran").c_str());
    EXPECT_EQ(Run({"-dest", dir_ / "out"}).exitCode, 0);
    EXPECT_TRUE(Exists(dir_ / "ran"));
}

TEST_F(SignedInstaller, RefusesAnUnsignedOrChangedInstaller)
{
    std::string bytes = ReadFile(installer_);
    size_t trailerStart = bytes.rfind("VlnTrail");
    /* The filled slot: its marker, layout version 1 and state 1. */
    const uint8_t marker[] = {INSTALLER_SLOT_MARKER_BYTES, 0, 0, 0, 1, 0, 0, 0, 1};
    size_t slotStart = bytes.find(std::string(marker, marker + sizeof marker));
    ASSERT_NE(trailerStart, std::string::npos);
    ASSERT_NE(slotStart, std::string::npos);
    InstallerTrailer trailer;
    ASSERT_TRUE(
        DecodeInstallerTrailer(reinterpret_cast<const uint8_t *>(bytes.data()) + trailerStart,
                               bytes.size() - trailerStart, trailer));

    /* Another command of the same length, with the trailer's CRC-32 made to match. */
    std::string changed = bytes;
    trailer.command.replace(0, 5, "false");
    changed.replace(trailerStart, std::string::npos, EncodeInstallerTrailer(trailer));
    WriteFile(installer_, changed);
    ExpectRefused(dir_ / "k.pub", "does not match its signature");

    /* A byte of the archive, or of the slot's numbers (its identity). */
    for (size_t offset : {trailerStart - 100, slotStart + 64}) {
        changed = bytes;
        changed[offset] ^= 1;
        WriteFile(installer_, changed);
        ExpectRefused(dir_ / "k.pub", "does not match its signature");
    }

    RunResult made = RunPack({dir_ / "src", installer_, "-installer", "-stub", VELORIN_BINARY,
                              "-run", "touch \"$RAN\""});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    ExpectRefused(dir_ / "k.pub", "the installer is not signed");
    EXPECT_NE(Run({"-help"}).out.find("It is not signed."), std::string::npos);
}

} // namespace
