#include "smtp/CramMd5.h"

#include "platform/Digest.h"
#include "platform/SecureZero.h"

namespace hanamail {

std::string cramMd5Response(const std::string& login, const std::string& password, const unsigned char* challenge,
                            size_t challengeLength)
{
    uint8_t digest[platform::Digest16::kSize];
    platform::HmacMd5::hash(password.data(), password.size(), challenge, challengeLength, digest);
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(login.size() + 1 + 2 * sizeof digest);
    out += login;
    out += ' ';
    for (uint8_t b : digest) {
        out += kHex[b >> 4];
        out += kHex[b & 15];
    }
    platform::secureZero(digest, sizeof digest);
    return out;
}

}  // namespace hanamail
