#include "component/ClsFileSys.h"

#include "charset/Charset.h"
#include "charset/CharsetCatalogue.h"
#include "charset/EncodingConvert.h"
#include "foundation/DataBuffer.h"
#include "foundation/FileSys.h"
#include "foundation/XString.h"
#include "platform/Platform.h"

namespace {
constexpr int kUtf16 = 1200;
constexpr int kUtf8 = 65001;
}  // namespace

bool ClsFileSys::ReadTextFile(const XString& fileName, const XString& charset, XString& outText)
{
    outText.clear();
    m_log.clearLog();
    LogContextExit context(m_log, "ReadTextFile");

    DataBuffer bytes;
    if (!FileSys::loadFile(fileName, bytes, &m_log))
        return false;
    int cp = charsetToCodePage(charset.getUtf8());
    // A charset the engine cannot read would hand raw bytes over as text.
    if (cp == 0 || !EncodingConvert::canConvert(cp))
        cp = platform::ansiCodePage();

    EncodingConvert ec;
    DataBuffer text;
    if (cp == kUtf16) {
        ec.convert(kUtf16, kUtf8, bytes.getData(), bytes.getSize(), text);
        outText.setFromUtf8N(reinterpret_cast<const char*>(text.getData()), static_cast<int32_t>(text.getSize()));
    } else {
        ec.convert(cp, kUtf16, bytes.getData(), bytes.getSize(), text);
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
