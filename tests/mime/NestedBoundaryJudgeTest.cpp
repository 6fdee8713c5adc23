// A multipart inside another that uses the same boundary: written as it is,
// the inner closing line would end the outer multipart. Both writers give
// the inner one a fresh boundary, and Python's email package must read the
// written text as the same tree of parts we hold.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "foundation/LogNull.h"
#include "foundation/StringBuffer.h"
#include "mime/Email2.h"
#include "mime/MimeMessage2.h"
#include "support/PythonJudge.h"

using namespace hanamail;

namespace {

#ifdef _WIN32
TEST(NestedBoundaryJudge, PythonReadsTheSameTree)
{
    GTEST_SKIP() << "the Python judge runs on POSIX only";
}
#else

using namespace pyjudge;

// An outer and an inner multipart both with boundary "mix"; the reader
// takes the inner one's text up to the next "--mix" as its only part.
const char kSameBoundary[] =
    "Subject: fwd\r\n"
    "Content-Type: multipart/mixed; boundary=mix\r\n"
    "\r\n"
    "--mix\r\n"
    "Content-Type: multipart/mixed; boundary=mix\r\n"
    "\r\n"
    "inner preamble\r\n"
    "--mix\r\n"
    "Content-Type: text/plain\r\n"
    "\r\n"
    "see attached\r\n"
    "--mix\r\n"
    "Content-Type: application/octet-stream\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "\r\n"
    "AAECAwQF\r\n"
    "--mix--\r\n";

// Our tree as "type(child,child)"; a part without children is its type.
template <class Part, class Count, class Child>
std::string shape(const Part& p, Count count, Child child)
{
    StringBuffer t(p.contentType().getString());
    t.toLowerCase();
    std::string s = t.getString();
    if (count(p) == 0) return s;
    s += '(';
    for (int i = 0; i < count(p); ++i) {
        if (i) s += ',';
        s += shape(*child(p, i), count, child);
    }
    return s + ')';
}

std::string emailShape(const Email2& e)
{
    return shape(
        e, [](const Email2& x) { return x.GetPartCount(); }, [](const Email2& x, int i) { return x.GetPart(i); });
}

std::string entityShape(const MimeMessage2& m)
{
    return shape(
        m, [](const MimeMessage2& x) { return x.GetSubPartCount(); },
        [](const MimeMessage2& x, int i) { return x.GetSubPart(i); });
}

// Each NAME.eml must read in Python as NAME.shape says, every nested
// multipart with a boundary no multipart around it uses.
const char* const kJudge = R"PY(
import os, sys
from email import policy
from email.parser import BytesParser
d = sys.argv[1]
bad = []
count = 0
def shape(p):
    if not p.is_multipart():
        return p.get_content_type()
    return p.get_content_type() + '(' + ','.join(shape(q) for q in p.get_payload()) + ')'
def boundaries(p, outer):
    if not p.is_multipart():
        return
    b = p.get_boundary()
    if b in outer:
        bad.append('%s: boundary %r used twice' % (name, b))
    for q in p.get_payload():
        boundaries(q, outer + [b])
for name in sorted(os.listdir(d)):
    if not name.endswith('.eml'):
        continue
    count += 1
    stem = name[:-4]
    m = BytesParser(policy=policy.default).parsebytes(open(os.path.join(d, name), 'rb').read())
    want = open(os.path.join(d, stem + '.shape')).read()
    got = shape(m)
    if got != want:
        bad.append('%s: Python reads %s, we hold %s' % (stem, got, want))
    boundaries(m, [])
print('\n'.join(bad))
sys.exit(1 if bad or count != 3 else 0)
)PY";

class NestedBoundaryJudge : public JudgeTest {
protected:
    void keep(const char* stem, const StringBuffer& text, const std::string& ourShape)
    {
        writeFile(m_dir / (std::string(stem) + ".eml"), std::string(text.getString(), text.getSize()));
        writeFile(m_dir / (std::string(stem) + ".shape"), ourShape);
    }
};

TEST_F(NestedBoundaryJudge, PythonReadsTheSameTree)
{
    prepare("import email.policy", "hanamail_nested_boundary_");
    LogNull log;
    const uint32_t n = sizeof kSameBoundary - 1;

    // The email writer: what it writes reads back as the tree it wrote.
    std::unique_ptr<Email2> email(Email2::EmailFromMimeText(kSameBoundary, n, log));
    ASSERT_NE(email, nullptr);
    ASSERT_EQ(email->GetPartCount(), 3);
    ASSERT_GT(email->GetPart(0)->GetPartCount(), 0);
    StringBuffer written;
    ASSERT_TRUE(email->GetMimeText(written));
    std::unique_ptr<Email2> again(
        Email2::EmailFromMimeText(written.getString(), static_cast<uint32_t>(written.getSize()), log));
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(emailShape(*again), emailShape(*email));
    keep("email", written, emailShape(*email));

    // The entity writer, on the same text read as an entity.
    MimeMessage2 read;
    read.ParseMime(kSameBoundary, n, log);
    StringBuffer entityText;
    ASSERT_TRUE(read.WriteMimeText(entityText));
    keep("entity", entityText, entityShape(read));

    // An entity tree built in memory with the boundary repeated two levels down.
    MimeMessage2 top;
    top.SetContentType("multipart/mixed", nullptr, nullptr, nullptr, Charset(), "b", nullptr, nullptr);
    auto* alt = new MimeMessage2;
    alt->SetContentType("multipart/alternative", nullptr, nullptr, nullptr, Charset(), "c", nullptr, nullptr);
    auto* deep = new MimeMessage2;
    deep->SetContentType("multipart/related", nullptr, nullptr, nullptr, Charset(), "b", nullptr, nullptr);
    for (const char* body : {"one\r\n", "two\r\n"}) {
        auto* leaf = new MimeMessage2;
        leaf->SetContentType("text/plain");
        leaf->SetBodyFromText(body, static_cast<uint32_t>(std::strlen(body)), Charset());
        deep->AddSubPart(leaf);
    }
    auto* html = new MimeMessage2;
    html->SetContentType("text/html");
    html->SetBodyFromText("<p>x</p>", 8, Charset());
    alt->AddSubPart(deep);
    alt->AddSubPart(html);
    top.AddSubPart(alt);
    StringBuffer built;
    ASSERT_TRUE(top.WriteMimeText(built));
    EXPECT_EQ(entityShape(top),
              "multipart/mixed(multipart/alternative(multipart/related(text/plain,text/plain),"
              "text/html))");
    keep("built", built, entityShape(top));

    runJudges({{"judge.py", kJudge}});
}

#endif

}  // namespace
