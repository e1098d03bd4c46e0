#ifndef SIGNATURE_MINISIGN_H
#define SIGNATURE_MINISIGN_H

#include <cstddef>
#include <cstdint>
#include <string>

/* minisign's keys and signatures: Ed25519, in short text files of a comment
   line and a base64 line.
     public key   "Ed", key ID (8 bytes), public key (32)
     signature    "ED" (the message's BLAKE2b-512 signed) or "Ed" (the
                  message itself), key ID, signature (64); then a trusted
                  comment and a signature of signature + comment
   A key ID is shown as minisign shows it: its 8 bytes as a little-endian
   number in upper-case hex digits, up to 16 (no leading zeros). */

constexpr size_t KEY_ID_SIZE = 8;
constexpr size_t PUBLIC_KEY_SIZE = 32;
constexpr size_t SECRET_KEY_SIZE = 64;
constexpr size_t SIGNATURE_SIZE = 64;
/* The longest signature file read; minisign's own are a few hundred bytes. */
constexpr size_t SIGNATURE_FILE_LIMIT = 4096;

struct PublicKey {
    uint8_t id[KEY_ID_SIZE] = {};
    uint8_t key[PUBLIC_KEY_SIZE] = {};
};

struct SecretKey {
    uint8_t id[KEY_ID_SIZE] = {};
    uint8_t key[SECRET_KEY_SIZE] = {};
    SecretKey() = default;
    SecretKey(const SecretKey &) = delete;
    SecretKey &operator=(const SecretKey &) = delete;
    /* The key does not outlive its use in memory. */
    ~SecretKey();
};

struct Signature {
    bool prehashed = true;
    uint8_t keyId[KEY_ID_SIZE] = {};
    uint8_t signature[SIGNATURE_SIZE] = {};
    std::string trustedComment;
    uint8_t commentSignature[SIGNATURE_SIZE] = {};
};

/* False when the cryptographic library cannot start (no random source). */
bool StartSignatures();

std::string ShowKeyId(const uint8_t id[KEY_ID_SIZE]);

/* given is a public key file's name, or the key's base64 text as minisign
   prints it. False with error set. */
bool ReadPublicKey(const std::string &given, PublicKey &key, std::string &error);
/* A public key file's text, or the base64 line alone. */
bool DecodePublicKey(const std::string &text, PublicKey &key);

/* A signature file's text: false when it is not one. */
bool DecodeSignature(const std::string &text, Signature &signature);
std::string EncodeSignature(const Signature &signature, const std::string &untrustedComment);
/* Reads a signature file of at most SIGNATURE_FILE_LIMIT bytes; false with
   the system's error number (0 when it is not a signature). */
bool ReadSignatureFile(const char *path, Signature &signature, int &errorNumber);

/* A secret key file's text, decrypted with password when minisign
   encrypted it. */
enum class SecretKeyResult { Read, NotAKey, NeedsPassword, WrongPassword, NoMemory };
bool IsEncryptedSecretKey(const std::string &text);
SecretKeyResult DecodeSecretKey(const std::string &text, const std::string &password,
                                SecretKey &key);

/* The digest of a message that is signed or checked, fed in order a piece
   at a time, so that memory stays fixed whatever its length. */
class MessageDigest
{
  public:
    /* For a prehashed signature (and for signing): BLAKE2b-512. */
    MessageDigest();
    /* For checking a signature over the message itself: the SHA-512 of the
       signature's first half, the key and the message. */
    MessageDigest(const Signature &signature, const PublicKey &key);
    MessageDigest(const MessageDigest &) = delete;
    MessageDigest &operator=(const MessageDigest &) = delete;
    ~MessageDigest();
    void Add(const void *bytes, size_t length);
    void Finish(uint8_t digest[64]);

  private:
    bool prehashed_;
    alignas(64) unsigned char state_[384];
};

/* How a signature compares with a key and a message. */
enum class SignatureVerdict { Sound, OtherKey, CommentChanged, MessageChanged };

/* What can be told before the message is read: whether the key made it and
   its trusted comment is the one signed. */
SignatureVerdict CheckSignatureHead(const Signature &signature, const PublicKey &key);
/* Whether the message whose digest this is was signed (digest made by the
   MessageDigest that suits the signature). */
bool CheckSignedDigest(const Signature &signature, const PublicKey &key, const uint8_t digest[64]);

/* Signs the message's BLAKE2b-512 digest, and trustedComment with it. */
Signature SignDigest(const SecretKey &key, const uint8_t digest[64],
                     const std::string &trustedComment);

/* Feeds length bytes of descriptor from offset to digest; false with the
   system's error number (0: the file ended early). */
bool DigestFileRegion(int descriptor, uint64_t offset, uint64_t length, MessageDigest &digest,
                      int &errorNumber);

#endif
