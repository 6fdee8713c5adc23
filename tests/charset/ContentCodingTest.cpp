#include "charset/ContentCoding.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "charset/EncodingConvert.h"
#include "foundation/DataBuffer.h"
#include "foundation/StringBuffer.h"

using namespace hanamail;

namespace {

std::string str(const StringBuffer& sb)
{
    return std::string(sb.getString(), static_cast<size_t>(sb.getSize()));
}
std::string str(const DataBuffer& db)
{
    return std::string(reinterpret_cast<const char*>(db.getData()), db.getSize());
}

// Takes a malloc'd result of the coder.
std::string taken(void* p, uint32_t count)
{
    std::string s = p ? std::string(static_cast<const char*>(p), count) : std::string();
    std::free(p);
    return s;
}
std::string q(const std::string& in)
{
    uint32_t count = 0;
    char* p = ContentCoding().encodeQ(in.data(), static_cast<uint32_t>(in.size()), count);
    return taken(p, count);
}
std::string unq(const char* in, int32_t n = 0)
{
    uint32_t count = 0;
    unsigned char* p = ContentCoding().decodeQ(in, n, count);
    return taken(p, count);
}

std::string b64(const std::string& in, bool lined = true)
{
    ContentCoding cc;
    StringBuffer out;
    if (lined)
        EXPECT_TRUE(cc.encodeBase64(in.data(), static_cast<uint32_t>(in.size()), out));
    else
        EXPECT_TRUE(cc.encodeBase64Flat(in.data(), static_cast<uint32_t>(in.size()), out));
    return str(out);
}
std::string unb64(const std::string& in)
{
    uint32_t count = 0;
    unsigned char* p = ContentCoding().decodeBase64(in.data(), static_cast<uint32_t>(in.size()), count);
    return taken(p, count);
}
std::string qp(const std::string& in)
{
    StringBuffer out;
    EXPECT_TRUE(ContentCoding().encodeQuotedPrintable(in.data(), static_cast<uint32_t>(in.size()), out));
    return str(out);
}
std::string unqp(const std::string& in)
{
    DataBuffer out;
    EXPECT_TRUE(ContentCoding().decodeQuotedPrintable(in.data(), static_cast<uint32_t>(in.size()), out)) << in;
    return str(out);
}
std::string words(const std::string& in)
{
    StringBuffer sb;
    EXPECT_TRUE(sb.appendN(in.data(), static_cast<int32_t>(in.size())));
    ContentCoding().decodeEncodedWords(sb);
    return str(sb);
}
// Text in a charset, from UTF-8.
std::string inCharset(const std::string& utf8, int cp)
{
    DataBuffer out;
    EncodingConvert().convert(65001, cp, utf8.data(), static_cast<uint32_t>(utf8.size()), out);
    return str(out);
}

std::string randomBytes(std::mt19937& rng, size_t n, const std::string& alphabet = std::string())
{
    std::string s(n, '\0');
    for (auto& c : s) c = alphabet.empty() ? static_cast<char>(rng() & 0xFF) : alphabet[rng() % alphabet.size()];
    return s;
}

TEST(Base64, LinesOf72EndedByCrlf)
{
    EXPECT_EQ(b64("abc"), "YWJj\r\n");
    std::string line54(54, 'x');
    std::string full = b64(line54);
    ASSERT_EQ(full.size(), 76u);
    EXPECT_EQ(full.substr(72), "\r\n\r\n");
    std::string more = b64(line54 + "y");
    EXPECT_EQ(more.substr(72), "\r\neQ==\r\n");
    EXPECT_EQ(b64(""), "");
    EXPECT_EQ(b64("ab", false), "YWI=");

    uint32_t count = 7;
    EXPECT_EQ(ContentCoding().encodeBase64ToNew(nullptr, 3, count), nullptr);
    EXPECT_EQ(count, 0u);
    char* p = ContentCoding().encodeBase64ToNew("abcd", 4, count);
    EXPECT_STREQ(p, "YWJjZA==");
    EXPECT_EQ(taken(p, count), "YWJjZA==");
}

TEST(Base64, LenientDecoderSkipsWhatIsNotBase64)
{
    EXPECT_EQ(unb64("YW Jj\r\n"), "abc");
    EXPECT_EQ(unb64("YWJj=ZZZZ"), "abc");
    EXPECT_EQ(unb64("YQ"), "a");
    EXPECT_EQ(unb64("Y"), "");
    // One stray character must not shift the rest of the data.
    EXPECT_EQ(unb64("YW.Jj"), "abc");
    EXPECT_EQ(unb64("Y\xE9W-J:j"), "abc");
    EXPECT_EQ(unb64(std::string("YWJj\0YWJj", 9)), "abc");
    uint32_t count = 5;
    EXPECT_EQ(ContentCoding().decodeBase64("", 0, count), nullptr);
    EXPECT_EQ(count, 0u);
}

TEST(Base64, StrictDecoderRejectsAndKeepsTheBuffer)
{
    ContentCoding cc;
    DataBuffer out;
    EXPECT_TRUE(out.append("keep", 4));
    EXPECT_FALSE(cc.decodeBase64Strict("YW*j", 4, out));
    EXPECT_FALSE(cc.decodeBase64Strict("YW.j", 4, out));
    EXPECT_FALSE(cc.decodeBase64Strict("YW\xC3j", 4, out));
    EXPECT_EQ(str(out), "keep");
    EXPECT_TRUE(cc.decodeBase64Strict("YW\r\n Jj==", 10, out));
    EXPECT_EQ(str(out), "abc");
    EXPECT_TRUE(cc.decodeBase64Strict(nullptr, 0, out));
    EXPECT_EQ(out.getSize(), 0u);
}

TEST(Base64, RoundTripsEveryLengthAndByte)
{
    std::mt19937 rng(7);
    ContentCoding cc;
    for (size_t n = 0; n < 300; ++n) {
        std::string data = randomBytes(rng, n);
        std::string text = b64(data);
        DataBuffer strict;
        ASSERT_TRUE(cc.decodeBase64Strict(text.data(), static_cast<uint32_t>(text.size()), strict));
        ASSERT_EQ(str(strict), data) << n;
        ASSERT_EQ(unb64(text), data) << n;
        ASSERT_EQ(unb64(b64(data, false)), data) << n;
        // Full lines of 72 characters, then the rest and the final CR LF.
        size_t start = 0;
        for (size_t crlf; (crlf = text.find("\r\n", start)) != std::string::npos; start = crlf + 2)
            ASSERT_TRUE(crlf - start == 72 || text.size() - crlf <= 4) << n;
        ASSERT_EQ(start, text.size()) << n;
    }
}

TEST(QuotedPrintable, EncoderEscapes)
{
    EXPECT_EQ(qp("a b \r\nc"), "a b=20\r\nc");
    EXPECT_EQ(qp(".\r\n"), "=2E\r\n");
    EXPECT_EQ(qp("From me"), "=46rom me");
    EXPECT_EQ(qp("a\r\nFrom\r\n"), "a\r\nFrom\r\n");
    EXPECT_EQ(qp("x=1"), "x=3D1");
    EXPECT_EQ(qp("\xE9"), "=E9");
    EXPECT_EQ(qp("tab\t"), "tab=09");
    EXPECT_EQ(qp("a\nb\rc"), "a=0Ab=0Dc");
    EXPECT_EQ(qp(std::string(80, 'a')), std::string(72, 'a') + "=\r\n" + std::string(8, 'a'));
    EXPECT_EQ(qp(std::string(72, 'a') + "\r\nb"), std::string(72, 'a') + "\r\nb");
    // "=FFFFFF41" is an old escape form; an 0xFF before "FFFF" must not look like one.
    EXPECT_EQ(qp("\xFF"
                 "FFFFA"),
              "=FF=46FFFA");
    EXPECT_EQ(qp("\xFF"
                 "FFF"),
              "=FFFFF");
}

TEST(QuotedPrintable, DecoderKeepsBytesAndUnknownEscapes)
{
    EXPECT_EQ(unqp("abc=\r\ndef"), "abcdef");
    EXPECT_EQ(unqp("a=3Db\n"), "a=b\r\n");
    EXPECT_EQ(unqp("line  \r\n"), "line\r\n");
    EXPECT_EQ(unqp("last line \t"), "last line");
    EXPECT_EQ(unqp("=41=4a=4A"), "A=4aJ");
    EXPECT_EQ(unqp("=FFFFFF41"), "A");
    EXPECT_EQ(unqp("=FFFF"),
              "\xFF"
              "FF");
    EXPECT_EQ(unqp("\xC3\xBC\xA0\n"), "\xC3\xBC\xA0\r\n");
    EXPECT_EQ(unqp("a=G1 b=A\n"), "a=G1 b=A\r\n");
    EXPECT_EQ(unqp("?id=5&x=ab"), "?id=5&x=ab");
    EXPECT_EQ(unqp(std::string("ab\0cd", 5)), "ab");

    DataBuffer out;
    EXPECT_TRUE(out.append("keep", 4));
    ContentCoding cc;
    EXPECT_FALSE(cc.decodeQuotedPrintable(nullptr, 3, out));
    EXPECT_FALSE(cc.decodeQuotedPrintable("", 0, out));
    EXPECT_FALSE(cc.decodeQuotedPrintable("\0a", 2, out));
    EXPECT_EQ(str(out), "keep");
}

TEST(QuotedPrintable, RoundTripsThroughOwnDecoder)
{
    std::mt19937 rng(11);
    const std::string tricky = std::string("F.rom \r\n\t=\xFF\xA0", 13);
    for (int round = 0; round < 400; ++round) {
        std::string data = randomBytes(rng, 1 + rng() % 400, round % 2 ? tricky : std::string());
        std::string text = qp(data);
        ASSERT_EQ(unqp(text), data) << round;
        size_t start = 0;
        for (size_t lf; (lf = text.find("\r\n", start)) != std::string::npos; start = lf + 2)
            ASSERT_LE(lf - start, 75u);
        ASSERT_LE(text.size() - start, 75u);
    }
}

TEST(QEncoding, BothWays)
{
    EXPECT_EQ(q("a b?=_"), "a_b=3F=3D=5F");
    EXPECT_EQ(q("\x01\xE9~"), "=01=E9~");
    uint32_t count = 0;
    EXPECT_EQ(ContentCoding().encodeQ("", 0, count), nullptr);
    EXPECT_EQ(unq("a_b=3F"), "a b?");
    EXPECT_EQ(unq("a_b=3f"), "a b=3f");
    EXPECT_EQ(unq("x=4"), "x=4");
    EXPECT_EQ(unq("a ?\x85\xE9"), "a\xE9");
    EXPECT_EQ(unq("abcdef", 3), "abc");
    EXPECT_EQ(ContentCoding().decodeQ("", 0, count), nullptr);
}

TEST(EncodedWords, SingleWordsAndAutoChoice)
{
    ContentCoding cc;
    StringBuffer out;
    cc.encodeWordAuto("\x82\xA0", 2, "Shift_JIS", out);
    EXPECT_EQ(str(out), "=?Shift_JIS?B?gqA=?=");
    out.clear();
    cc.encodeWordAuto("caf\xE9", 4, "iso-8859-1", out);
    EXPECT_EQ(str(out), "=?iso-8859-1?Q?caf=E9?=");
    out.clear();
    cc.encodeWordAuto("=?utf-8?q?x?=", 13, "utf-8", out);
    EXPECT_EQ(str(out), "=?utf-8?q?x?=");
    out.clear();
    cc.encodeBWord("a", 1, nullptr, out);
    cc.encodeQWord("a", 0, "utf-8", out);
    EXPECT_EQ(str(out), "");
    EXPECT_TRUE(ContentCoding::isBWordCharset("ISO-2022-jp"));
    EXPECT_FALSE(ContentCoding::isBWordCharset("utf-8"));
}

TEST(EncodedWords, SplitKeepsCharactersWhole)
{
    ContentCoding cc;
    StringBuffer out;
    std::string letters(40, 'x');
    cc.encodeQWords(letters.data(), 40, "us-ascii", out);
    EXPECT_EQ(str(out), "=?us-ascii?Q?" + std::string(17, 'x') + "?=\r\n\t=?us-ascii?Q?" + std::string(17, 'x') +
                            "?=\r\n\t=?us-ascii?Q?" + std::string(6, 'x') + "?=");

    // Every ISO-2022-JP word opens and closes its own escapes.
    std::string jis = inCharset("日本語のテキストです。長い件名を分割してエンコードします。", 50220);
    out.clear();
    cc.encodeBWords(jis.data(), static_cast<uint32_t>(jis.size()), "iso-2022-jp", out);
    std::string all = str(out);
    size_t count = 0;
    for (size_t at = 0; (at = all.find("?B?", at)) != std::string::npos; ++count) {
        size_t end = all.find("?=", at);
        std::string bytes = unb64(all.substr(at + 3, end - at - 3));
        EXPECT_EQ(bytes.substr(0, 3), "\x1B$B");
        EXPECT_EQ(bytes.substr(bytes.size() - 3), "\x1B(B");
        at = end;
    }
    EXPECT_EQ(count, 3u);

    // An emoji falling on a word boundary stays in one word.
    std::string emoji = "abcdefghijk\xF0\x9F\x98\x80xyz0123456789";
    out.clear();
    cc.encodeBWords(emoji.data(), static_cast<uint32_t>(emoji.size()), "utf-8", out);
    all = str(out);
    std::vector<std::string> pieces;
    for (size_t at = 0; (at = all.find("?B?", at)) != std::string::npos;) {
        size_t end = all.find("?=", at);
        pieces.push_back(unb64(all.substr(at + 3, end - at - 3)));
        at = end;
    }
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_EQ(pieces[0], "abcdefghijk");
    EXPECT_EQ(pieces[1], "\xF0\x9F\x98\x80xyz0123456");
    EXPECT_EQ(pieces[2], "789");
}

// gb18030 writes four bytes for many Latin letters and every character beyond
// the BMP: its words still keep within 75 characters, and split whole.
TEST(EncodedWords, FourByteCodesKeepWordsShort)
{
    const std::string text =
        "\xC3\xA4\xC3\xB6\xC3\xBC\xC3\xA9\xC3\xA8\xF0\xA0\x80\x80\xC3\xA0\xC3\xA2\xC3\xAA"
        "\xC3\xAE\xC3\xB4\xC3\xBB\xF0\x9F\x98\x80\xC3\xB1\xC3\xA7";
    const std::string gb = inCharset(text + "\xC3\x84\xC3\x96\xC3\x9C\xC3\x9F\xC3\x85\xC3\x86\xC3\x98", 54936);
    for (bool bForm : {true, false}) {
        ContentCoding cc;
        StringBuffer out;
        if (bForm)
            cc.encodeBWords(gb.data(), static_cast<uint32_t>(gb.size()), "gb18030", out);
        else
            cc.encodeQWords(gb.data(), static_cast<uint32_t>(gb.size()), "gb18030", out);
        const std::string all = str(out);
        std::string joined;
        size_t words = 0;
        for (size_t at = 0; (at = all.find("=?", at)) != std::string::npos; ++words) {
            const size_t end = all.find("?=", at + 12) + 2;
            EXPECT_LE(end - at, 75u) << all.substr(at, end - at);
            const std::string inner = all.substr(at + 12, end - at - 14);
            if (bForm) {
                joined += unb64(inner);
            } else {
                uint32_t count = 0;
                unsigned char* q = cc.decodeQ(inner.data(), static_cast<int32_t>(inner.size()), count);
                joined.append(reinterpret_cast<const char*>(q), count);
                std::free(q);
            }
            at = end;
        }
        EXPECT_GT(words, 2u) << all;
        EXPECT_EQ(joined, gb) << (bForm ? "B" : "Q");
    }
}

TEST(EncodedWords, Decoding)
{
    EXPECT_EQ(words("=?iso-8859-1?Q?caf=E9?="), "caf\xC3\xA9");
    EXPECT_EQ(words("=?utf-8?B?YQ==?= =?utf-8?B?Yg==?="), "a b");
    EXPECT_EQ(words("=?UTF-8?b?YQ==?==?8BIT?Q?=C3=A9?="), "a\xC3\xA9");
    EXPECT_EQ(words("=?iso-8859-1*fr?Q?=E9?="), "\xC3\xA9");
    EXPECT_EQ(words("=?x-unknown?Q?=E9?= =?utf-8?Q?"
                    "?="),
              "\xE9 ");
    EXPECT_EQ(words("=?iso-2022-jp?B?GyRCJCIbKEI=?="), "あ");
    // A "=?" that opens no word is text, and what follows is still read.
    EXPECT_EQ(words("abc =?x"), "abc =?x");
    EXPECT_EQ(words("Re: =?utf-8?B?w6k=?= 1+1=? done"), "Re: \xC3\xA9 1+1=? done");
    EXPECT_EQ(words("=?a=?utf-8?Q?b?="), "=?ab");
    EXPECT_EQ(words("=?utf-8?Q"), "=?utf-8?Q");
    EXPECT_EQ(words("plain"), "plain");

    StringBuffer in("name =?8bit?Q?=E9?= =?utf-8?x");
    DataBuffer raw;
    ContentCoding().decodeEncodedWordsRaw(in, raw);
    EXPECT_EQ(str(raw), "name \xE9 =?utf-8?x");
}

}  // namespace
