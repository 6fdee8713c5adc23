// Python's email parser (policy=default) judges emails that received
// attachments: every root kind turned multipart/mixed, files of random
// binary, text and no bytes at all, names in Japanese. No part or header may
// carry a defect, the tree must have the shape we built, and each attachment
// must come back under its name with the bytes that went in (by SHA-256).
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "foundation/Logger.h"
#include "mime/Email2.h"
#include "mime/MimeHeaderTestSupport.h"
#include "support/PythonJudge.h"

using namespace hanamail;

namespace {

#ifdef _WIN32
TEST(Email2AttachmentsJudge, PythonReadsEveryAttachment)
{
    GTEST_SKIP() << "the Python judge runs on POSIX only";
}
#else

using namespace hdrtest;
using namespace pyjudge;
namespace fs = std::filesystem;

const char* const kJudge = R"PY(
import hashlib, os, sys
from email import policy
from email.parser import BytesParser
from judgelib import PARAM_WORD_DEFECTS, check_lines, emails, shape



d = sys.argv[1]
bad = []
count = 0
for stem, raw in emails(d):
    count += 1
    check_lines(stem, raw, bad, seven_bit=False)
    msg = BytesParser(policy=policy.default).parsebytes(raw)
    files = []
    for e in (l.split('\t') for l in open(os.path.join(d, stem + '.exp'), encoding='utf-8').read().splitlines()):
        if e[0] == 'shape' and shape(msg) != e[1]:
            bad.append('%s: shape %s != %s' % (stem, shape(msg), e[1]))
        elif e[0] == 'body':
            leaf = next((p for p in msg.walk() if not p.is_multipart()), None)
            if e[1] == '-':
                continue
            want = bytes.fromhex(e[1]).decode('utf-8')
            if leaf is None or leaf.get_content() != want:
                bad.append('%s: body %r != %r' % (stem, leaf and leaf.get_content(), want))
        elif e[0] == 'file':
            files.append(e[1:])
    for p in msg.walk():
        if p.defects:
            bad.append('%s: %s part defects %r' % (stem, p.get_content_type(), p.defects))
        for k, v in p.items():
            defects = {str(x) for x in v.defects}
            if k.lower() in ('content-type', 'content-disposition'):
                defects -= PARAM_WORD_DEFECTS
            if defects:
                bad.append('%s: %s defects %r in %r' % (stem, k, sorted(defects), str(v)))
    got = [p for p in msg.walk() if p.get_content_disposition() == 'attachment']
    if len(got) != len(files):
        bad.append('%s: %d attachments, expected %d' % (stem, len(got), len(files)))
        continue
    for p, (fname, ctype, digest) in zip(got, files):
        want = bytes.fromhex(fname).decode('utf-8')
        if p.get_filename() != want:
            bad.append('%s: filename %r != %r' % (stem, p.get_filename(), want))
        if p.get_content_type() != ctype:
            bad.append('%s: %s content type %r != %r' % (stem, want, p.get_content_type(), ctype))
        data = p.get_payload(decode=True) or b''
        if hashlib.sha256(data).hexdigest() != digest:
            bad.append('%s: %s: %d bytes differ from what went in' % (stem, want, len(data)))
print('\n'.join(bad[:60]))
print('%d messages, %d problems' % (count, len(bad)))
sys.exit(1 if bad or count == 0 else 0)
)PY";

// The digest is taken by Python from the file we hand it, so no hashing code of our own is trusted.
struct File {
    std::string name;
    std::string type;
    std::string bytes;
};

std::string randomBytes(int n, unsigned fixedStart)
{
    std::mt19937 rng(fixedStart);
    std::string s;
    for (int i = 0; i < n; ++i) s += static_cast<char>(rng());
    return s;
}

// Line ends of every kind, white space before them, '=' and a long line: what quoted-printable must keep.
std::string textFile()
{
    std::string s = "first line\r\nunix line\nold mac line\rtrailing space \r\ntab\t\r\na=b =3D\r\n";
    for (int i = 0; i < 40; ++i) s += "long " + std::to_string(i) + " ";
    return s + "\r\nGrüße 日本\r\n.\r\nFrom here\r\nno final break";
}

class Email2AttachmentsJudge : public pyjudge::JudgeTest {
protected:
    void SetUp() override { prepare("import email.policy", "hanamail-attach-judge-"); }

    static void messageFields(Email2& root)
    {
        // In front of the entity fields, as in an email.
        MimeHeader h;
        h.ReplaceField("MIME-Version", "1.0");
        h.ReplaceField("Subject", "Attachments");
        h.ReplaceField("From", "from@example.jp");
        h.ReplaceField("To", "to@example.com");
        for (int i = 0; i < root.header().GetFieldCount(); ++i) h.AddField(root.header().GetFieldByIndex(i)->Clone());
        root.header().CopyFieldsFrom(h);
    }

    void attach(Email2& root, const std::vector<File>& files)
    {
        for (const File& f : files) {
            StringBuffer chosen;
            ASSERT_TRUE(root.AddDataAttachment(f.name.c_str(), nullptr, f.bytes.data(),
                                               static_cast<uint32_t>(f.bytes.size()), chosen));
            EXPECT_EQ(str(chosen), f.type) << f.name;
        }
    }

    void add(const std::string& label, Email2& root, const std::string& shape, const std::string& body,
             const std::vector<File>& files)
    {
        messageFields(root);
        StringBuffer out;
        EXPECT_TRUE(root.WriteMimeText(out, nullptr));
        const std::string stem = label + "-" + std::to_string(m_count++);
        writeFile(m_dir / (stem + ".eml"), str(out));
        std::string exp = "shape\t" + shape + "\nbody\t" + hex(body) + "\n";
        for (size_t i = 0; i < files.size(); ++i) {
            const std::string bytesName = stem + "-" + std::to_string(i) + ".bytes";
            writeFile(m_dir / bytesName, files[i].bytes);
            exp += "file\t" + hex(files[i].name) + "\t" + files[i].type + "\t@" + bytesName + "\n";
        }
        writeFile(m_dir / (stem + ".exp"), exp);
    }

    void judge()
    {
        // Digests of the input files are filled in by Python before judging.
        const char* const prep = R"PY(
import hashlib, os, sys
d = sys.argv[1]
for n in os.listdir(d):
    if n.endswith('.exp'):
        p = os.path.join(d, n)
        out = []
        for l in open(p, encoding='utf-8').read().splitlines():
            f = l.split('\t')
            if f[0] == 'file':
                f[3] = hashlib.sha256(open(os.path.join(d, f[3][1:]), 'rb').read()).hexdigest()
            out.append('\t'.join(f))
        open(p, 'w', encoding='utf-8').write('\n'.join(out) + '\n')
)PY";
        runJudges({{"prep.py.script", prep}, {"judge.py.script", kJudge}});
    }

    int m_count = 0;
};

Email2* leaf(const char* type, const char* charset, const char* te, const std::string& body)
{
    auto* p = new Email2();
    p->SetContentType(type, nullptr, nullptr, nullptr, charsetNamed(charset), nullptr, nullptr, nullptr);
    p->SetTransferEncoding(te);
    p->SetBody(body.data(), static_cast<uint32_t>(body.size()));
    return p;
}

TEST_F(Email2AttachmentsJudge, EveryRootKindKeepsItsFiles)
{
    const std::vector<File> files = {
        {"random.bin", "application/octet-stream", randomBytes(5000, 11)},
        {"notes.txt", "text/plain", textFile()},
        {"empty.dat", "application/octet-stream", ""},
        {"C:\\資料\\日本語の資料.PDF", "application/pdf", randomBytes(300, 12)},
        {"", "application/octet-stream", randomBytes(1, 13)},
    };
    // What the names become in the email.
    std::vector<File> named = files;
    named[3].name = "日本語の資料.PDF";
    named[4].name = "attach.dat";
    const std::string greeting = "Grüße aus Köln";
    const std::string png = "\x89PNG\r\n\x1a\n" + randomBytes(400, 14);

    {
        // A single text body.
        Email2 root;
        root.SetContentType("text/plain", nullptr, nullptr, nullptr, charsetNamed("iso-8859-1"), nullptr, nullptr,
                            nullptr);
        root.SetTransferEncoding("quoted-printable");
        root.SetBody(greeting.data(), static_cast<uint32_t>(greeting.size()));
        attach(root, files);
        add("text", root,
            "multipart/mixed(text/plain,application/octet-stream,text/plain,application/octet-stream,"
            "application/pdf,application/octet-stream)",
            greeting, named);
    }
    {
        // Alternatives.
        Email2 root;
        root.SetContentType("multipart/alternative", nullptr, nullptr, nullptr, Charset(),
                            "----=_NextPart_000_0001_01D2A3B4.C5D6E7F8_.ALT", nullptr, nullptr);
        root.AddPart(leaf("text/plain", "utf-8", "quoted-printable", greeting));
        root.AddPart(leaf("text/html", "utf-8", "quoted-printable", "<p>" + greeting + "</p>"));
        attach(root, {files[0], files[3]});
        add("alternative", root,
            "multipart/mixed(multipart/alternative(text/plain,text/html),application/octet-stream,"
            "application/pdf)",
            greeting, {named[0], named[3]});
    }
    {
        // An HTML body with an inline image.
        Email2 root;
        root.SetContentType("multipart/related", nullptr, nullptr, nullptr, Charset(),
                            "----=_NextPart_000_0002_01D2A3B4.C5D6E7F8_.REL", nullptr, "text/html");
        root.SetTransferEncoding("quoted-printable");
        const std::string html = "<p>" + greeting + "</p><img src=\"cid:logo@example.jp\">";
        root.AddPart(leaf("text/html", "iso-8859-1", "quoted-printable", html));
        Email2* image = leaf("image/png", "us-ascii", "base64", png);
        image->SetContentType("image/png", "logo.png", nullptr, nullptr, Charset(), nullptr, nullptr, nullptr);
        image->SetDisposition("inline", "logo.png");
        image->SetContentId("<logo@example.jp>");
        root.AddPart(image);
        attach(root, {files[1], files[2]});
        add("related", root,
            "multipart/mixed(multipart/related(text/html,image/png),text/plain,"
            "application/octet-stream)",
            html, {named[1], named[2]});
    }
    {
        // A file read from disk.
        writeFile(m_dir / "Scan 01.PDF", files[3].bytes);
        Email2 root;
        root.SetContentType("text/plain", nullptr, nullptr, nullptr, Charset(), nullptr, nullptr, nullptr);
        root.SetTransferEncoding("quoted-printable");
        root.SetBody(greeting.data(), static_cast<uint32_t>(greeting.size()));
        StringBuffer chosen;
        Logger log;
        ASSERT_TRUE(root.AddFileAttachment((m_dir / "Scan 01.PDF").string().c_str(), nullptr, chosen, log));
        EXPECT_EQ(str(chosen), "application/pdf");
        add("file", root, "multipart/mixed(text/plain,application/pdf)", greeting,
            {{"Scan 01.PDF", "application/pdf", files[3].bytes}});
    }
    {
        // An email that is one file (as read from a message holding only an attachment) receives a second one.
        Email2 root;
        root.SetContentType("application/pdf", "only.pdf", nullptr, nullptr, Charset(), nullptr, nullptr, nullptr);
        root.SetTransferEncoding("base64");
        root.SetDisposition("attachment", "only.pdf");
        root.SetBody(files[3].bytes.data(), static_cast<uint32_t>(files[3].bytes.size()));
        attach(root, {files[0]});
        add("single-file", root, "multipart/mixed(application/pdf,application/octet-stream)", "",
            {{"only.pdf", "application/pdf", files[3].bytes}, named[0]});
    }
    judge();
}

#endif

}  // namespace
