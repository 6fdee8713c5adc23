#include "charset/Charset.h"
#include "charset/CharsetCatalogue.h"
#include "charset/EncodingConvert.h"
#include "charset/Utf8Check.h"
#include "foundation/DataBuffer.h"
#include "foundation/FileSys.h"
#include "foundation/LogBase.h"
#include "foundation/StringBuffer.h"
#include "web/CaptureLimits.h"
#include "web/CaptureText.h"
#include "web/CaptureUrl.h"
#include "web/Mhtml.h"

namespace hanamail {

namespace {

size_t skipSpace(const std::string& s, size_t i)
{
    while (i < s.size() && CaptureText::isSpace(s[i])) ++i;
    return i;
}

// The reference of "url(...)" starting at open (just after "url("): its
// text, the quote used (0 for none) and the offset after ")".
bool readUrlFunction(const std::string& css, size_t open, std::string& ref, char& quote, size_t& end)
{
    size_t i = skipSpace(css, open);
    quote = 0;
    if (i < css.size() && (css[i] == '"' || css[i] == '\'')) {
        quote = css[i];
        const size_t close = css.find(quote, i + 1);
        if (close == std::string::npos) return false;
        ref = css.substr(i + 1, close - i - 1);
        i = skipSpace(css, close + 1);
        if (i >= css.size() || css[i] != ')') return false;
        end = i + 1;
        return true;
    }
    const size_t close = css.find(')', i);
    if (close == std::string::npos) return false;
    ref = css.substr(i, close - i);
    while (!ref.empty() && CaptureText::isSpace(ref.back())) ref.pop_back();
    end = close + 1;
    return true;
}

// A leading @charset rule: its name, and the offset after its ";".
size_t charsetRule(const std::string& css, std::string& name)
{
    if (css.compare(0, 10, "@charset \"") != 0) return 0;
    const size_t close = css.find('"', 10);
    if (close == std::string::npos || close > 80) return 0;
    name = css.substr(10, close - 10);
    const size_t semi = css.find(';', close);
    return semi == std::string::npos ? 0 : semi + 1;
}

}  // namespace

void Mhtml::textToUtf8(const DataBuffer& bytes, const std::string& named, std::string& out)
{
    uint32_t markLength = 0;
    int cp = FileSys::textMark(bytes.getData(), bytes.getSize(), markLength);
    const unsigned char* p = bytes.getData() + markLength;
    const uint32_t n = bytes.getSize() - markLength;
    std::string raw(reinterpret_cast<const char*>(p), n);
    std::string declared;
    const size_t after = charsetRule(raw, declared);
    if (cp == 0 && !named.empty()) cp = charsetToCodePage(named.c_str());
    if (cp == 0 && !declared.empty()) cp = charsetToCodePage(declared.c_str());
    if (cp == 0 || !isConvertibleCodePage(cp)) cp = utf8check::isValid(p, n) ? 65001 : 28591;
    if (cp == 65001) {
        out.swap(raw);
    } else {
        DataBuffer utf8;
        (void)EncodingConvert().convert(cp, 65001, p, n, utf8);
        out.assign(reinterpret_cast<const char*>(utf8.getData()), utf8.getSize());
    }
    // Inside the page the page's charset is the sheet's.
    std::string again;
    const size_t rule = charsetRule(out, again);
    if (rule > 0 || after > 0) out.erase(0, rule);
}

bool Mhtml::readSheet(const std::string& url, std::string& css, LogBase& log)
{
    DataBuffer bytes;
    std::string charset;
    if (CaptureUrl::isHttp(url)) {
        std::string finalUrl, type;
        if (!fetchPage(url, bytes, charset, finalUrl, type, nullptr, log)) return false;
    } else {
        if (current().remote) return false;
        if (!readLocal(CaptureUrl::localPath(url), bytes, log)) return false;
    }
    textToUtf8(bytes, charset, css);
    return true;
}

void Mhtml::rewriteCss(std::string& css, const std::string& from, int importDepth, LogBase& log)
{
    if (CaptureText::findNoCase(css, "url(") == std::string::npos &&
        CaptureText::findNoCase(css, "@import") == std::string::npos)
        return;
    std::string out;
    out.reserve(css.size());
    size_t i = 0;
    while (i < css.size()) {
        if (css.compare(i, 2, "/*") == 0) {
            const size_t close = css.find("*/", i + 2);
            const size_t end = close == std::string::npos ? css.size() : close + 2;
            out.append(css, i, end - i);
            i = end;
            continue;
        }
        if (css[i] == '@' && CaptureText::startsWithNoCase(std::string_view(css).substr(i), "@import")) {
            size_t k = skipSpace(css, i + 7);
            std::string ref;
            char quote = 0;
            size_t refEnd = 0;
            bool ok = false;
            if (CaptureText::startsWithNoCase(std::string_view(css).substr(k), "url(")) {
                ok = readUrlFunction(css, k + 4, ref, quote, refEnd);
            } else if (k < css.size() && (css[k] == '"' || css[k] == '\'')) {
                const size_t close = css.find(css[k], k + 1);
                ok = close != std::string::npos;
                if (ok) {
                    ref = css.substr(k + 1, close - k - 1);
                    refEnd = close + 1;
                }
            }
            const size_t semi = ok ? css.find(';', refEnd) : std::string::npos;
            std::string url;
            if (!ok || semi == std::string::npos || !resolve(ref, from, url, log)) {
                out += css[i++];
                continue;
            }
            std::string media = css.substr(refEnd, semi - refEnd);
            while (!media.empty() && CaptureText::isSpace(media.back())) media.pop_back();
            media.erase(0, skipSpace(media, 0));
            const std::string key = CaptureText::lowered(url);
            bool cycle = false;
            for (const std::string& s : m_importStack) cycle = cycle || s == key;
            if (cycle) {
                // A sheet importing itself again adds nothing.
                i = semi + 1;
                continue;
            }
            std::string sheet;
            if (importDepth + 1 > CaptureLimits::kMaxImportDepth) {
                log.logData("limit", "import_depth");
            } else if (readSheet(url, sheet, log)) {
                m_importStack.push_back(key);
                rewriteCss(sheet, url, importDepth + 1, log);
                m_importStack.pop_back();
                if (!media.empty() && !CaptureText::lowered(media).empty() && CaptureText::lowered(media) != "all")
                    sheet = "@media " + media + " {\n" + sheet + "\n}";
                out += sheet;
                i = semi + 1;
                continue;
            } else {
                log.logError("Failed to download style sheet");
                log.logData("style_sheet_url", url.c_str());
            }
            // Left as an import, of an absolute URL where there is one.
            out += "@import url(\"" + url + "\")";
            if (!media.empty()) out += " " + media;
            out += ";";
            i = semi + 1;
            continue;
        }
        if ((css[i] == 'u' || css[i] == 'U') &&
            CaptureText::startsWithNoCase(std::string_view(css).substr(i), "url(")) {
            std::string ref;
            char quote = 0;
            size_t end = 0;
            if (!readUrlFunction(css, i + 4, ref, quote, end)) {
                out += css[i++];
                continue;
            }
            std::string url;
            if (ref.empty() || !resolve(ref, from, url, log)) {
                out.append(css, i, end - i);
                i = end;
                continue;
            }
            const std::string cid = registerUrl(url, false, log);
            const std::string q = quote ? std::string(1, quote) : std::string("\"");
            out += "url(" + q + (cid.empty() ? url : "cid:" + cid) + q + ")";
            i = end;
            continue;
        }
        out += css[i++];
    }
    css.swap(out);
}

}  // namespace hanamail
