// Python's email package (policy=default) judges the reader from both sides:
// emails our writer composed are read back and written again, and Python
// must read the same subject, addresses, texts and file bytes in both texts
// (and what went in); messages Python's own email package built are read
// by us, and we must find what Python finds in them.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>

#include "foundation/ExtPtrArray.h"
#include "foundation/Logger.h"
#include "foundation/StringPair.h"
#include "mime/Email2.h"
#include "mime/MimeHeaderTestSupport.h"
#include "mime/Rfc822Address.h"
#include "support/PythonJudge.h"

using namespace hanamail;

namespace {

#ifdef _WIN32
TEST(MimeReaderJudge, PythonReadsBothSides)
{
    GTEST_SKIP() << "the Python judge runs on POSIX only";
}
#else

using namespace hdrtest;
using namespace pyjudge;
namespace fs = std::filesystem;

// What Python reads in a message, one line per item, texts as UTF-8 hex.
const char* const kDescribe = R"PY(
def hx(s):
    if isinstance(s, str):
        s = s.encode('utf-8', 'surrogateescape')
    return s.hex() or '-'

def describe(msg):
    out = []
    if msg['subject'] is not None:
        out.append('subject\t' + hx(str(msg['subject'])))
    for key in ('from', 'to', 'cc'):
        h = msg[key]
        if h is None:
            continue
        for a in h.addresses:
            out.append('addr\t%s\t%s\t%s' % (key, hx(a.display_name), a.addr_spec))
    for p in msg.walk():
        if p.is_multipart():
            continue
        if p.get_content_maintype() == 'text':
            c = p.get_content().replace('\r\n', '\n')
        else:
            c = p.get_payload(decode=True) or b''
        out.append('leaf\t%s\t%s\t%s' % (p.get_content_type(), hx(p.get_filename() or ''), hx(c)))
    return out
)PY";

// Round trip: every stem.a.eml (ours) and stem.b.eml (ours, read and written
// again) must read the same, without defects, and hold what stem.exp lists.
const char* const kRoundTrip = R"PY(
import os, sys
from email import policy
from email.parser import BytesParser
exec(open(os.path.join(sys.argv[1], 'describe.py')).read())
d = sys.argv[1]
bad = []
count = 0
for name in sorted(os.listdir(d)):
    if not name.endswith('.a.eml'):
        continue
    count += 1
    stem = name[:-6]
    raw_a = open(os.path.join(d, stem + '.a.eml'), 'rb').read()
    raw_b = open(os.path.join(d, stem + '.b.eml'), 'rb').read()
    a = BytesParser(policy=policy.default).parsebytes(raw_a)
    b = BytesParser(policy=policy.default).parsebytes(raw_b)
    # What Python finds fault with in the copy and not in the original.
    def defects(m):
        r = []
        for p in m.walk():
            r += ['%s %r' % (p.get_content_type(), x) for x in p.defects]
            r += ['%s %s' % (k, x) for k, v in p.items() for x in v.defects]
        return r
    for x in defects(b):
        if x not in defects(a):
            bad.append('%s: defect %s' % (stem, x))
    da, db = describe(a), describe(b)
    if da != db:
        bad.append('%s: read back differently:\n  %s\n  %s' % (stem, '\n  '.join(x[:200] for x in da),
                                                            '\n  '.join(x[:200] for x in db)))
    for e in [l.split('\t') for l in open(os.path.join(d, stem + '.exp')).read().splitlines()]:
        want = '\t'.join(e[1:])
        if e[0] == 'has' and want not in db:
            bad.append('%s: no %r' % (stem, want[:200]))
        elif e[0] == 'name':
            # Python keeps the space between the encoded words of a display name.
            names = [''.join(x.display_name.split()) for x in (b[e[1]].addresses if b[e[1]] else [])]
            if bytes.fromhex(e[2]).decode('utf-8') not in names:
                bad.append('%s: no %s name %r in %r' % (stem, e[1], e[2][:60], [x[:20] for x in names]))
        elif e[0] == 'absent' and bytes.fromhex(e[1]).lower() in raw_b.lower():
            bad.append('%s: %r written' % (stem, bytes.fromhex(e[1])))
print('\n'.join(bad[:40]))
print('%d emails, %d problems' % (count, len(bad)))
sys.exit(1 if bad or count == 0 else 0)
)PY";

// Foreign mail: messages Python's email package builds, with what Python reads in each.
const char* const kForeign = R"PY(
import os, sys
from email import policy
from email.message import EmailMessage
from email.header import Header
from email.parser import BytesParser
exec(open(os.path.join(sys.argv[1], 'describe.py')).read())
d = sys.argv[1]
JA = '\u65e5\u672c\u8a9e\u306e\u4ef6\u540d\u3067\u3059'
NAME = '\u5c71\u7530 \u592a\u90ce'
TEXT = '\u3053\u3093\u306b\u3061\u306f\u3001\u4e16\u754c\u3002\n\u4e8c\u884c\u76ee\u3067\u3059\u3002\n'
BIN = bytes(range(256)) * 3
msgs = {}

m = EmailMessage()
m['Subject'] = 'A rather long subject line that Python folds over several lines ' + JA + ' and more words here'
m['From'] = '%s <taro@example.jp>' % NAME
m['To'] = 'one@example.com, "Two, Person" <two@example.com>, %s <three@example.jp>' % NAME
m['Cc'] = 'cc@example.org'
m.set_content(TEXT)
msgs['plain_utf8'] = m

m = EmailMessage()
m['Subject'] = 'alternatives'
m['From'] = 'a@example.com'
m['To'] = 'b@example.com'
m.set_content('plain text\nline 2\n')
m.add_alternative('<html><body><p>' + JA + '</p></body></html>\n', subtype='html')
msgs['alternative'] = m

m = EmailMessage()
m['Subject'] = 'files'
m['From'] = 'a@example.com'
m['To'] = 'b@example.com'
m.set_content('see the files\n')
m.add_attachment(BIN, maintype='application', subtype='octet-stream', filename=JA + '.bin')
m.add_attachment(b'%PDF-1.4 fake', maintype='application', subtype='pdf',
                 filename='a very long file name ' + JA * 6 + ' that needs continuation lines.pdf')
m.add_attachment('text file\n' + TEXT, filename='notes.txt')
msgs['attachments'] = m

for cs, cte in (('iso-2022-jp', '7bit'), ('shift_jis', 'base64'), ('euc-jp', 'quoted-printable')):
    m = EmailMessage()
    m['From'] = 'a@example.com'
    m['To'] = 'b@example.com'
    m['Subject'] = 'placeholder'
    m.set_content(TEXT, charset=cs, cte=cte)
    msgs['body_' + cs] = m

mixed = EmailMessage()
mixed['Subject'] = 'nested'
mixed['From'] = 'a@example.com'
mixed['To'] = 'b@example.com'
mixed.set_content('text')
mixed.add_alternative('<p>html</p>', subtype='html')
mixed.add_attachment(BIN[:100], maintype='image', subtype='png', filename='p.png')
msgs['nested'] = mixed

for stem, m in msgs.items():
    raw = m.as_bytes(policy=policy.default)  # LF line ends
    if stem.startswith('body_'):
        cs = stem[5:]
        raw = raw.replace(b'Subject: placeholder', b'Subject: ' + Header(JA, cs).encode().encode('ascii'))
    if stem == 'attachments':
        raw = raw.replace(b'\n', b'\r\n')  # one message with CR LF
    open(os.path.join(d, stem + '.eml'), 'wb').write(raw)
    parsed = BytesParser(policy=policy.default).parsebytes(raw)
    open(os.path.join(d, stem + '.python'), 'w').write('\n'.join(describe(parsed)) + '\n')
print('%d messages' % len(msgs))
)PY";

std::string lower(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return s;
}

std::string lfLines(std::string s)
{
    std::string r;
    for (size_t i = 0; i < s.size(); ++i)
        if (!(s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n')) r += s[i];
    return r;
}

void leavesOf(const Email2& e, std::string& out)
{
    if (e.GetPartCount() > 0) {
        for (int i = 0; i < e.GetPartCount(); ++i) leavesOf(*e.GetPart(i), out);
        return;
    }
    std::string type = lower(e.contentType().getString());
    if (type.empty()) type = "text/plain";
    std::string body(reinterpret_cast<const char*>(e.body().getData()), e.body().getSize());
    if (type.rfind("text/", 0) == 0) body = lfLines(body);
    std::string file = e.filename().isEmpty() ? e.name().getString() : e.filename().getString();
    out += "leaf\t" + type + "\t" + hex(file) + "\t" + hex(body) + "\n";
}

// What we read in an email, in the lines Python's describe() writes.
std::string describe(const Email2& e)
{
    std::string out;
    StringBuffer s;
    if (e.GetSubject(s)) out += "subject\t" + hex(str(s)) + "\n";
    if (const Rfc822Address* a = e.fromAddress()) {
        StringBuffer n;
        a->GetFriendlyName(n);
        out += "addr\tfrom\t" + hex(str(n)) + "\t" + str(a->address()) + "\n";
    }
    for (auto kind : {Email2::Recipients::To, Email2::Recipients::Cc}) {
        for (int i = 0; i < e.GetRecipientCount(kind); ++i) {
            StringBuffer n, a;
            e.GetRecipientName(kind, i, n);
            e.GetRecipientAddress(kind, i, a);
            out += std::string("addr\t") + (kind == Email2::Recipients::To ? "to" : "cc") + "\t" + hex(str(n)) + "\t" +
                   str(a) + "\n";
        }
    }
    leavesOf(e, out);
    return out;
}

class MimeReaderJudge : public JudgeTest {
protected:
    void SetUp() override
    {
        prepare("import email.policy", "hanamail_reader_");
        if (!m_dir.empty()) writeFile(m_dir / "describe.py", kDescribe);
    }

    // Writes the email, reads it back and writes the copy; exp lists what Python must find.
    void roundTrip(const std::string& stem, Email2* composed, const std::string& exp)
    {
        std::unique_ptr<Email2> e(composed);
        StringBuffer a;
        ASSERT_TRUE(e->GetMimeText(a));
        Logger log;
        std::unique_ptr<Email2> back(Email2::EmailFromMimeText(a.getString(), static_cast<uint32_t>(a.getSize()), log));
        ASSERT_NE(back, nullptr);
        StringBuffer b;
        ASSERT_TRUE(back->GetMimeText(b)) << stem;
        writeFile(m_dir / (stem + ".a.eml"), str(a));
        writeFile(m_dir / (stem + ".b.eml"), str(b));
        writeFile(m_dir / (stem + ".exp"), exp);
    }
};

const std::string kJaSubject =
    "\xE4\xBC\x9A\xE8\xAD\xB0\xE3\x81\xAE\xE3\x81\x8A\xE7\x9F\xA5\xE3\x82\x89\xE3\x81\x9B "
    "\xEF\xBC\x88\xE7\xAC\xAC\xE4\xB8\x80\xE5\x9B\x9E\xEF\xBC\x89";
const std::string kJaName = "\xE5\xB1\xB1\xE7\x94\xB0 \xE5\xA4\xAA\xE9\x83\x8E";
const std::string kJaText =
    "\xE3\x81\x93\xE3\x82\x93\xE3\x81\xAB\xE3\x81\xA1\xE3\x81\xAF\xE3\x80\x82\r\n"
    "\xE6\x98\x8E\xE6\x97\xA5\xE3\x81\xAE\xE4\xBC\x9A\xE8\xAD\xB0\xE3\x81\xAF\xE5\x8D\x81\xE6\x99\x82\xE3\x81\xA7\xE3"
    "\x81"
    "\x99\xE3\x80\x82\r\n";
const std::string kJaFile = "\xE8\xB3\x87\xE6\x96\x99 \xE7\xAC\xAC\xE4\xBA\x8C\xE7\x89\x88.bin";

std::string allBytes()
{
    std::string b;
    for (int r = 0; r < 3; ++r)
        for (int i = 0; i < 256; ++i) b += static_cast<char>(i);
    return b;
}

std::string leafLine(const char* type, const std::string& file, const std::string& content)
{
    return std::string("has\tleaf\t") + type + "\t" + hex(file) + "\t" + hex(content) + "\n";
}

TEST_F(MimeReaderJudge, OurEmailsReadBackTheSame)
{
    {
        Email2* e = Email2::NewEmail();
        e->AddHeaderField("Subject", "Plain ASCII");
        ASSERT_TRUE(e->SetFrom("Sender <s@example.com>"));
        ASSERT_TRUE(e->AddTo("Doe, \"JD\" John", "john@example.com"));
        ASSERT_TRUE(e->AddBcc("Hidden", "hidden@example.org"));
        const std::string t = "Hello,\r\nthis is plain text.\r\n";
        e->SetTextBody(t.data(), static_cast<uint32_t>(t.size()), false);
        roundTrip("plain", e, leafLine("text/plain", "", lfLines(t)) + "absent\t" + hex("hidden@") + "\n");
    }
    {
        Email2* e = Email2::NewEmail();
        e->AddHeaderField("Subject", "HTML only");
        const std::string h = "<html><body><p>caf\xC3\xA9</p></body></html>";
        e->SetHtmlBody(h.data(), static_cast<uint32_t>(h.size()));
        roundTrip("html", e, "");
    }
    {
        Email2* e = Email2::NewEmail();
        e->AddHeaderField("Subject", "alternatives and files");
        const std::string t = "text part\r\n";
        e->SetTextBody(t.data(), static_cast<uint32_t>(t.size()), false);
        const std::string h = "<p>html part</p>";
        e->AddAlternativeBody(Email2::NewHtmlPart(h.data(), static_cast<uint32_t>(h.size()), e->charset()));
        const std::string bin = allBytes();
        StringBuffer ct;
        ASSERT_TRUE(e->AddDataAttachment("data.bin", nullptr, bin.data(), static_cast<uint32_t>(bin.size()), ct));
        ASSERT_TRUE(e->AddTextAttachment("notes.txt", nullptr, "a\r\nb\r\n", 6, ct));
        roundTrip("alternatives", e,
                  leafLine("text/plain", "", "text part\n") + leafLine("application/octet-stream", "data.bin", bin));
    }
    // Japanese everywhere, in each Japanese charset and UTF-8.
    for (const char* cs : {"iso-2022-jp", "shift_jis", "euc-jp", "utf-8"}) {
        Email2* e = Email2::NewEmail();
        e->AddHeaderField("Subject", kJaSubject.c_str());
        ASSERT_TRUE(e->SetFrom(("\"" + kJaName + "\" <taro@example.jp>").c_str()));
        ASSERT_TRUE(e->AddTo(kJaName.c_str(), "hanako@example.jp"));
        ASSERT_TRUE(e->AddCc("Andr\xC3\xA9", "andre@example.fr"));
        e->SetTextBody(kJaText.data(), static_cast<uint32_t>(kJaText.size()), false);
        const std::string h = "<html><body><p>" + kJaText + "</p></body></html>";
        e->AddAlternativeBody(Email2::NewHtmlPart(h.data(), static_cast<uint32_t>(h.size()), e->charset()));
        const std::string bin = allBytes();
        StringBuffer ct;
        ASSERT_TRUE(e->AddDataAttachment(kJaFile.c_str(), nullptr, bin.data(), static_cast<uint32_t>(bin.size()), ct));
        e->SetCharset(charsetNamed(cs));
        roundTrip(std::string("japanese-") + cs, e,
                  "has\tsubject\t" + hex(kJaSubject) + "\n" + "has\taddr\tfrom\t" + hex(kJaName) +
                      "\ttaro@example.jp\n" + "has\taddr\tto\t" + hex(kJaName) + "\thanako@example.jp\n" +
                      leafLine("text/plain", "", lfLines(kJaText)) +
                      leafLine("application/octet-stream", kJaFile, bin));
    }
    // A mail-merge copy in Shift_JIS: the replaced name, cut to 399 bytes, reads back whole characters.
    {
        std::unique_ptr<Email2> e(Email2::NewEmail());
        e->AddHeaderField("Subject", "For NAME");
        ASSERT_TRUE(e->AddTo("NAME", "to@example.jp"));
        const std::string t = "Dear NAME,\r\n";
        e->SetTextBody(t.data(), static_cast<uint32_t>(t.size()), false);
        e->SetCharset(charsetNamed("shift_jis"));
        std::string name;
        for (int i = 0; i < 200; ++i) name += "\xE5\xB1\xB1";  // 600 bytes
        ExtPtrArray pairs;
        pairs.append(new StringPair("NAME", name.c_str()));
        Logger log;
        Email2* copy = e->CloneWithReplacements(pairs, log);
        pairs.removeAllObjects();
        ASSERT_NE(copy, nullptr);
        roundTrip("merge", copy,
                  "has\tsubject\t" + hex("For " + name) + "\n" + "name\tto\t" + hex(name.substr(0, 399)) + "\n" +
                      leafLine("text/plain", "", "Dear " + name + ",\n"));
    }
    runJudges({{"roundtrip.py", kRoundTrip}});
}

TEST_F(MimeReaderJudge, WeReadWhatPythonReadsInItsMessages)
{
    const fs::path log = m_dir / "generate.log";
    ASSERT_EQ(runScripts(m_dir, {{"foreign.py", kForeign}}, log), 0) << readFile(log);
    int count = 0;
    for (const auto& entry : fs::directory_iterator(m_dir)) {
        if (entry.path().extension() != ".eml") continue;
        ++count;
        const std::string raw = readFile(entry.path());
        Logger rlog;
        std::unique_ptr<Email2> e(Email2::EmailFromMimeText(raw.data(), static_cast<uint32_t>(raw.size()), rlog));
        ASSERT_NE(e, nullptr);
        fs::path expected = entry.path();
        expected.replace_extension(".python");
        const std::string ours = describe(*e), python = readFile(expected);
        EXPECT_EQ(ours, python) << entry.path().filename();
    }
    EXPECT_EQ(count, 7);
}

#endif

}  // namespace
