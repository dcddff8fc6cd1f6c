#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace qelt::publish {

using Sha256Digest = std::array<std::uint8_t, 32>;

// An incremental SHA-256 (FIPS 180-4) over OpenSSL's libcrypto. One object per thread.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void Update(const void* data, std::size_t length);
    // The digest of everything given since construction or the last Finish; starts over afterwards.
    Sha256Digest Finish();

private:
    void Start();

    void* context_;  // EVP_MD_CTX, kept out of the header so that OpenSSL's headers stay in sha256.cpp
};

// Lower-case hexadecimal, 64 digits.
std::string ToHex(const Sha256Digest& digest);

}  // namespace qelt::publish
