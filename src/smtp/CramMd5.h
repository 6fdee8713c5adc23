#pragma once
#include <cstddef>
#include <string>

namespace hanamail {

// The CRAM-MD5 response text before base64: the login, one space and the
// HMAC-MD5 of the challenge keyed with the password in 32 lower-case hex digits.
std::string cramMd5Response(const std::string& login, const std::string& password, const unsigned char* challenge,
                            size_t challengeLength);

}  // namespace hanamail
