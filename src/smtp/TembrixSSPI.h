#pragma once
#include <cstdint>
#include <string>

#include "platform/SecurityInterface.h"

namespace hanamail {

class DataBuffer;
class LogBase;
class PackageExchange;

// One login through a security package (NTLM, MSN): credentials, the
// context and the packages it produces, exchanged with the server through
// a PackageExchange. Lives for one attempt.
class TembrixSSPI {
public:
    // The process's security packages.
    TembrixSSPI();
    // The given table (null: none, every step fails).
    explicit TembrixSSPI(platform::SecurityInterface* table);
    virtual ~TembrixSSPI();
    TembrixSSPI(const TembrixSSPI&) = delete;
    TembrixSSPI& operator=(const TembrixSSPI&) = delete;

    // The first package whose name equals name without regard to case; 0 when none does.
    int findPackageIndex(const char* name) const;
    bool acquireCredentials(int packageIndex, const char* domain, const char* user, const char* password, LogBase& log);
    // The next outbound package from the server's package (null on the
    // first call). done and authenticated report where the login stands.
    bool prepareOutboundPackage(int packageIndex, DataBuffer& outPackage, const DataBuffer* received, bool& done,
                                bool& authenticated, LogBase& log);
    // The whole exchange: credentials, the first package, then packages to
    // and from the server until the package is done.
    bool authenticate(int packageIndex, const char* domain, const char* user, const char* password, LogBase& log);

    void setPackageExchange(PackageExchange* exchange) { m_exchange = exchange; }
    int packageCount() const { return static_cast<int>(m_packages.packages.size()); }
    // The name of a package of the list; "" outside it.
    std::string packageName(int packageIndex) const
    {
        return indexInRange(packageIndex) ? m_packages.packages[packageIndex].name : std::string();
    }
    uint32_t contextFlags() const { return m_contextFlags; }

private:
    bool indexInRange(int packageIndex) const;
    void forgetIdentity();
    void logPrepareStatus(uint32_t status, LogBase& log) const;

    platform::SecurityInterface* m_table;
    platform::SecPackageList m_packages;
    std::string m_user;
    std::string m_domain;
    std::string m_password;
    platform::SecIdentity m_identity;
    platform::SecHandleValue m_credentials;
    bool m_credentialsAcquired = false;
    platform::SecHandleValue m_context;
    bool m_contextExists = false;
    uint32_t m_contextFlags = platform::kReqReplayDetect;
    PackageExchange* m_exchange = nullptr;
};

}  // namespace hanamail
