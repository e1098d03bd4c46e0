#include <signature/minisign.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include <unistd.h>

#include <sodium.h>

static_assert(sizeof(crypto_generichash_state) <= 384 && alignof(crypto_generichash_state) <= 64);
static_assert(sizeof(crypto_hash_sha512_state) <= 384 && alignof(crypto_hash_sha512_state) <= 64);

namespace
{

crypto_generichash_state *Blake(unsigned char *state)
{
    return std::launder(reinterpret_cast<crypto_generichash_state *>(state));
}

crypto_hash_sha512_state *Sha(unsigned char *state)
{
    return std::launder(reinterpret_cast<crypto_hash_sha512_state *>(state));
}

/* Whether the 32 bytes are a scalar below the group's order: reduced, they
   stay the same. */
bool IsCanonicalScalar(const uint8_t scalar[32])
{
    uint8_t wide[64] = {}, reduced[32];
    std::memcpy(wide, scalar, 32);
    crypto_core_ed25519_scalar_reduce(reduced, wide);
    return std::memcmp(reduced, scalar, 32) == 0;
}

/* Ed25519's check for a signature over a message whose SHA-512 (of R, the
   key and the message) was taken piece by piece: R = [S]B - [h]A, with
   every point a canonical one of the main group, as the library's own
   check takes them. */
bool CheckStreamedSignature(const uint8_t signature[64], const uint8_t publicKey[32],
                            const uint8_t hash[64])
{
    const uint8_t *r = signature, *s = signature + 32;
    uint8_t h[32], negated[32], product[32], base[32], sum[32];
    if (!IsCanonicalScalar(s) || crypto_core_ed25519_is_valid_point(publicKey) != 1 ||
        crypto_core_ed25519_is_valid_point(r) != 1)
        return false;
    crypto_core_ed25519_scalar_reduce(h, hash);
    crypto_core_ed25519_scalar_negate(negated, h);
    return crypto_scalarmult_ed25519_noclamp(product, negated, publicKey) == 0 &&
           crypto_scalarmult_ed25519_base_noclamp(base, s) == 0 &&
           crypto_core_ed25519_add(sum, base, product) == 0 && std::memcmp(sum, r, 32) == 0;
}

} // namespace

bool StartSignatures()
{
    return sodium_init() >= 0;
}

MessageDigest::MessageDigest() : prehashed_(true)
{
    crypto_generichash_init(new (state_) crypto_generichash_state, nullptr, 0, 64);
}

MessageDigest::MessageDigest(const Signature &signature, const PublicKey &key)
    : prehashed_(signature.prehashed)
{
    if (prehashed_) {
        crypto_generichash_init(new (state_) crypto_generichash_state, nullptr, 0, 64);
        return;
    }
    crypto_hash_sha512_init(new (state_) crypto_hash_sha512_state);
    crypto_hash_sha512_update(Sha(state_), signature.signature, 32);
    crypto_hash_sha512_update(Sha(state_), key.key, PUBLIC_KEY_SIZE);
}

MessageDigest::~MessageDigest()
{
    sodium_memzero(state_, sizeof state_);
}

void MessageDigest::Add(const void *bytes, size_t length)
{
    const auto *data = static_cast<const unsigned char *>(bytes);
    if (prehashed_)
        crypto_generichash_update(Blake(state_), data, length);
    else
        crypto_hash_sha512_update(Sha(state_), data, length);
}

void MessageDigest::Finish(uint8_t digest[64])
{
    if (prehashed_)
        crypto_generichash_final(Blake(state_), digest, 64);
    else
        crypto_hash_sha512_final(Sha(state_), digest);
}

SignatureVerdict CheckSignatureHead(const Signature &signature, const PublicKey &key)
{
    if (std::memcmp(signature.keyId, key.id, KEY_ID_SIZE) != 0)
        return SignatureVerdict::OtherKey;
    std::string signed_(reinterpret_cast<const char *>(signature.signature), SIGNATURE_SIZE);
    signed_ += signature.trustedComment;
    if (crypto_sign_verify_detached(signature.commentSignature,
                                    reinterpret_cast<const unsigned char *>(signed_.data()),
                                    signed_.size(), key.key) != 0)
        return SignatureVerdict::CommentChanged;
    return SignatureVerdict::Sound;
}

bool CheckSignedDigest(const Signature &signature, const PublicKey &key, const uint8_t digest[64])
{
    if (signature.prehashed)
        return crypto_sign_verify_detached(signature.signature, digest, 64, key.key) == 0;
    return CheckStreamedSignature(signature.signature, key.key, digest);
}

Signature SignDigest(const SecretKey &key, const uint8_t digest[64],
                     const std::string &trustedComment)
{
    Signature signature;
    signature.prehashed = true;
    std::memcpy(signature.keyId, key.id, KEY_ID_SIZE);
    crypto_sign_detached(signature.signature, nullptr, digest, 64, key.key);
    signature.trustedComment = trustedComment;
    std::string signed_(reinterpret_cast<const char *>(signature.signature), SIGNATURE_SIZE);
    signed_ += trustedComment;
    crypto_sign_detached(signature.commentSignature, nullptr,
                         reinterpret_cast<const unsigned char *>(signed_.data()), signed_.size(),
                         key.key);
    return signature;
}

bool DigestFileRegion(int descriptor, uint64_t offset, uint64_t length, MessageDigest &digest,
                      int &errorNumber)
{
    constexpr size_t pieceSize = 131072;
    std::unique_ptr<unsigned char[]> piece(new (std::nothrow) unsigned char[pieceSize]);
    if (piece == nullptr) {
        errorNumber = ENOMEM;
        return false;
    }
    while (length > 0) {
        size_t wanted = length < pieceSize ? size_t(length) : pieceSize;
        ssize_t got = pread(descriptor, piece.get(), wanted, off_t(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            errorNumber = got < 0 ? errno : 0;
            return false;
        }
        digest.Add(piece.get(), size_t(got));
        offset += uint64_t(got);
        length -= uint64_t(got);
    }
    return true;
}
