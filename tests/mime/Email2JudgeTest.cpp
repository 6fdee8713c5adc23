// Python's email parser (policy=default) judges the MIME text of emails built
// through the email operations: bodies, alternatives in both orders, a
// replaced alternative, a related page with a plain alternative, a file-only
// message given a text, recipients with Japanese names, and Japanese emails
// given each Japanese charset afterwards. No defect may be reported, every
// text must read back as what went in, every file as its bytes.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include "mime/Email2.h"
#include "mime/MimeBoundary.h"
#include "mime/MimeHeaderTestSupport.h"
#include "mime/MimeText.h"
#include "support/PythonJudge.h"

using namespace hanamail;

namespace {

#ifdef _WIN32
TEST(Email2Judge, PythonReadsEveryEmail)
{
    GTEST_SKIP() << "the Python judge runs on POSIX only";
}
#else

using namespace hdrtest;
using namespace pyjudge;
namespace fs = std::filesystem;

const char* const kJudge = R"PY(
import os, sys
from email import policy
from email.parser import BytesParser
from judgelib import check_lines, emails, shape


def text(h):
    return bytes.fromhex(h).decode('utf-8') if h != '-' else ''

d = sys.argv[1]
bad = []
count = 0
for stem, raw in emails(d):
    count += 1
    check_lines(stem, raw, bad, controls=(9, 27))
    msg = BytesParser(policy=policy.default).parsebytes(raw)
    parts = list(msg.walk())
    for p in parts:
        if p.defects:
            bad.append('%s: %s part defects %r' % (stem, p.get_content_type(), p.defects))
        for k, v in p.items():
            if v.defects:
                bad.append('%s: %s defects %r in %r' % (stem, k, [str(x) for x in v.defects], str(v)))
    leaves = []
    metas = []
    for e in [l.split('\t') for l in open(os.path.join(d, stem + '.exp')).read().splitlines()]:
        if e[0] == 'shape' and shape(msg) != e[1]:
            bad.append('%s: shape %s != %s' % (stem, shape(msg), e[1]))
        elif e[0] == 'subject' and str(msg['subject']) != text(e[1]):
            bad.append('%s: subject %r != %r' % (stem, str(msg['subject']), text(e[1])))
        elif e[0] == 'addr':
            h = msg[e[1]]
            i = int(e[2])
            if h is None or len(h.addresses) <= i:
                bad.append('%s: no address %d in %s' % (stem, i, e[1]))
            elif h.addresses[i].display_name != text(e[3]) or h.addresses[i].addr_spec != e[4]:
                bad.append('%s: %s %d is %r <%s>' % (stem, e[1], i, h.addresses[i].display_name,
                                                     h.addresses[i].addr_spec))
        elif e[0] == 'contains' and bytes.fromhex(e[1]) not in raw:
            bad.append('%s: %r not written' % (stem, bytes.fromhex(e[1])))
        elif e[0] == 'absent' and bytes.fromhex(e[1]).lower() in raw.lower():
            bad.append('%s: %r written' % (stem, bytes.fromhex(e[1])))
        elif e[0] == 'leaf':
            leaves.append(e[1:])
        elif e[0] == 'meta':
            metas.append(e[1])
    got = [p for p in parts if not p.is_multipart()]
    if len(got) != len(leaves):
        bad.append('%s: %d leaves, expected %d' % (stem, len(got), len(leaves)))
        continue
    for i, (p, (kind, content, label, cte)) in enumerate(zip(got, leaves)):
        where = '%s leaf %d (%s)' % (stem, i, p.get_content_type())
        want = bytes.fromhex(content) if content != '-' else b''
        value = p.get_content()
        if kind == 'text':
            if not isinstance(value, str) or value != want.decode('utf-8'):
                bad.append('%s: text %r != %r' % (where, value[:120], want.decode('utf-8')[:120]))
            if p.get_content_charset() != (None if label == '-' else label):
                bad.append('%s: charset %r != %r' % (where, p.get_content_charset(), label))
            for m in metas:
                if p.get_content_type() == 'text/html' and ('charset=' + m) not in value:
                    bad.append('%s: META does not name %s' % (where, m))
        elif value != want:
            bad.append('%s: %d bytes differ from %d' % (where, len(value), len(want)))
        if str(p['content-transfer-encoding'] or '').lower() != cte:
            bad.append('%s: transfer encoding %r != %r' % (where, p['content-transfer-encoding'], cte))
print('\n'.join(bad[:60]))
print('%d messages, %d problems' % (count, len(bad)))
sys.exit(1 if bad or count == 0 else 0)
)PY";

std::string bodyOf(const Email2& e)
{
    return std::string(reinterpret_cast<const char*>(e.body().getData()), e.body().getSize());
}

void setText(Email2& e, const std::string& t)
{
    e.SetTextBody(t.data(), static_cast<uint32_t>(t.size()), false);
}

void setHtml(Email2& e, const std::string& h)
{
    e.SetHtmlBody(h.data(), static_cast<uint32_t>(h.size()));
}

Email2* plainPart(const std::string& t)
{
    return Email2::NewPlainTextPart(t.data(), static_cast<uint32_t>(t.size()));
}

Email2* htmlPart(const std::string& h, const Charset& cs)
{
    return Email2::NewHtmlPart(h.data(), static_cast<uint32_t>(h.size()), cs);
}

std::string shapeOf(const Email2& e)
{
    std::string s = e.contentType().getString();
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (e.GetPartCount() == 0) return s;
    s += "(";
    for (int i = 0; i < e.GetPartCount(); ++i) {
        if (i) s += ',';
        s += shapeOf(*e.GetPart(i));
    }
    return s + ")";
}

// The leaves Python must find: what each node holds, in the charset it declares.
void leavesOf(const Email2& e, std::string& exp)
{
    if (e.GetPartCount() > 0) {
        for (int i = 0; i < e.GetPartCount(); ++i) leavesOf(*e.GetPart(i), exp);
        return;
    }
    const std::string body = bodyOf(e);
    const bool text = mimetext::beginsWithNoCase(e.contentType(), "text/");
    std::string label = e.charset().getCodePage() != 0 ? e.charset().getName() : "-";
    if (label == "-" && mimetext::hasHighBytes(e.body().getData(), e.body().getSize())) label = "utf-8";
    std::string cte = e.transferEncoding().getString();
    for (char& c : cte) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    exp += std::string("leaf\t") + (text ? "text" : "bytes") + "\t" + hex(body) + "\t" + label + "\t" + cte + "\n";
}

// multipart/related( text/html, image/png ) as a captured page arrives.
Email2* relatedEmail(const std::string& html, const std::string& png)
{
    Email2* e = Email2::NewEmail();
    StringBuffer b;
    MimeBoundary::NewBoundary(b);
    EXPECT_TRUE(b.append("_.REL"));
    e->SetContentType("multipart/related", nullptr, nullptr, nullptr, Charset(), b.getString(), nullptr, "text/html");
    e->RemoveHeaderField("Content-Transfer-Encoding");
    e->AddPart(htmlPart(html, Charset()));
    auto* img = new Email2();
    img->SetContentType("image/png", "i.png", nullptr, nullptr, Charset(), nullptr, nullptr, nullptr);
    img->SetDisposition("inline", "i.png");
    img->SetTransferEncoding("base64");
    img->SetContentId("<i1@example.jp>");
    img->SetBody(png.data(), static_cast<uint32_t>(png.size()));
    e->AddPart(img);
    return e;
}

Email2* pdfOnlyEmail(const std::string& pdf)
{
    Email2* e = Email2::NewEmail();
    StringBuffer b;
    MimeBoundary::NewBoundary(b);
    EXPECT_TRUE(b.append("_.MIX"));
    e->SetContentType("multipart/mixed", nullptr, nullptr, nullptr, Charset(), b.getString(), nullptr, nullptr);
    e->RemoveHeaderField("Content-Transfer-Encoding");
    auto* f = new Email2();
    f->SetContentType("application/pdf", "report.pdf", nullptr, nullptr, Charset(), nullptr, nullptr, nullptr);
    f->SetDisposition("attachment", "report.pdf");
    f->SetTransferEncoding("base64");
    f->SetBody(pdf.data(), static_cast<uint32_t>(pdf.size()));
    e->AddPart(f);
    return e;
}

std::string binaryBytes(const char* magic)
{
    std::string s = magic;
    std::mt19937 rng(11);
    for (int i = 0; i < 900; ++i) s += static_cast<char>(rng());
    return s;
}

const char* const kJaSubject = "日本語の件名です（テスト）";
const char* const kJaName = "山田 太郎";
const char* const kJaToName = "鈴木 花子";
const char* const kJaText = "こんにちは、世界。\r\nこれは日本語のメールです。\r\n漢字・ひらがな・カタカナ\r\n";
const char* const kJaHtml =
    "<html><head><title>件名</title></head><body><p>こんにちは、世界。</p><p>日本語のHTML</p></body></html>";

class Email2Judge : public pyjudge::JudgeTest {
protected:
    void SetUp() override { prepare("import email.policy", "hanamail-email-"); }

    // Writes the email with what Python must find; extra holds further lines.
    void add(const std::string& label, Email2* e, const std::string& extra = "")
    {
        StringBuffer out;
        EXPECT_TRUE(e->GetMimeText(out));
        std::string exp = "shape\t" + shapeOf(*e) + "\n" + extra;
        StringBuffer subject;
        if (e->GetSubject(subject)) exp += "subject\t" + hex(str(subject)) + "\n";
        leavesOf(*e, exp);
        const std::string stem = label + "-" + std::to_string(m_count++);
        writeFile(m_dir / (stem + ".eml"), str(out));
        writeFile(m_dir / (stem + ".exp"), exp);
        delete e;
    }

    void judge() { runJudges({{"judge.py.script", kJudge}}); }

    int m_count = 0;
};

TEST_F(Email2Judge, EveryStructureTheOperationsBuild)
{
    const std::string png = binaryBytes("\x89PNG\r\n\x1a\n");
    const std::string pdf = binaryBytes("%PDF-1.4\n");
    const std::vector<std::string> texts = {"Plain ASCII text\r\nsecond line", "Déjà vu à Noël, Grüße aus Köln",
                                            "Cześć, żółć", kJaText};
    add("new", Email2::NewEmail());
    for (size_t i = 0; i < texts.size(); ++i) {
        const std::string& t = texts[i];
        const std::string tag = std::to_string(i);
        Email2* e = Email2::NewEmail();
        e->AddHeaderField("Subject", t.substr(0, t.find('\r')).c_str());
        setText(*e, t);
        add("text" + tag, e);

        e = Email2::NewEmail();
        setHtml(*e, "<p>" + t + "</p>");
        add("html" + tag, e);

        e = Email2::NewEmail();
        setText(*e, t);
        e->AddAlternativeBody(htmlPart("<p>" + t + "</p>", e->charset()));
        add("text-html" + tag, e);

        e = Email2::NewEmail();
        setHtml(*e, "<p>" + t + "</p>");
        e->AddAlternativeBody(plainPart(t));
        add("html-text" + tag, e);

        e = Email2::NewEmail();
        setHtml(*e, "<p>" + t + "</p>");
        e->AddAlternativeBody(plainPart("replaced"));
        e->AddAlternativeBody(plainPart(t));
        add("replaced" + tag, e);

        e = relatedEmail("<html><body><p>" + t + "</p><img src=\"cid:i1@example.jp\"></body></html>", png);
        e->AddAlternativeBody(plainPart(t));
        add("related" + tag, e);

        // A new HTML for a captured page, then the email's charset changed.
        e = relatedEmail("<html><body><p>old</p><img src=\"cid:i1@example.jp\"></body></html>", png);
        setHtml(*e, "<html><body><p>" + t + "</p><img src=\"cid:i1@example.jp\"></body></html>");
        e->SetCharset(charsetNamed(i == 3 ? "shift_jis" : "utf-8"));
        add("related-html" + tag, e);

        e = pdfOnlyEmail(pdf);
        setText(*e, t);
        add("pdf-text" + tag, e);

        e = pdfOnlyEmail(pdf);
        e->AddAlternativeBody(htmlPart("<p>" + t + "</p>", Charset()));
        e->AddAlternativeBody(plainPart(t));
        add("pdf-alt" + tag, e);
    }

    // Sender and recipients; Bcc is never written.
    Email2* e = Email2::NewEmail();
    e->SetFrom((std::string("\"") + kJaName + "\" <taro@example.jp>").c_str());
    e->AddTo(kJaToName, "hanako@example.jp");
    e->AddTo("Doe, \"JD\" John", "john@example.com");
    e->AddCc("André", "andre@example.fr");
    e->AddBcc("Hidden Person", "hidden@example.org");
    e->SetReplyTo("Help Desk <help@example.com>");
    e->AddHeaderField("Subject", kJaSubject);
    setText(*e, kJaText);
    add("addressed", e,
        "addr\tfrom\t0\t" + hex(kJaName) + "\ttaro@example.jp\n" + "addr\tto\t0\t" + hex(kJaToName) +
            "\thanako@example.jp\n" + "addr\tto\t1\t" + hex("Doe, \"JD\" John") + "\tjohn@example.com\n" +
            "addr\tcc\t0\t" + hex("André") + "\tandre@example.fr\n" + "addr\treply-to\t0\t" + hex("Help Desk") +
            "\thelp@example.com\n" + "absent\t" + hex("hidden@example.org") + "\nabsent\t" + hex("Bcc:") + "\n");
    judge();
}

TEST_F(Email2Judge, JapaneseCharsetsSetAfterwards)
{
    for (const char* cs : {"iso-2022-jp", "shift_jis", "euc-jp"}) {
        for (int order = 0; order < 3; ++order) {
            Email2* e = Email2::NewEmail();
            e->AddHeaderField("Subject", kJaSubject);
            e->SetFrom((std::string("\"") + kJaName + "\" <taro@example.jp>").c_str());
            e->AddTo(kJaToName, "hanako@example.jp");
            const std::string html = kJaHtml;
            if (order == 0) {
                setText(*e, kJaText);
                e->AddAlternativeBody(htmlPart(html, e->charset()));
            } else if (order == 1) {
                setHtml(*e, html);
                e->AddAlternativeBody(plainPart(kJaText));
            } else {
                setHtml(*e, html);  // one text/html entity
            }
            e->SetCharset(charsetNamed(cs));
            StringBuffer name;
            e->GetCharset(name);
            EXPECT_EQ(str(name), cs);
            add(std::string(cs) + "-" + std::to_string(order), e,
                "addr\tfrom\t0\t" + hex(kJaName) + "\ttaro@example.jp\n" + "addr\tto\t0\t" + hex(kJaToName) +
                    "\thanako@example.jp\n" + "meta\t" + cs + "\n" + "contains\t" +
                    hex(std::string("=?") + cs + "?B?") + "\n");
        }
    }
    judge();
}

#endif

}  // namespace
