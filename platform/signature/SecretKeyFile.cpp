#include <signature/minisign.h>

#include <cstring>

#include <sodium.h>

#include "SignatureText.h"

/* A minisign secret key, after its comment line, in base64:
     0  "Ed"
     2  key derivation: "Sc" (scrypt, the rest encrypted) or two zero bytes
     4  checksum: "B2" (BLAKE2b-256)
     6  salt (32 bytes)
    38  scrypt's operations and memory limits (64 bits each, little-endian)
    54  key ID (8), secret key (64), checksum (32): XORed with scrypt's
        output when encrypted
   The checksum, of "Ed", the key ID and the secret key, tells a wrong
   password; an unencrypted key may leave it zero. */

namespace
{

constexpr size_t saltSize = 32;
constexpr size_t checksumSize = 32;
constexpr size_t sealedSize = KEY_ID_SIZE + SECRET_KEY_SIZE + checksumSize;
constexpr size_t keyFileSize = 6 + saltSize + 16 + sealedSize;

uint64_t GetLittleEndian(const uint8_t *bytes)
{
    uint64_t value = 0;
    for (int i = 7; i >= 0; i--)
        value = value << 8 | bytes[i];
    return value;
}

/* Wiped whatever way the decoding ends. */
struct Wiped {
    uint8_t bytes[keyFileSize];
    uint8_t stream[sealedSize];
    ~Wiped()
    {
        sodium_memzero(bytes, sizeof bytes);
        sodium_memzero(stream, sizeof stream);
    }
};

bool DecodeKeyFile(const std::string &text, uint8_t bytes[keyFileSize])
{
    return DecodeBase64(KeyLine(text), bytes, keyFileSize) && bytes[0] == 'E' && bytes[1] == 'd' &&
           bytes[4] == 'B' && bytes[5] == '2' &&
           ((bytes[2] == 'S' && bytes[3] == 'c') || (bytes[2] == 0 && bytes[3] == 0));
}

} // namespace

SecretKey::~SecretKey()
{
    sodium_memzero(key, sizeof key);
}

bool IsEncryptedSecretKey(const std::string &text)
{
    Wiped wiped;
    return DecodeKeyFile(text, wiped.bytes) && wiped.bytes[2] == 'S';
}

SecretKeyResult DecodeSecretKey(const std::string &text, const std::string &password,
                                SecretKey &key)
{
    Wiped wiped;
    uint8_t *bytes = wiped.bytes;
    if (!DecodeKeyFile(text, bytes))
        return SecretKeyResult::NotAKey;
    bool encrypted = bytes[2] == 'S';
    uint8_t *sealed = bytes + 6 + saltSize + 16;
    if (encrypted) {
        if (password.empty())
            return SecretKeyResult::NeedsPassword;
        if (crypto_pwhash_scryptsalsa208sha256(
                wiped.stream, sealedSize, password.data(), password.size(), bytes + 6,
                GetLittleEndian(bytes + 6 + saltSize),
                size_t(GetLittleEndian(bytes + 6 + saltSize + 8))) != 0)
            return SecretKeyResult::NoMemory;
        for (size_t i = 0; i < sealedSize; i++)
            sealed[i] ^= wiped.stream[i];
    }
    uint8_t checksum[checksumSize];
    crypto_generichash_state state;
    crypto_generichash_init(&state, nullptr, 0, checksumSize);
    crypto_generichash_update(&state, bytes, 2);
    crypto_generichash_update(&state, sealed, KEY_ID_SIZE + SECRET_KEY_SIZE);
    crypto_generichash_final(&state, checksum, checksumSize);
    const uint8_t *stored = sealed + KEY_ID_SIZE + SECRET_KEY_SIZE;
    static const uint8_t none[checksumSize] = {};
    bool matches = sodium_memcmp(checksum, stored, checksumSize) == 0 ||
                   (!encrypted && std::memcmp(stored, none, checksumSize) == 0);
    /* The key's second half is its public key: derived again from the
       first, it must be the same. */
    uint8_t publicKey[PUBLIC_KEY_SIZE], derived[SECRET_KEY_SIZE];
    bool whole = crypto_sign_seed_keypair(publicKey, derived, sealed + KEY_ID_SIZE) == 0 &&
                 sodium_memcmp(derived, sealed + KEY_ID_SIZE, SECRET_KEY_SIZE) == 0;
    sodium_memzero(derived, sizeof derived);
    if (!matches || !whole)
        return encrypted ? SecretKeyResult::WrongPassword : SecretKeyResult::NotAKey;
    std::memcpy(key.id, sealed, KEY_ID_SIZE);
    std::memcpy(key.key, sealed + KEY_ID_SIZE, SECRET_KEY_SIZE);
    return SecretKeyResult::Read;
}
