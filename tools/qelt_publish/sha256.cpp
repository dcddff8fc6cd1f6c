#include "tools/qelt_publish/sha256.h"

#include <openssl/evp.h>

#include <new>
#include <stdexcept>

namespace qelt::publish {
namespace {

EVP_MD_CTX* Context(void* context) {
    return static_cast<EVP_MD_CTX*>(context);
}

}  // namespace

Sha256::Sha256() : context_(EVP_MD_CTX_new()) {
    if (!context_) throw std::bad_alloc();
    Start();
}

Sha256::~Sha256() {
    EVP_MD_CTX_free(Context(context_));
}

void Sha256::Start() {
    if (EVP_DigestInit_ex(Context(context_), EVP_sha256(), nullptr) != 1) {
        throw std::runtime_error("Sha256: libcrypto could not start a SHA-256 digest");
    }
}

void Sha256::Update(const void* data, std::size_t length) {
    if (EVP_DigestUpdate(Context(context_), data, length) != 1) {
        throw std::runtime_error("Sha256::Update: libcrypto refused the data");
    }
}

Sha256Digest Sha256::Finish() {
    Sha256Digest digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(Context(context_), digest.data(), &length) != 1 || length != digest.size()) {
        throw std::runtime_error("Sha256::Finish: libcrypto could not finish the digest");
    }
    Start();
    return digest;
}

std::string ToHex(const Sha256Digest& digest) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(digest.size() * 2);
    for (std::uint8_t byte : digest) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0xF];
    }
    return text;
}

}  // namespace qelt::publish
