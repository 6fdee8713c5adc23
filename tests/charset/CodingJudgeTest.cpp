// Python's base64, quopri and email.header judge our transfer codings in both
// directions: what we encode must decode there to the original, and what
// Python encodes must decode here to the original.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "charset/CharsetCatalogue.h"
#include "charset/ContentCoding.h"
#include "charset/EncodingConvert.h"
#include "foundation/DataBuffer.h"
#include "foundation/StringBuffer.h"
#include "support/PythonJudge.h"

using namespace hanamail;

namespace {

using pyjudge::readFile;
using pyjudge::writeFile;
namespace fs = std::filesystem;

const char* const kJudge = R"PY(
import base64, os, quopri, sys
from email.header import Header, decode_header

d = sys.argv[1]
bad = []
def read(name):
    with open(os.path.join(d, name), 'rb') as f:
        return f.read()
def write(name, data):
    with open(os.path.join(d, name), 'wb') as f:
        f.write(data)

for name in sorted(os.listdir(d)):
    stem, ext = os.path.splitext(name)
    if ext == '.bin':
        data, ours = read(name), read(stem + '.ours')
        if stem.startswith('b64'):
            if base64.b64decode(ours) != data:
                bad.append(stem)
            write(stem + '.py', base64.encodebytes(data))
        else:
            if quopri.decodestring(ours) != data:
                bad.append(stem)
            plain = data.replace(b'\r', b'')
            write(stem + '.py', quopri.encodestring(plain))
            write(stem + '.pyexpect', plain.replace(b'\n', b'\r\n'))
    elif ext == '.txt':
        text = read(name).decode('utf-8')
        ours = read(stem + '.ours').decode('ascii')
        got = ''.join(p.decode(c or 'ascii') if isinstance(p, bytes) else p for p, c in decode_header(ours))
        if got != text:
            bad.append('%s: %r != %r' % (stem, got, text))
        try:
            theirs = Header(text, read(stem + '.cs').decode('ascii')).encode()
        except UnicodeError:  # Python writes Japanese as ISO-2022-JP, which has no half-width kana
            theirs = Header(text, 'utf-8').encode()
        # Python labels these two with its own codec names.
        theirs = theirs.replace('=?eucgb2312_cn?', '=?gb2312?').replace('=?big5_tw?', '=?big5?')
        write(stem + '.py', theirs.encode('ascii'))
print('\n'.join(bad))
sys.exit(1 if bad else 0)
)PY";

std::string str(const StringBuffer& sb)
{
    return std::string(sb.getString(), static_cast<size_t>(sb.getSize()));
}
std::string str(const DataBuffer& db)
{
    return std::string(reinterpret_cast<const char*>(db.getData()), db.getSize());
}

struct HeaderCase {
    const char* text;  // UTF-8
    const char* charset;
    char form;  // 'B', 'Q' split words; 'A' encodeWordAuto
};

const HeaderCase kHeaders[] = {
    {"日本語のテキストです。長い件名を分割してエンコードします。", "utf-8", 'B'},
    {"日本語のテキストです。長い件名を分割してエンコードします。", "utf-8", 'Q'},
    {"日本語のテキストです。長い件名を分割してエンコードします。", "iso-2022-jp", 'B'},
    {"日本語のテキストです。半角ｶﾀｶﾅも含む長い件名。", "shift_jis", 'B'},
    {"日本語のテキストです。長い件名を分割してエンコードします。", "euc-jp", 'B'},
    {"Grüße aus Köln, schöne Grüße an alle Leute! a?=_b", "iso-8859-1", 'Q'},
    {"Grüße aus Köln, schöne Grüße an alle Leute! a?=_b", "iso-8859-1", 'B'},
    {"Grüße – “quoted” and € in a longer subject line", "windows-1252", 'Q'},
    {"한국어 제목입니다 테스트 메일을 보냅니다", "euc-kr", 'B'},
    {"中文邮件主题测试内容比较长的一行文字", "gb2312", 'B'},
    {"中文郵件主題測試內容比較長的一行文字", "big5", 'B'},
    {"Party 🎉 tonight 😀 with friends 🍕🍕 and more 🎉", "utf-8", 'B'},
    {"Party 🎉 tonight 😀 with friends 🍕🍕 and more 🎉", "utf-8", 'Q'},
    {"café crème", "utf-8", 'A'},
    {"テスト", "iso-2022-jp", 'A'},
};

class CodingJudge : public pyjudge::JudgeTest {
protected:
    void SetUp() override
    {
#ifdef _WIN32
        GTEST_SKIP() << "the Python judge runs on POSIX only";
#else
        prepare("pass", "hanamail-codings-");
#endif
    }
    void judge()
    {
        runJudges({{"judge.py.script", kJudge}});
    }
};

TEST_F(CodingJudge, Base64AndQuotedPrintableBothWays)
{
    std::mt19937 rng(2024);
    ContentCoding cc;
    std::vector<std::string> blobs;
    const std::string textish = "Fromabc. \t\r\n=\xE9\xFF_F";
    for (size_t n : {1u, 2u, 3u, 53u, 54u, 55u, 200u, 1000u, 70000u}) {
        std::string bin(n, '\0'), text(n, '\0');
        for (size_t i = 0; i < n; ++i) {
            bin[i] = static_cast<char>(rng() & 0xFF);
            text[i] = textish[rng() % textish.size()];
        }
        blobs.push_back(bin);
        blobs.push_back(text);
    }
    for (size_t i = 0; i < blobs.size(); ++i) {
        const std::string& data = blobs[i];
        StringBuffer b64, qp;
        EXPECT_TRUE(cc.encodeBase64(data.data(), static_cast<uint32_t>(data.size()), b64));
        EXPECT_TRUE(cc.encodeQuotedPrintable(data.data(), static_cast<uint32_t>(data.size()), qp));
        std::string id = std::to_string(100 + i);
        writeFile(m_dir / ("b64_" + id + ".bin"), data);
        writeFile(m_dir / ("b64_" + id + ".ours"), str(b64));
        writeFile(m_dir / ("qp_" + id + ".bin"), data);
        writeFile(m_dir / ("qp_" + id + ".ours"), str(qp));
    }
    judge();

    for (size_t i = 0; i < blobs.size(); ++i) {
        std::string id = std::to_string(100 + i);
        std::string theirs = readFile(m_dir / ("b64_" + id + ".py"));
        DataBuffer strict;
        EXPECT_TRUE(cc.decodeBase64Strict(theirs.data(), static_cast<uint32_t>(theirs.size()), strict));
        EXPECT_EQ(str(strict), blobs[i]) << id;

        theirs = readFile(m_dir / ("qp_" + id + ".py"));
        DataBuffer plain;
        if (!theirs.empty()) {
            EXPECT_TRUE(cc.decodeQuotedPrintable(theirs.data(), static_cast<uint32_t>(theirs.size()), plain));
        }
        EXPECT_EQ(str(plain), readFile(m_dir / ("qp_" + id + ".pyexpect"))) << id;
    }
}

TEST_F(CodingJudge, EncodedWordsBothWays)
{
    ContentCoding cc;
    EncodingConvert ec;
    int id = 100;
    for (const HeaderCase& h : kHeaders) {
        std::string utf8 = h.text;
        DataBuffer bytes;
        ec.convert(65001, charsetToCodePage(h.charset), utf8.data(), static_cast<uint32_t>(utf8.size()), bytes);
        StringBuffer out;
        if (h.form == 'B')
            cc.encodeBWords(bytes.getData(), bytes.getSize(), h.charset, out);
        else if (h.form == 'Q')
            cc.encodeQWords(bytes.getData(), bytes.getSize(), h.charset, out);
        else
            cc.encodeWordAuto(bytes.getData(), bytes.getSize(), h.charset, out);
        std::string stem = "hdr_" + std::to_string(id++);
        writeFile(m_dir / (stem + ".txt"), utf8);
        writeFile(m_dir / (stem + ".cs"), h.charset);
        writeFile(m_dir / (stem + ".ours"), str(out));
    }
    judge();

    for (int i = 100; i < id; ++i) {
        std::string stem = "hdr_" + std::to_string(i);
        std::string theirs = readFile(m_dir / (stem + ".py"));
        // Unfold as the header reader does: the line break and one white-space character go.
        std::string unfolded;
        for (size_t k = 0; k < theirs.size(); ++k) {
            if (theirs[k] == '\r') continue;
            if (theirs[k] == '\n') {
                if (k + 1 < theirs.size() && (theirs[k + 1] == ' ' || theirs[k + 1] == '\t')) ++k;
                continue;
            }
            unfolded += theirs[k];
        }
        StringBuffer sb(unfolded.c_str());
        cc.decodeEncodedWords(sb);
        EXPECT_EQ(str(sb), readFile(m_dir / (stem + ".txt"))) << theirs;
    }
}

}  // namespace
