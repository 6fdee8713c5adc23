#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "foundation/DataBuffer.h"
#include "foundation/LogNull.h"
#include "smtp/PackageExchange.h"
#include "smtp/TembrixSSPI.h"

using namespace hanamail;
namespace st = hanamail::platform::secstatus;
using platform::SecHandleValue;
using platform::SecIdentity;
using platform::SecPackageList;

namespace {

// Every line in order: "E:text", "I:text", "D:key=value".
class LineLog : public LogNull {
public:
    bool logError(const char* t) override { return add(std::string("E:") + t); }
    bool logInfo(const char* t) override { return add(std::string("I:") + t); }
    bool logData(const char* k, const char* v) override { return add(std::string("D:") + k + "=" + v); }
    bool logDataLong(const char* k, int32_t v) override { return logData(k, std::to_string(v).c_str()); }
    bool add(std::string s)
    {
        lines.push_back(std::move(s));
        return true;
    }
    std::vector<std::string> lines;
};

std::string text(const DataBuffer& b)
{
    return std::string(reinterpret_cast<const char*>(b.getData()), b.getSize());
}

// A security table whose answers the test scripts.
class FakeSecurity : public platform::SecurityInterface {
public:
    uint32_t enumeratePackages(SecPackageList& out) override
    {
        for (const char* n : names) out.packages.push_back({n, 64});
        out.raw = &rawList;
        return enumerateStatus;
    }
    uint32_t acquireCredentials(const char* package, const SecIdentity& id, SecHandleValue& out) override
    {
        acquiredPackage = package;
        user.assign(reinterpret_cast<const char*>(id.user), id.userLength);
        domainGiven = id.domain != nullptr;
        password.assign(reinterpret_cast<const char*>(id.password), id.passwordLength);
        flags = id.flags;
        out.lower = ++handles;
        return acquireStatus;
    }
    uint32_t initializeContext(const SecHandleValue* credentials, const SecHandleValue* context,
                               const unsigned char* input, uint32_t inputLength, SecHandleValue& newContext,
                               unsigned char* outToken, uint32_t outCapacity, uint32_t& outLength,
                               uint32_t& attributes) override
    {
        calls.push_back({credentials != nullptr, context != nullptr,
                         input ? std::string(reinterpret_cast<const char*>(input), inputLength) : "(none)",
                         attributes});
        const std::string token = "TOKEN" + std::to_string(calls.size());
        outLength = reportedLength ? reportedLength : static_cast<uint32_t>(token.size());
        if (token.size() <= outCapacity) std::copy(token.begin(), token.end(), outToken);
        if (!context) newContext.lower = ++handles;
        attributes = grantedAttributes;
        const uint32_t status = statuses.empty() ? st::kOk : statuses.front();
        if (!statuses.empty()) statuses.pop_front();
        return status;
    }
    uint32_t completeAuthToken(const SecHandleValue&, unsigned char*, uint32_t) override
    {
        ++completed;
        return st::kOk;
    }
    uint32_t deleteContext(const SecHandleValue&) override
    {
        ++contextsDeleted;
        return st::kOk;
    }
    uint32_t freeCredentials(const SecHandleValue&) override
    {
        ++credentialsFreed;
        return st::kOk;
    }
    uint32_t freeBuffer(void* raw) override
    {
        if (raw == &rawList) ++listsFreed;
        return st::kOk;
    }

    struct Call {
        bool credentials, context;
        std::string input;
        uint32_t requirements;
    };
    std::vector<const char*> names = {"Negotiate", "NTLM", "Kerberos"};
    int rawList = 0;
    uint32_t enumerateStatus = st::kOk;
    uint32_t acquireStatus = st::kOk;
    std::deque<uint32_t> statuses;
    uint32_t grantedAttributes = platform::kReqReplayDetect;
    uint32_t reportedLength = 0;
    std::vector<Call> calls;
    std::string acquiredPackage, user, password;
    bool domainGiven = false;
    uint32_t flags = 0;
    uintptr_t handles = 0;
    int completed = 0, contextsDeleted = 0, credentialsFreed = 0, listsFreed = 0;
};

class FakeExchange : public PackageExchange {
public:
    bool exchangePackage(const DataBuffer& package, DataBuffer& received, LogBase& log) override
    {
        sent.push_back(text(package));
        if (!exchangeOk) {
            log.logError("exchangePackage: failed to get success response");
            return false;
        }
        return received.append(challenge.data(), static_cast<uint32_t>(challenge.size()));
    }
    bool sendFinal(const DataBuffer& package, LogBase& log) override
    {
        final = text(package);
        if (!finalOk) log.logError("Logon denied.  Check username, password, and domain");
        return finalOk;
    }
    std::string challenge = "CHALLENGE";
    bool exchangeOk = true, finalOk = true;
    std::vector<std::string> sent;
    std::string final = "(none)";
};

}  // namespace

TEST(TembrixSspi, FindsPackagesByNameWithoutCase)
{
    FakeSecurity sec;
    TembrixSSPI sspi(&sec);
    EXPECT_EQ(sspi.findPackageIndex("ntlm"), 1);
    EXPECT_EQ(sspi.findPackageIndex("KERBEROS"), 2);
    EXPECT_EQ(sspi.findPackageIndex("MSN"), 0);  // none: the first package
    EXPECT_EQ(sspi.findPackageIndex("NTLMX"), 0);
}

TEST(TembrixSspi, WithoutTableOrListEveryStepFails)
{
    TembrixSSPI none(nullptr);
    LineLog log;
    EXPECT_EQ(none.packageCount(), 0);
    EXPECT_EQ(none.findPackageIndex("NTLM"), 0);
    EXPECT_FALSE(none.acquireCredentials(0, nullptr, "u", "p", log));
    EXPECT_EQ(log.lines,
              std::vector<std::string>{"E:Failed to acquire alternate credentials: package index out of range"});

    FakeSecurity sec;
    sec.enumerateStatus = st::kInternalError;
    TembrixSSPI failed(&sec);
    EXPECT_EQ(failed.packageCount(), 0);
}

TEST(TembrixSspi, AcquireCredentialsChecksAndFillsTheIdentity)
{
    FakeSecurity sec;
    {
        TembrixSSPI sspi(&sec);
        LineLog log;
        EXPECT_FALSE(sspi.acquireCredentials(1, nullptr, "", "pw", log));
        EXPECT_FALSE(sspi.acquireCredentials(1, nullptr, "user", nullptr, log));
        EXPECT_FALSE(sspi.acquireCredentials(3, nullptr, "user", "pw", log));
        EXPECT_FALSE(sspi.acquireCredentials(-1, nullptr, "user", "pw", log));
        const std::string none = "E:Failed to acquire alternate credentials: no username and/or password";
        const std::string range = "E:Failed to acquire alternate credentials: package index out of range";
        EXPECT_EQ(log.lines, (std::vector<std::string>{none, none, range, range}));

        EXPECT_TRUE(sspi.acquireCredentials(1, "", "user", "secret", log));
        EXPECT_EQ(sec.acquiredPackage, "NTLM");
        EXPECT_EQ(sec.user, "user");
        EXPECT_EQ(sec.password, "secret");
        EXPECT_FALSE(sec.domainGiven);  // an empty domain is none
        EXPECT_EQ(sec.flags, 1u);
        EXPECT_TRUE(sspi.acquireCredentials(2, "CORP", "other", "secret2", log));
        EXPECT_TRUE(sec.domainGiven);
        EXPECT_EQ(sec.credentialsFreed, 1);  // the first credentials went
        EXPECT_EQ(log.lines.size(), 4u);
    }
    EXPECT_EQ(sec.credentialsFreed, 2);
    EXPECT_EQ(sec.listsFreed, 1);
    EXPECT_EQ(sec.contextsDeleted, 0);
}

TEST(TembrixSspi, AcquireFailureNamesTheStatus)
{
    struct Row {
        uint32_t status;
        const char* line;
    };
    const Row rows[] = {
        {0x8009030D, "D:status_code=SEC_E_UNKNOWN_CREDENTIALS"},
        {0x8009030E, "D:status_code=SEC_E_NO_CREDENTIALS"},
        {0x80090306, "D:status_code=SEC_E_NOT_OWNER"},
        {0x80090300, "D:status_code=SEC_E_INSUFFICIENT_MEMORY"},
        {0x80090304, "D:status_code=SEC_E_INTERNAL_ERROR"},
        {0x80090305, "D:status_code=SEC_E_SECPKG_NOT_FOUND"},
        {0x80090302, "D:status_code=-2146893054"},  // any other: the number
    };
    for (const Row& r : rows) {
        FakeSecurity sec;
        sec.acquireStatus = r.status;
        TembrixSSPI sspi(&sec);
        LineLog log;
        EXPECT_FALSE(sspi.acquireCredentials(1, nullptr, "joe", "pw", log));
        EXPECT_EQ(log.lines, (std::vector<std::string>{"E:Failed to acquire credentials handle", "D:username=joe",
                                                       "D:domain=NONE", r.line}));
    }
    FakeSecurity sec;
    sec.acquireStatus = st::kNoCredentials;
    TembrixSSPI sspi(&sec);
    LineLog log;
    EXPECT_FALSE(sspi.acquireCredentials(1, "CORP", "joe", "pw", log));
    EXPECT_EQ(log.lines[2], "D:domain=CORP");
}

TEST(TembrixSspi, PrepareFollowsTheStatusTable)
{
    const std::string fin = "E:Finished and NOT authenticated";
    const std::string pre = "E:TembrixSSPI.prepareOutboundPackage: ";
    struct Row {
        uint32_t status;
        std::vector<std::string> lines;
        bool done, authenticated, result, replaced;
        int completes;
    };
    const Row rows[] = {
        {0x00000000, {}, true, true, true, true, 0},
        {0x00090312, {}, false, false, true, true, 0},
        {0x00090313, {pre + "SEC_I_COMPLETE_NEEDED"}, true, true, true, true, 1},
        {0x00090314, {pre + "SEC_I_COMPLETE_AND_CONTINUE"}, false, false, true, true, 1},
        {0x8009030C, {"E:LOGON_DENIED"}, true, false, true, true, 0},
        {0x80090308, {}, true, false, true, false, 0},
        {0x80090301, {pre + "SEC_E_INVALID_HANDLE", fin}, true, false, false, false, 0},
        {0x80090303, {pre + "SEC_E_TARGET_UNKNOWN", fin}, true, false, false, false, 0},
        {0x80090304, {pre + "SEC_E_INTERNAL_ERROR", fin}, true, false, false, false, 0},
        {0x8009030E, {pre + "SEC_E_NO_CREDENTIALS", fin}, true, false, false, false, 0},
        {0x80090311, {pre + "SEC_E_NO_AUTHENTICATING_AUTHORITY", fin}, true, false, false, false, 0},
        {0x80090321, {fin}, true, false, false, false, 0},
        {0x00000001, {fin}, true, false, false, false, 0},
    };
    for (const Row& r : rows) {
        for (bool withLog : {true, false}) {
            SCOPED_TRACE(std::to_string(r.status) + (withLog ? " logged" : " no log"));
            FakeSecurity sec;
            sec.statuses = {st::kContinueNeeded, r.status};
            TembrixSSPI sspi(&sec);
            LineLog log;
            LogNull quiet;
            LogBase& target = withLog ? static_cast<LogBase&>(log) : quiet;
            ASSERT_TRUE(sspi.acquireCredentials(1, nullptr, "u", "p", target));
            DataBuffer package;
            bool done = true, auth = true;
            ASSERT_TRUE(sspi.prepareOutboundPackage(1, package, nullptr, done, auth, target));
            EXPECT_FALSE(done);
            EXPECT_FALSE(auth);
            EXPECT_EQ(text(package), "TOKEN1");

            DataBuffer challenge;
            ASSERT_TRUE(challenge.append("CH", 2));
            EXPECT_EQ(sspi.prepareOutboundPackage(1, package, &challenge, done, auth, target), r.result);
            EXPECT_EQ(done, r.done);
            EXPECT_EQ(auth, r.authenticated);
            EXPECT_EQ(text(package), r.replaced ? "TOKEN2" : "TOKEN1");
            EXPECT_EQ(sec.completed, r.completes);  // with or without a log
            EXPECT_EQ(log.lines, withLog ? r.lines : std::vector<std::string>{});
            ASSERT_EQ(sec.calls.size(), 2u);
            EXPECT_TRUE(sec.calls[1].credentials);
            EXPECT_TRUE(sec.calls[1].context);
            EXPECT_EQ(sec.calls[1].input, "CH");
        }
    }
}

TEST(TembrixSspi, PrepareCarriesContextFlagsAndChecksTheIndex)
{
    FakeSecurity sec;
    sec.statuses = {st::kContinueNeeded, st::kContinueNeeded};
    sec.grantedAttributes = 0x14;
    TembrixSSPI sspi(&sec);
    LineLog log;
    DataBuffer package, received;
    bool done = false, auth = true;
    EXPECT_FALSE(sspi.prepareOutboundPackage(5, package, nullptr, done, auth, log));
    EXPECT_TRUE(done);
    EXPECT_FALSE(auth);
    EXPECT_EQ(log.lines, (std::vector<std::string>{"E:TembrixSSPI.prepareOutboundPackage: package index out of range",
                                                   "D:packageIndex=5"}));
    EXPECT_EQ(sspi.contextFlags(), 4u);
    EXPECT_TRUE(sspi.prepareOutboundPackage(1, package, nullptr, done, auth, log));
    EXPECT_TRUE(sspi.prepareOutboundPackage(1, package, &received, done, auth, log));
    ASSERT_EQ(sec.calls.size(), 2u);
    EXPECT_FALSE(sec.calls[0].context);
    EXPECT_EQ(sec.calls[0].input, "(none)");
    EXPECT_EQ(sec.calls[0].requirements, 4u);
    EXPECT_EQ(sec.calls[1].requirements, 0x14u);  // what the first call granted
    EXPECT_EQ(sec.calls[1].input, "");            // an empty package is still an input
    EXPECT_EQ(sspi.contextFlags(), 0x14u);
}

TEST(TembrixSspi, PrepareDistrustsAnOverlongReportedToken)
{
    FakeSecurity sec;
    sec.reportedLength = 65;  // past the 64-byte token of the package
    TembrixSSPI sspi(&sec);
    LineLog log;
    DataBuffer package;
    bool done = false, auth = true;
    EXPECT_FALSE(sspi.prepareOutboundPackage(1, package, nullptr, done, auth, log));
    EXPECT_TRUE(done);
    EXPECT_FALSE(auth);
    EXPECT_EQ(package.getSize(), 0u);
    EXPECT_EQ(log.lines, std::vector<std::string>{"E:Finished and NOT authenticated"});
}

TEST(TembrixSspi, AuthenticateRunsTheExchange)
{
    FakeSecurity sec;
    sec.statuses = {st::kContinueNeeded, st::kOk};
    FakeExchange ex;
    {
        TembrixSSPI sspi(&sec);
        sspi.setPackageExchange(&ex);
        LineLog log;
        EXPECT_TRUE(sspi.authenticate(1, nullptr, "u", "p", log));
        EXPECT_EQ(ex.sent, std::vector<std::string>{"TOKEN1"});
        EXPECT_EQ(ex.final, "TOKEN2");
        EXPECT_EQ(sec.calls[1].input, "CHALLENGE");
        EXPECT_TRUE(log.lines.empty());
    }
    EXPECT_EQ(sec.contextsDeleted, 1);
    EXPECT_EQ(sec.credentialsFreed, 1);
    EXPECT_EQ(sec.listsFreed, 1);
}

TEST(TembrixSspi, AuthenticateFailureLines)
{
    const std::string a = "E:TembrixSSPI.authenticate: ";
    struct Case {
        const char* name;
        bool withExchange;
        const char* password;
        uint32_t acquire;
        std::deque<uint32_t> statuses;
        bool exchangeOk, finalOk;
        std::vector<std::string> lines;
    };
    const std::string fin = "E:Finished and NOT authenticated";
    const Case cases[] = {
        {"no password", true, nullptr, st::kOk, {}, true, true, {}},
        {"no exchange", false, "p", st::kOk, {}, true, true, {a + "no package exchange object"}},
        {"credentials",
         true,
         "p",
         st::kSecpkgNotFound,
         {},
         true,
         true,
         {"E:Failed to acquire credentials handle", "D:username=u", "D:domain=NONE",
          "D:status_code=SEC_E_SECPKG_NOT_FOUND", a + "cannot acquire alternate credentials"}},
        {"first package",
         true,
         "p",
         st::kOk,
         {st::kTargetUnknown},
         true,
         true,
         {"E:TembrixSSPI.prepareOutboundPackage: SEC_E_TARGET_UNKNOWN", fin,
          a + "failed to prepare 1st outbound package"}},
        {"exchange",
         true,
         "p",
         st::kOk,
         {st::kContinueNeeded},
         false,
         true,
         {"E:exchangePackage: failed to get success response", a + "exchange failed"}},
        {"next package",
         true,
         "p",
         st::kOk,
         {st::kContinueNeeded, 0x80090302},
         true,
         true,
         {fin, a + "failed to prepare next package"}},
        {"final",
         true,
         "p",
         st::kOk,
         {st::kContinueNeeded, st::kOk},
         true,
         false,
         {"E:Logon denied.  Check username, password, and domain"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeSecurity sec;
        sec.acquireStatus = c.acquire;
        sec.statuses = c.statuses;
        FakeExchange ex;
        ex.exchangeOk = c.exchangeOk;
        ex.finalOk = c.finalOk;
        TembrixSSPI sspi(&sec);
        if (c.withExchange) sspi.setPackageExchange(&ex);
        LineLog log;
        EXPECT_FALSE(sspi.authenticate(1, nullptr, "u", c.password, log));
        EXPECT_EQ(log.lines, c.lines);
    }
}

TEST(TembrixSspi, AnInvalidTokenSendsTheOldPackageAsFinal)
{
    FakeSecurity sec;
    sec.statuses = {st::kContinueNeeded, st::kInvalidToken};
    FakeExchange ex;
    ex.finalOk = false;
    TembrixSSPI sspi(&sec);
    sspi.setPackageExchange(&ex);
    LineLog log;
    EXPECT_FALSE(sspi.authenticate(1, nullptr, "u", "p", log));
    EXPECT_EQ(ex.final, "TOKEN1");
}
