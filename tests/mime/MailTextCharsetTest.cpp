// What the email writer adds on top of the conversion engine: the Windows
// twins of the JIS forms in the Japanese code pages (the engine itself still
// converts as Windows does), the labels "gbk", "utf-16le" and "utf-16be",
// the record of charsets given up for UTF-8, and CR LF line ends.
#include <gtest/gtest.h>

#include <string>

#include "charset/EncodingConvert.h"
#include "foundation/DataBuffer.h"
#include "mime/CrlfLines.h"
#include "mime/MailTextCharset.h"

using namespace hanamail;

namespace {

std::string bytes(const DataBuffer& b)
{
    return std::string(reinterpret_cast<const char*>(b.getData()), b.getSize());
}

bool mailConvert(int cp, const std::string& utf8, std::string& out)
{
    DataBuffer b;
    const bool ok = mailtext::convert(cp, utf8.data(), static_cast<uint32_t>(utf8.size()), b);
    out = bytes(b);
    return ok;
}

std::string engine(int cp, const std::string& utf8, bool expectOk = true)
{
    EncodingConvert ec;
    DataBuffer b;
    EXPECT_EQ(ec.convert(65001, cp, utf8.data(), static_cast<uint32_t>(utf8.size()), b), expectOk) << cp;
    return bytes(b);
}

const char* const kJisForms[] = {"〜", "‖", "−", "¢", "£", "¬", "—"};
const char* const kTwins[] = {"～", "∥", "－", "￠", "￡", "￢", "―"};

TEST(MailTextCharset, JapaneseCodePagesWriteTheTwinOfAJisForm)
{
    for (int cp : {932, 50220, 50221, 50222, 51932}) {
        for (size_t i = 0; i < 7; ++i) {
            const std::string text = std::string("a") + kJisForms[i] + "あ";
            std::string got;
            EXPECT_TRUE(mailConvert(cp, text, got)) << cp << " " << kJisForms[i];
            EXPECT_EQ(got, engine(cp, std::string("a") + kTwins[i] + "あ")) << cp << " " << kJisForms[i];
        }
    }
    // The engine itself keeps converting as Windows does: the JIS forms are lost.
    engine(932, "〜", false);
    engine(51932, "−", false);
}

TEST(MailTextCharset, OtherCodePagesAndOtherTextConvertAsTheEngineDoes)
{
    const std::string text = "〜 ‖ − ¢ £ ¬ — 会议";
    for (int cp : {936, 949, 28591, 65001, 1200}) {
        std::string got;
        DataBuffer b;
        EncodingConvert ec;
        const bool ok = ec.convert(65001, cp, text.data(), static_cast<uint32_t>(text.size()), b);
        EXPECT_EQ(mailConvert(cp, text, got), ok) << cp;
        EXPECT_EQ(got, bytes(b)) << cp;
    }
    // A character Shift_JIS lacks altogether still fails the conversion.
    std::string got;
    EXPECT_FALSE(mailConvert(932, "〜😀", got));
}

TEST(MailTextCharset, LabelsReadersKnow)
{
    const std::string gb = engine(936, "会议资料 ＡＢＣ abc");
    const auto* p = reinterpret_cast<const unsigned char*>(gb.data());
    EXPECT_STREQ(mailtext::label(936, "gb2312", p, static_cast<uint32_t>(gb.size())), "gb2312");
    // Kana with the long vowel mark, a GBK-only Han character, and the middle
    // dot that GB2312 readers take for another character.
    for (const char* text : {"テストー", "朱镕基", "a·b", "—"}) {
        const std::string g = engine(936, text);
        const auto* q = reinterpret_cast<const unsigned char*>(g.data());
        EXPECT_STREQ(mailtext::label(936, "gb2312", q, static_cast<uint32_t>(g.size())), "gbk") << text;
    }
    EXPECT_STREQ(mailtext::label(932, "shift_jis", p, static_cast<uint32_t>(gb.size())), "shift_jis");
    EXPECT_STREQ(mailtext::mimeName(1200, "unicode"), "utf-16le");
    EXPECT_STREQ(mailtext::mimeName(1201, "unicodefffe"), "utf-16be");
    EXPECT_STREQ(mailtext::mimeName(65001, "utf-8"), "utf-8");
}

TEST(MailTextCharset, WatchesCollectTheFirstCharsetGivenUp)
{
    mailtext::noteFallback("shift_jis");  // no watch: nobody listens
    mailtext::Watch outer;
    {
        mailtext::Watch inner;
        mailtext::noteFallback("euc-jp");
        mailtext::noteFallback("shift_jis");
        EXPECT_EQ(inner.fellBack(), "euc-jp");
    }
    EXPECT_EQ(outer.fellBack(), "euc-jp");
    mailtext::Watch fresh;
    EXPECT_EQ(fresh.fellBack(), "");
}

TEST(MailTextCharset, TextLinesEndInCrLf)
{
    struct Case {
        std::string in, out;
    };
    const Case cases[] = {{"a\nb", "a\r\nb"},           {"a\rb\r", "a\r\nb\r\n"}, {"a\r\n\nb", "a\r\n\r\nb"},
                          {"\n\r\r\n", "\r\n\r\n\r\n"}, {"\r\r", "\r\n\r\n"},     {"no end", "no end"}};
    for (const Case& c : cases) {
        const auto* p = reinterpret_cast<const unsigned char*>(c.in.data());
        const uint32_t n = static_cast<uint32_t>(c.in.size());
        EXPECT_EQ(CrlfLines::hasBareLineEnd(p, n), c.in != c.out) << c.in;
        DataBuffer out;
        ASSERT_TRUE(CrlfLines::append(p, n, out));
        EXPECT_EQ(bytes(out), c.out);
    }
    const std::string crlf = "a\r\nb\r\n";
    EXPECT_FALSE(CrlfLines::hasBareLineEnd(reinterpret_cast<const unsigned char*>(crlf.data()), 6));
}

}  // namespace
