#include "platform/Digest.h"

#include <cstring>

#include "platform/SecureZero.h"

namespace hanamail {

namespace platform {

namespace {

inline uint32_t rotl(uint32_t x, int s)
{
    return (x << s) | (x >> (32 - s));
}

inline void loadWords(const uint8_t block[Digest16::kBlock], uint32_t x[16])
{
    for (int i = 0; i < 16; ++i) {
        const uint8_t* p = block + 4 * i;
        x[i] = uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
    }
}

void md4Compress(uint32_t state[4], const uint8_t block[Digest16::kBlock])
{
    uint32_t x[16];
    loadWords(block, x);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    static const int s1[4] = {3, 7, 11, 19};
    static const int s2[4] = {3, 5, 9, 13};
    static const int s3[4] = {3, 9, 11, 15};
    static const int order3[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
    for (int i = 0; i < 16; ++i) {
        uint32_t t = a + ((b & c) | (~b & d)) + x[i];
        a = d, d = c, c = b, b = rotl(t, s1[i % 4]);
    }
    for (int i = 0; i < 16; ++i) {
        const int k = (i % 4) * 4 + i / 4;
        uint32_t t = a + ((b & c) | (b & d) | (c & d)) + x[k] + 0x5A827999u;
        a = d, d = c, c = b, b = rotl(t, s2[i % 4]);
    }
    for (int i = 0; i < 16; ++i) {
        uint32_t t = a + (b ^ c ^ d) + x[order3[i]] + 0x6ED9EBA1u;
        a = d, d = c, c = b, b = rotl(t, s3[i % 4]);
    }
    state[0] += a, state[1] += b, state[2] += c, state[3] += d;
}

// T[i] = floor(2^32 * |sin(i + 1)|), RFC 1321 section 3.4.
const uint32_t kMd5T[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
const int kMd5S[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

void md5Compress(uint32_t state[4], const uint8_t block[Digest16::kBlock])
{
    uint32_t x[16];
    loadWords(block, x);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (int i = 0; i < 64; ++i) {
        const int round = i / 16;
        uint32_t f;
        int k;
        switch (round) {
            case 0: f = (b & c) | (~b & d), k = i; break;
            case 1: f = (b & d) | (c & ~d), k = (5 * i + 1) % 16; break;
            case 2: f = b ^ c ^ d, k = (3 * i + 5) % 16; break;
            default: f = c ^ (b | ~d), k = (7 * i) % 16; break;
        }
        uint32_t t = a + f + x[k] + kMd5T[i];
        a = d, d = c, c = b, b = b + rotl(t, kMd5S[round][i % 4]);
    }
    state[0] += a, state[1] += b, state[2] += c, state[3] += d;
}

}  // namespace

Digest16::Digest16(Compress compress) : m_compress(compress)
{
    reset();
}

Digest16::~Digest16()
{
    // An HMAC key or a password may have passed through the block.
    secureZero(m_block, sizeof m_block);
    secureZero(m_state, sizeof m_state);
}

void Digest16::reset()
{
    m_state[0] = 0x67452301u;
    m_state[1] = 0xefcdab89u;
    m_state[2] = 0x98badcfeu;
    m_state[3] = 0x10325476u;
    m_length = 0;
}

void Digest16::update(const void* data, size_t n)
{
    const uint8_t* p = static_cast<const uint8_t*>(data);
    size_t used = static_cast<size_t>(m_length % kBlock);
    m_length += n;
    if (used) {
        const size_t take = n < kBlock - used ? n : kBlock - used;
        std::memcpy(m_block + used, p, take);
        p += take, n -= take, used += take;
        if (used < kBlock) return;
        m_compress(m_state, m_block);
    }
    for (; n >= kBlock; p += kBlock, n -= kBlock) m_compress(m_state, p);
    if (n) std::memcpy(m_block, p, n);
}

void Digest16::finish(uint8_t out[kSize])
{
    const uint64_t bits = m_length * 8;
    static const uint8_t pad[kBlock] = {0x80};
    const size_t used = static_cast<size_t>(m_length % kBlock);
    update(pad, used < 56 ? 56 - used : 120 - used);
    uint8_t count[8];
    for (int i = 0; i < 8; ++i) count[i] = static_cast<uint8_t>(bits >> (8 * i));
    update(count, sizeof count);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) out[4 * i + j] = static_cast<uint8_t>(m_state[i] >> (8 * j));
    reset();
}

Md4::Md4() : Digest16(md4Compress) {}

void Md4::hash(const void* data, size_t n, uint8_t out[kSize])
{
    Md4 h;
    h.update(data, n);
    h.finish(out);
}

Md5::Md5() : Digest16(md5Compress) {}

void Md5::hash(const void* data, size_t n, uint8_t out[kSize])
{
    Md5 h;
    h.update(data, n);
    h.finish(out);
}

HmacMd5::HmacMd5(const void* key, size_t keyLen)
{
    uint8_t k[Digest16::kBlock] = {};
    if (keyLen > Digest16::kBlock)
        Md5::hash(key, keyLen, k);
    else if (keyLen)
        std::memcpy(k, key, keyLen);
    uint8_t innerPad[Digest16::kBlock];
    for (size_t i = 0; i < Digest16::kBlock; ++i) {
        innerPad[i] = static_cast<uint8_t>(k[i] ^ 0x36);
        m_outerPad[i] = static_cast<uint8_t>(k[i] ^ 0x5c);
    }
    m_inner.update(innerPad, sizeof innerPad);
    secureZero(k, sizeof k);
    secureZero(innerPad, sizeof innerPad);
}

HmacMd5::~HmacMd5()
{
    secureZero(m_outerPad, sizeof m_outerPad);
}

void HmacMd5::update(const void* data, size_t n)
{
    m_inner.update(data, n);
}

void HmacMd5::finish(uint8_t out[Digest16::kSize])
{
    uint8_t innerHash[Digest16::kSize];
    m_inner.finish(innerHash);
    Md5 outer;
    outer.update(m_outerPad, sizeof m_outerPad);
    outer.update(innerHash, sizeof innerHash);
    outer.finish(out);
}

void HmacMd5::hash(const void* key, size_t keyLen, const void* data, size_t n, uint8_t out[Digest16::kSize])
{
    HmacMd5 h(key, keyLen);
    h.update(data, n);
    h.finish(out);
}

}  // namespace platform

}  // namespace hanamail
