#include <signature/installer.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include <unistd.h>

#include "../stream/ReadFully.h"

namespace
{

const char installerDomain[] = "Velorin installer signature 1";

} // namespace

void DigestInstallerHead(MessageDigest &digest, const uint8_t slotBytes[INSTALLER_SLOT_SIZE],
                         const uint8_t *trailer, size_t trailerLength)
{
    digest.Add(installerDomain, sizeof installerDomain);
    digest.Add(slotBytes, INSTALLER_SLOT_SIZE);
    uint8_t length[8];
    WriteBigEndian64(length, trailerLength);
    digest.Add(length, sizeof length);
    std::vector<uint8_t> head(trailer, trailer + trailerLength);
    if (head.size() >= 16)
        std::memset(head.data() + 12, 0, 4);
    digest.Add(head.data(), head.size());
}

bool CheckInstallerSignature(int descriptor, const uint8_t slotBytes[INSTALLER_SLOT_SIZE],
                             const InstallerSlot &slot, const InstallerTrailer &trailer,
                             const PublicKey &key, std::string &reason)
{
    Signature signature;
    if (trailer.signature.empty()) {
        reason = "the installer is not signed";
        return false;
    }
    if (!DecodeSignature(trailer.signature, signature)) {
        reason = "the installer's signature is damaged";
        return false;
    }
    switch (CheckSignatureHead(signature, key)) {
    case SignatureVerdict::OtherKey:
        reason = "the installer is signed by another key (" + ShowKeyId(signature.keyId) +
                 ", not " + ShowKeyId(key.id) + ")";
        return false;
    case SignatureVerdict::CommentChanged:
        reason = "the installer's signature was changed";
        return false;
    default:
        break;
    }
    std::vector<uint8_t> head(size_t(trailer.signatureRecordStart));
    MessageDigest digest(signature, key);
    int errorNumber = 0;
    bool read =
        ReadAt(descriptor, slot.archiveStart + slot.archiveLength, head.data(), head.size());
    if (read) {
        DigestInstallerHead(digest, slotBytes, head.data(), head.size());
        read = DigestFileRegion(descriptor, slot.archiveStart, slot.archiveLength, digest,
                                errorNumber);
    }
    if (!read) {
        reason = "cannot read the installer to check its signature";
        return false;
    }
    uint8_t hash[64];
    digest.Finish(hash);
    if (!CheckSignedDigest(signature, key, hash)) {
        reason = "the installer does not match its signature: it was changed after it was signed";
        return false;
    }
    return true;
}
