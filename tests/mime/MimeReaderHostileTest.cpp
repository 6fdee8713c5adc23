// Hostile and broken MIME text: the reader gives a tree (and an email that
// writes again) or says in its log what it gave up, and never crashes,
// recurses without bound or reads past the text.
#include <gtest/gtest.h>

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

int depthOf(const MimeMessage2& m)
{
    int d = 0;
    for (int i = 0; i < m.GetSubPartCount(); ++i) d = std::max(d, depthOf(*m.GetSubPart(i)));
    return d + 1;
}

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

}  // namespace
