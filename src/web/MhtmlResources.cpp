#include "charset/Charset.h"
#include "foundation/DataBuffer.h"
#include "foundation/FileSys.h"
#include "foundation/LogBase.h"
#include "foundation/StringBuffer.h"
#include "mime/ContentTypeTable.h"
#include "mime/MimeMessage2.h"
#include "web/CaptureText.h"
#include "web/CaptureUrl.h"
#include "web/DirectoryGuard.h"
#include "web/HttpUrl.h"
#include "web/Mhtml.h"

namespace hanamail {

namespace {

// The type the first bytes prove, or empty.
const char* magicType(const DataBuffer& b)
{
    const unsigned char* p = b.getData();
    if (b.getSize() < 4) return "";
    if (p[0] == 0x47 && p[1] == 0x49 && p[2] == 0x46 && p[3] == 0x38) return "image/gif";
    if (p[0] == 0xFF && p[1] == 0xD8 && p[2] == 0xFF && p[3] == 0xE0) return "image/jpeg";
    if (p[0] == 0x89 && p[1] == 0x50 && p[2] == 0x4E && p[3] == 0x47) return "image/png";
    return "";
}

std::string typeOf(const std::string& url, const DataBuffer& bytes, const std::string& served, bool& byMagic)
{
    byMagic = false;
    const char* magic = magicType(bytes);
    if (*magic) {
        byMagic = true;
        return magic;
    }
    bool hasDot = false, slashEnd = false;
    const std::string ext = CaptureUrl::extension(url, hasDot, slashEnd);
    if (slashEnd) return "text/html";
    StringBuffer type;
    if (hasDot && !ext.empty() && ContentTypeTable::forExtension(ext.c_str(), type)) {
        if (type.equalsIgnoreCase("application/x-javascript")) return "application/octet-stream";
        return type.getString();
    }
    // Without a usable extension the server's word is the best there is.
    if (!served.empty()) return served;
    if (!hasDot) return "application/octet-stream";
    return CaptureUrl::isHttp(url) ? "text/html" : "application/octet-stream";
}

std::string partName(int index, const std::string& url, const std::string& type)
{
    std::string file = CaptureUrl::fileName(url);
    std::string clean;
    for (char c : file)
        if (c != ';' && c != '=' && c != '"' && static_cast<unsigned char>(c) >= 0x20) clean += c;
    if (clean.find('.') == std::string::npos) {
        if (type == "image/gif") clean += ".gif";
        if (type == "image/jpeg") clean += ".jpeg";
        if (type == "image/png") clean += ".png";
    }
    return "tb" + std::to_string(index) + "-" + clean;
}

}  // namespace

void Mhtml::addResources(std::string& html, MimeMessage2& root, int depth, LogBase& log)
{
    MhtmlContext& ctx = current();
    // Frames register into their own contexts, never into this list.
    for (size_t i = 0; i < ctx.resources.size(); ++i) {
        const MhtmlResource r = ctx.resources[i];
        const std::string key = keyOf(r.url);
        if (m_included.count(key) || m_failed.count(key)) continue;
        if (addResource(r, static_cast<int>(i), html, root, depth, log)) {
            m_included.insert(key);
        } else {
            m_failed.insert(key);
        }
    }
}

bool Mhtml::addResource(const MhtmlResource& r, int index, const std::string& html, MimeMessage2& root, int depth,
                        LogBase& log)
{
    LogContextExit context(log, "external_content", true);
    StringBuffer shown;
    HttpUrl::forLog(r.url.c_str(), shown);
    log.logData("contentLocation", shown.getString());
    log.logData("contentCID", r.cid.c_str());
    if (html.find(r.cid) == std::string::npos && CaptureText::findNoCase(html, "<frameset") == std::string::npos &&
        !CaptureUrl::isHtmlPage(r.url) && !r.frame) {
        log.logInfo("Skipping content because it is not referenced in the HTML.");
        return false;
    }
    DataBuffer bytes;
    std::string charset, finalUrl, served;
    bool ok;
    if (CaptureUrl::isHttp(r.url)) {
        ok = fetchPage(r.url, bytes, charset, finalUrl, served, "Failed to download or include external content.", log);
        if (!ok) return false;
    } else {
        ok = !current().remote && readLocal(CaptureUrl::localPath(r.url), bytes, log);
        if (!ok) {
            log.logError("Failed to download or include external content.");
            return false;
        }
        finalUrl = r.url;
    }
    // Mark it before a frame's own references are looked at, so a frame
    // that names itself is not read again.
    m_included.insert(keyOf(r.url));

    bool byMagic = false;
    const std::string type = typeOf(r.url, bytes, served, byMagic);
    bool hasDot = false, slashEnd = false;
    const std::string ext = CaptureUrl::extension(r.url, hasDot, slashEnd);
    auto* part = new MimeMessage2();
    part->SetContentType(type.c_str());
    part->SetName(partName(index, r.url, type).c_str());
    part->SetHeaderField("Content-ID", ("<" + r.cid + ">").c_str());
    const bool htmlType = type == "text/html" && !byMagic;
    const bool framePage = r.frame || (htmlType && (CaptureUrl::isHtmlPage(r.url) || served == "text/html" ||
                                                    ext.compare(0, 2, "ht") == 0 || ext.compare(0, 2, "as") == 0));
    bool added = true;
    if (framePage) {
        added = addFramePage(r, bytes, charset, finalUrl, *part, root, depth, log);
    } else {
        part->SetTransferEncoding((ext == "js" || ext == "css") ? "quoted-printable" : "base64");
        part->SetBodyFromText(bytes.getData(), bytes.getSize(), Charset());
    }
    if (!added) {
        delete part;
        return false;
    }
    log.logInfo("Successfully added content");
    log.logData("content_type", type.c_str());
    root.AddSubPart(part);
    return true;
}

bool Mhtml::addFramePage(const MhtmlResource& r, DataBuffer& bytes, const std::string& httpCharset,
                         const std::string& finalUrl, MimeMessage2& part, MimeMessage2& root, int depth, LogBase& log)
{
    const bool remote = CaptureUrl::isHttp(r.url);
    part.SetContentType("text/html");
    part.SetHeaderField("Content-Location", finalUrl.c_str());
    ++m_frameCount;

    DirectoryGuard directory;
    auto ctx = std::make_unique<MhtmlContext>();
    ctx->depth = depth + 1;
    ctx->remote = remote;
    ctx->localFileMode = !remote;
    ctx->savedDirectory = directory.saved();
    if (remote) {
        ctx->documentUrl = CaptureUrl::withoutFragment(finalUrl);
        CaptureUrl::rootAndBase(ctx->documentUrl, ctx->rootUrl, ctx->baseUrl);
    } else {
        const std::string path = CaptureUrl::localPath(r.url);
        const std::string dir = CaptureUrl::localDirectory(path);
        ctx->localFile = path.substr(dir.size());
        if (!dir.empty() && !directory.change(dir.c_str())) {
            log.logError("Failed to set directory to base directory");
            log.logData("base_dir", dir.c_str());
        }
    }
    m_contexts.push_back(std::move(ctx));

    std::string name;
    int cp = 0;
    chooseCharset(bytes, httpCharset, name, cp);
    std::string html;
    (void)toUtf8(bytes, cp, html);
    bytes.clear();
    processHtml(html, name, depth + 1, root, log);
    Charset cs;
    cs.setByCodePage(cp);
    part.SetCharset(cs);
    part.SetTransferEncoding(MhtmlContext::base64CodePage(cp) ? "base64" : "quoted-printable");
    part.SetBodyFromText(html.data(), static_cast<uint32_t>(html.size()), Charset());
    m_contexts.pop_back();
    return true;
}

void Mhtml::restoreUnincluded(std::string& html) const
{
    // A reference whose resource could not be had points where it did.
    for (const MhtmlResource& r : m_contexts.back()->resources) {
        if (m_included.count(keyOf(r.url))) continue;
        std::string url;
        for (char c : r.url) {
            if (c == '"') {
                url += "%22";
            } else {
                url += c;
            }
        }
        CaptureText::replaceAll(html, "cid:" + r.cid, url);
    }
}

}  // namespace hanamail
