#include "smtp/TembrixSSPI.h"

#include "foundation/DataBuffer.h"
#include "foundation/LogBase.h"
#include "platform/SecureZero.h"
#include "smtp/PackageExchange.h"

namespace hanamail {

namespace st = platform::secstatus;

namespace {

const char* acquireStatusName(uint32_t status)
{
    switch (status) {
        case st::kUnknownCredentials: return "SEC_E_UNKNOWN_CREDENTIALS";
        case st::kNoCredentials: return "SEC_E_NO_CREDENTIALS";
        case st::kNotOwner: return "SEC_E_NOT_OWNER";
        case st::kInsufficientMemory: return "SEC_E_INSUFFICIENT_MEMORY";
        case st::kInternalError: return "SEC_E_INTERNAL_ERROR";
        case st::kSecpkgNotFound: return "SEC_E_SECPKG_NOT_FOUND";
        default: return nullptr;
    }
}

// The statuses of a context step that end the login unauthenticated with a line of their own.
const char* failedPrepareLine(uint32_t status)
{
    switch (status) {
        case st::kInvalidHandle: return "TembrixSSPI.prepareOutboundPackage: SEC_E_INVALID_HANDLE";
        case st::kTargetUnknown: return "TembrixSSPI.prepareOutboundPackage: SEC_E_TARGET_UNKNOWN";
        case st::kInternalError: return "TembrixSSPI.prepareOutboundPackage: SEC_E_INTERNAL_ERROR";
        case st::kNoCredentials: return "TembrixSSPI.prepareOutboundPackage: SEC_E_NO_CREDENTIALS";
        case st::kNoAuthenticatingAuthority:
            return "TembrixSSPI.prepareOutboundPackage: SEC_E_NO_AUTHENTICATING_AUTHORITY";
        default: return nullptr;
    }
}

bool equalsNoCase(const std::string& a, const char* b)
{
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return i == a.size() && !b[i];
}

}  // namespace

TembrixSSPI::TembrixSSPI() : TembrixSSPI(platform::securityInterface()) {}

TembrixSSPI::TembrixSSPI(platform::SecurityInterface* table) : m_table(table)
{
    if (m_table && m_table->enumeratePackages(m_packages) != st::kOk) {
        m_table->freeBuffer(m_packages.raw);
        m_packages = platform::SecPackageList();
    }
}

TembrixSSPI::~TembrixSSPI()
{
    if (m_table) {
        m_table->freeBuffer(m_packages.raw);
        if (m_contextExists) m_table->deleteContext(m_context);
        if (m_credentialsAcquired) m_table->freeCredentials(m_credentials);
    }
    forgetIdentity();
}

void TembrixSSPI::forgetIdentity()
{
    platform::secureZero(m_password.data(), m_password.size());
    m_password.clear();
    m_user.clear();
    m_domain.clear();
    m_identity = platform::SecIdentity();
}

bool TembrixSSPI::indexInRange(int packageIndex) const
{
    return packageIndex >= 0 && packageIndex < packageCount();
}

int TembrixSSPI::findPackageIndex(const char* name) const
{
    if (!name) return 0;
    for (int i = 0; i < packageCount(); ++i)
        if (equalsNoCase(m_packages.packages[i].name, name)) return i;
    return 0;
}

bool TembrixSSPI::acquireCredentials(int packageIndex, const char* domain, const char* user, const char* password,
                                     LogBase& log)
{
    if (!user || !*user || !password || !*password) {
        log.logError("Failed to acquire alternate credentials: no username and/or password");
        return false;
    }
    if (!indexInRange(packageIndex)) {
        log.logError("Failed to acquire alternate credentials: package index out of range");
        return false;
    }
    if (m_credentialsAcquired) {
        m_table->freeCredentials(m_credentials);
        m_credentialsAcquired = false;
    }
    forgetIdentity();
    const bool hasDomain = domain && *domain;
    m_user = user;
    m_password = password;
    if (hasDomain) m_domain = domain;
    m_identity.user = reinterpret_cast<const unsigned char*>(m_user.c_str());
    m_identity.userLength = static_cast<uint32_t>(m_user.size());
    m_identity.domain = hasDomain ? reinterpret_cast<const unsigned char*>(m_domain.c_str()) : nullptr;
    m_identity.domainLength = static_cast<uint32_t>(m_domain.size());
    m_identity.password = reinterpret_cast<const unsigned char*>(m_password.c_str());
    m_identity.passwordLength = static_cast<uint32_t>(m_password.size());
    m_identity.flags = 1;

    const uint32_t status =
        m_table->acquireCredentials(m_packages.packages[packageIndex].name.c_str(), m_identity, m_credentials);
    if (status == st::kOk) {
        m_credentialsAcquired = true;
        return true;
    }
    log.logError("Failed to acquire credentials handle");
    log.logData("username", user);
    log.logData("domain", hasDomain ? domain : "NONE");
    if (const char* name = acquireStatusName(status))
        log.logData("status_code", name);
    else
        log.logDataLong("status_code", static_cast<int32_t>(status));
    return false;
}

void TembrixSSPI::logPrepareStatus(uint32_t status, LogBase& log) const
{
    switch (status) {
        case st::kCompleteNeeded: log.logError("TembrixSSPI.prepareOutboundPackage: SEC_I_COMPLETE_NEEDED"); break;
        case st::kCompleteAndContinue:
            log.logError("TembrixSSPI.prepareOutboundPackage: SEC_I_COMPLETE_AND_CONTINUE");
            break;
        case st::kLogonDenied: log.logError("LOGON_DENIED"); break;
        default: break;
    }
}

bool TembrixSSPI::prepareOutboundPackage(int packageIndex, DataBuffer& outPackage, const DataBuffer* received,
                                         bool& done, bool& authenticated, LogBase& log)
{
    done = true;
    authenticated = false;
    if (!indexInRange(packageIndex)) {
        log.logError("TembrixSSPI.prepareOutboundPackage: package index out of range");
        log.logDataLong("packageIndex", packageIndex);
        return false;
    }
    const uint32_t capacity = m_packages.packages[packageIndex].maxToken;
    DataBuffer token(capacity);
    static const unsigned char kNoBytes = 0;
    const unsigned char* input = nullptr;
    if (received) input = received->getData() ? received->getData() : &kNoBytes;
    uint32_t outLength = 0;
    platform::SecHandleValue newContext = m_context;
    const uint32_t status =
        m_table->initializeContext(m_credentialsAcquired ? &m_credentials : nullptr,
                                   m_contextExists ? &m_context : nullptr, input, received ? received->getSize() : 0,
                                   newContext, token.getDataMutable(), token.getCapacity(), outLength, m_contextFlags);

    switch (status) {
        case st::kOk:
        case st::kCompleteNeeded: authenticated = true; break;
        case st::kContinueNeeded:
        case st::kCompleteAndContinue: done = false; break;
        case st::kLogonDenied: break;
        case st::kInvalidToken: return true;  // the package stays as it was
        default: {
            if (const char* line = failedPrepareLine(status)) log.logError(line);
            log.logError("Finished and NOT authenticated");
            return false;
        }
    }
    // A package that reports more than the room it was given is not believed.
    if (!token.setSize(outLength)) {
        log.logError("Finished and NOT authenticated");
        done = true, authenticated = false;
        return false;
    }
    logPrepareStatus(status, log);
    m_context = newContext;
    m_contextExists = true;
    if (status == st::kCompleteNeeded || status == st::kCompleteAndContinue)
        m_table->completeAuthToken(m_context, token.getDataMutable(), token.getSize());
    outPackage.takeOver(token);
    return true;
}

bool TembrixSSPI::authenticate(int packageIndex, const char* domain, const char* user, const char* password,
                               LogBase& log)
{
    if (!user || !password) return false;
    if (!m_exchange) {
        log.logError("TembrixSSPI.authenticate: no package exchange object");
        return false;
    }
    if (!acquireCredentials(packageIndex, domain, user, password, log)) {
        log.logError("TembrixSSPI.authenticate: cannot acquire alternate credentials");
        return false;
    }
    DataBuffer package;
    bool done = true, authenticated = false;
    if (!prepareOutboundPackage(packageIndex, package, nullptr, done, authenticated, log)) {
        log.logError("TembrixSSPI.authenticate: failed to prepare 1st outbound package");
        return false;
    }
    for (;;) {
        DataBuffer received;
        if (!m_exchange->exchangePackage(package, received, log)) {
            log.logError("TembrixSSPI.authenticate: exchange failed");
            return false;
        }
        if (!prepareOutboundPackage(packageIndex, package, &received, done, authenticated, log)) {
            log.logError("TembrixSSPI.authenticate: failed to prepare next package");
            return false;
        }
        if (done) return m_exchange->sendFinal(package, log);
    }
}

}  // namespace hanamail
