#include <signature/check.h>
#include <signature/minisign.h>

#include <string>

#include <unistd.h>

#include "../stream/HostStream.h"
#include "../text/HostReason.h"

namespace
{

std::string refusal;

const char *Refuse(const std::string &text, int errorNumber = 0)
{
    refusal = text;
    RecordHostReason(errorNumber);
    return refusal.c_str();
}

} // namespace

const char *CheckArchiveSignature(const char *archiveName, const char *key,
                                  const char *signatureName)
{
    if (!StartSignatures())
        return Refuse("Unable to check signatures: no random source");
    PublicKey publicKey;
    std::string error;
    if (!ReadPublicKey(key, publicKey, error))
        return Refuse(std::string("Unable to read key ") + key + ": " + error);
    std::string signaturePath =
        signatureName != nullptr ? signatureName : std::string(archiveName) + ".minisig";
    Signature signature;
    int errorNumber = 0;
    if (!ReadSignatureFile(signaturePath.c_str(), signature, errorNumber)) {
        if (errorNumber != 0)
            return Refuse("No signature for archive " + std::string(archiveName) + " in " +
                              signaturePath,
                          errorNumber);
        return Refuse("The signature " + signaturePath + " is not a minisign signature");
    }
    switch (CheckSignatureHead(signature, publicKey)) {
    case SignatureVerdict::OtherKey:
        return Refuse("Archive " + std::string(archiveName) + " is signed by another key (" +
                      ShowKeyId(signature.keyId) + ", not " + ShowKeyId(publicKey.id) + ")");
    case SignatureVerdict::CommentChanged:
        return Refuse("The signature " + signaturePath +
                      " was changed: its trusted comment is not the one signed");
    default:
        break;
    }
    ArchiveRegion region;
    if (!OpenArchiveFile(archiveName, region)) {
        refusal = "Unable to open archive " + std::string(archiveName);
        return refusal.c_str();
    }
    MessageDigest digest(signature, publicKey);
    bool read =
        DigestFileRegion(region.descriptor, region.start, region.length, digest, errorNumber);
    close(region.descriptor);
    CloseArchiveFile();
    if (!read)
        return Refuse("Error reading archive " + std::string(archiveName), errorNumber);
    uint8_t hash[64];
    digest.Finish(hash);
    if (!CheckSignedDigest(signature, publicKey, hash))
        return Refuse("Archive " + std::string(archiveName) +
                      " does not match its signature: it was changed after it was signed");
    RecordHostReason(0);
    return nullptr;
}
