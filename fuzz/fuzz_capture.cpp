// A page and the resources it names, all from the input, through the page
// capture: tags, CSS, includes, frames and charsets. Sections are separated
// by a line "=====": the first is the page, each other is "NAME\n" then the
// bytes served (over HTTP from memory, or as a file beside the page when the
// input starts with "F"). The capture must not crash, must leave the current
// directory where it was, and every Content-ID it writes must name a part.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

#include "foundation/DataBuffer.h"
#include "foundation/FileSys.h"
#include "foundation/Logger.h"
#include "foundation/StringBuffer.h"
#include "mime/MimeMessage2.h"
#include "web/Mhtml.h"
#include "web/MhtmlFetcher.h"

using namespace hanamail;

namespace {

void require(bool condition)
{
    if (!condition) __builtin_trap();
}

const std::string kSite = "http://f.test/d/";

class InputFetcher : public MhtmlFetcher {
public:
    std::map<std::string, std::string> files;
    bool fetch(const char* url, const char*, const char*, DataBuffer& body, MhtmlFetched& got, LogBase&) override
    {
        body.clear();
        got.finalUrl = url;
        auto it = files.find(url);
        got.status = it == files.end() ? 404 : 200;
        if (it != files.end()) (void)body.append(it->second.data(), static_cast<uint32_t>(it->second.size()));
        // A name ending in "!" is served as a redirect target elsewhere.
        if (it != files.end() && !it->first.empty() && it->first.back() == '!') got.finalUrl = kSite + "r/x.htm";
        return true;
    }
};

std::vector<std::string> sections(const std::string& input)
{
    std::vector<std::string> out;
    size_t from = 0;
    for (;;) {
        const size_t at = input.find("\n=====\n", from);
        out.push_back(input.substr(from, at == std::string::npos ? std::string::npos : at - from));
        if (at == std::string::npos) return out;
        from = at + 7;
    }
}

// Each Content-ID the capture made is a part's.
void checkCids(const StringBuffer& mime)
{
    MimeMessage2 root;
    root.ParseMime(mime.getString(), static_cast<uint32_t>(mime.getSize()));
    std::vector<std::string> ids;
    for (int i = 0; i < root.GetSubPartCount(); ++i) {
        StringBuffer id;
        (void)root.GetSubPart(i)->header().GetFieldValue("Content-ID", id);
        ids.push_back(id.getString());
    }
    for (int i = 0; i < root.GetSubPartCount(); ++i) {
        const DataBuffer& b = root.GetSubPart(i)->body();
        const std::string text(reinterpret_cast<const char*>(b.getData()), b.getSize());
        StringBuffer type(root.GetSubPart(i)->contentType().getString());
        if (!type.equalsIgnoreCase("text/html")) continue;
        for (size_t at = text.find("cid:TEMBRIX-CID-"); at != std::string::npos;
             at = text.find("cid:TEMBRIX-CID-", at + 1)) {
            const std::string id = text.substr(at + 4, 12 + 36);
            bool found = false;
            for (const std::string& s : ids) found = found || s == "<" + id + ">";
            require(found);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 64 * 1024) return 0;
    const std::string input(reinterpret_cast<const char*>(data), size);
    // Text that already holds our Content-IDs can name what is not there.
    const bool judged = input.find("TEMBRIX") == std::string::npos;
    const bool asFiles = !input.empty() && input[0] == 'F';
    std::vector<std::string> parts = sections(input);
    StringBuffer before;
    (void)FileSys::getCurrentDirectory(before);

    Logger log;
    StringBuffer mime;
    bool ok;
    if (asFiles) {
        static const std::filesystem::path dir =
            std::filesystem::temp_directory_path() / ("hanamail-fuzz-capture-" + std::to_string(::getpid()));
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
        std::filesystem::create_directories(dir / "sub", ec);
        for (size_t i = 1; i < parts.size(); ++i) {
            const size_t nl = parts[i].find('\n');
            std::string name = parts[i].substr(0, nl);
            if (name.empty() || name.find("..") != std::string::npos || name.find('/') != std::string::npos) continue;
            std::ofstream(dir / "sub" / name, std::ios::binary)
                << (nl == std::string::npos ? std::string() : parts[i].substr(nl + 1));
        }
        std::ofstream(dir / "sub" / "page.htm", std::ios::binary) << parts[0].substr(1);
        Mhtml m;
        ok = m.captureFile((dir / "sub" / "page.htm").string().c_str(), "", mime, log);
    } else {
        InputFetcher fetcher;
        fetcher.files[kSite + "page.htm"] = parts[0];
        for (size_t i = 1; i < parts.size(); ++i) {
            const size_t nl = parts[i].find('\n');
            fetcher.files[kSite + parts[i].substr(0, nl)] =
                nl == std::string::npos ? std::string() : parts[i].substr(nl + 1);
        }
        Mhtml m(&fetcher);
        ok = m.captureUrl((kSite + "page.htm").c_str(), mime, log);
    }
    StringBuffer after;
    (void)FileSys::getCurrentDirectory(after);
    require(after.equals(before.getString()));
    if (ok && judged) checkCids(mime);
    return 0;
}
