#include "web/IncludeExpander.h"

#include "charset/EncodingConvert.h"
#include "foundation/DataBuffer.h"
#include "foundation/FileSys.h"
#include "foundation/LogBase.h"
#include "foundation/StringBuffer.h"
#include "html/HtmlHelp.h"
#include "web/CaptureLimits.h"
#include "web/CaptureText.h"
#include "web/CaptureUrl.h"

namespace hanamail {

namespace {

constexpr char kDirective[] = "<!--#include";

// The value of attribute name in a directive: quoted or bare.
std::string directiveValue(const std::string& directive, const char* name)
{
    StringBuffer raw;
    (void)raw.appendN(directive.data(), static_cast<int32_t>(directive.size()));
    StringBuffer clean, value;
    HtmlHelp::cleanHtmlTag(raw, clean);
    (void)HtmlHelp::getAttributeValue(clean, name, value);
    return value.getString();
}

}  // namespace

void IncludeExpander::expand(std::string& text, int cp, LogBase& log)
{
    if (CaptureText::findNoCase(text, kDirective) == std::string::npos) return;
    expandAt(text, cp, 0, log);
}

bool IncludeExpander::readInclude(const std::string& name, int cp, std::string& out, LogBase& log)
{
    const std::string path = CaptureUrl::localPath(name);
    bool ok = false;
    const uint32_t size = FileSys::getFileSize(path.c_str(), &log, ok);
    if (!ok) return false;
    if (size > CaptureLimits::kMaxFileBytes || m_read + size > m_maxBytes) {
        log.logData("limit", "capture_bytes");
        return false;
    }
    DataBuffer bytes;
    if (!FileSys::loadFile(path.c_str(), bytes, &log)) return false;
    m_read += bytes.getSize();
    uint32_t markLength = 0;
    int from = FileSys::textMark(bytes.getData(), bytes.getSize(), markLength);
    if (from == 0) from = cp;
    const unsigned char* p = bytes.getData() + markLength;
    const uint32_t n = bytes.getSize() - markLength;
    if (from == 0 || from == 65001) {
        out.assign(reinterpret_cast<const char*>(p), n);
        return true;
    }
    DataBuffer utf8;
    (void)EncodingConvert().convert(from, 65001, p, n, utf8);
    out.assign(reinterpret_cast<const char*>(utf8.getData()), utf8.getSize());
    return true;
}

void IncludeExpander::expandAt(std::string& text, int cp, int depth, LogBase& log)
{
    // Directives in capitals are the same directive.
    CaptureText::replaceAll(text, "<!--#INCLUDE", kDirective);
    std::string out;
    size_t from = 0;
    for (;;) {
        const size_t at = CaptureText::findNoCase(text, kDirective, from);
        if (at == std::string::npos) break;
        const size_t close = text.find("-->", at);
        if (close == std::string::npos) break;
        out.append(text, from, at - from);
        const std::string directive = text.substr(at, close + 3 - at);
        from = close + 3;
        log.logData("ssinclude", directive.c_str());
        const std::string name = directiveValue(directive, "file");
        log.logData("filename", name.c_str());
        if (name.empty()) continue;
        std::string key = CaptureUrl::localPath(name);
        StringBuffer full;
        FileSys::getFullPathName(key.c_str(), full);
        key = full.getString();
        bool onStack = false;
        for (const std::string& s : m_stack) onStack = onStack || s == key;
        // A file that includes itself, directly or not, is dropped there.
        if (onStack) continue;
        if (depth + 1 > CaptureLimits::kMaxIncludeDepth) {
            if (!m_depthLogged) log.logData("limit", "include_depth");
            m_depthLogged = true;
            continue;
        }
        std::string included;
        if (!readInclude(name, cp, included, log)) continue;
        m_stack.push_back(key);
        if (CaptureText::findNoCase(included, kDirective) != std::string::npos) expandAt(included, cp, depth + 1, log);
        m_stack.pop_back();
        out.append(included);
    }
    out.append(text, from, std::string::npos);
    text.swap(out);
}

}  // namespace hanamail
