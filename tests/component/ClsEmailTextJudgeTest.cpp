// Text as it arrives from real systems, composed through the API object and
// judged by Python's email parser (policy=default): line ends of any system,
// ill-formed UTF-8, the JIS forms of the Japanese charsets, characters no
// Japanese charset holds, GBK beyond GB2312, UTF-16 and text files in a
// legacy charset. Every email must parse without defects and read back as
// the text that went in.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "component/ClsEmail.h"
#include "foundation/DataBuffer.h"
#include "foundation/XString.h"
#include "support/PythonJudge.h"

using namespace hanamail;

namespace {

#ifdef _WIN32
TEST(ClsEmailTextJudge, PythonReadsHostileText)
{
    GTEST_SKIP() << "the Python judge runs on POSIX only";
}
#else

const char* const kJudge = R"PY(
import os, sys
from email import policy
from email.parser import BytesParser

TOLERATED = {'encoded word inside quoted string', 'missing trailing whitespace after encoded-word'}

def u(s):
    return bytes.fromhex(s).decode('utf-8')

def b(s):
    return bytes.fromhex(s) if s != '-' else b''

def lines(s):
    return s.replace('\r\n', '\n').replace('\r', '\n')

def bare_line_end(data):
    return data.replace(b'\r\n', b'').find(b'\r') >= 0 or data.replace(b'\r\n', b'').find(b'\n') >= 0

d = sys.argv[1]
bad = []
for name in sorted(os.listdir(d)):
    if not name.endswith('.eml'):
        continue
    stem = name[:-4]
    exp = {}
    for l in open(os.path.join(d, stem + '.exp')).read().splitlines():
        k, v = l.split('\t', 1)
        exp.setdefault(k, []).append(v)
    one = lambda k: exp[k][0]
    raw = open(os.path.join(d, name), 'rb').read()
    if bare_line_end(raw):
        bad.append('%s: a bare CR or LF in the message' % stem)
    head = raw.split(b'\r\n\r\n', 1)[0]
    if any(c >= 0x80 or (c < 0x20 and c not in (9, 10, 13)) for c in head):
        bad.append('%s: 8-bit or control bytes in the header' % stem)
    msg = BytesParser(policy=policy.default).parsebytes(raw)
    for p in msg.walk():
        if p.defects:
            bad.append('%s: %s defects %r' % (stem, p.get_content_type(), p.defects))
        for k, v in p.items():
            found = {str(x) for x in v.defects}
            if k.lower() in ('content-type', 'content-disposition'):
                found -= TOLERATED
            if found:
                bad.append('%s: header %s defects %r' % (stem, k, found))
    if 'subject' in exp and msg['subject'] != u(one('subject')):
        bad.append('%s: subject %r' % (stem, msg['subject']))
    if 'subject_raw' in exp and msg['subject'] != b(one('subject_raw')).decode('utf-8', 'replace'):
        bad.append('%s: subject %r' % (stem, msg['subject']))
    if 'toname_raw' in exp:
        names = [a.display_name for a in msg['to'].addresses]
        if names != [b(one('toname_raw')).decode('utf-8', 'replace')]:
            bad.append('%s: to %r' % (stem, names))
    if 'subject_label' in exp and ('=?%s?' % one('subject_label')).encode() not in head:
        bad.append('%s: subject not labelled %s' % (stem, one('subject_label')))
    for kind in ('plain', 'html'):
        part = msg.get_body((kind,))
        if kind + '_raw' in exp or kind in exp or kind + '_has' in exp:
            if part is None:
                bad.append('%s: no %s body' % (stem, kind))
                continue
            got = part.get_content()
            if '\r' in got.replace('\r\n', ''):
                bad.append('%s: %s has a bare CR: %r' % (stem, kind, got))
            wide = (part.get_content_charset() or '').startswith('utf-16')
            if not wide and bare_line_end(part.get_payload(decode=True)):
                bad.append('%s: %s bytes have a bare line end' % (stem, kind))
            got = got.replace('\r\n', '\n')
        if kind in exp and got.rstrip('\n') != u(one(kind)).rstrip('\n'):
            bad.append('%s: %s %r' % (stem, kind, got))
        if kind + '_raw' in exp and got.rstrip('\n') != lines(b(one(kind + '_raw')).decode('utf-8', 'replace')).rstrip('\n'):
            bad.append('%s: %s %r' % (stem, kind, got))
        if kind + '_has' in exp and u(one(kind + '_has')) not in got:
            bad.append('%s: %s %r' % (stem, kind, got))
        if kind + '_charset' in exp and part is not None and part.get_content_charset() != one(kind + '_charset'):
            bad.append('%s: %s charset %r' % (stem, kind, part.get_content_charset()))
        if kind + '_cp932' in exp and part is not None and \
                part.get_payload(decode=True).decode('cp932').rstrip('\r\n') != u(one(kind + '_cp932')):
            bad.append('%s: %s as cp932 %r' % (stem, kind, part.get_payload(decode=True).decode('cp932')))
    files = {a.get_filename(): a for a in msg.iter_attachments()}
    for spec in exp.get('file', []):
        fname, data, charset = spec.split(':')
        a = files.get(u(fname))
        if a is None:
            bad.append('%s: no attachment %s in %r' % (stem, u(fname), sorted(files)))
            continue
        if a.get_payload(decode=True) != b(data):
            bad.append('%s: %s bytes %r' % (stem, u(fname), a.get_payload(decode=True)))
        want = None if charset == '-' else charset
        if a.get_content_charset() != want:
            bad.append('%s: %s charset %r' % (stem, u(fname), a.get_content_charset()))
print('\n'.join(bad))
sys.exit(1 if bad else 0)
)PY";

using pyjudge::hex;

XString xs(const std::string& utf8)
{
    XString s;
    s.setFromUtf8N(utf8.data(), static_cast<int32_t>(utf8.size()));
    return s;
}

std::string logOf(ClsEmail& e)
{
    StringBuffer sb;
    e.getErrorTextUtf8(sb, false);
    return sb.getString();
}

const std::vector<std::string> kCharsets = {"iso-2022-jp", "shift_jis", "euc-jp", "utf-8"};
const std::vector<std::string> kJapanese = {"iso-2022-jp", "shift_jis", "euc-jp"};

// The JIS forms, as text written off Windows has them, and what the Japanese
// charsets give back: the same glyphs, with EM DASH read as HORIZONTAL BAR.
const std::string kJisForms = "波〜ダッシュ‖二重線−マイナス¢セント£ポンド¬否定—ダッシュ";
const std::string kJisRead = "波〜ダッシュ‖二重線−マイナス¢セント£ポンド¬否定―ダッシュ";
const std::string kWindowsTwins = "波～ダッシュ∥二重線－マイナス￠セント￡ポンド￢否定―ダッシュ";

class ClsEmailTextJudge : public pyjudge::JudgeTest {
protected:
    void SetUp() override
    {
        // On POSIX the judge is part of the suite: a missing Python is a failure, not a skip.
        ASSERT_TRUE(pyjudge::pythonRuns("import email.policy")) << "python3 with the email package is required";
        prepare("import email.policy", "clsemail_text_");
    }

    void save(ClsEmail& e, const std::string& stem, const std::string& expectations)
    {
        ASSERT_TRUE(e.SaveEml(xs((m_dir / (stem + ".eml")).string()))) << logOf(e);
        std::ofstream(m_dir / (stem + ".exp")) << expectations;
    }

    void judge() { runJudges({{"judge.py", kJudge}}); }
};

TEST_F(ClsEmailTextJudge, LineEndsOfAnySystemBecomeCrLf)
{
    const std::string plain = "一行目\n二行目\r三行目\r\n\n四行目\r\r五";
    const std::string plainRead = "一行目\n二行目\n三行目\n\n四行目\n\n五";
    const std::string html = "<p>一</p>\n<p>二</p>\r<p>三</p>";
    const std::string binary = "a\nb\rc\r\n";
    DataBuffer bin;
    ASSERT_TRUE(bin.append(binary.data(), static_cast<uint32_t>(binary.size())));
    for (const std::string& cs : kCharsets) {
        for (bool htmlFirst : {false, true}) {
            ClsEmail e;
            e.SetCharset(xs(cs));
            e.AddHeaderField(xs("Subject"), xs("行末"));
            if (htmlFirst) {
                // An HTML body given first, the plain text as its alternative.
                e.SetHtmlBodyFromUtf8(xs(html));
                ASSERT_TRUE(e.AddPlainTextAltBody(xs(plain)));
            } else {
                e.SetPlainBody(xs(plain));
                ASSERT_TRUE(e.AddHtmlAltBodyUtf8(xs(html)));
            }
            ASSERT_TRUE(e.AddStringAttachment(xs("メモ.txt"), xs("x\ny\rz")));
            XString type;
            ASSERT_TRUE(e.AddDataAttachment(xs("raw.bin"), bin, type));
            save(e, "lines-" + cs + (htmlFirst ? "-html" : ""),
                 "plain\t" + hex(plainRead) + "\nhtml_has\t" + hex("<p>一</p>\n<p>二</p>\n<p>三</p>") + "\nfile\t" +
                     hex("メモ.txt") + ":" + hex("x\r\ny\r\nz") + ":-\nfile\t" + hex("raw.bin") + ":" + hex(binary) +
                     ":-\n");
        }
    }
    judge();
}

TEST_F(ClsEmailTextJudge, IllFormedUtf8BecomesReplacementCharacters)
{
    // A stray Windows-1252 quote, a cut-off sequence, an overlong form and a CESU surrogate.
    const std::string subject = "件名\x93です\xe6\x97";
    const std::string name = "山\xe3\x81田";
    const std::string body = "本文\xc0\xafです\xed\xa0\x80。\nend\xff";
    for (const std::string& cs : kCharsets) {
        ClsEmail e;
        e.SetCharset(xs(cs));
        e.AddHeaderField(xs("Subject"), xs(subject));
        EXPECT_NE(logOf(e).find("Invalid UTF-8 in the field value at offset 6 replaced by U+FFFD"), std::string::npos)
            << logOf(e);
        ASSERT_TRUE(e.AddTo(xs(name), xs("taro@example.jp")));
        EXPECT_NE(logOf(e).find("Invalid UTF-8 in the name at offset 3"), std::string::npos) << logOf(e);
        e.SetPlainBody(xs(body));
        const std::string log = logOf(e);
        for (const char* offset : {"offset 6 ", "offset 7 ", "offset 14 ", "offset 15 ", "offset 16 ", "offset 24 "})
            EXPECT_NE(log.find(offset), std::string::npos) << offset << "\n" << log;
        // Names of attachments, from strings and from a file whose name is not UTF-8.
        ASSERT_TRUE(e.AddStringAttachment(xs("memo\x93.txt"), xs("note \xff")));
        EXPECT_NE(logOf(e).find("Invalid UTF-8 in the file name at offset 4"), std::string::npos) << logOf(e);
        pyjudge::writeFile(m_dir / "file\xe6.txt", "file");
        XString type;
        ASSERT_TRUE(e.AddFileAttachment(xs((m_dir / "file\xe6.txt").string()), type)) << logOf(e);
        EXPECT_NE(logOf(e).find("Invalid UTF-8 in the file name"), std::string::npos) << logOf(e);
        save(e, "bad-" + cs,
             "subject_raw\t" + hex(subject) + "\ntoname_raw\t" + hex(name) + "\nplain_raw\t" + hex(body) + "\nfile\t" +
                 hex("memo\xEF\xBF\xBD.txt") + ":" + hex("note \xEF\xBF\xBD") + ":utf-8\nfile\t" +
                 hex("file\xEF\xBF\xBD.txt") + ":" + hex("file") + ":-\n");
    }
    judge();
}

TEST_F(ClsEmailTextJudge, JisFormsStayInTheJapaneseCharsets)
{
    for (const std::string& cs : kJapanese) {
        for (bool html : {false, true}) {
            ClsEmail e;
            e.SetCharset(xs(cs));
            e.AddHeaderField(xs("Subject"), xs(kJisForms));
            ASSERT_TRUE(e.AddTo(xs(kJisForms), xs("taro@example.jp")));
            std::string exp = "subject\t" + hex(kJisRead) + "\nsubject_label\t" + cs + "\n";
            if (html) {
                e.SetHtmlBodyFromUtf8(xs("<p>" + kJisForms + "</p>"));
                exp += "html_has\t" + hex(kJisRead) + "\nhtml_charset\t" + cs + "\n";
            } else {
                e.SetPlainBody(xs(kJisForms));
                exp += "plain\t" + hex(kJisRead) + "\nplain_charset\t" + cs + "\n";
                if (cs == "shift_jis") exp += "plain_cp932\t" + hex(kWindowsTwins) + "\n";
            }
            save(e, "jis-" + cs + (html ? "-html" : ""), exp);
            EXPECT_TRUE(e.charsetNotice().isEmpty()) << e.charsetNotice().getString();
        }
    }
    judge();
}

TEST_F(ClsEmailTextJudge, CharactersNoCharsetHoldsFallBackToUtf8AndSaySo)
{
    for (const std::string& cs : kJapanese) {
        ClsEmail e;
        e.SetCharset(xs(cs));
        e.AddHeaderField(xs("Subject"), xs("会議😀"));
        e.SetPlainBody(xs("本文😀です"));
        save(e, "emoji-" + cs,
             "subject\t" + hex("会議😀") + "\nplain\t" + hex("本文😀です") + "\nplain_charset\tutf-8\n");
        const std::string line = "The charset " + cs + " cannot hold every character; utf-8 is used.";
        EXPECT_EQ(std::string(e.charsetNotice().getString()), line);
        EXPECT_NE(logOf(e).find(line), std::string::npos) << logOf(e);
    }
    judge();
}

TEST_F(ClsEmailTextJudge, ChineseAndUnicodeLabelsReadersKnow)
{
    {
        // Han only: code page 936 is chosen; the kana and the long vowel mark of
        // the subject exist only in GBK, the body is GB2312 proper.
        ClsEmail e;
        e.AddHeaderField(xs("Subject"), xs("テストーです"));
        e.SetPlainBody(xs("会议资料"));
        save(e, "gbk-subject",
             "subject\t" + hex("テストーです") + "\nsubject_label\tgbk\nplain\t" + hex("会议资料") +
                 "\nplain_charset\tgb2312\n");
    }
    {
        ClsEmail e;
        e.AddHeaderField(xs("Subject"), xs("会议"));
        e.SetPlainBody(xs("朱镕基·会议"));  // E946 and A1A4: beyond what GB2312 readers take
        save(e, "gbk-body",
             "subject\t" + hex("会议") + "\nsubject_label\tgb2312\nplain\t" + hex("朱镕基·会议") +
                 "\nplain_charset\tgbk\n");
    }
    for (const char* cs : {"utf-16", "utf-16be"}) {
        ClsEmail e;
        e.SetCharset(xs(cs));
        e.AddHeaderField(xs("Subject"), xs("件名"));
        e.SetPlainBody(xs("本文です\n二行目"));
        save(e, std::string("wide-") + cs,
             "subject\t" + hex("件名") + "\nplain\t" + hex("本文です\n二行目") + "\nplain_charset\t" +
                 (std::string(cs) == "utf-16" ? "utf-16le" : "utf-16be") + "\n");
    }
    judge();
}

TEST_F(ClsEmailTextJudge, TextFilesAreLabelledUtf8OnlyWhenTheyAreUtf8)
{
    const std::string sjis = "\x82\xa0\x82\xa2\x82\xa4 Shift_JIS\r\n";  // あいう
    const std::string utf8 = "あいう UTF-8\r\n";
    const std::string ascii = "plain ASCII\r\n";
    ClsEmail e;
    e.SetPlainBody(xs("添付します。"));
    const std::vector<std::pair<std::string, std::string> > files = {
        {"sjis.txt", sjis}, {"utf8.txt", utf8}, {"ascii.txt", ascii}};
    std::string exp = "plain\t" + hex("添付します。") + "\n";
    for (const auto& [leaf, bytes] : files) {
        pyjudge::writeFile(m_dir / leaf, bytes);
        XString type;
        ASSERT_TRUE(e.AddFileAttachment(xs((m_dir / leaf).string()), type)) << logOf(e);
        exp += "file\t" + hex(leaf) + ":" + hex(bytes) + ":" + (leaf == "utf8.txt" ? "utf-8" : "-") + "\n";
    }
    save(e, "files", exp);
    judge();
}

#endif

}  // namespace
