#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "foundation/DataBuffer.h"
#include "foundation/Logger.h"
#include "foundation/StringBuffer.h"
#include "platform/Digest.h"
#include "platform/NtlmClient.h"
#include "smtp/PackageExchange.h"
#include "smtp/TembrixSSPI.h"
#include "support/PythonJudge.h"

using namespace hanamail;
using platform::NtlmChallenge;
using platform::NtlmClient;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes unhex(const std::string& h)
{
    Bytes b;
    for (size_t i = 0; i + 1 < h.size(); i += 2)
        b.push_back(static_cast<uint8_t>(std::stoi(h.substr(i, 2), nullptr, 16)));
    return b;
}

std::string hexOf(const uint8_t* p, size_t n)
{
    return pyjudge::hex(std::string(reinterpret_cast<const char*>(p), n));
}
std::string hexOf(const Bytes& b)
{
    return hexOf(b.data(), b.size());
}

uint32_t le32(const Bytes& b, size_t at)
{
    return uint32_t(b[at]) | (uint32_t(b[at + 1]) << 8) | (uint32_t(b[at + 2]) << 16) | (uint32_t(b[at + 3]) << 24);
}

// The bytes of a length/offset field of a message.
Bytes fieldOf(const Bytes& m, size_t at)
{
    const size_t len = m[at] | (m[at + 1] << 8);
    const size_t off = le32(m, at + 4);
    return Bytes(m.begin() + static_cast<long>(off), m.begin() + static_cast<long>(off + len));
}

// The documented example exchange: its AV pairs (NetBIOS domain "Domain",
// computer "Server", end of list) and the challenge message carrying them.
const char kExampleTargetInfo[] =
    "02000c0044006f006d00610069006e00"
    "01000c00530065007200760065007200"
    "00000000";
const char kExampleChallenge[] =
    "4e544c4d53535000020000000c000c00"
    "3800000033828ae20123456789abcdef"
    "00000000000000002400240044000000"
    "060070170000000f5300650072007600"
    "6500720002000c0044006f006d006100"
    "69006e0001000c005300650072007600"
    "6500720000000000";

// A challenge message around the given AV pairs (target name empty).
Bytes challengeWith(const Bytes& targetInfo, uint32_t flags = 0xe28a8233u)
{
    Bytes m = unhex(
        "4e544c4d535350000200000000000000380000000000000001234567"
        "89abcdef0000000000000000");
    for (int i = 0; i < 4; ++i) m[20 + i] = static_cast<uint8_t>(flags >> (8 * i));
    const size_t n = targetInfo.size();
    const uint8_t info[8] = {uint8_t(n), uint8_t(n >> 8), uint8_t(n), uint8_t(n >> 8), 48, 0, 0, 0};
    m.insert(m.end(), info, info + 8);
    m.insert(m.end(), targetInfo.begin(), targetInfo.end());
    return m;
}

Bytes avPair(uint16_t id, const Bytes& value)
{
    // Room for all first: GCC 12 at -O3 takes an insert into a vector made
    // from four bytes for a write out of bounds.
    Bytes b;
    b.reserve(4 + value.size());
    for (const uint8_t byte : {uint8_t(id), uint8_t(id >> 8), uint8_t(value.size()), uint8_t(value.size() >> 8)})
        b.push_back(byte);
    b.insert(b.end(), value.begin(), value.end());
    return b;
}

const uint8_t kClientChallenge[8] = {0xaa, 0xaa, 0xaa, 0xaa, 0xaa, 0xaa, 0xaa, 0xaa};

}  // namespace

TEST(NtlmClient, NegotiateMessage)
{
    const Bytes m = NtlmClient::negotiateMessage();
    ASSERT_EQ(m.size(), 32u);
    EXPECT_EQ(hexOf(Bytes(m.begin(), m.begin() + 12)), "4e544c4d5353500001000000");
    const uint32_t flags = le32(m, 12);
    EXPECT_TRUE(flags & 0x1);          // Unicode
    EXPECT_TRUE(flags & 0x200);        // NTLM
    EXPECT_TRUE(flags & 0x80000);      // extended session security
    EXPECT_FALSE(flags & 0x2);         // no OEM
    EXPECT_FALSE(flags & 0x40000000);  // no key exchange: the session key is not used
}

TEST(NtlmClient, DocumentedNtlmV2Example)
{
    NtlmChallenge c;
    const Bytes msg = unhex(kExampleChallenge);
    ASSERT_TRUE(NtlmClient::parseChallenge(msg.data(), msg.size(), c));
    EXPECT_EQ(c.flags, 0xe28a8233u);
    EXPECT_EQ(hexOf(c.serverChallenge, 8), "0123456789abcdef");
    EXPECT_EQ(hexOf(c.targetInfo), kExampleTargetInfo);
    EXPECT_FALSE(c.hasTimestamp);

    NtlmClient client("User", "Domain", "Password");
    client.fixClientChallenge(kClientChallenge);
    client.fixTime(0);
    Bytes auth;
    ASSERT_TRUE(client.authenticateMessage(c, auth));
    ASSERT_GE(auth.size(), 64u);
    EXPECT_EQ(hexOf(Bytes(auth.begin(), auth.begin() + 12)), "4e544c4d5353500003000000");
    const Bytes nt = fieldOf(auth, 20);
    ASSERT_EQ(nt.size(), 16u + 28 + c.targetInfo.size() + 4);
    EXPECT_EQ(hexOf(nt.data(), 16), "68cd0ab851e51c96aabc927bebef6a1c");  // NTProofStr
    EXPECT_EQ(hexOf(nt.data() + 16, nt.size() - 16), std::string("0101000000000000"
                                                                 "0000000000000000"
                                                                 "aaaaaaaaaaaaaaaa"
                                                                 "00000000") +
                                                         kExampleTargetInfo + "00000000");
    EXPECT_EQ(hexOf(client.sessionBaseKey(), 16), "8de40ccadbc14a82f15cb0ad0de95ca3");
    EXPECT_EQ(hexOf(fieldOf(auth, 12)), "86c35097ac9cec102554764a57cccc19aaaaaaaaaaaaaaaa");  // LMv2
    EXPECT_EQ(hexOf(fieldOf(auth, 28)), "44006f006d00610069006e00");
    EXPECT_EQ(hexOf(fieldOf(auth, 36)), "5500730065007200");
    EXPECT_EQ(fieldOf(auth, 52).size(), 0u);
    EXPECT_EQ(le32(auth, 60) & 0x40000000u, 0u);
}

TEST(NtlmClient, ServerTimestampIsUsedAndLmIsZero)
{
    const Bytes stamp = {1, 2, 3, 4, 5, 6, 7, 8};
    Bytes info = avPair(2, {'D', 0});
    const Bytes ts = avPair(7, stamp);
    info.insert(info.end(), ts.begin(), ts.end());
    info.insert(info.end(), 4, 0);
    const Bytes msg = challengeWith(info);
    NtlmChallenge c;
    ASSERT_TRUE(NtlmClient::parseChallenge(msg.data(), msg.size(), c));
    ASSERT_TRUE(c.hasTimestamp);
    EXPECT_EQ(c.timestamp, 0x0807060504030201ull);
    NtlmClient client("u", "", "p");
    client.fixTime(42);  // the server's time wins
    Bytes auth;
    ASSERT_TRUE(client.authenticateMessage(c, auth));
    const Bytes nt = fieldOf(auth, 20);
    EXPECT_EQ(Bytes(nt.begin() + 24, nt.begin() + 32), stamp);
    EXPECT_EQ(fieldOf(auth, 12), Bytes(24, 0));
    // Without a fixed client challenge the random source supplies one.
    Bytes again;
    ASSERT_TRUE(client.authenticateMessage(c, again));
    const Bytes ntAgain = fieldOf(again, 20);
    EXPECT_NE(Bytes(ntAgain.begin() + 32, ntAgain.begin() + 40), Bytes(nt.begin() + 32, nt.begin() + 40));
}

TEST(NtlmClient, HostileChallengesAreRefused)
{
    const Bytes good = unhex(kExampleChallenge);
    NtlmChallenge c;
    // Cut anywhere, a field points past the end.
    for (size_t n = 0; n < good.size(); ++n) EXPECT_FALSE(NtlmClient::parseChallenge(good.data(), n, c)) << n;
    // The short form ends after the server challenge: no target info.
    Bytes shortForm(good.begin(), good.begin() + 32);
    shortForm[12] = shortForm[14] = 0;
    shortForm[16] = 32;
    ASSERT_TRUE(NtlmClient::parseChallenge(shortForm.data(), shortForm.size(), c));
    EXPECT_TRUE(c.targetInfo.empty());
    EXPECT_EQ(hexOf(c.serverChallenge, 8), "0123456789abcdef");
    EXPECT_FALSE(NtlmClient::parseChallenge(nullptr, 0, c));

    auto patched = [&](size_t at, std::initializer_list<uint8_t> bytes) {
        Bytes m = good;
        std::copy(bytes.begin(), bytes.end(), m.begin() + static_cast<long>(at));
        return NtlmClient::parseChallenge(m.data(), m.size(), c);
    };
    EXPECT_FALSE(patched(0, {'X'}));                      // signature
    EXPECT_FALSE(patched(8, {3}));                        // message type
    EXPECT_FALSE(patched(16, {0xff, 0xff, 0xff, 0xff}));  // target name offset far past the end
    EXPECT_FALSE(patched(12, {0xff, 0xff}));              // target name length
    EXPECT_FALSE(patched(44, {0xff, 0xff, 0xff, 0xff}));  // target info offset
    EXPECT_FALSE(patched(44, {0x45}));                    // target info one byte past the end
    EXPECT_FALSE(patched(40, {0xff, 0xff}));              // target info length
    EXPECT_FALSE(patched(70, {0xff, 0xff}));              // first AV pair longer than the list
    EXPECT_TRUE(patched(22, {0x0a, 0xe2}));               // target-info flag off: the fields are ignored
    EXPECT_TRUE(c.targetInfo.empty());

    // AV pair lists without MsvAvEOL, or with a broken timestamp.
    const Bytes noEol = avPair(2, {'D', 0});
    const Bytes eol(4, 0);
    Bytes shortStamp = avPair(7, {1, 2, 3, 4});
    shortStamp.insert(shortStamp.end(), eol.begin(), eol.end());
    Bytes truncatedPair = noEol;
    truncatedPair.resize(noEol.size() - 1);
    for (const Bytes& info : {noEol, Bytes{0, 0}, shortStamp, truncatedPair}) {
        const Bytes m = challengeWith(info);
        EXPECT_FALSE(NtlmClient::parseChallenge(m.data(), m.size(), c)) << hexOf(info);
    }
    // An empty list counts as none.
    const Bytes empty = challengeWith(Bytes());
    ASSERT_TRUE(NtlmClient::parseChallenge(empty.data(), empty.size(), c));
    EXPECT_TRUE(c.targetInfo.empty());
    // Bytes after MsvAvEOL are not taken into the response.
    Bytes trailing = eol;
    trailing.insert(trailing.end(), {9, 9, 9});
    const Bytes m = challengeWith(trailing);
    ASSERT_TRUE(NtlmClient::parseChallenge(m.data(), m.size(), c));
    EXPECT_EQ(c.targetInfo, eol);
}

TEST(NtlmClient, TargetInfoMustFitTheResponseLength)
{
    // The NT response holds 48 bytes besides the AV pairs and has a 16-bit length.
    auto infoOf = [](size_t total) {
        Bytes info = avPair(1, Bytes(total - 8, 'x'));
        info.insert(info.end(), 4, 0);
        return info;
    };
    NtlmChallenge c;
    const Bytes fits = challengeWith(infoOf(0xFFFF - 48));
    ASSERT_TRUE(NtlmClient::parseChallenge(fits.data(), fits.size(), c));
    NtlmClient client("u", "d", "p");
    Bytes auth;
    ASSERT_TRUE(client.authenticateMessage(c, auth));
    EXPECT_EQ(fieldOf(auth, 20).size(), 0xFFFFu);
    const Bytes over = challengeWith(infoOf(0xFFFF - 47));
    EXPECT_FALSE(NtlmClient::parseChallenge(over.data(), over.size(), c));
}

#ifndef _WIN32

namespace {

// The server side of the test: answers the negotiate message with a
// challenge and keeps the authenticate message it gets.
class ChallengeServer : public PackageExchange {
public:
    bool exchangePackage(const DataBuffer& package, DataBuffer& received, LogBase&) override
    {
        negotiate.assign(package.getData(), package.getData() + package.getSize());
        return received.append(challenge.data(), static_cast<uint32_t>(challenge.size()));
    }
    bool sendFinal(const DataBuffer& package, LogBase& log) override
    {
        authenticate.assign(package.getData(), package.getData() + package.getSize());
        if (!accept) log.logError("Logon denied.  Check username, password, and domain");
        return accept;
    }
    Bytes challenge, negotiate, authenticate;
    bool accept = true;
};

std::string logText(Logger& log)
{
    StringBuffer t, x;
    log.getText(t);
    log.getXml(x);
    return std::string(t.getString()) + std::string(x.getString());
}

// The hex NT hash of a password given as UTF-16LE bytes.
std::string ntHashHex(const std::string& utf16le)
{
    uint8_t h[16];
    platform::Md4::hash(utf16le.data(), utf16le.size(), h);
    return hexOf(h, 16);
}

const char kPassword[] = "S3cret-p\xc3\xa4ss";  // "S3cret-päss"
const char kPasswordUtf16[] =
    "S\0"
    "3\0"
    "c\0r\0e\0t\0-\0p\0\xe4\0s\0s\0";  // the same in UTF-16LE

void expectNoSecret(Logger& log)
{
    const std::string text = logText(log);
    const std::string hash = ntHashHex(std::string(kPasswordUtf16, sizeof kPasswordUtf16 - 1));
    EXPECT_EQ(text.find("S3cret"), std::string::npos) << text;
    EXPECT_EQ(text.find(hash), std::string::npos) << text;
    std::string upperHash = hash;
    for (char& ch : upperHash) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    EXPECT_EQ(text.find(upperHash), std::string::npos) << text;
}

class NtlmJudge : public pyjudge::JudgeTest {
protected:
    void SetUp() override { prepare("import hashlib, hmac", "hanamail-ntlm-"); }
    std::string verifierHeader() const
    {
        return std::string("import sys\nsys.path.insert(0, '") + HANAMAIL_SOURCE_DIR + "/tests/support')\n" +
               "import ntlm_verify\n";
    }
};

}  // namespace

TEST_F(NtlmJudge, SystemPackageLogsInThroughTheExchange)
{
    // Two logins through the POSIX package: one with a server timestamp,
    // one without; a non-ASCII user and password.
    Bytes stamped = avPair(2, {'C', 0, 'O', 0, 'R', 0, 'P', 0});
    const Bytes ts = avPair(7, {0, 0x80, 0x3e, 0xd5, 0xde, 0xb1, 0x9d, 0x01});
    stamped.insert(stamped.end(), ts.begin(), ts.end());
    stamped.insert(stamped.end(), 4, 0);
    std::string lines;
    int n = 0;
    for (const Bytes& info : {stamped, unhex(kExampleTargetInfo)}) {
        TembrixSSPI sspi;
        ASSERT_EQ(sspi.packageCount(), 1);
        ASSERT_EQ(sspi.findPackageIndex("ntlm"), 0);
        ChallengeServer server;
        server.challenge = challengeWith(info);
        sspi.setPackageExchange(&server);
        Logger log;
        ASSERT_TRUE(sspi.authenticate(0, "Corp", "J\xc3\xbcrgen", kPassword, log)) << logText(log);
        EXPECT_EQ(hexOf(Bytes(server.negotiate.begin(), server.negotiate.begin() + 12)), "4e544c4d5353500001000000");
        expectNoSecret(log);
        pyjudge::writeFile(m_dir / ("auth" + std::to_string(n)), hexOf(server.authenticate));
        pyjudge::writeFile(m_dir / ("info" + std::to_string(n)), hexOf(info));
        ++n;
    }
    const std::string script = verifierHeader() + R"(import os
d = sys.argv[1]
for n in range(2):
    msg = bytes.fromhex(open(os.path.join(d, "auth%d" % n)).read())
    info = bytes.fromhex(open(os.path.join(d, "info%d" % n)).read())
    try:
        ntlm_verify.verify_authenticate(msg, "J\u00fcrgen", "Corp", "S3cret-p\u00e4ss",
                                        bytes.fromhex("0123456789abcdef"), info)
    except ntlm_verify.VerifyError as e:
        sys.exit("login %d: %s" % (n, e))
    # A wrong password must not pass.
    try:
        ntlm_verify.verify_authenticate(msg, "J\u00fcrgen", "Corp", "wrong", bytes.fromhex("0123456789abcdef"))
        sys.exit("login %d: verified with a wrong password" % n)
    except ntlm_verify.VerifyError:
        pass
)";
    runJudges({{"verify.py", script.c_str()}});
}

TEST_F(NtlmJudge, FailuresLeaveNoSecretInTheLog)
{
    // A hostile challenge (the package reports an invalid token, the old
    // package goes as final and the server refuses), a refused authenticate
    // message and a missing domain: none logs the password or its hash.
    const Bytes cut = challengeWith(avPair(2, {'D', 0}));
    for (const Bytes& challenge : {cut, challengeWith(unhex(kExampleTargetInfo))}) {
        TembrixSSPI sspi;
        ChallengeServer server;
        server.challenge = challenge;
        server.accept = false;
        sspi.setPackageExchange(&server);
        Logger log;
        EXPECT_FALSE(sspi.authenticate(0, nullptr, "joe", kPassword, log));
        EXPECT_NE(logText(log).find("Logon denied."), std::string::npos);
        expectNoSecret(log);
    }
    TembrixSSPI sspi;
    Logger log;
    EXPECT_FALSE(sspi.authenticate(0, nullptr, "joe", kPassword, log));  // no exchange
    EXPECT_FALSE(sspi.acquireCredentials(3, "D", "joe", kPassword, log));
    expectNoSecret(log);
}

TEST_F(NtlmJudge, DigestsAgreeWithPython)
{
    // Every length across several block edges and a large input; MD5 judged
    // by hashlib, MD4 by the verifier's own implementation.
    std::string listing;
    for (size_t n = 0; n <= 200; n += (n < 140 ? 1 : 29)) {
        std::string s;
        for (size_t i = 0; i < n; ++i) s += static_cast<char>((i * 131 + n) & 0xFF);
        uint8_t md4[16], md5[16];
        platform::Md4::hash(s.data(), s.size(), md4);
        platform::Md5::hash(s.data(), s.size(), md5);
        listing += pyjudge::hex(s) + "\t" + hexOf(md4, 16) + "\t" + hexOf(md5, 16) + "\n";
    }
    const std::string big(3000007, '\x5a');
    uint8_t md4[16], md5[16];
    platform::Md4::hash(big.data(), big.size(), md4);
    platform::Md5::hash(big.data(), big.size(), md5);
    pyjudge::writeFile(m_dir / "digests", listing);
    pyjudge::writeFile(m_dir / "big", hexOf(md4, 16) + "\t" + hexOf(md5, 16));
    const std::string script = verifierHeader() + R"(import hashlib, os
d = sys.argv[1]
bad = 0
for line in open(os.path.join(d, "digests")):
    data, m4, m5 = line.rstrip("\n").split("\t")
    b = b"" if data == "-" else bytes.fromhex(data)
    if ntlm_verify.md4(b).hex() != m4 or hashlib.md5(b).hexdigest() != m5:
        print("length %d: md4 %s md5 %s" % (len(b), m4, m5)); bad += 1
m4, m5 = open(os.path.join(d, "big")).read().split("\t")
big = b"\x5a" * 3000007
if ntlm_verify.md4(big).hex() != m4 or hashlib.md5(big).hexdigest() != m5:
    print("large input differs"); bad += 1
sys.exit(1 if bad else 0)
)";
    runJudges({{"digests.py", script.c_str()}});
}

#else

TEST(NtlmSystemPackage, RealPackageStartsAnNtlmLogin)
{
    TembrixSSPI sspi;
    const int index = sspi.findPackageIndex("NTLM");
    if (sspi.packageCount() == 0 || sspi.packageName(index) != "NTLM")
        GTEST_SKIP() << "no NTLM security package among the system's " << sspi.packageCount()
                     << " (Wine offers it only with its ntlm_auth helper)";
    Logger log;
    if (!sspi.acquireCredentials(index, "Domain", "User", "Password", log))
        GTEST_SKIP() << "the NTLM package gives no credentials here (under Wine it needs the ntlm_auth helper)";
    DataBuffer package;
    bool done = true, auth = true;
    if (!sspi.prepareOutboundPackage(index, package, nullptr, done, auth, log))
        GTEST_SKIP() << "the NTLM package cannot start a context here (under Wine it needs the ntlm_auth helper)";
    ASSERT_GE(package.getSize(), 12u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(package.getData()), 8), std::string("NTLMSSP\0", 8));
    EXPECT_FALSE(done);
}

#endif
