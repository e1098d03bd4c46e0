#include "SignArchive.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include <sys/stat.h>
#include <unistd.h>

#include <signature/installer.h>

#include "../format/ShownName.h"
#include "ReadPassword.h"

namespace
{

const char untrustedComment[] = "signature from velorin-pack";

bool ReadKeyFile(const std::string &path, std::string &text, std::string &error)
{
    FILE *file = std::fopen(path.c_str(), "re");
    if (file == nullptr) {
        error = "cannot read the secret key " + ShowName(path) + ": " + std::strerror(errno);
        return false;
    }
    char piece[1024];
    size_t got;
    while ((got = std::fread(piece, 1, sizeof piece, file)) > 0 && text.size() < 65536)
        text.append(piece, got);
    std::fclose(file);
    return true;
}

std::string Sign(const SecretKey &key, MessageDigest &digest, const std::string &comment)
{
    uint8_t hash[64];
    digest.Finish(hash);
    return EncodeSignature(SignDigest(key, hash, comment), untrustedComment);
}

} // namespace

bool LoadSigningKey(const std::string &keyPath, const std::string &passwordFile, SecretKey &key,
                    std::string &error)
{
    if (!StartSignatures()) {
        error = "cannot sign: the cryptographic library has no random source";
        return false;
    }
    std::string text, password;
    if (!ReadKeyFile(keyPath, text, error))
        return false;
    std::string shown = ShowName(keyPath);
    if (IsEncryptedSecretKey(text) &&
        !ReadPassword(passwordFile, "Password for the secret key " + shown + ": ", password, error))
        return false;
    SecretKeyResult result = DecodeSecretKey(text, password, key);
    /* An unencrypted key's text is the key itself. */
    std::fill(password.begin(), password.end(), '\0');
    std::fill(text.begin(), text.end(), '\0');
    switch (result) {
    case SecretKeyResult::Read:
        return true;
    case SecretKeyResult::NotAKey:
        error = shown + " is not a minisign secret key";
        return false;
    case SecretKeyResult::NeedsPassword:
        error = "the secret key " + shown + " is encrypted, and the password is empty";
        return false;
    case SecretKeyResult::WrongPassword:
        error = "wrong password for the secret key " + shown;
        return false;
    case SecretKeyResult::NoMemory:
        break;
    }
    error = "not enough memory to decrypt the secret key " + shown;
    return false;
}

std::string TrustedComment(const std::string &path)
{
    std::string name = path.substr(path.rfind('/') + 1);
    return "timestamp:" + std::to_string(std::time(nullptr)) + "\tfile:" + ShowName(name) +
           "\thashed";
}

bool CommitSigned(OutputFile &output, const std::string &path, const SecretKey *key,
                  std::string &error)
{
    if (key == nullptr)
        return output.Commit(error);
    struct stat status;
    MessageDigest digest;
    int errorNumber = 0;
    if (fstat(output.Descriptor(), &status) != 0 ||
        !DigestFileRegion(output.Descriptor(), 0, uint64_t(status.st_size), digest, errorNumber)) {
        error = "cannot read " + ShowName(path) +
                " back to sign it: " + std::strerror(errorNumber != 0 ? errorNumber : errno);
        return false;
    }
    std::string text = Sign(*key, digest, TrustedComment(path));
    std::string signaturePath = path + ".minisig";
    OutputFile signature;
    if (!signature.Create(signaturePath, 0666, error))
        return false;
    for (size_t done = 0; done < text.size();) {
        ssize_t written = write(signature.Descriptor(), text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            error = "cannot write " + ShowName(signaturePath) + ": " + std::strerror(errno);
            return false;
        }
        done += size_t(written);
    }
    if (!signature.Commit(error))
        return false;
    if (output.Commit(error))
        return true;
    unlink(signaturePath.c_str());
    return false;
}

uint64_t SignatureRecordLength(const std::string &trustedComment)
{
    Signature placeholder;
    placeholder.trustedComment = trustedComment;
    return INSTALLER_RECORD_HEADER_SIZE + EncodeSignature(placeholder, untrustedComment).size();
}

bool SignInstaller(int descriptor, const uint8_t slotBytes[INSTALLER_SLOT_SIZE],
                   const InstallerSlot &slot, const std::string &trailerHead, const SecretKey &key,
                   const std::string &trustedComment, std::string &signatureText,
                   std::string &error)
{
    MessageDigest digest;
    DigestInstallerHead(digest, slotBytes, reinterpret_cast<const uint8_t *>(trailerHead.data()),
                        trailerHead.size());
    int errorNumber = 0;
    if (!DigestFileRegion(descriptor, slot.archiveStart, slot.archiveLength, digest, errorNumber)) {
        error = std::string("cannot read the installer back to sign it: ") +
                std::strerror(errorNumber != 0 ? errorNumber : EIO);
        return false;
    }
    signatureText = Sign(key, digest, trustedComment);
    return true;
}
