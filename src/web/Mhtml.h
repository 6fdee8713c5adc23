#pragma once
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/Socket.h"
#include "platform/TlsSession.h"
#include "web/MhtmlContext.h"

namespace hanamail {

class DataBuffer;
class HttpPageFetcher;
class LogBase;
class MhtmlFetcher;
class MimeMessage2;
class StringBuffer;

// Turns a web page, fetched over HTTP or read from a file, into one
// multipart/related MIME text: the page first, then every image, style
// sheet, script and frame it references, each referred to by "cid:". One
// Mhtml serves one capture.
class Mhtml {
public:
    // fetcher answers the HTTP fetches; null for real HTTP.
    explicit Mhtml(MhtmlFetcher* fetcher = nullptr);
    Mhtml(const Mhtml&) = delete;
    Mhtml& operator=(const Mhtml&) = delete;
    ~Mhtml();

    // For real HTTP: connect and read time-outs.
    void setTimeoutsS(uint32_t connectS, uint32_t readS);
    // For real HTTP: how "https:" servers are verified.
    void setTls(const platform::TlsSettings& settings);
    // For real HTTP: which addresses of a host are tried (Any at first).
    void setAddressFamily(platform::AddressFamily family);

    bool captureUrl(const char* url, StringBuffer& mime, LogBase& log);
    // baseUrl: where the page's relative references point, empty for its directory.
    bool captureFile(const char* fileName, const char* baseUrl, StringBuffer& mime, LogBase& log);

    // What LoadHtmlComplete fetches rather than reads: "http:" or "https:".
    static bool isUrl(const char* arg);

    // The Content-ID prefix; the rest is a fresh UUID.
    static constexpr const char* kCidPrefix = "TEMBRIX-CID-";

private:
    void reset();
    bool fetchPage(const std::string& url, DataBuffer& body, std::string& charset, std::string& finalUrl,
                   std::string& contentType, const char* failLine, LogBase& log);
    // Logs a fetch over "http:" for a page that came over "https:".
    void noteInsecure(const std::string& url, LogBase& log) const;
    bool readLocal(const std::string& path, DataBuffer& body, LogBase& log);
    bool countBytes(uint64_t n, LogBase& log);
    void chooseCharset(const DataBuffer& bytes, const std::string& declared, std::string& name, int& cp) const;
    bool toUtf8(const DataBuffer& bytes, int cp, std::string& out) const;
    bool writeMime(std::string& html, const std::string& charset, int cp, StringBuffer& mime, LogBase& log);

    // ---- Page processing (MhtmlPage.cpp)
    void processHtml(std::string& html, const std::string& charsetName, int depth, MimeMessage2& root, LogBase& log);
    void normalise(std::string& html) const;
    void protectBlocks(std::string& html, const char* open, const char* close, const char* kind,
                       std::vector<std::string>& saved, bool css, LogBase& log);
    void restoreBlocks(std::string& html, const char* kind, std::vector<std::string>& saved) const;
    std::string placeholder(const char* kind, size_t i) const;
    void rewriteTags(std::string& html, std::vector<std::string>& styles, LogBase& log);
    enum class TagRule { Frame, Embed, Link, Anchor, Background, Sheet };
    void rewriteKind(std::string& html, const char* opening, const char* attr, TagRule rule,
                     std::vector<std::string>* styles, LogBase& log);
    bool rewriteTag(std::string& tag, const char* attr, TagRule rule, std::vector<std::string>* styles, LogBase& log);
    void rewriteEventImages(std::string& tag, LogBase& log);
    void rewriteStyleAttributes(std::string& html, LogBase& log);
    bool inlineSheet(const std::string& href, std::string& out, LogBase& log);
    void declareCharset(std::string& html, const std::string& charsetName) const;

    // ---- Style sheets (MhtmlCss.cpp)
    // Every url() and @import of css; from is the sheet's own location
    // (empty for CSS inside the page).
    void rewriteCss(std::string& css, const std::string& from, int importDepth, LogBase& log);
    bool readSheet(const std::string& url, std::string& css, LogBase& log);
    // Bytes of a sheet or page as UTF-8: in the charset named, else the one
    // the text declares, else UTF-8 when they are, else ISO-8859-1.
    static void textToUtf8(const DataBuffer& bytes, const std::string& named, std::string& out);
    // The key url is known under: local names by their full path.
    static std::string keyOf(const std::string& url);

    // ---- References
    // The absolute URL (or local path) of ref met in the current page, or
    // false when it is to stay as written.
    bool resolve(const std::string& ref, const std::string& from, std::string& out, LogBase& log);
    // The Content-ID of url, a new one the first time; empty when no more fit.
    std::string registerUrl(const std::string& url, bool frame, LogBase& log);
    MhtmlContext& current() { return *m_contexts.back(); }

    // ---- Resources (MhtmlResources.cpp)
    void addResources(std::string& html, MimeMessage2& root, int depth, LogBase& log);
    bool addResource(const MhtmlResource& r, int index, const std::string& html, MimeMessage2& root, int depth,
                     LogBase& log);
    bool addFramePage(const MhtmlResource& r, DataBuffer& bytes, const std::string& httpCharset,
                      const std::string& finalUrl, MimeMessage2& part, MimeMessage2& root, int depth, LogBase& log);
    void restoreUnincluded(std::string& html) const;

    MhtmlFetcher* m_fetcher;
    std::unique_ptr<HttpPageFetcher> m_http;
    std::string m_pageLocation;
    std::string m_uuid;
    std::string m_login;
    std::string m_password;
    std::vector<std::unique_ptr<MhtmlContext>> m_contexts;
    // Lower-case URL to Content-ID, over the whole capture, so a frame and
    // its parent share one part for one resource.
    std::unordered_map<std::string, std::string> m_cids;
    std::set<std::string> m_included;  // lower-case URLs with a part
    std::set<std::string> m_failed;    // lower-case URLs left out
    int m_frameCount = 0;
    int m_resourceCount = 0;
    int m_partIndex = 0;
    uint64_t m_capturedBytes = 0;
    bool m_resourcesLimitLogged = false;
    bool m_bytesLimitLogged = false;
    std::vector<std::string> m_importStack;
};

}  // namespace hanamail
