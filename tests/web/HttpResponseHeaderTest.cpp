#include <gtest/gtest.h>

#include <string>

#include "web/HttpResponseHeader.h"

using namespace hanamail;

namespace {

void parse(HttpResponseHeader& h, const std::string& block)
{
    h.parse(reinterpret_cast<const unsigned char*>(block.data()), static_cast<uint32_t>(block.size()));
}

}  // namespace

TEST(HttpResponseHeader, StatusLine)
{
    HttpResponseHeader h;
    parse(h, "HTTP/1.1 404 Not Found \r\nServer: x\r\n\r\n");
    EXPECT_EQ(h.statusCode(), 404);
    EXPECT_STREQ(h.reason().getString(), "Not Found");

    // No reason: the reason does not run into the next field.
    parse(h, "HTTP/1.1 200\r\nContent-Type: text/html\r\n\r\n");
    EXPECT_EQ(h.statusCode(), 200);
    EXPECT_STREQ(h.reason().getString(), "");
    StringBuffer type;
    EXPECT_TRUE(h.fields().GetFieldValue("content-type", type));
    EXPECT_STREQ(type.getString(), "text/html");

    for (const char* bad :
         {"SMTP 220 ready\r\n\r\n", "HTTP/1.1\r\n\r\n", "HTTP/1.1 abc OK\r\n\r\n", "HTTP/1.1 20 OK\r\n\r\n",
          "HTTP/1.1 2000 OK\r\n\r\n", "HTTP/1.1 -200 OK\r\n\r\n", "http/1.1 200 OK\r\n\r\n", ""}) {
        parse(h, bad);
        EXPECT_EQ(h.statusCode(), 0) << bad;
    }
}

TEST(HttpResponseHeader, ContentLength)
{
    HttpResponseHeader h;
    parse(h, "HTTP/1.1 200 OK\r\ncontent-length:   1234\r\n\r\n");
    EXPECT_TRUE(h.hasContentLength());
    EXPECT_EQ(h.contentLength(), 1234);

    parse(h, "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
    EXPECT_TRUE(h.hasContentLength());
    EXPECT_EQ(h.contentLength(), 0);

    parse(h, "HTTP/1.1 200 OK\r\nContent-Length: many\r\n\r\n");
    EXPECT_FALSE(h.hasContentLength());
    EXPECT_FALSE(h.badContentLength());

    for (const char* bad : {"-5", "2147483648", "99999999999999999999"}) {
        parse(h, std::string("HTTP/1.1 200 OK\r\nContent-Length: ") + bad + "\r\n\r\n");
        EXPECT_TRUE(h.badContentLength()) << bad;
        EXPECT_EQ(h.contentLength(), 0) << bad;
    }

    parse(h, "HTTP/1.1 200 OK\r\nTransfer-Encoding:  Chunked \r\nConnection: close\r\n\r\n");
    EXPECT_TRUE(h.isChunked());
    EXPECT_TRUE(h.closesConnection());
}
