#pragma once
// MD4 (RFC 1320), MD5 (RFC 1321) and HMAC-MD5 (RFC 2104): the digests the
// authentication exchanges need. Pure code, the same on every platform.
#include <cstddef>
#include <cstdint>

namespace hanamail {

namespace platform {

// The block engine MD4 and MD5 share: 64-byte blocks, four little-endian
// 32-bit words of state, the same padding and 64-bit bit count.
class Digest16 {
public:
    static constexpr size_t kSize = 16;
    static constexpr size_t kBlock = 64;

    void update(const void* data, size_t n);
    // Writes the 16-byte digest; the object then starts over.
    void finish(uint8_t out[kSize]);

protected:
    using Compress = void (*)(uint32_t state[4], const uint8_t block[kBlock]);
    explicit Digest16(Compress compress);
    ~Digest16();
    void reset();

private:
    Compress m_compress;
    uint32_t m_state[4];
    uint64_t m_length;  // bytes hashed so far
    uint8_t m_block[kBlock];
};

class Md4 : public Digest16 {
public:
    Md4();
    static void hash(const void* data, size_t n, uint8_t out[kSize]);
};

class Md5 : public Digest16 {
public:
    Md5();
    static void hash(const void* data, size_t n, uint8_t out[kSize]);
};

class HmacMd5 {
public:
    HmacMd5(const void* key, size_t keyLen);
    ~HmacMd5();
    HmacMd5(const HmacMd5&) = delete;
    HmacMd5& operator=(const HmacMd5&) = delete;
    void update(const void* data, size_t n);
    void finish(uint8_t out[Digest16::kSize]);
    static void hash(const void* key, size_t keyLen, const void* data, size_t n, uint8_t out[Digest16::kSize]);

private:
    Md5 m_inner;
    uint8_t m_outerPad[Digest16::kBlock];
};

}  // namespace platform

}  // namespace hanamail
