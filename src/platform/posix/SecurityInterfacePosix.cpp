// The security packages on POSIX: one package, "NTLM", carried out by the
// system's own client (NtlmClient) behind the operations of the table.
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "platform/NtlmClient.h"
#include "platform/SecureZero.h"
#include "platform/SecurityInterface.h"

namespace hanamail {

namespace platform {

namespace {

// Room for any authenticate message: a 64-byte header, the 24-byte LM
// response and four fields of at most 65,535 bytes each.
constexpr uint32_t kMaxToken = 64 + 24 + 4 * 0xFFFFu;

struct Context {
    uintptr_t credentials;
    bool challengeAnswered;
};

class PosixSecurity : public SecurityInterface {
public:
    uint32_t enumeratePackages(SecPackageList& out) override
    {
        out.packages.assign(1, SecPackage{"NTLM", kMaxToken});
        out.raw = nullptr;
        return secstatus::kOk;
    }

    uint32_t acquireCredentials(const char* package, const SecIdentity& id, SecHandleValue& out) override
    {
        if (!package || !equalsNtlm(package)) return secstatus::kSecpkgNotFound;
        if (!id.user || !id.password) return secstatus::kNoCredentials;
        auto text = [](const unsigned char* p, uint32_t n) {
            return p ? std::string(reinterpret_cast<const char*>(p), n) : std::string();
        };
        std::string password = text(id.password, id.passwordLength);
        auto client =
            std::make_unique<NtlmClient>(text(id.user, id.userLength), text(id.domain, id.domainLength), password);
        secureZero(password.data(), password.size());
        std::lock_guard<std::mutex> lock(m_mutex);
        out.lower = ++m_lastId;
        out.upper = 0;
        m_credentials[out.lower] = std::move(client);
        return secstatus::kOk;
    }

    uint32_t initializeContext(const SecHandleValue* credentials, const SecHandleValue* context,
                               const unsigned char* input, uint32_t inputLength, SecHandleValue& newContext,
                               unsigned char* outToken, uint32_t outCapacity, uint32_t& outLength,
                               uint32_t& attributes) override
    {
        outLength = 0;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!credentials || !m_credentials.count(credentials->lower)) return secstatus::kInvalidHandle;
        std::vector<uint8_t> token;
        if (!context) {
            // First call: the negotiate message.
            token = NtlmClient::negotiateMessage();
            if (token.size() > outCapacity) return secstatus::kBufferTooSmall;
            newContext.lower = ++m_lastId;
            newContext.upper = 0;
            m_contexts[newContext.lower] = Context{credentials->lower, false};
            std::memcpy(outToken, token.data(), token.size());
            outLength = static_cast<uint32_t>(token.size());
            return secstatus::kContinueNeeded;
        }
        auto found = m_contexts.find(context->lower);
        if (found == m_contexts.end() || found->second.credentials != credentials->lower)
            return secstatus::kInvalidHandle;
        if (found->second.challengeAnswered) return secstatus::kOutOfSequence;
        NtlmChallenge challenge;
        if (!NtlmClient::parseChallenge(input, inputLength, challenge)) return secstatus::kInvalidToken;
        // Fails when the random source does, or for a user or domain name
        // beyond the 16-bit lengths of the message.
        if (!m_credentials[credentials->lower]->authenticateMessage(challenge, token)) return secstatus::kInternalError;
        if (token.size() > outCapacity) return secstatus::kBufferTooSmall;
        found->second.challengeAnswered = true;
        newContext = *context;
        std::memcpy(outToken, token.data(), token.size());
        outLength = static_cast<uint32_t>(token.size());
        attributes &= kReqReplayDetect;
        return secstatus::kOk;
    }

    uint32_t completeAuthToken(const SecHandleValue&, unsigned char*, uint32_t) override { return secstatus::kOk; }

    uint32_t deleteContext(const SecHandleValue& context) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_contexts.erase(context.lower) ? secstatus::kOk : secstatus::kInvalidHandle;
    }

    uint32_t freeCredentials(const SecHandleValue& credentials) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_credentials.erase(credentials.lower) ? secstatus::kOk : secstatus::kInvalidHandle;
    }

    uint32_t freeBuffer(void*) override { return secstatus::kOk; }

private:
    static bool equalsNtlm(const char* name)
    {
        static const char kName[] = "ntlm";
        for (size_t i = 0; i < sizeof kName; ++i) {
            char c = name[i];
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            if (c != kName[i]) return false;
        }
        return true;
    }

    std::mutex m_mutex;
    uintptr_t m_lastId = 0;
    std::map<uintptr_t, std::unique_ptr<NtlmClient>> m_credentials;
    std::map<uintptr_t, Context> m_contexts;
};

}  // namespace

SecurityInterface* securityInterface()
{
    static PosixSecurity instance;
    return &instance;
}

}  // namespace platform

}  // namespace hanamail
