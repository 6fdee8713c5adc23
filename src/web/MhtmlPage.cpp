#include <cstring>

#include "charset/Charset.h"
#include "foundation/LogBase.h"
#include "foundation/StringBuffer.h"
#include "html/HtmlHelp.h"
#include "web/CaptureLimits.h"
#include "web/CaptureText.h"
#include "web/CaptureUrl.h"
#include "web/HttpUrl.h"
#include "web/Mhtml.h"

namespace hanamail {

namespace {

StringBuffer toBuffer(const std::string& s)
{
    StringBuffer sb;
    (void)sb.appendN(s.data(), static_cast<int32_t>(s.size()));
    return sb;
}

// Where a block that opens at "<" + name ends: after its closing tag, or at
// the end of the text when it has none.
size_t blockEnd(const std::string& html, size_t from, const char* close)
{
    const size_t at = CaptureText::findNoCase(html, close, from);
    return at == std::string::npos ? html.size() : at + std::strlen(close);
}

// "<style" or "<script" as a tag: the name ends there.
bool opensTag(const std::string& html, size_t at, size_t n)
{
    if (at + n >= html.size()) return false;
    const char c = html[at + n];
    return c == '>' || c == '/' || CaptureText::isSpace(c);
}

bool isTagBoundary(const std::string& html, size_t after, const char* opening)
{
    const size_t n = std::strlen(opening);
    const char last = opening[n - 1];
    if (last == ' ' || last == ':') return true;
    if (after >= html.size()) return false;
    const char c = html[after];
    return c == '>' || c == '/' || CaptureText::isSpace(c);
}

}  // namespace

void Mhtml::normalise(std::string& html) const
{
    static const char* const kPairs[][2] = {{"<BODY", "<body"},
                                            {"<FRAME", "<frame"},
                                            {"<TABLE", "<table"},
                                            {"<TD", "<td"},
                                            {"<IFRAME", "<iframe"},
                                            {"<NOSCRIPT", "<noscript"},
                                            {"<SCRIPT", "<script"},
                                            {"</IFRAME", "</iframe"},
                                            {"</NOSCRIPT", "</noscript"},
                                            {"</SCRIPT", "</script"},
                                            {"</TITLE", "</title"},
                                            {"<TITLE", "<title"},
                                            {"<INPUT", "<input"},
                                            {"<IMG", "<img"},
                                            {"<IMAGE", "<img"},
                                            {"<image", "<img"},
                                            {"<LINK", "<link"},
                                            {"BACKGROUND-IMAGE", "background-image"},
                                            {"<V:", "<v:"}};
    for (const auto& p : kPairs) CaptureText::replaceAll(html, p[0], p[1]);
}

std::string Mhtml::placeholder(const char* kind, size_t i) const
{
    return "<tembrix_" + std::string(kind) + "_" + m_uuid + "_" + std::to_string(i) + ">";
}

void Mhtml::protectBlocks(std::string& html, const char* open, const char* close, const char* kind,
                          std::vector<std::string>& saved, bool css, LogBase& log)
{
    std::string out;
    size_t from = 0;
    const size_t openLength = std::strlen(open);
    for (;;) {
        size_t at = CaptureText::findNoCase(html, open, from);
        while (at != std::string::npos && !opensTag(html, at, openLength))
            at = CaptureText::findNoCase(html, open, at + 1);
        if (at == std::string::npos) break;
        const size_t tagClose = CaptureText::tagEnd(html, at);
        const size_t end = tagClose == std::string::npos ? html.size() : blockEnd(html, tagClose, close);
        out.append(html, from, at - from);
        std::string block = html.substr(at, end - at);
        if (css && tagClose != std::string::npos) {
            // Only the sheet between the tags is CSS.
            const size_t bodyStart = tagClose - at;
            const size_t closeAt = CaptureText::findNoCase(block, close, bodyStart);
            const size_t bodyEnd = closeAt == std::string::npos ? block.size() : closeAt;
            std::string sheet = block.substr(bodyStart, bodyEnd - bodyStart);
            rewriteCss(sheet, std::string(), 0, log);
            block.replace(bodyStart, bodyEnd - bodyStart, sheet);
        }
        out.append(placeholder(kind, saved.size()));
        saved.push_back(std::move(block));
        from = end;
    }
    if (saved.empty()) return;
    out.append(html, from, std::string::npos);
    html.swap(out);
}

void Mhtml::restoreBlocks(std::string& html, const char* kind, std::vector<std::string>& saved) const
{
    // Each placeholder names its block, so text in the page that looks like
    // one stays as it is.
    for (size_t i = 0; i < saved.size(); ++i) {
        const std::string mark = placeholder(kind, i);
        const size_t at = html.find(mark);
        if (at != std::string::npos) html.replace(at, mark.size(), saved[i]);
    }
    saved.clear();
}

void Mhtml::declareCharset(std::string& html, const std::string& charsetName) const
{
    StringBuffer sb = toBuffer(html);
    StringBuffer declared;
    if (HtmlHelp::getMetaCharset(sb, declared)) {
        Charset a, b;
        a.setByName(declared.getString());
        b.setByName(charsetName.c_str());
        if (a.getCodePage() != b.getCodePage() || a.getCodePage() == 0) {
            (void)HtmlHelp::removeMetaCharset(sb);
            html.assign(sb.getString(), static_cast<size_t>(sb.getSize()));
        }
    }
    const std::string meta =
        "</title><META http-equiv=\"Content-Type\" content=\"text/html;charset=" + charsetName + "\">";
    (void)CaptureText::replaceFirst(html, "</title>", meta);
}

void Mhtml::processHtml(std::string& html, const std::string& charsetName, int depth, MimeMessage2& root, LogBase& log)
{
    normalise(html);
    declareCharset(html, charsetName);
    // Scripts keep their place, but the file a script tag names is embedded.
    rewriteKind(html, "<script", "SRC", TagRule::Embed, nullptr, log);
    std::vector<std::string> styles, scripts;
    protectBlocks(html, "<style", "</style>", "style", styles, true, log);
    protectBlocks(html, "<script", "</script>", "script", scripts, false, log);
    rewriteTags(html, styles, log);
    restoreBlocks(html, "script", scripts);
    restoreBlocks(html, "style", styles);
    addResources(html, root, depth, log);
    restoreUnincluded(html);
}

void Mhtml::rewriteTags(std::string& html, std::vector<std::string>& styles, LogBase& log)
{
    rewriteKind(html, "<frame ", "SRC", TagRule::Frame, nullptr, log);
    rewriteKind(html, "<iframe ", "SRC", TagRule::Frame, nullptr, log);
    rewriteKind(html, "<img", "SRC", TagRule::Embed, nullptr, log);
    rewriteKind(html, "<v:", "SRC", TagRule::Embed, nullptr, log);
    rewriteKind(html, "<input", "SRC", TagRule::Embed, nullptr, log);
    rewriteKind(html, "<area", "HREF", TagRule::Anchor, nullptr, log);
    rewriteKind(html, "<a", "HREF", TagRule::Anchor, nullptr, log);
    rewriteKind(html, "<embed", "SRC", TagRule::Anchor, nullptr, log);
    rewriteKind(html, "<form", "ACTION", TagRule::Anchor, nullptr, log);
    rewriteKind(html, "<link", "HREF", TagRule::Sheet, &styles, log);
    rewriteKind(html, "<body", "BACKGROUND", TagRule::Background, nullptr, log);
    rewriteKind(html, "<table", "BACKGROUND", TagRule::Background, nullptr, log);
    rewriteKind(html, "<td", "BACKGROUND", TagRule::Background, nullptr, log);
    rewriteStyleAttributes(html, log);
}

void Mhtml::rewriteKind(std::string& html, const char* opening, const char* attr, TagRule rule,
                        std::vector<std::string>* styles, LogBase& log)
{
    const size_t n = std::strlen(opening);
    size_t from = 0;
    for (;;) {
        const size_t at = html.find(opening, from);
        if (at == std::string::npos) return;
        if (!isTagBoundary(html, at + n, opening)) {
            from = at + n;
            continue;
        }
        size_t end = CaptureText::tagEnd(html, at);
        if (rule == TagRule::Sheet && (end == std::string::npos || end - at > 900)) {
            const size_t gt = html.find('>', at);
            end = gt == std::string::npos ? std::string::npos : gt + 1;
        }
        if (end == std::string::npos) return;
        std::string tag = html.substr(at, end - at);
        if (rewriteTag(tag, attr, rule, styles, log)) html.replace(at, end - at, tag);
        from = at + tag.size();
    }
}

bool Mhtml::rewriteTag(std::string& tag, const char* attr, TagRule rule, std::vector<std::string>* styles, LogBase& log)
{
    StringBuffer raw = toBuffer(tag);
    StringBuffer clean;
    HtmlHelp::cleanHtmlTag(raw, clean);
    std::string cleaned(clean.getString(), static_cast<size_t>(clean.getSize()));
    const std::string before = cleaned;
    if (rule == TagRule::Embed || rule == TagRule::Anchor) rewriteEventImages(cleaned, log);

    StringBuffer valueBuffer;
    StringBuffer cleanedBuffer = toBuffer(cleaned);
    const bool has = HtmlHelp::getAttributeValue(cleanedBuffer, attr, valueBuffer) && !valueBuffer.isEmpty();
    const std::string value = valueBuffer.getString();

    if (rule == TagRule::Sheet) {
        StringBuffer kind;
        if (!HtmlHelp::getAttributeValue(cleanedBuffer, "TYPE", kind) || kind.isEmpty())
            (void)HtmlHelp::getAttributeValue(cleanedBuffer, "REL", kind);
        kind.trim2();
        if (kind.equalsIgnoreCase("text/css") || kind.equalsIgnoreCase("stylesheet")) {
            if (!has) {
                log.logError("Cannot find href in link tag");
                log.logData("link_tag", tag.c_str());
                return false;
            }
            std::string sheet;
            if (!inlineSheet(value, sheet, log)) return false;
            tag = placeholder("style", styles->size());
            styles->push_back("\n<STYLE TYPE=\"text/css\">\n<!--\n" + sheet + "\n-->\n</STYLE>\n");
            return true;
        }
        rule = TagRule::Anchor;
    }

    std::string replacement;
    bool replace = false;
    if (has) {
        std::string url;
        switch (rule) {
            case TagRule::Anchor:
                if (CaptureText::startsWithNoCase(value, "javascript:") ||
                    CaptureText::startsWithNoCase(value, "mailto:") || value[0] == '#')
                    break;
                if (resolve(value, std::string(), url, log) && url != value) {
                    replacement = url;
                    replace = true;
                }
                break;
            case TagRule::Frame:
                if (!resolve(value, std::string(), url, log)) break;
                replacement = url;
                replace = url != value;
                if (current().depth + 1 > CaptureLimits::kMaxFrameDepth) {
                    log.logData("limit", "frame_depth");
                } else {
                    (void)registerUrl(url, true, log);
                }
                break;
            case TagRule::Background:
            case TagRule::Embed: {
                if (!resolve(value, std::string(), url, log)) break;
                if (rule == TagRule::Background && CaptureUrl::isHtmlPage(url)) {
                    replacement = url;
                    replace = url != value;
                    break;
                }
                const std::string cid = registerUrl(url, false, log);
                replacement = cid.empty() ? url : "cid:" + cid;
                replace = replacement != value;
                break;
            }
            default: break;
        }
    }
    if (replace) {
        int32_t start = 0, len = 0;
        if (HtmlHelp::findAttribute(cleaned.data(), static_cast<int32_t>(cleaned.size()), attr, start, len) &&
            start > 0) {
            const char quote = cleaned[static_cast<size_t>(start) - 1];
            cleaned.replace(static_cast<size_t>(start), static_cast<size_t>(len),
                            CaptureText::forAttribute(replacement, quote));
        }
    }
    if (cleaned == before && !replace) return false;
    tag = cleaned;
    return true;
}

void Mhtml::rewriteEventImages(std::string& tag, LogBase& log)
{
    static const char* const kEvents[] = {"onmouseover=", "onmouseout="};
    static const char* const kImages[] = {".gif", ".jpg", ".png"};
    for (const char* event : kEvents) {
        const size_t at = CaptureText::findNoCase(tag, event);
        if (at == std::string::npos || at + std::strlen(event) >= tag.size()) continue;
        const size_t valueStart = at + std::strlen(event) + 1;
        const char outer = tag[valueStart - 1];
        if (outer != '"' && outer != '\'') continue;
        const size_t valueEnd = tag.find(outer, valueStart);
        if (valueEnd == std::string::npos) continue;
        std::string value = tag.substr(valueStart, valueEnd - valueStart);
        std::string out;
        size_t i = 0;
        // Each quoted string in the script that names an image.
        while (i < value.size()) {
            const char q = value[i];
            const bool quoteChar = q == '\'' || q == '"' || (q == '&' && value.compare(i, 6, "&quot;") == 0);
            if (!quoteChar) {
                out += value[i++];
                continue;
            }
            const std::string qs = q == '&' ? "&quot;" : std::string(1, q);
            const size_t close = value.find(qs, i + qs.size());
            if (close == std::string::npos) {
                out.append(value, i, std::string::npos);
                break;
            }
            const std::string inner = value.substr(i + qs.size(), close - i - qs.size());
            bool image = false;
            for (const char* e : kImages) image = image || CaptureText::endsWithNoCase(inner, e);
            std::string url;
            std::string cid;
            if (image && resolve(inner, std::string(), url, log)) cid = registerUrl(url, false, log);
            out += qs;
            out += cid.empty() ? inner : "cid:" + cid;
            out += qs;
            i = close + qs.size();
        }
        tag.replace(valueStart, valueEnd - valueStart, out);
    }
}

void Mhtml::rewriteStyleAttributes(std::string& html, LogBase& log)
{
    size_t from = 0;
    for (;;) {
        const size_t at = CaptureText::findNoCase(html, "style", from);
        if (at == std::string::npos) return;
        from = at + 5;
        if (at == 0 || !CaptureText::isSpace(html[at - 1])) continue;
        size_t i = at + 5;
        while (i < html.size() && CaptureText::isSpace(html[i])) ++i;
        if (i >= html.size() || html[i] != '=') continue;
        ++i;
        while (i < html.size() && CaptureText::isSpace(html[i])) ++i;
        if (i >= html.size() || (html[i] != '"' && html[i] != '\'')) continue;
        // Inside a tag: the last "<" before it is nearer than the last ">".
        const size_t lt = html.rfind('<', at);
        const size_t gt = html.rfind('>', at);
        if (lt == std::string::npos || (gt != std::string::npos && gt > lt)) continue;
        const char quote = html[i];
        const size_t close = html.find(quote, i + 1);
        if (close == std::string::npos) return;
        std::string css = html.substr(i + 1, close - i - 1);
        if (CaptureText::findNoCase(css, "url(") == std::string::npos) {
            from = close + 1;
            continue;
        }
        // The attribute's own quote may stand as an entity inside it.
        CaptureText::replaceAll(css, "&quot;", "\"");
        rewriteCss(css, std::string(), 0, log);
        if (quote == '"') CaptureText::replaceAll(css, "\"", "&quot;");
        html.replace(i + 1, close - i - 1, css);
        from = i + 1 + css.size() + 1;
    }
}

bool Mhtml::inlineSheet(const std::string& href, std::string& out, LogBase& log)
{
    std::string url;
    if (!resolve(href, std::string(), url, log) || !readSheet(url, out, log)) {
        log.logError("Failed to download style sheet");
        StringBuffer shown;
        HttpUrl::forLog(url.empty() ? href.c_str() : url.c_str(), shown);
        log.logData("style_sheet_url", shown.getString());
        return false;
    }
    m_importStack.push_back(CaptureText::lowered(url));
    rewriteCss(out, url, 1, log);
    m_importStack.pop_back();
    return true;
}

}  // namespace hanamail
