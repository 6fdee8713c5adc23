#include "tools/cli/EmailInput.h"
#include "tools/cli/CliText.h"

#include <cstring>

#include "component/ClsEmail.h"
#include "foundation/DataBuffer.h"
#include "foundation/HandleIo.h"
#include "foundation/StringBuffer.h"
#include "platform/FileSystem.h"
#include "tools/cli/CliArgs.h"

namespace hanamail {

namespace cli {

namespace {

const unsigned char kUtf8Bom[] = {0xEF, 0xBB, 0xBF};

bool hasBom(const DataBuffer& bytes)
{
    return bytes.getSize() >= 3 && std::memcmp(bytes.getData(), kUtf8Bom, 3) == 0;
}

}  // namespace

bool readInput(const char* path, DataBuffer& out, std::string& problem)
{
    const bool standardInput = path == nullptr || std::strcmp(path, "-") == 0;
    const std::string what = standardInput ? std::string("standard input") : quoted(path);
    platform::FileHandle in =
        standardInput ? platform::standardInput() : platform::openFile(path, platform::FileOpenMode::Read);
    if (in == platform::kInvalidFile) {
        problem = "cannot open " + what + ": " + platform::lastErrorText();
        return false;
    }
    const bool ok = HandleIo::readToEnd(in, out);
    if (!standardInput) platform::closeFile(in);
    // Above this the text could not be held as one string.
    if (ok && out.getSize() <= static_cast<uint32_t>(StringBuffer::kMaxLength)) return true;
    problem = (ok || out.hasFailed() ? what + " is too large" : "cannot read " + what);
    return false;
}

bool looksLikeXml(const DataBuffer& bytes)
{
    const char* p = reinterpret_cast<const char*>(bytes.getData());
    size_t n = bytes.getSize();
    if (hasBom(bytes)) {
        p += 3;
        n -= 3;
    }
    size_t k = 0;
    while (k < n && (p[k] == ' ' || p[k] == '\t' || p[k] == '\r' || p[k] == '\n')) ++k;
    const auto startsWith = [&](const char* s) {
        const size_t len = std::strlen(s);
        return n - k >= len && std::memcmp(p + k, s, len) == 0;
    };
    return startsWith("<?xml") || startsWith("<mime_message");
}

bool loadEmail(ClsEmail& email, const DataBuffer& bytes, EmailForm form, std::string& problem)
{
    const bool xml = form == EmailForm::Xml || (form == EmailForm::Sniff && looksLikeXml(bytes));
    StringBuffer text;
    const uint32_t skip = xml && hasBom(bytes) ? 3 : 0;
    if (!text.appendN(reinterpret_cast<const char*>(bytes.getData()) + skip,
                      static_cast<int32_t>(bytes.getSize() - skip))) {
        problem = "the input is too large";
        return false;
    }
    if (!xml) {
        if (email.SetFromMimeText(text)) return true;
        problem = "the MIME text gave no email";
        return false;
    }
    if (email.SetFromXmlText(text)) return true;
    problem = "the XML holds no email";
    return false;
}

bool loadEmailFile(ClsEmail& email, const char* path, EmailForm form, std::string& problem)
{
    DataBuffer bytes;
    if (!readInput(path, bytes, problem)) return false;
    std::string reason;
    if (loadEmail(email, bytes, form, reason)) return true;
    // The parser's lines say why; the reason follows them.
    StringBuffer text;
    email.getErrorTextUtf8(text, false);
    writeLogText(text);
    problem = reason;
    return false;
}

bool captureEmail(ClsEmail& email, const char* source, const CaptureSettings& settings)
{
    if (settings.timeoutSecs) email.SetCaptureTimeouts(settings.timeoutSecs, settings.timeoutSecs);
    if (settings.caFile) email.SetCaptureCaFile(fullPathArg(settings.caFile));
    email.SetCaptureInsecure(settings.insecure);
    email.SetCaptureAddressFamily(settings.family);
    return email.LoadHtmlComplete(fromArg(source));
}

}  // namespace cli

}  // namespace hanamail
