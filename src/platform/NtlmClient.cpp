#include "platform/NtlmClient.h"

#include <chrono>
#include <cstring>

#include "platform/Digest.h"
#include "platform/RandomBytes.h"
#include "platform/SecureZero.h"

namespace hanamail {

namespace platform {

namespace {

const uint8_t kSignature[8] = {'N', 'T', 'L', 'M', 'S', 'S', 'P', 0};
constexpr uint32_t kFlagTargetInfo = 0x00800000u;
constexpr uint16_t kAvEol = 0;
constexpr uint16_t kAvTimestamp = 7;
constexpr size_t kChallengeFixed = 32;     // up to and including the server challenge
constexpr size_t kChallengeWithInfo = 48;  // with reserved bytes and the target-info fields
constexpr size_t kAuthenticateHeader = 64;
// The NT response (NTProofStr, the 28 fixed bytes of the client blob, the
// AV pairs and 4 zeros) must fit its 16-bit length.
constexpr size_t kMaxTargetInfo = 0xFFFF - 16 - 28 - 4;

uint16_t le16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
void put16(std::vector<uint8_t>& v, size_t at, uint32_t x)
{
    v[at] = static_cast<uint8_t>(x);
    v[at + 1] = static_cast<uint8_t>(x >> 8);
}
void put32(std::vector<uint8_t>& v, size_t at, uint32_t x)
{
    for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (8 * i));
}
void append(std::vector<uint8_t>& v, const void* p, size_t n)
{
    if (!n) return;
    const uint8_t* b = static_cast<const uint8_t*>(p);
    v.insert(v.end(), b, b + n);
}

// A length/offset field of a message: true when the bytes lie inside it
// (an empty field may point anywhere).
bool fieldInside(const uint8_t* field, size_t messageSize, size_t& offset, size_t& length)
{
    length = le16(field);
    offset = le32(field + 4);
    return length == 0 || (offset <= messageSize && length <= messageSize - offset);
}

// UTF-8 into UTF-16; a byte that does not start a valid sequence becomes U+FFFD.
std::u16string utf16(const std::string& s)
{
    static const uint32_t least[4] = {0, 0x80, 0x800, 0x10000};
    std::u16string out;
    out.reserve(s.size());  // never more units than bytes: no copy left behind by growth
    for (size_t i = 0; i < s.size();) {
        const uint8_t c = static_cast<uint8_t>(s[i]);
        const size_t extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : 4;
        uint32_t cp = 0xFFFD;
        size_t used = 1;
        if (extra == 0) {
            cp = c;
        } else if (extra < 4 && extra < s.size() - i) {
            uint32_t v = c & (0x3Fu >> extra);
            size_t k = 1;
            for (; k <= extra && (static_cast<uint8_t>(s[i + k]) & 0xC0) == 0x80; ++k)
                v = (v << 6) | (static_cast<uint8_t>(s[i + k]) & 0x3F);
            if (k > extra && v >= least[extra] && v <= 0x10FFFF && (v < 0xD800 || v > 0xDFFF)) {
                cp = v;
                used = extra + 1;
            }
        }
        i += used;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

// Upper case of the user name as NTOWFv2 takes it: ASCII and Latin-1 letters.
std::u16string upper(std::u16string s)
{
    for (char16_t& c : s) {
        if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) c = static_cast<char16_t>(c - 32);
    }
    return s;
}

void appendLe(std::vector<uint8_t>& v, const std::u16string& s)
{
    for (char16_t c : s) {
        v.push_back(static_cast<uint8_t>(c));
        v.push_back(static_cast<uint8_t>(c >> 8));
    }
}

uint64_t fileTimeNow()
{
    // 100 ns units from 1601-01-01 to 1970-01-01.
    constexpr uint64_t kEpochDelta = 116444736000000000ull;
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    return kEpochDelta +
           static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(since).count()) * 10;
}

}  // namespace

NtlmClient::NtlmClient(const std::string& user, const std::string& domain, const std::string& password)
    : m_user(utf16(user)), m_domain(utf16(domain))
{
    std::u16string pw = utf16(password);
    std::vector<uint8_t> bytes;
    bytes.reserve(2 * pw.size());
    appendLe(bytes, pw);
    Md4::hash(bytes.data(), bytes.size(), m_ntHash);
    secureZero(bytes.data(), bytes.size());
    secureZero(pw.data(), pw.size() * sizeof(char16_t));
}

NtlmClient::~NtlmClient()
{
    secureZero(m_ntHash, sizeof m_ntHash);
    secureZero(m_sessionBaseKey, sizeof m_sessionBaseKey);
}

void NtlmClient::fixClientChallenge(const uint8_t challenge[8])
{
    std::memcpy(m_clientChallenge, challenge, 8);
    m_fixedChallenge = true;
}

void NtlmClient::fixTime(uint64_t fileTime)
{
    m_time = fileTime;
    m_fixedTime = true;
}

std::vector<uint8_t> NtlmClient::negotiateMessage()
{
    // Signature, type 1, flags, empty domain and workstation fields.
    std::vector<uint8_t> m(32, 0);
    std::memcpy(m.data(), kSignature, 8);
    put32(m, 8, 1);
    put32(m, 12, kNegotiateFlags);
    put32(m, 20, 32);
    put32(m, 28, 32);
    return m;
}

bool NtlmClient::parseChallenge(const uint8_t* data, size_t n, NtlmChallenge& out)
{
    out = NtlmChallenge();
    if (!data || n < kChallengeFixed || std::memcmp(data, kSignature, 8) != 0 || le32(data + 8) != 2) return false;
    size_t offset = 0, length = 0;
    if (!fieldInside(data + 12, n, offset, length)) return false;  // target name (not used)
    out.flags = le32(data + 20);
    std::memcpy(out.serverChallenge, data + 24, 8);
    if (!(out.flags & kFlagTargetInfo) || n < kChallengeWithInfo) return true;
    if (!fieldInside(data + 40, n, offset, length) || length > kMaxTargetInfo) return false;
    if (length == 0) return true;
    // The AV pairs: id, length, value; the list must end with MsvAvEOL.
    const uint8_t* p = data + offset;
    size_t left = length;
    for (;;) {
        if (left < 4) return false;
        const uint16_t id = le16(p);
        const uint16_t len = le16(p + 2);
        if (len > left - 4) return false;
        if (id == kAvEol) break;
        if (id == kAvTimestamp) {
            if (len != 8) return false;
            out.hasTimestamp = true;
            out.timestamp = uint64_t(le32(p + 4)) | (uint64_t(le32(p + 8)) << 32);
        }
        p += 4 + len;
        left -= 4 + len;
    }
    out.targetInfo.assign(data + offset, p + 4);
    return true;
}

void NtlmClient::responseKey(uint8_t out[16]) const
{
    // NTOWFv2: HMAC-MD5 keyed with the NT hash over UTF-16LE(upper(user) + domain).
    std::vector<uint8_t> who;
    appendLe(who, upper(m_user));
    appendLe(who, m_domain);
    HmacMd5::hash(m_ntHash, sizeof m_ntHash, who.data(), who.size(), out);
}

bool NtlmClient::authenticateMessage(const NtlmChallenge& challenge, std::vector<uint8_t>& out)
{
    out.clear();
    uint8_t clientChallenge[8];
    if (m_fixedChallenge)
        std::memcpy(clientChallenge, m_clientChallenge, 8);
    else if (!randomBytes(clientChallenge, sizeof clientChallenge))
        return false;
    const uint64_t time = challenge.hasTimestamp ? challenge.timestamp : m_fixedTime ? m_time : fileTimeNow();

    // The client blob ("temp"): versions 1 and 1, six zeros, time, client
    // challenge, four zeros, the server's AV pairs, four zeros.
    std::vector<uint8_t> blob = {1, 1, 0, 0, 0, 0, 0, 0};
    for (int i = 0; i < 8; ++i) blob.push_back(static_cast<uint8_t>(time >> (8 * i)));
    append(blob, clientChallenge, 8);
    blob.insert(blob.end(), 4, 0);
    append(blob, challenge.targetInfo.data(), challenge.targetInfo.size());
    blob.insert(blob.end(), 4, 0);

    uint8_t key[16];
    responseKey(key);
    uint8_t proof[16];
    HmacMd5 h(key, sizeof key);
    h.update(challenge.serverChallenge, 8);
    h.update(blob.data(), blob.size());
    h.finish(proof);
    HmacMd5::hash(key, sizeof key, proof, sizeof proof, m_sessionBaseKey);

    // With a timestamp from the server the LM response is 24 zeros; without
    // it, the LMv2 response.
    uint8_t lm[24] = {};
    if (!challenge.hasTimestamp) {
        HmacMd5 l(key, sizeof key);
        l.update(challenge.serverChallenge, 8);
        l.update(clientChallenge, 8);
        l.finish(lm);
        std::memcpy(lm + 16, clientChallenge, 8);
    }
    secureZero(key, sizeof key);

    std::vector<uint8_t> user, domain;
    appendLe(user, m_user);
    appendLe(domain, m_domain);
    const size_t ntLength = sizeof proof + blob.size();
    if (ntLength > 0xFFFF || user.size() > 0xFFFF || domain.size() > 0xFFFF) return false;

    out.assign(kAuthenticateHeader, 0);
    std::memcpy(out.data(), kSignature, 8);
    put32(out, 8, 3);
    auto field = [&](size_t at, const void* p, size_t len) {
        put16(out, at, static_cast<uint32_t>(len));
        put16(out, at + 2, static_cast<uint32_t>(len));
        put32(out, at + 4, static_cast<uint32_t>(out.size()));
        append(out, p, len);
    };
    field(12, lm, sizeof lm);
    const size_t ntAt = out.size();
    field(20, proof, sizeof proof);
    append(out, blob.data(), blob.size());
    put16(out, 20, static_cast<uint32_t>(ntLength));
    put16(out, 22, static_cast<uint32_t>(ntLength));
    put32(out, 24, static_cast<uint32_t>(ntAt));
    field(28, domain.data(), domain.size());
    field(36, user.data(), user.size());
    field(44, nullptr, 0);  // workstation
    field(52, nullptr, 0);  // no session key exchange
    put32(out, 60, (challenge.flags & (kNegotiateFlags | kFlagTargetInfo)) | 1u);
    return true;
}

}  // namespace platform

}  // namespace hanamail
