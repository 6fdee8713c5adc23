#pragma once
// The security packages that carry NTLM-style logins, as one table of
// operations. Windows hands them to the system's packages; elsewhere the
// system's own NTLM client stands behind the same operations.
#include <cstdint>
#include <string>
#include <vector>

namespace hanamail {

namespace platform {

// Status values of the operations (the numbers of the Windows packages).
namespace secstatus {
constexpr uint32_t kOk = 0;
constexpr uint32_t kContinueNeeded = 0x00090312;
constexpr uint32_t kCompleteNeeded = 0x00090313;
constexpr uint32_t kCompleteAndContinue = 0x00090314;
constexpr uint32_t kInsufficientMemory = 0x80090300;
constexpr uint32_t kInvalidHandle = 0x80090301;
constexpr uint32_t kTargetUnknown = 0x80090303;
constexpr uint32_t kInternalError = 0x80090304;
constexpr uint32_t kSecpkgNotFound = 0x80090305;
constexpr uint32_t kNotOwner = 0x80090306;
constexpr uint32_t kInvalidToken = 0x80090308;
constexpr uint32_t kLogonDenied = 0x8009030C;
constexpr uint32_t kUnknownCredentials = 0x8009030D;
constexpr uint32_t kNoCredentials = 0x8009030E;
constexpr uint32_t kOutOfSequence = 0x80090310;
constexpr uint32_t kNoAuthenticatingAuthority = 0x80090311;
constexpr uint32_t kBufferTooSmall = 0x80090321;
}  // namespace secstatus

// Requirement and attribute flags of a context (ISC_REQ_* values).
constexpr uint32_t kReqReplayDetect = 4;

struct SecPackage {
    std::string name;
    uint32_t maxToken = 0;
};

// The package list as enumerated; raw is what freeBuffer releases.
struct SecPackageList {
    std::vector<SecPackage> packages;
    void* raw = nullptr;
};

// Credentials and context handles: two pointer-sized words, opaque.
struct SecHandleValue {
    uintptr_t lower = 0;
    uintptr_t upper = 0;
};

// User, domain (null when none) and password as byte strings with their
// lengths; flags 1: the strings are in the ANSI code page (UTF-8 on POSIX).
struct SecIdentity {
    const unsigned char* user = nullptr;
    uint32_t userLength = 0;
    const unsigned char* domain = nullptr;
    uint32_t domainLength = 0;
    const unsigned char* password = nullptr;
    uint32_t passwordLength = 0;
    uint32_t flags = 1;
};

class SecurityInterface {
public:
    virtual ~SecurityInterface() = default;
    virtual uint32_t enumeratePackages(SecPackageList& out) = 0;
    // Outbound credentials of the named package for the identity.
    virtual uint32_t acquireCredentials(const char* package, const SecIdentity& identity, SecHandleValue& out) = 0;
    // context: the existing context, or null on the first call; input: the
    // server's token or null. The output token is written into outToken
    // (outCapacity bytes) and outLength says how much of it is used.
    // attributes: the requirements in, the granted attributes out.
    virtual uint32_t initializeContext(const SecHandleValue* credentials, const SecHandleValue* context,
                                       const unsigned char* input, uint32_t inputLength, SecHandleValue& newContext,
                                       unsigned char* outToken, uint32_t outCapacity, uint32_t& outLength,
                                       uint32_t& attributes) = 0;
    virtual uint32_t completeAuthToken(const SecHandleValue& context, unsigned char* token, uint32_t length) = 0;
    virtual uint32_t deleteContext(const SecHandleValue& context) = 0;
    virtual uint32_t freeCredentials(const SecHandleValue& credentials) = 0;
    virtual uint32_t freeBuffer(void* raw) = 0;
};

// The process's security packages, loaded on first use and kept until the
// process ends; null when they cannot be had.
SecurityInterface* securityInterface();

}  // namespace platform

}  // namespace hanamail
