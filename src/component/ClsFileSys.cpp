#include "component/ClsFileSys.h"

#include <string>
#include <vector>

#include "charset/Charset.h"
#include "charset/CharsetCatalogue.h"
#include "charset/CodePages.h"
#include "charset/EncodingConvert.h"
#include "charset/Utf8Check.h"
#include "foundation/DataBuffer.h"
#include "foundation/FileSys.h"
#include "foundation/XString.h"
#include "platform/Platform.h"

namespace hanamail {

namespace {
}  // namespace

bool ClsFileSys::ReadTextFile(const XString& fileName, const XString& charset, XString& outText)
{
    return readFile(fileName, charset.getUtf8(), outText, nullptr);
}

bool ClsFileSys::ReadUtf8TextFile(const XString& fileName, XString& outText, Utf8Problem& problem)
{
    problem = Utf8Problem();
    return readFile(fileName, "utf-8", outText, &problem);
}

bool ClsFileSys::TextFromBytes(const DataBuffer& bytes, const XString& charset, XString& outText, Utf8Problem* problem)
{
    outText.clear();
    m_log.clearLog();
    LogContextExit context(m_log, "TextFromBytes");
    if (problem) *problem = Utf8Problem();
    return decode(bytes, charset.getUtf8(), outText, problem);
}

bool ClsFileSys::readFile(const XString& fileName, const char* charset, XString& outText, Utf8Problem* problem)
{
    outText.clear();
    m_log.clearLog();
    LogContextExit context(m_log, "ReadTextFile");

    DataBuffer bytes;
    if (!FileSys::loadFile(fileName, bytes, &m_log)) return false;
    return decode(bytes, charset, outText, problem);
}

bool ClsFileSys::decode(const DataBuffer& bytes, const char* charset, XString& outText, Utf8Problem* problem)
{
    const unsigned char* p = bytes.getData();
    uint32_t n = bytes.getSize();
    uint32_t markLength = 0;
    int cp = FileSys::textMark(p, n, markLength);
    if (cp != 0) {
        p += markLength;
        n -= markLength;
    } else {
        cp = charsetToCodePage(charset);
        // A charset the engine cannot read would hand raw bytes over as text.
        if (cp == 0 || !EncodingConvert::canConvert(cp)) cp = platform::ansiCodePage();
    }

    EncodingConvert ec;
    DataBuffer text;
    if (cp == kUtf8) {
        const uint32_t bad = utf8check::firstInvalid(p, n);
        if (bad == n) {
            outText.setFromUtf8N(reinterpret_cast<const char*>(p), static_cast<int32_t>(n));
            return true;
        }
        if (problem) {
            problem->found = true;
            problem->offset = bad + markLength;
            problem->byte = p[bad];
            m_log.logError("The text is not valid UTF-8");
            m_log.logDataLong("offset", static_cast<int32_t>(problem->offset));
            return false;
        }
        // Nothing is dropped unseen: each ill-formed sequence stands as U+FFFD.
        std::vector<uint32_t> offsets;
        const uint32_t count = utf8check::appendRepaired(p, n, text, offsets, 8);
        for (uint32_t at : offsets) {
            const std::string line =
                "Invalid UTF-8 at offset " + std::to_string(at + markLength) + " replaced by U+FFFD";
            m_log.logInfo(line.c_str());
        }
        if (count > offsets.size()) {
            const std::string line =
                std::to_string(count - offsets.size()) + " more invalid UTF-8 sequences replaced by U+FFFD";
            m_log.logInfo(line.c_str());
        }
        if (text.hasFailed()) {
            m_log.logError("Out of memory");
            return false;
        }
        outText.setFromUtf8N(reinterpret_cast<const char*>(text.getData()), static_cast<int32_t>(text.getSize()));
    } else if (cp == kUtf16) {
        ec.convert(kUtf16, kUtf8, p, n, text);
        outText.setFromUtf8N(reinterpret_cast<const char*>(text.getData()), static_cast<int32_t>(text.getSize()));
    } else {
        ec.convert(cp, kUtf16, p, n, text);
        outText.setFromUnicodeN(reinterpret_cast<const OLECHAR*>(text.getData()), text.getSize() / 2);
    }
    return true;
}

bool ClsFileSys::WriteTextFile(const XString& fileName, const XString& charset, const XString& text)
{
    // Nothing is logged, but a previous operation's lines must not pass for this one's.
    m_log.clearLog();
    Charset cs;
    cs.setByName(charset.getUtf8());
    if (cs.getCodePage() == 0 || !EncodingConvert::canConvert(cs.getCodePage()))
        cs.setByCodePage(platform::ansiCodePage());
    DataBuffer bytes;
    text.getConverted(cs, bytes);
    return FileSys::writeFile(fileName, bytes.getData(), bytes.getSize(), nullptr);
}

}  // namespace hanamail
