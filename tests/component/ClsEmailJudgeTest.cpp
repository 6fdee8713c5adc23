// Python's email parser (policy=default) and zipfile judge complete emails
// composed through the API object in the Japanese charsets and UTF-8: no
// defects, and subject, display name, both bodies, every attachment's bytes
// and the zip archive's entries come back exactly as they went in.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#ifndef _WIN32
#include <unistd.h>
#endif

#include "component/ClsEmail.h"
#include "foundation/DataBuffer.h"
#include "foundation/XString.h"
#include "support/PythonJudge.h"

using namespace hanamail;

namespace {

#ifdef _WIN32
TEST(ClsEmailJudge, PythonReadsComposedEmails)
{
    GTEST_SKIP() << "the Python judge runs on POSIX only";
}
#else

namespace fs = std::filesystem;

const char* const kJudge = R"PY(
import io, os, sys, zipfile
from email import policy
from email.parser import BytesParser
from judgelib import PARAM_WORD_DEFECTS


def h(s):
    return bytes.fromhex(s).decode('utf-8')

def text(p):
    return p.get_content().replace('\r\n', '\n').rstrip('\n')

d = sys.argv[1]
bad = []
for name in sorted(os.listdir(d)):
    if not name.endswith('.eml'):
        continue
    stem = name[:-4]
    exp = dict(l.split('\t', 1) for l in open(os.path.join(d, stem + '.exp')).read().splitlines())
    raw = open(os.path.join(d, name), 'rb').read()
    msg = BytesParser(policy=policy.default).parsebytes(raw)
    for p in msg.walk():
        if p.defects:
            bad.append('%s: %s defects %r' % (stem, p.get_content_type(), p.defects))
        for k, v in p.items():
            defects = {str(x) for x in v.defects}
            if k.lower() in ('content-type', 'content-disposition'):
                defects -= PARAM_WORD_DEFECTS
            if defects:
                bad.append('%s: header %s defects %r' % (stem, k, v.defects))
    if msg['subject'] != h(exp['subject']):
        bad.append('%s: subject %r' % (stem, msg['subject']))
    to = msg['to'].addresses
    if len(to) != 1 or to[0].display_name != h(exp['toname']) or to[0].addr_spec != exp['toaddr']:
        bad.append('%s: to %r' % (stem, msg['to']))
    plain = msg.get_body(('plain',))
    html = msg.get_body(('html',))
    if plain is None or text(plain) != h(exp['plain']):
        bad.append('%s: plain %r' % (stem, plain and text(plain)))
    if html is None or h(exp['html']) not in html.get_content():
        bad.append('%s: html %r' % (stem, html and html.get_content()))
    if plain is not None and plain.get_content_charset() != exp['charset']:
        bad.append('%s: plain charset %r' % (stem, plain.get_content_charset()))
    files = {a.get_filename(): a.get_payload(decode=True) for a in msg.iter_attachments()}
    want = {h(k): bytes.fromhex(v) for k, v in (e.split(':') for e in exp['files'].split(','))}
    if 'zip' in exp:
        z = files.get(exp['zip'])
        if z is None or len(files) != 1:
            bad.append('%s: attachments %r' % (stem, sorted(files)))
        else:
            zf = zipfile.ZipFile(io.BytesIO(z))
            if zf.testzip() is not None:
                bad.append('%s: bad zip entry' % stem)
            got = {i.filename: zf.read(i) for i in zf.infolist()}
            if got != want:
                bad.append('%s: zip entries %r' % (stem, sorted(got)))
    elif files != want:
        bad.append('%s: attachments %r' % (stem, sorted(files)))
print('\n'.join(bad))
sys.exit(1 if bad else 0)
)PY";

std::string hex(const std::string& s)
{
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

XString xs(const std::string& utf8)
{
    XString s;
    s.setFromUtf8(utf8.c_str());
    return s;
}

const std::string kSubject = "\xe4\xbc\x9a\xe8\xad\xb0\xe3\x81\xae\xe3\x81\x8a\xe7\x9f\xa5\xe3\x82\x89\xe3\x81\x9b";
const std::string kName = "\xe5\xb1\xb1\xe7\x94\xb0 \xe5\xa4\xaa\xe9\x83\x8e";
const std::string kPlain =
    "\xe3\x81\x93\xe3\x82\x93\xe3\x81\xab\xe3\x81\xa1\xe3\x81\xaf\xe3\x80\x82\r\n"
    "\xe6\x98\x8e\xe6\x97\xa5\xe3\x81\xae\xe4\xbc\x9a\xe8\xad\xb0\xe3\x81\xa7\xe3\x81\x99\xe3\x80\x82";
const std::string kHtml = "<p>\xe6\x98\x8e\xe6\x97\xa5\xe3\x81\xae<b>\xe4\xbc\x9a\xe8\xad\xb0</b></p>";
const std::string kFile1 = "\xe8\xb3\x87\xe6\x96\x99.txt";
const std::string kText1 = "\xe8\xb3\x87\xe6\x96\x99\xe3\x81\xa7\xe3\x81\x99 data\r\n";
const std::string kFile2 = "image.bin";

TEST(ClsEmailJudge, PythonReadsComposedEmails)
{
    if (!pyjudge::pythonRuns("import email"))
        FAIL() << "python3 is the judge here and is missing (scripts/setup installs it)";
    const fs::path dir = fs::temp_directory_path() / ("clsemail_judge_" + std::to_string(::getpid()));
    fs::create_directories(dir);

    std::string binary;
    for (int i = 0; i < 3000; ++i) binary += static_cast<char>((i * 131 + 7) & 0xFF);
    DataBuffer bin;
    EXPECT_TRUE(bin.append(binary.data(), static_cast<uint32_t>(binary.size())));

    for (const char* charset : {"iso-2022-jp", "shift_jis", "euc-jp", "utf-8"}) {
        for (bool zip : {false, true}) {
            ClsEmail e;
            e.SetCharset(xs(charset));
            e.AddHeaderField(xs("Subject"), xs(kSubject));
            e.AddHeaderField(xs("From"), xs("sender@example.com"));
            ASSERT_TRUE(e.AddTo(xs(kName), xs("taro@example.com")));
            e.SetPlainBody(xs(kPlain));
            ASSERT_TRUE(e.AddHtmlAltBodyUtf8(xs(kHtml)));
            ASSERT_TRUE(e.AddStringAttachment(xs(kFile1), xs(kText1)));
            XString type;
            ASSERT_TRUE(e.AddDataAttachment(xs(kFile2), bin, type));
            if (zip) {
                ASSERT_TRUE(e.ZipAttachments(xs("files.zip")));
            }

            const std::string stem = std::string(charset) + (zip ? "-zip" : "");
            ASSERT_TRUE(e.SaveEml(xs((dir / (stem + ".eml")).string())));
            std::ofstream exp(dir / (stem + ".exp"));
            exp << "subject\t" << hex(kSubject) << "\ntoname\t" << hex(kName) << "\ntoaddr\ttaro@example.com\n"
                << "plain\t"
                << hex("\xe3\x81\x93\xe3\x82\x93\xe3\x81\xab\xe3\x81\xa1\xe3\x81\xaf\xe3\x80\x82\n"
                       "\xe6\x98\x8e\xe6\x97\xa5\xe3\x81\xae\xe4\xbc\x9a\xe8\xad\xb0\xe3\x81\xa7\xe3\x81\x99\xe3\x80"
                       "\x82")
                << "\nhtml\t" << hex(kHtml) << "\ncharset\t" << charset << "\nfiles\t" << hex(kFile1) << ":"
                << hex(kText1) << "," << hex(kFile2) << ":" << hex(binary) << "\n";
            if (zip) exp << "zip\tfiles.zip\n";
        }
    }

    const int rc = pyjudge::runScripts(dir, {{"judge.py", kJudge}}, dir / "out");
    EXPECT_EQ(rc, 0) << pyjudge::readFile(dir / "out");
    if (rc == 0) fs::remove_all(dir);
}
#endif

}  // namespace
