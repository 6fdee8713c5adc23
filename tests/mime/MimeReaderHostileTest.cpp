// Hostile and broken MIME text: the reader gives a tree (and an email that
// writes again) or says in its log what it gave up, and never crashes,
// recurses without bound or reads past the text.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "foundation/Logger.h"
#include "mime/Email2.h"
#include "mime/MimeHeaderTestSupport.h"
#include "mime/MimeMessage2.h"

using namespace hanamail;

namespace {

using namespace hdrtest;

std::string logText(Logger& log)
{
    StringBuffer t;
    log.getText(t);
    return str(t);
}

std::string bytesOf(const DataBuffer& b)
{
    return std::string(reinterpret_cast<const char*>(b.getData()), b.getSize());
}

int depthOf(const MimeMessage2& m)
{
    int d = 0;
    for (int i = 0; i < m.GetSubPartCount(); ++i) d = std::max(d, depthOf(*m.GetSubPart(i)));
    return d + 1;
}

// Hostile input must not make reading slow either (these limits hold under
// the sanitizers too).
class Deadline {
public:
    explicit Deadline(const char* what) : m_what(what) {}
    ~Deadline()
    {
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
        EXPECT_LT(s, 10.0) << m_what;
    }

private:
    const char* m_what;
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

// Reads the text (exactly n bytes, from a copy of its own so that a read past
// the end is caught by the sanitizers) and writes the email again.
std::unique_ptr<Email2> readAndWrite(const std::string& text, Logger& log)
{
    std::unique_ptr<char[]> exact(new char[text.size() ? text.size() : 1]);
    std::copy(text.begin(), text.end(), exact.get());
    std::unique_ptr<Email2> e(Email2::EmailFromMimeText(exact.get(), static_cast<uint32_t>(text.size()), log));
    EXPECT_NE(e, nullptr);
    if (e) {
        StringBuffer out;
        EXPECT_TRUE(e->GetMimeText(out));
    }
    return e;
}

TEST(MimeReaderHostile, DeepNestingIsCappedWithALogLine)
{
    std::string text;
    const int levels = 1000;
    for (int i = 0; i < levels; ++i)
        text += "Content-Type: multipart/mixed; boundary=\"b" + std::to_string(i) + "\"\r\n\r\n--b" +
                std::to_string(i) + "\r\n";
    text += "Content-Type: text/plain\r\n\r\ninnermost\r\n";
    for (int i = levels - 1; i >= 0; --i) text += "--b" + std::to_string(i) + "--\r\n";

    Logger log;
    MimeMessage2 m;
    m.ParseMime(text.data(), static_cast<uint32_t>(text.size()), log);
    EXPECT_EQ(depthOf(m), MimeMessage2::kMaxDepth + 1);
    EXPECT_NE(logText(log).find("nested more than 64 levels deep"), std::string::npos) << logText(log);
    Logger elog;
    std::unique_ptr<Email2> e = readAndWrite(text, elog);
    // Nothing is lost: the text below the cap is the body of the deepest part kept.
    StringBuffer out;
    ASSERT_TRUE(e->GetMimeText(out));
    EXPECT_NE(str(out).find("innermost"), std::string::npos);
}

TEST(MimeReaderHostile, TruncatedAndBoundaryless)
{
    const std::string head = "Content-Type: multipart/mixed; boundary=\"zz\"\r\n\r\n";
    const std::string whole = head +
                              "--zz\r\nContent-Type: application/octet-stream\r\nContent-Transfer-Encoding: "
                              "base64\r\n\r\nAAECAwQF\r\n--zz--\r\n";
    // Every prefix of a multipart text reads and writes again.
    for (size_t n = 0; n <= whole.size(); ++n) {
        Logger log;
        readAndWrite(whole.substr(0, n), log);
    }
    // A header that says multipart with no boundary, an empty one, an absurd one.
    for (const std::string& ct : {std::string("multipart/mixed"), std::string("multipart/mixed; boundary=\"\""),
                                  "multipart/mixed; boundary=\"" + std::string(100000, 'x') + "\""}) {
        Logger log;
        std::unique_ptr<Email2> e = readAndWrite("Content-Type: " + ct + "\r\n\r\n--x\r\n\r\npart text\r\n", log);
        StringBuffer body;
        e->GetBodyText(body);
        EXPECT_NE(str(body).find("part text"), std::string::npos) << ct.substr(0, 40);
    }
}

TEST(MimeReaderHostile, ManyPartsAndHugeLines)
{
    std::string text = "Content-Type: multipart/mixed; boundary=p\r\n\r\n";
    for (int i = 0; i < MimeMessage2::kMaxParts + 5; ++i) text += "--p\r\n\r\nx\r\n";
    Logger log;
    MimeMessage2 m;
    m.ParseMime(text.data(), static_cast<uint32_t>(text.size()), log);
    EXPECT_EQ(m.GetSubPartCount(), MimeMessage2::kMaxParts);
    EXPECT_NE(logText(log).find("more than 10000 parts"), std::string::npos);

    // A header line of 4 MB, and one of encoded-word look-alikes.
    const std::string big =
        "Subject: " + std::string(4 << 20, 'a') + "\r\nX-W: " + std::string(200000, '=') + "?utf-8?Q?" + "\r\n\r\nbody";
    Logger blog;
    std::unique_ptr<Email2> e = readAndWrite(big, blog);
    StringBuffer subject;
    ASSERT_TRUE(e->GetSubject(subject));
    EXPECT_EQ(subject.getSize(), 4 << 20);
}

TEST(MimeReaderHostile, NulBytesEverywhere)
{
    std::string text =
        "Subject: a\r\nContent-Type: multipart/mixed; boundary=n\r\n\r\n--n\r\nContent-Type: text/plain\r\n\r\n";
    text += std::string("x\0y", 3);
    text += "\r\n--n\r\n";
    text += std::string("\0\0\0\r\n\r\n\0", 8);
    text += "\r\n--n--";
    Logger log;
    std::unique_ptr<Email2> e = readAndWrite(text, log);
    ASSERT_EQ(e->GetPartCount(), 2);
    EXPECT_EQ(
        std::string(reinterpret_cast<const char*>(e->GetPart(0)->body().getData()), e->GetPart(0)->body().getSize()),
        std::string("x\0y", 3));
}

TEST(MimeReaderHostile, BrokenUuencodeAndParameters)
{
    Logger log;
    // A begin line without lines after it, lines longer and shorter than their count.
    readAndWrite("X-MS-Has-Attach: yes\r\n\r\n<<f>>\r\nbegin 644 f\r\n", log);
    readAndWrite("X-MS-Has-Attach: yes\r\n\r\n<<f>>\r\nbegin 644 f\r\nM\r\n!\r\n" + std::string(5000, 'M') + "\r\n",
                 log);
    // RFC 2231 sections with huge numbers, gaps, bad escapes and unknown charsets.
    readAndWrite(
        "Content-Type: text/plain; name*99999999*=x; name*0*=nope''%G1%; name*1000=y; charset*=''\r\n"
        "Content-Disposition: attachment; filename*=%%%; filename*0=\"\r\n\r\nbody",
        log);
}

TEST(MimeReaderHostile, RealisticMessageCutAtEvery97thByte)
{
    const Deadline deadline("cut messages");
    const std::string whole =
        "From: =?ISO-2022-JP?B?GyRCOzNFRBsoQg==?= <taro@example.jp>\r\nTo: a@example.com\r\n"
        "Subject: =?utf-8?Q?caf=C3=A9?= report\r\nMIME-Version: 1.0\r\n"
        "Content-Type: multipart/mixed; boundary=\"outer\"\r\n\r\npreamble\r\n--outer\r\n"
        "Content-Type: multipart/alternative; boundary=\"inner\"\r\n\r\n--inner\r\n"
        "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
        "caf=C3=A9 au lait, a line long enough to be folded by the writer=\r\n and its end\r\n--inner\r\n"
        "Content-Type: text/html; charset=iso-8859-1\r\nContent-Transfer-Encoding: 8bit\r\n\r\n"
        "<p>caf\xe9</p>\r\n--inner--\r\n\r\n--outer\r\n"
        "Content-Type: application/octet-stream; name*=utf-8''r%C3%A9sum%C3%A9.bin\r\n"
        "Content-Disposition: attachment; filename=\"data.bin\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
        "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4\r\n"
        "OTo7PD0+P0BBQkNERUZHSElKS0xNTk9QUVJTVFVWV1hZWltcXV5fYGFiY2RlZmdoaWprbG1ub3Bx\r\n--outer\r\n"
        "Content-Type: message/rfc822\r\n\r\nSubject: inner\r\nX-MS-Has-Attach: yes\r\n\r\n<<f.txt>>\r\n"
        "begin 644 f.txt\r\n%:&5L;&\\`\r\n`\r\nend\r\n--outer--\r\nepilogue\r\n";
    for (size_t n = 0; n <= whole.size(); n += 97) {
        Logger log;
        std::unique_ptr<Email2> e = readAndWrite(whole.substr(0, n), log);
        ASSERT_TRUE(e);
        // What was read copies and reads back with the same number of parts.
        std::unique_ptr<Email2> copy(e->Clone(log));
        ASSERT_TRUE(copy);
        EXPECT_EQ(copy->GetPartCount(), e->GetPartCount()) << n;
    }
}

TEST(MimeReaderHostile, HundredThousandBoundariesAndBytesAfterABoundary)
{
    {
        const Deadline deadline("100,000 boundaries");
        std::string text = "Content-Type: multipart/mixed; boundary=b\r\n\r\n";
        for (int i = 0; i < 100000; ++i) text += "--b\r\nx\r\n";
        text += "--b--\r\n";
        Logger log;
        MimeMessage2 m;
        m.ParseMime(text.data(), static_cast<uint32_t>(text.size()), log);
        EXPECT_EQ(m.GetSubPartCount(), MimeMessage2::kMaxParts);
        readAndWrite(text, log);
    }
    // The text ends 1 to 3 bytes after a delimiter: what follows is a part
    // (of a header that never ends) or nothing, never a read past the end.
    // A line that goes on with other bytes is no delimiter, and stays text.
    const std::string head = "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\none\r\n--b";
    const struct {
        const char* tail;
        const char* first;  // the first part's body
    } cases[] = {{"", "one"},          {"\r\n", "one"},         {"\r\nX", "one"},
                 {"\r\nXY", "one"},    {"--", "one"},           {"--\r", "one"},
                 {" ", "one"},         {" \t", "one"},          {"-", "one\r\n--b-"},
                 {"x", "one\r\n--bx"}, {"x\r\n", "one\r\n--bx"}};
    for (const auto& c : cases) {
        Logger log;
        std::unique_ptr<Email2> e = readAndWrite(head + c.tail, log);
        ASSERT_TRUE(e);
        ASSERT_GE(e->GetPartCount(), 1) << c.tail;
        EXPECT_EQ(bytesOf(e->GetPart(0)->body()), c.first) << c.tail;
    }
}

TEST(MimeReaderHostile, HundredParametersInAField)
{
    const Deadline deadline("100 parameters");
    std::string ct = "Content-Type: text/plain";
    for (int i = 0; i < 100; ++i) ct += "; p" + std::to_string(i) + "*" + std::to_string(i % 3) + "*=utf-8''%C3%A9";
    ct += "; charset=utf-8; name=\"last.txt\"\r\n";
    Logger log;
    std::unique_ptr<Email2> e = readAndWrite(ct + "\r\ncaf\xc3\xa9", log);
    ASSERT_TRUE(e);
    EXPECT_EQ(str(e->name()), "last.txt");
    EXPECT_EQ(bytesOf(e->body()), "caf\xc3\xa9");
}

TEST(MimeReaderHostile, UuencodeWithLongNameAndCutGroup)
{
    const Deadline deadline("uuencode");
    // A 10 KB file name stays the name of the attachment it gives.
    const std::string name(10240, 'n');
    Logger log;
    std::unique_ptr<Email2> e = readAndWrite(
        "X-MS-Has-Attach: yes\r\n\r\nsee <<" + name + ">>\r\nbegin 644 " + name + "\r\n#86)C\r\n`\r\nend\r\n", log);
    ASSERT_TRUE(e);
    ASSERT_EQ(e->GetPartCount(), 2);
    EXPECT_EQ(bytesOf(e->GetPart(1)->body()), "abc");
    EXPECT_NE(str(e->GetPart(1)->filename()).find(name.substr(0, 200)), std::string::npos);

    // A line cut inside a group: the missing characters count as zero bits,
    // the bytes before the cut are kept, the text around the block stays.
    Logger clog;
    std::unique_ptr<Email2> cut =
        readAndWrite("X-MS-Has-Attach: yes\r\n\r\nhello <<f>>\r\nbegin 644 f\r\n&86)C9&5", clog);
    ASSERT_TRUE(cut);
    ASSERT_EQ(cut->GetPartCount(), 2);
    const std::string bytes = bytesOf(cut->GetPart(1)->body());
    ASSERT_EQ(bytes.size(), 6u);
    EXPECT_EQ(bytes.substr(0, 5), "abcde");
    EXPECT_NE(bytesOf(cut->GetPart(0)->body()).find("hello"), std::string::npos);
}

// The XML form's hostile endings: each gives no email or an email, quickly,
// never a read past the text.
TEST(MimeReaderHostile, XmlFormWithUnclosedConstructs)
{
    const std::string start = "<?xml version=\"1.0\"?><mime_message><header><subject>s</subject></header><body>";
    const std::string big(1 << 20, 'x');
    for (const std::string& end :
         {std::string("<![CDATA[") + big, "<!-- " + big, "<?pi " + big, "<a b=\"" + big, "<a b='" + big,
          std::string("<![CDATA[x]]></body></mime_message>"), std::string("<!DOCTYPE x [") + big}) {
        const Deadline deadline("unclosed XML");
        std::unique_ptr<char[]> exact(new char[start.size() + end.size()]);
        std::copy(start.begin(), start.end(), exact.get());
        std::copy(end.begin(), end.end(), exact.get() + start.size());
        Logger log;
        std::unique_ptr<Email2> e(
            Email2::ImportXml(exact.get(), static_cast<int32_t>(start.size() + end.size()), &log));
        if (e) {
            StringBuffer out;
            EXPECT_TRUE(e->GetMimeText(out));
        }
    }
}

}  // namespace
