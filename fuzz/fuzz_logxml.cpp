// Arbitrary texts (server replies, file names, header values all end up in a
// log) through the activity log's XML rendering. What comes out must be
// well-formed: no control bytes, every CDATA section closed before any
// markup, every element closed.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/Logger.h"
#include "foundation/StringBuffer.h"

using namespace hanamail;

namespace {

void require(bool condition)
{
    if (!condition) __builtin_trap();
}

// Checks the parts of well-formedness that the log is responsible for.
void checkXml(const std::string& xml)
{
    size_t i = 0;
    int depth = 0;
    while (i < xml.size()) {
        unsigned char c = static_cast<unsigned char>(xml[i]);
        require(c >= 0x20 || c == '\t' || c == '\r' || c == '\n');
        if (xml.compare(i, 9, "<![CDATA[") == 0) {
            size_t end = xml.find("]]>", i + 9);
            require(end != std::string::npos);
            for (size_t k = i + 9; k < end; ++k) {
                unsigned char d = static_cast<unsigned char>(xml[k]);
                require(d >= 0x20 || d == '\t' || d == '\r' || d == '\n');
            }
            i = end + 3;
            continue;
        }
        if (c == '<') {
            size_t close = xml.find('>', i);
            require(close != std::string::npos);
            depth += xml[i + 1] == '/' ? -1 : 1;
            require(depth >= 0);
            i = close + 1;
            continue;
        }
        if (c == '&') {
            bool entity = false;
            for (const char* e : {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"})
                entity = entity || xml.compare(i, std::strlen(e), e) == 0;
            require(entity);
        }
        ++i;
    }
    require(depth == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Pieces separated by NUL: data values, messages, keywords.
    std::vector<std::string> pieces(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0)
            pieces.emplace_back();
        else
            pieces.back() += static_cast<char>(data[i]);
    }
    Logger log;
    log.enterContext("Fuzz", true);
    for (size_t k = 0; k < pieces.size(); ++k) {
        const char* text = pieces[k].c_str();
        switch (k % 3) {
            case 0: log.logData("value", text); break;
            case 1: log.logInfo(text); break;
            default: log.logError(text); break;
        }
    }
    if (size % 2 == 0) log.leaveContext();  // otherwise the context is left open
    StringBuffer xml;
    log.getXml(xml);
    checkXml(std::string(xml.getString(), static_cast<size_t>(xml.getSize())));
    StringBuffer text;
    log.getText(text);
    return 0;
}
