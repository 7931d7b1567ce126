#include "common/Secret.h"

#include "common/Errors.h"
#include "common/Messages.h"

#include <nettle/memops.h>
#include <nettle/sha2.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <sys/random.h>

namespace morvane {
namespace {

std::string hexText(const uint8_t* bytes, size_t size) {
    static constexpr char Digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        text += Digits[bytes[i] >> 4];
        text += Digits[bytes[i] & 15];
    }
    return text;
}

std::string randomHex(size_t bytes) {
    std::array<uint8_t, 32> buffer{};
    size_t got = 0;
    while (got < bytes) {
        const ssize_t n = getrandom(buffer.data() + got, bytes - got, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw IoError(std::string(msg::FileNotRead), "getrandom", FileReason::ofErrno(errno));
        }
        got += static_cast<size_t>(n);
    }
    return hexText(buffer.data(), bytes);
}

std::string saltedHash(std::string_view salt, std::string_view key) {
    sha256_ctx context{};
    sha256_init(&context);
    sha256_update(&context, salt.size(), reinterpret_cast<const uint8_t*>(salt.data()));
    sha256_update(&context, key.size(), reinterpret_cast<const uint8_t*>(key.data()));
    std::array<uint8_t, SHA256_DIGEST_SIZE> digest{};
    sha256_digest(&context, digest.size(), digest.data());
    return hexText(digest.data(), digest.size());
}

constexpr size_t SaltDigits = 16;

} // namespace

std::string newSecretKey() {
    return randomHex(16);
}

std::string hashSecretKey(std::string_view key) {
    std::string salt = randomHex(SaltDigits / 2);
    return salt + "$" + saltedHash(salt, key);
}

bool secretKeyMatches(std::string_view stored, std::string_view key) {
    if (stored.size() != SaltDigits + 1 + 2 * SHA256_DIGEST_SIZE || stored[SaltDigits] != '$')
        return false;
    const std::string_view salt = stored.substr(0, SaltDigits);
    const std::string_view hash = stored.substr(SaltDigits + 1);
    const std::string offered = saltedHash(salt, key);
    return memeql_sec(offered.data(), hash.data(), offered.size()) != 0;
}

} // namespace morvane
