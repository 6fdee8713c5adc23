#include <gtest/gtest.h>

#include <string>

#include "smtp/CramMd5.h"

using namespace hanamail;

namespace {

std::string response(const std::string& login, const std::string& password, const std::string& challenge)
{
    return cramMd5Response(login, password, reinterpret_cast<const unsigned char*>(challenge.data()), challenge.size());
}

}  // namespace

TEST(CramMd5, Rfc2195Example)
{
    EXPECT_EQ(response("tim", "tanstaaftanstaaf", "<1896.697170952@postoffice.reston.mci.net>"),
              "tim b913a602c7eda7a495b4e6e7334d3890");
}

TEST(CramMd5, LongLoginAndLongKeyStayOneLine)
{
    const std::string login = "a.rather.long.login.name@example.org";  // over 21 characters
    const std::string r = response(login, std::string(100, 'k'), "<1.2@host>");
    ASSERT_EQ(r.size(), login.size() + 1 + 32);
    EXPECT_EQ(r.substr(0, login.size() + 1), login + " ");
    EXPECT_EQ(r.find_first_not_of("0123456789abcdef", login.size() + 1), std::string::npos);
    // A key over 64 bytes is hashed first: the digest differs from the one
    // keyed with its first 64 bytes only.
    EXPECT_NE(r, response(login, std::string(64, 'k'), "<1.2@host>"));
}
