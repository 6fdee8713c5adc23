// A caller's program with names of its own, defined before our public header:
// everything of ours is in namespace hanamail, and the header brings no macro
// or automation type along, so this compiles and the caller's names stay its own.
#include <gtest/gtest.h>

#include <string>

class StringBuffer {
public:
    int mine = 1;
};
class Logger {
public:
    int mine = 2;
};
// On Windows these names are the system's own, which the header uses too.
#ifndef _WIN32
typedef unsigned long DWORD;
typedef long HRESULT;
typedef const char* BSTR;
#define FAILED(x) ((x) != 0)
#define E_FAIL 42
#define S_OK 7
#else
#include <windows.h>
#endif

#include <hanamail/Email.h>

namespace {

hanamail::XString utf8(const char* text)
{
    hanamail::XString x;
    x.setFromUtf8(text);
    return x;
}

TEST(PublicHeader, LivesBesideTheCallersOwnNames)
{
    StringBuffer mine;
    Logger log;
    EXPECT_EQ(mine.mine + log.mine, 3);
#ifndef _WIN32
    DWORD d = 5;
    HRESULT hr = E_FAIL;
    BSTR b = "caller";
    int v = S_OK;
    EXPECT_TRUE(FAILED(hr));
    EXPECT_EQ(d + static_cast<DWORD>(v), 12u);
    EXPECT_EQ(std::string(b), "caller");
#endif

    hanamail::ClsEmail email;
    ASSERT_TRUE(email.AddTo(utf8("Hanako"), utf8("hanako@example.jp")));
    ASSERT_TRUE(email.AddHeaderField(utf8("Subject"), utf8("ok")));
    hanamail::StringBuffer mime;
    ASSERT_TRUE(email.GetMimeSb(mime));
    EXPECT_NE(std::string(mime.getString()).find("Subject: ok\r\n"), std::string::npos);
}

}  // namespace
