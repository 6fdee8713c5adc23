#include "web/Mhtml.h"

#include "charset/Charset.h"
#include "charset/CharsetCatalogue.h"
#include "charset/EncodingConvert.h"
#include "charset/Utf8Check.h"
#include "foundation/DataBuffer.h"
#include "foundation/FileSys.h"
#include "foundation/LogBase.h"
#include "foundation/StringBuffer.h"
#include "html/HtmlHelp.h"
#include "mime/DateParser.h"
#include "mime/FreshUuid.h"
#include "mime/MimeBoundary.h"
#include "mime/MimeMessage2.h"
#include "web/CaptureLimits.h"
#include "web/CaptureText.h"
#include "web/CaptureUrl.h"
#include "web/DirectoryGuard.h"
#include "web/HttpPageFetcher.h"
#include "web/HttpUrl.h"
#include "web/IncludeExpander.h"
#include "web/MhtmlFetcher.h"

namespace hanamail {

namespace {

constexpr int kUtf8 = 65001;

bool hasEightBit(const DataBuffer& b)
{
    for (uint32_t i = 0; i < b.getSize(); ++i)
        if (b.getData()[i] >= 0x80) return true;
    return false;
}

// A charset name the converter can read, as its code page; 0 otherwise.
int usableCodePage(const std::string& name)
{
    if (name.empty()) return 0;
    const int cp = charsetToCodePage(name.c_str());
    return (cp != 0 && isConvertibleCodePage(cp)) ? cp : 0;
}

void secureWipe(std::string& s)
{
    for (char& c : s) c = '\0';
    s.clear();
}

}  // namespace

Mhtml::Mhtml(MhtmlFetcher* fetcher) : m_fetcher(fetcher)
{
    if (!m_fetcher) {
        m_http = std::make_unique<HttpPageFetcher>();
        m_fetcher = m_http.get();
    }
}

Mhtml::~Mhtml()
{
    secureWipe(m_login);
    secureWipe(m_password);
}

void Mhtml::setTimeoutsS(uint32_t connectS, uint32_t readS)
{
    if (m_http) m_http->setTimeoutsS(connectS, readS);
}

void Mhtml::setTls(const platform::TlsSettings& settings)
{
    if (m_http) m_http->setTls(settings);
}

void Mhtml::setAddressFamily(platform::AddressFamily family)
{
    if (m_http) m_http->setAddressFamily(family);
}

bool Mhtml::isUrl(const char* arg)
{
    return arg && CaptureUrl::looksLikeUrl(arg);
}

void Mhtml::reset()
{
    m_contexts.clear();
    m_cids.clear();
    m_included.clear();
    m_failed.clear();
    m_importStack.clear();
    m_frameCount = 0;
    m_resourceCount = 0;
    m_capturedBytes = 0;
    m_resourcesLimitLogged = false;
    m_bytesLimitLogged = false;
    m_pageLocation.clear();
    m_uuid = FreshUuid::text();
}

bool Mhtml::countBytes(uint64_t n, LogBase& log)
{
    if (m_capturedBytes + n <= CaptureLimits::kMaxCaptureBytes) {
        m_capturedBytes += n;
        return true;
    }
    if (!m_bytesLimitLogged) log.logData("limit", "capture_bytes");
    m_bytesLimitLogged = true;
    return false;
}

void Mhtml::noteInsecure(const std::string& url, LogBase& log) const
{
    if (!HttpUrl::isHttps(m_pageLocation.c_str()) || HttpUrl::isHttps(url.c_str())) return;
    StringBuffer shown;
    HttpUrl::forLog(url.c_str(), shown);
    log.logInfo("Fetching insecure resource from secure page.");
    log.logData("url", shown.getString());
}

bool Mhtml::fetchPage(const std::string& url, DataBuffer& body, std::string& charset, std::string& finalUrl,
                      std::string& contentType, const char* failLine, LogBase& log)
{
    // The page itself sets m_pageLocation: only what it then names is checked.
    if (url != m_pageLocation) noteInsecure(url, log);
    MhtmlFetched got;
    // The credentials are there only while the page itself is fetched.
    const bool ok = m_fetcher->fetch(url.c_str(), m_login.empty() ? nullptr : m_login.c_str(),
                                     m_password.empty() ? nullptr : m_password.c_str(), body, got, log);
    if (!ok) return false;
    // Only a page the server gave is captured: an error page or the last of
    // a redirect loop is no page of the site.
    if (got.status < 200 || got.status > 299) {
        if (failLine) log.logError(failLine);
        log.logDataLong("status", got.status);
        body.clear();
        return false;
    }
    if (!countBytes(body.getSize(), log)) {
        body.clear();
        return false;
    }
    charset = got.charset.getString();
    contentType = got.contentType.getString();
    StringBuffer clean;
    HttpUrl::removeUserInfo(got.finalUrl.isEmpty() ? url.c_str() : got.finalUrl.getString(), clean);
    finalUrl = clean.getString();
    // A secure resource that redirected to an insecure one.
    if (url != m_pageLocation && HttpUrl::isHttps(url.c_str())) noteInsecure(finalUrl, log);
    return true;
}

bool Mhtml::readLocal(const std::string& path, DataBuffer& body, LogBase& log)
{
    bool ok = false;
    const uint32_t size = FileSys::getFileSize(path.c_str(), &log, ok);
    if (!ok) return false;
    if (size > CaptureLimits::kMaxFileBytes) {
        log.logData("limit", "body");
        return false;
    }
    if (!countBytes(size, log)) return false;
    return FileSys::loadFile(path.c_str(), body, &log);
}

void Mhtml::chooseCharset(const DataBuffer& bytes, const std::string& declared, std::string& name, int& cp) const
{
    cp = usableCodePage(declared);
    if (cp == 0) {
        StringBuffer html;
        (void)html.appendN(reinterpret_cast<const char*>(bytes.getData()), static_cast<int32_t>(bytes.getSize()));
        StringBuffer meta;
        if (HtmlHelp::getMetaCharset(html, meta)) cp = usableCodePage(meta.getString());
    }
    if (cp == 0) cp = (hasEightBit(bytes) && utf8check::isValid(bytes.getData(), bytes.getSize())) ? kUtf8 : 28591;
    Charset cs;
    cs.setByCodePage(cp);
    name = cs.getName();
    if (name.empty()) name = "iso-8859-1";
}

bool Mhtml::toUtf8(const DataBuffer& bytes, int cp, std::string& out) const
{
    if (cp == kUtf8 || bytes.getSize() == 0) {
        out.assign(reinterpret_cast<const char*>(bytes.getData()), bytes.getSize());
        return true;
    }
    DataBuffer utf8;
    const bool ok = EncodingConvert().convert(cp, kUtf8, bytes.getData(), bytes.getSize(), utf8);
    out.assign(reinterpret_cast<const char*>(utf8.getData()), utf8.getSize());
    return ok || !out.empty();
}

bool Mhtml::captureUrl(const char* url, StringBuffer& mime, LogBase& log)
{
    mime.clear();
    reset();
    StringBuffer clean;
    HttpUrl::sanitise(url, clean);
    // The user part is for the page's server only: it is no part of any
    // URL the email shows.
    StringBuffer host, login, password, path, query, bare;
    int32_t port = 0;
    (void)HttpUrl::split(clean.getString(), host, port, login, password, path, query);
    m_login = login.getString();
    m_password = password.getString();
    login.secureClear();
    password.secureClear();
    HttpUrl::removeUserInfo(clean.getString(), bare);
    clean.secureClear();
    const std::string pageUrl = CaptureUrl::withoutFragment(bare.getString());
    m_pageLocation = pageUrl;

    auto ctx = std::make_unique<MhtmlContext>();
    ctx->remote = true;
    CaptureUrl::rootAndBase(pageUrl, ctx->rootUrl, ctx->baseUrl);
    ctx->documentUrl = pageUrl;
    log.logData("root_url", ctx->rootUrl.c_str());
    log.logData("base_url", ctx->baseUrl.c_str());
    m_contexts.push_back(std::move(ctx));

    DataBuffer body;
    std::string charset, finalUrl, contentType;
    const bool fetched = fetchPage(pageUrl, body, charset, finalUrl, contentType, "HTTP request failed", log);
    secureWipe(m_login);
    secureWipe(m_password);
    if (!fetched) {
        m_contexts.clear();
        return false;
    }
    // After redirects the page is where it was found.
    if (!finalUrl.empty() && finalUrl != pageUrl) {
        m_pageLocation = CaptureUrl::withoutFragment(finalUrl);
        current().documentUrl = m_pageLocation;
        CaptureUrl::rootAndBase(m_pageLocation, current().rootUrl, current().baseUrl);
    }
    if (body.getSize() > 0 && body.getData()[0] == 0) {
        const unsigned char* p = body.getData();
        uint32_t i = 0;
        while (i < body.getSize() && p[i] != '<') ++i;
        DataBuffer rest;
        (void)rest.append(p + i, body.getSize() - i);
        body.takeOver(rest);
    }
    std::string name;
    int cp = 0;
    chooseCharset(body, charset, name, cp);
    std::string html;
    (void)toUtf8(body, cp, html);
    body.clear();
    return writeMime(html, name, cp, mime, log);
}

bool Mhtml::captureFile(const char* fileName, const char* baseUrl, StringBuffer& mime, LogBase& log)
{
    mime.clear();
    reset();
    DirectoryGuard directory;
    log.logData("filename", fileName ? fileName : "");
    std::string name = CaptureUrl::localPath(fileName ? fileName : "");
    const size_t slash = name.rfind('/');
    const std::string baseDir = slash == std::string::npos ? std::string("./") : name.substr(0, slash + 1);

    DataBuffer bytes;
    if (!readLocal(name, bytes, log)) return false;
    uint32_t markLength = 0;
    const int markCp = FileSys::textMark(bytes.getData(), bytes.getSize(), markLength);
    if (markLength > 0) {
        DataBuffer rest;
        (void)rest.append(bytes.getData() + markLength, bytes.getSize() - markLength);
        bytes.takeOver(rest);
    }

    auto ctx = std::make_unique<MhtmlContext>();
    ctx->localFileMode = true;
    ctx->localFile = slash == std::string::npos ? name : name.substr(slash + 1);
    ctx->savedDirectory = directory.saved();
    if (baseUrl && CaptureUrl::isHttp(baseUrl)) {
        ctx->localFileMode = false;
        ctx->documentUrl = baseUrl;
        CaptureUrl::rootAndBase(baseUrl, ctx->rootUrl, ctx->baseUrl);
    }
    m_contexts.push_back(std::move(ctx));

    if (!directory.change(baseDir.c_str())) {
        log.logError("Failed to set directory to base directory");
        log.logData("base_dir", baseDir.c_str());
    }

    std::string charsetName;
    int cp = 0;
    std::string declared;
    if (markCp != 0) declared = preferredCharsetName(markCp) ? preferredCharsetName(markCp) : "";
    chooseCharset(bytes, declared, charsetName, cp);
    std::string html;
    (void)toUtf8(bytes, cp, html);
    bytes.clear();
    IncludeExpander includes(CaptureLimits::kMaxCaptureBytes);
    includes.expand(html, cp, log);
    const bool ok = writeMime(html, charsetName, cp, mime, log);
    return ok;
}

bool Mhtml::writeMime(std::string& html, const std::string& charset, int cp, StringBuffer& mime, LogBase& log)
{
    MimeMessage2 root;
    StringBuffer boundary;
    MimeBoundary::NewBoundary(boundary);
    boundary << "_.REL";
    root.SetContentType("multipart/related", "", "", "", Charset(), boundary.getString(), "", "text/html");

    // A base tag moves every relative reference of the page.
    StringBuffer sb;
    StringBuffer href;
    // Copied for the helper only when there is a base tag to find.
    if (CaptureText::findNoCase(html, "<base") != std::string::npos)
        (void)sb.appendN(html.data(), static_cast<int32_t>(html.size()));
    if (!sb.isEmpty() && HtmlHelp::getBaseHref(sb, href) && !href.isEmpty()) {
        MhtmlContext& ctx = current();
        std::string h = href.getString();
        if (ctx.remote) {
            std::string resolved;
            if (resolve(h, std::string(), resolved, log)) {
                ctx.documentUrl = resolved;
                CaptureUrl::rootAndBase(resolved, ctx.rootUrl, ctx.baseUrl);
            }
        } else if (CaptureUrl::isHttp(h)) {
            ctx.localFileMode = false;
            ctx.documentUrl = h;
            CaptureUrl::rootAndBase(h, ctx.rootUrl, ctx.baseUrl);
        }
    }
    sb.clear();

    auto* part = new MimeMessage2();
    root.AddSubPart(part);
    processHtml(html, charset, 0, root, log);
    part->SetContentType("text/html");
    Charset cs;
    cs.setByCodePage(cp);
    part->SetCharset(cs);
    part->SetTransferEncoding(MhtmlContext::base64CodePage(cp) ? "base64" : "quoted-printable");
    part->SetBodyFromText(html.data(), static_cast<uint32_t>(html.size()), Charset());
    if (!m_pageLocation.empty()) part->SetHeaderField("Content-Location", m_pageLocation.c_str());
    html.clear();

    root.SetHeaderField("MIME-Version", "1.0");
    StringBuffer date;
    if (DateParser::FormatNow(date)) root.SetHeaderField("Date", date.getString());
    const bool ok = root.WriteMimeText(mime);
    m_contexts.clear();
    if (!ok) {
        log.logError("Email too large");
        mime.clear();
    }
    return ok;
}

}  // namespace hanamail
