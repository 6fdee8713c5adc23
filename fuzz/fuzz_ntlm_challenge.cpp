// Server bytes as an NTLM challenge: the parser reads only inside them, and
// whatever it accepts becomes an authenticate message whose fields all lie
// inside it, whose NT response carries the AV pairs unchanged, and which the
// system's package produces the same way through the security table.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/NtlmClient.h"
#include "platform/SecurityInterface.h"

using namespace hanamail;
using namespace hanamail::platform;

namespace {

void require(bool condition)
{
    if (!condition) __builtin_trap();
}

uint32_t le32(const std::vector<uint8_t>& b, size_t at)
{
    return uint32_t(b[at]) | (uint32_t(b[at + 1]) << 8) | (uint32_t(b[at + 2]) << 16) | (uint32_t(b[at + 3]) << 24);
}

void checkAuthenticate(const std::vector<uint8_t>& m, const NtlmChallenge& c)
{
    require(m.size() >= 64 && std::memcmp(m.data(), "NTLMSSP\0\3\0\0\0", 12) == 0);
    for (size_t at = 12; at < 60; at += 8) {
        const size_t len = m[at] | (m[at + 1] << 8);
        const size_t off = le32(m, at + 4);
        require((m[at + 2] | (m[at + 3] << 8)) == static_cast<int>(len));
        require(off >= 64 && off + len <= m.size());
    }
    const size_t ntLen = m[20] | (m[21] << 8);
    const size_t ntOff = le32(m, 24);
    require(ntLen == 16 + 28 + c.targetInfo.size() + 4);
    require(c.targetInfo.empty() || std::memcmp(m.data() + ntOff + 44, c.targetInfo.data(), c.targetInfo.size()) == 0);
}

const uint8_t kClientChallenge[8] = {1, 2, 3, 4, 5, 6, 7, 8};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    NtlmChallenge c;
    const bool ok = NtlmClient::parseChallenge(data, size, c);
    if (ok) {
        require(c.targetInfo.size() <= size);
        NtlmClient client("User", "Domain", "Password");
        client.fixClientChallenge(kClientChallenge);
        client.fixTime(1);
        std::vector<uint8_t> auth;
        require(client.authenticateMessage(c, auth));
        checkAuthenticate(auth, c);
    }

    // The same bytes through the package table: accepted challenges give
    // SEC_E_OK, refused ones SEC_E_INVALID_TOKEN, never anything else.
    SecurityInterface* sec = securityInterface();
    SecPackageList list;
    require(sec->enumeratePackages(list) == secstatus::kOk && list.packages.size() == 1);
    static const unsigned char user[] = "u", password[] = "p";
    SecIdentity id;
    id.user = user, id.userLength = 1, id.password = password, id.passwordLength = 1;
    SecHandleValue cred, ctx;
    require(sec->acquireCredentials("NTLM", id, cred) == secstatus::kOk);
    std::vector<unsigned char> token(list.packages[0].maxToken);
    uint32_t length = 0, attributes = kReqReplayDetect;
    require(sec->initializeContext(&cred, nullptr, nullptr, 0, ctx, token.data(), static_cast<uint32_t>(token.size()),
                                   length, attributes) == secstatus::kContinueNeeded);
    const uint32_t status = sec->initializeContext(&cred, &ctx, data, static_cast<uint32_t>(size), ctx, token.data(),
                                                   static_cast<uint32_t>(token.size()), length, attributes);
    require(status == (ok ? secstatus::kOk : secstatus::kInvalidToken));
    require(length <= token.size());
    sec->deleteContext(ctx);
    sec->freeCredentials(cred);
    return 0;
}
