#pragma once
#include <string>
#include <string_view>

namespace hanamail {

// The URL forms the page capture meets in pages: http(s) URLs, file URLs and
// local paths, and the bits of them a MIME part is named and typed by.
class CaptureUrl {
public:
    CaptureUrl() = delete;

    // "http://" or "https://", case ignored.
    static bool isHttp(std::string_view url);
    // "http:" or "https:" at the start, case ignored: what LoadHtmlComplete fetches.
    static bool looksLikeUrl(std::string_view arg);
    // A name of something on this machine: "file:" in any case, a drive
    // letter ("C:\\", "C:/", "C|/"), or a ":/" or ":\\" that is no http URL.
    static bool isLocalForm(std::string_view ref);
    // Schemes whose references are left as they are and never read.
    static bool isInert(std::string_view ref);

    // The path a file URL or a local reference names: "file:///data/a.htm"
    // is "/data/a.htm", "file:///C:/a.htm" and "file:///C|/a.htm" "C:/a.htm";
    // percent escapes are decoded.
    static std::string localPath(std::string_view ref);
    // The directory part of a local path ("" for none), with its "/".
    static std::string localDirectory(std::string_view path);
    // ref read from a local sheet or page at path: relative to its directory.
    static std::string joinLocal(std::string_view fromPath, std::string_view ref);

    // Images named with a query ("a.gif?x=1") are fetched without it.
    static std::string cutImageQuery(std::string_view url);
    // The last path segment, before "?" and "#".
    static std::string fileName(std::string_view url);
    // The text after the last "." of fileName, lower case; hasDot says
    // whether there was one, slashEnd whether the path ends with "/".
    static std::string extension(std::string_view url, bool& hasDot, bool& slashEnd);
    // Whether url names an HTML page by its extension (".htm", ".asp", ".jsp", ".php").
    static bool isHtmlPage(std::string_view url);

    // The root (scheme and host) and base (the directory) of a page URL, as
    // the log shows them.
    static void rootAndBase(std::string_view url, std::string& root, std::string& base);
    // url without "#..." and, with query set, without "?...".
    static std::string withoutFragment(std::string_view url);
};

}  // namespace hanamail
