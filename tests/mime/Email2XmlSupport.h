#pragma once
// Emails for the XML-form tests: plain, Japanese, alternatives with an HTML
// part, attachments of every byte, and hostile header and body text.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "foundation/StringBuffer.h"
#include "mime/Email2.h"
#include "mime/MimeHeaderTestSupport.h"

namespace hanamail {

namespace xmltest {

using hdrtest::charsetNamed;
using hdrtest::str;

inline std::string mimeOf(const Email2& e)
{
    StringBuffer out;
    EXPECT_TRUE(e.GetMimeText(out));
    return str(out);
}

inline std::string xmlOf(Email2& e)
{
    StringBuffer out;
    EXPECT_TRUE(e.GetXml(out, true));
    return str(out);
}

inline std::unique_ptr<Email2> import(const std::string& xml)
{
    return std::unique_ptr<Email2>(Email2::ImportXml(xml.data(), static_cast<int32_t>(xml.size()), nullptr));
}

inline void setText(Email2& e, const std::string& t)
{
    e.SetTextBody(t.data(), static_cast<uint32_t>(t.size()), false);
}

inline std::string allBytes()
{
    std::string b;
    for (int i = 0; i < 256; ++i) b += static_cast<char>(i);
    return b + "]]>" + b;
}

using Build = std::function<void(Email2&)>;

// Named emails, each a new email that the function completes.
inline std::vector<std::pair<std::string, Build>> sampleEmails()
{
    return {
        {"plain",
         [](Email2& e) {
             EXPECT_TRUE(e.SetFrom("Taro <taro@example.jp>"));
             e.AddTo("", "a@example.com");
             e.AddHeaderField("Subject", "Hello");
             setText(e, "one & two <three>\r\nsecond line\r\n");
         }},
        {"japanese-sjis",
         [](Email2& e) {
             EXPECT_TRUE(e.SetFrom("\"\xe5\xb1\xb1\xe7\x94\xb0 \xe5\xa4\xaa\xe9\x83\x8e\" <taro@example.jp>"));
             e.AddTo("\xe9\x88\xb4\xe6\x9c\xa8 \xe8\x8a\xb1\xe5\xad\x90", "hanako@example.jp");
             e.AddCc("Doe, \"JD\" John", "john@example.com");
             e.AddHeaderField("Subject", "\xe4\xbc\x9a\xe8\xad\xb0\xe3\x81\xae\xe4\xba\x88\xe5\xae\x9a");
             setText(e, "\xe6\x9d\xa5\xe9\x80\xb1\xe3\x81\xae\xe4\xbc\x9a\xe8\xad\xb0\r\n");
             e.SetCharset(charsetNamed("shift_jis"));
         }},
        {"alternative-utf8",
         [](Email2& e) {
             EXPECT_TRUE(e.SetFrom("a@example.com"));
             e.AddTo("R\xc3\xa9my", "remy@example.fr");
             e.AddHeaderField("Subject",
                              "Gr\xc3\xbc\xc3\x9f"
                              "e; size=5 & <tags>");
             const std::string html =
                 "<p>Gr\xc3\xbc\xc3\x9f"
                 "e &amp; <b>mehr</b></p>";
             const std::string plain =
                 "Gr\xc3\xbc\xc3\x9f"
                 "e & mehr";
             e.SetHtmlBody(html.data(), static_cast<uint32_t>(html.size()));
             e.AddAlternativeBody(Email2::NewPlainTextPart(plain.data(), static_cast<uint32_t>(plain.size())));
         }},
        {"attachments",
         [](Email2& e) {
             EXPECT_TRUE(e.SetFrom("a@example.com"));
             e.AddTo("", "b@example.com");
             e.AddBcc("", "hidden@example.com");
             e.AddBcc("Secret", "also@example.com");
             e.AddHeaderField("Subject", "Files");
             setText(e, "See the files.\r\n");
             StringBuffer ct;
             const std::string bytes = allBytes();
             EXPECT_TRUE(e.AddDataAttachment("f\xc3\xa9 \"x\".bin", nullptr, bytes.data(),
                                             static_cast<uint32_t>(bytes.size()), ct));
             const std::string text = "text ]]> with <![CDATA[ inside\r\n\tand a tab";
             EXPECT_TRUE(
                 e.AddTextAttachment("notes.txt", "text/plain", text.data(), static_cast<uint32_t>(text.size()), ct));
         }},
        {"hostile-header",
         [](Email2& e) {
             EXPECT_TRUE(e.SetFrom("\"Eve \\\"the\\\" <evil>\" <eve@example.com>"));
             e.AddTo("a]]>b", "a@example.com");
             e.AddHeaderField("Subject", "ctl \x01\x02\x7f ]]> <![CDATA[ &amp; \xf0\x9f\x93\xa7");
             e.AddHeaderField("X-Custom", "a; b=\"c;d\"; e");
             e.AddHeaderField("Comments", "k=v; w=\"x\"");
             setText(e, "x\r\n");
         }},
        {"hostile-names",
         [](Email2& e) {
             EXPECT_TRUE(e.SetFrom("a@example.com"));
             e.AddHeaderField("Subject", "Names");
             setText(e, "x\r\n");
             // Names no XML reader takes: fields left out, parameters kept as text.
             e.AddHeaderField("1st", "digit first");
             e.AddHeaderField("X!y", "bang");
             e.AddHeaderField("X.Good_1-a", "kept");
             e.AddHeaderField("Content-Type", "text/plain; charset=\"us-ascii\"; name*=utf-8''a%20b; x=1; X=2");
         }},
        {"hostile-body",
         [](Email2& e) {
             EXPECT_TRUE(e.SetFrom("a@example.com"));
             e.AddTo("", "b@example.com");
             e.AddHeaderField("Subject", "Body");
             setText(e, " leading and ]]> trailing \x01\x02 ctl \xe6\x97\xa5 ");
         }},
    };
}

// The header blocks of MIME text with folds joined, names lower-cased and
// the space after a ";" dropped, and the quotes the form puts around
// parameters the writer leaves bare: what an XML round trip may change (the
// form stores names lower-cased and parameters as attributes). Bodies and
// boundary lines stay byte for byte.
inline std::string normalised(const std::string& mime)
{
    std::vector<std::string> lines;
    for (size_t at = 0; at <= mime.size();) {
        size_t end = mime.find("\r\n", at);
        if (end == std::string::npos) end = mime.size();
        lines.push_back(mime.substr(at, end - at));
        at = end + 2;
    }
    std::string out;
    bool header = true;
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string line = lines[i];
        if (!header) {
            out += line + "\n";
            if (line.rfind("------=_NextPart_", 0) == 0 && line.substr(line.size() - 2) != "--") header = true;
            continue;
        }
        if (line.empty()) {
            header = false;
            out += "\n";
            continue;
        }
        while (i + 1 < lines.size() && !lines[i + 1].empty() && (lines[i + 1][0] == ' ' || lines[i + 1][0] == '\t')) {
            std::string next = lines[++i];
            next.erase(0, next.find_first_not_of(" \t"));
            line += next;
        }
        const size_t colon = line.find(':');
        for (size_t k = 0; k < colon && k < line.size(); ++k)
            if (line[k] >= 'A' && line[k] <= 'Z') line[k] = static_cast<char>(line[k] + 32);
        for (size_t k; (k = line.find("; ")) != std::string::npos;) line.erase(k + 1, 1);
        // The form quotes every parameter value; the writer leaves some bare.
        for (const char* bare : {"format=", "micalg=", "smime-type="}) {
            const size_t k = line.find(bare);
            const size_t v = k + std::string(bare).size();
            if (k == std::string::npos || v >= line.size() || line[v] != '"') continue;
            const size_t close = line.find('"', v + 1);
            if (close == std::string::npos) continue;
            line.erase(close, 1);
            line.erase(v, 1);
        }
        out += line + "\n";
    }
    return out;
}

}  // namespace xmltest

}  // namespace hanamail
