#pragma once
// The client side of an NTLM login with NTLMv2 responses only (no LM, no
// NTLMv1): the negotiate message, the server's challenge read with every
// length and offset checked, and the authenticate message.
#include <cstdint>
#include <string>
#include <vector>

namespace hanamail {

namespace platform {

// What the client takes from a challenge message.
struct NtlmChallenge {
    uint32_t flags = 0;
    uint8_t serverChallenge[8] = {};
    std::vector<uint8_t> targetInfo;  // the AV pairs as sent, MsvAvEOL included
    bool hasTimestamp = false;
    uint64_t timestamp = 0;  // MsvAvTimestamp: 100 ns units since 1601
};

class NtlmClient {
public:
    static constexpr uint32_t kNegotiateFlags = 0xA0088205u;

    // user, domain and password are UTF-8.
    NtlmClient(const std::string& user, const std::string& domain, const std::string& password);
    ~NtlmClient();
    NtlmClient(const NtlmClient&) = delete;
    NtlmClient& operator=(const NtlmClient&) = delete;

    static std::vector<uint8_t> negotiateMessage();
    // False for anything that is not a well-formed challenge message.
    [[nodiscard]] static bool parseChallenge(const uint8_t* data, size_t n, NtlmChallenge& out);
    // Builds the authenticate message for a parsed challenge; false when the
    // random source fails or a field would not fit its 16-bit length.
    [[nodiscard]] bool authenticateMessage(const NtlmChallenge& challenge, std::vector<uint8_t>& out);
    // HMAC-MD5 of the response key over the NTProofStr, from the last
    // authenticate message.
    const uint8_t* sessionBaseKey() const { return m_sessionBaseKey; }

    // For tests only: fixed client challenge and time instead of the random
    // source and the clock.
    void fixClientChallenge(const uint8_t challenge[8]);
    void fixTime(uint64_t fileTime);

private:
    void responseKey(uint8_t out[16]) const;

    std::u16string m_user;
    std::u16string m_domain;
    uint8_t m_ntHash[16];
    uint8_t m_sessionBaseKey[16] = {};
    bool m_fixedChallenge = false;
    uint8_t m_clientChallenge[8] = {};
    bool m_fixedTime = false;
    uint64_t m_time = 0;
};

}  // namespace platform

}  // namespace hanamail
