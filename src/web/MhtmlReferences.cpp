#include "foundation/FileSys.h"
#include "foundation/LogBase.h"
#include "foundation/StringBuffer.h"
#include "mime/FreshUuid.h"
#include "web/CaptureLimits.h"
#include "web/CaptureText.h"
#include "web/CaptureUrl.h"
#include "web/HttpUrl.h"
#include "web/Mhtml.h"
#include "web/UrlReference.h"

namespace hanamail {

std::string Mhtml::keyOf(const std::string& url)
{
    if (CaptureUrl::isHttp(url)) return CaptureText::lowered(url);
    StringBuffer full;
    FileSys::getFullPathName(CaptureUrl::localPath(url).c_str(), full);
    return CaptureText::lowered(full.getString());
}

bool Mhtml::resolve(const std::string& ref, const std::string& from, std::string& out, LogBase& log)
{
    out.clear();
    StringBuffer clean;
    HttpUrl::sanitise(CaptureText::decodeAmpersands(ref).c_str(), clean);
    std::string r = clean.getString();
    if (r.empty() || r[0] == '#' || CaptureUrl::isInert(r)) return false;
    MhtmlContext& ctx = current();
    const std::string base = !from.empty() ? from : (ctx.localFileMode ? std::string() : ctx.documentUrl);
    if (CaptureUrl::isHttp(r)) {
        UrlReference::resolve(r.c_str(), r.c_str(), clean);
        out = clean.getString();
    } else if (r.compare(0, 2, "//") == 0 && !CaptureUrl::isHttp(base)) {
        out = "http:" + r;
    } else if (ctx.remote || CaptureUrl::isHttp(base)) {
        if (CaptureUrl::isLocalForm(r)) {
            if (!ctx.remote) {
                out = r;
                return true;
            }
            // A page from the network names nothing on this machine.
            log.logInfo("Skipping local file reference in remote page.");
            StringBuffer shown;
            HttpUrl::forLog(r.c_str(), shown);
            log.logData("contentLocation", shown.getString());
            return false;
        }
        for (char& c : r)
            if (c == '\\') c = '/';
        UrlReference::resolve(base.c_str(), r.c_str(), clean);
        out = clean.getString();
        if (!CaptureUrl::isHttp(out)) return false;
    } else {
        out = base.empty() ? r : CaptureUrl::joinLocal(base, r);
    }
    out = CaptureUrl::cutImageQuery(out);
    return true;
}

std::string Mhtml::registerUrl(const std::string& url, bool frame, LogBase& log)
{
    if (current().remote && !CaptureUrl::isHttp(url)) return std::string();
    const std::string key = keyOf(url);
    MhtmlContext& ctx = current();
    auto known = m_cids.find(key);
    if (known != m_cids.end()) {
        for (const MhtmlResource& r : ctx.resources)
            if (r.cid == known->second) return known->second;
        ctx.resources.push_back({url, known->second, frame});
        return known->second;
    }
    if (m_resourceCount >= CaptureLimits::kMaxResources) {
        if (!m_resourcesLimitLogged) log.logData("limit", "resources");
        m_resourcesLimitLogged = true;
        return std::string();
    }
    std::string cid = kCidPrefix + FreshUuid::text();
    m_cids.emplace(key, cid);
    ctx.resources.push_back({url, cid, frame});
    ++m_resourceCount;
    return cid;
}

}  // namespace hanamail
