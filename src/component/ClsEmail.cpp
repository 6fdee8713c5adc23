#include "component/ClsEmail.h"

#include <string>
#include <vector>

#include "charset/Charset.h"
#include "charset/CharsetCatalogue.h"
#include "charset/CodePages.h"
#include "charset/UnicodeInfo.h"
#include "charset/Utf8Check.h"
#include "foundation/DataBuffer.h"
#include "foundation/FileSys.h"
#include "foundation/HandleIo.h"
#include "foundation/StringBuffer.h"
#include "foundation/StringPair.h"
#include "foundation/XString.h"
#include "html/HtmlHelp.h"
#include "mime/Email2.h"
#include "mime/MailTextCharset.h"
#include "mime/MimeMessage2.h"
#include "mime/MimeSink.h"
#include "platform/FileSystem.h"
#include "web/Mhtml.h"
#include "zip/ClsZip2.h"
#include "zip/ClsZipEntry2.h"
#include "zip/ZipDn.h"
#include "zip/ZipEntryDn.h"

namespace hanamail {

namespace {

uint32_t sizeOf(const StringBuffer& sb)
{
    return static_cast<uint32_t>(sb.getSize());
}

void trimmedUtf8(const XString& s, StringBuffer& out)
{
    out = s.getUtf8();
    out.trim2();
}

// Gives one node a charset. An HTML leaf goes through the model's charset
// setter so that its META declaration follows; other nodes only relabel
// their Content-Type (the body is converted when written).
void setNodeCharset(Email2& node, const Charset& cs)
{
    if (cs.getCodePage() == 0) return;
    if (!node.IsMultipart() && node.contentType().equalsIgnoreCase("text/html")) {
        node.SetCharset(cs);
        return;
    }
    node.SetContentType(node.contentType().getString(), node.name().getString(), node.protocol().getString(),
                        node.micalg().getString(), cs, node.boundary().getString(), node.smimeType().getString(),
                        node.type().getString());
}

bool convertsWithoutLoss(const StringBuffer& utf8, int cp)
{
    if (cp == 0 || cp == kUtf8) return true;
    // As the writer will convert it.
    DataBuffer out;
    return mailtext::convert(cp, utf8.getString(), sizeOf(utf8), out);
}

std::string lowerAscii(const std::string& s)
{
    std::string r(s);
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return r;
}

// Two entries of one name would leave one file where two were attached (and
// the later hidden on extraction): the second "name.ext" becomes
// "name (2).ext", the third "name (3).ext". Names compare without ASCII case,
// as the file systems archives are extracted to do.
void uniqueEntryName(StringBuffer& name, std::vector<std::string>& used)
{
    const std::string given(name.getString(), static_cast<size_t>(name.getSize()));
    auto taken = [&used](const std::string& candidate) {
        const std::string key = lowerAscii(candidate);
        for (const std::string& u : used)
            if (u == key) return true;
        return false;
    };
    std::string chosen = given;
    if (taken(chosen)) {
        const size_t slash = given.find_last_of("/\\");
        size_t dot = given.rfind('.');
        if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot == 0 || dot == slash + 1)
            dot = given.size();
        for (int k = 2; taken(chosen); ++k)
            chosen = given.substr(0, dot) + " (" + std::to_string(k) + ")" + given.substr(dot);
        name = chosen.c_str();
    }
    used.push_back(lowerAscii(chosen));
}

bool findParent(Email2& node, const Email2* target, Email2*& parent, int& index)
{
    for (int i = 0; i < node.GetPartCount(); ++i) {
        Email2* p = node.GetPart(i);
        if (p == target) {
            parent = &node;
            index = i;
            return true;
        }
        if (findParent(*p, target, parent, index)) return true;
    }
    return false;
}
}  // namespace

ClsEmail::ClsEmail() : m_email(Email2::NewEmail()) {}

ClsEmail::~ClsEmail()
{
    delete m_email;
    m_replacements.removeAllObjects();
}

void ClsEmail::ClearMail()
{
    delete m_email;
    m_email = Email2::NewEmail();
}

// ---- Text handed in

const XString& ClsEmail::wellFormed(const XString& in, const char* what, XString& repaired, bool log)
{
    const StringBuffer& utf8 = in.getUtf8Sb();
    const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.getString());
    const uint32_t n = sizeOf(utf8);
    if (utf8check::isValid(bytes, n)) return in;
    constexpr size_t kLines = 8;
    DataBuffer fixed;
    std::vector<uint32_t> offsets;
    const uint32_t count = utf8check::appendRepaired(bytes, n, fixed, offsets, kLines);
    repaired.setFromUtf8N(reinterpret_cast<const char*>(fixed.getData()), static_cast<int32_t>(fixed.getSize()));
    if (fixed.hasFailed()) repaired.clear();
    if (!log) return repaired;
    for (uint32_t at : offsets) {
        const std::string line =
            std::string("Invalid UTF-8 in the ") + what + " at offset " + std::to_string(at) + " replaced by U+FFFD";
        m_log.logInfo(line.c_str());
    }
    if (count > offsets.size()) {
        const std::string line = std::to_string(count - offsets.size()) + " more invalid UTF-8 sequences in the " +
                                 what + " replaced by U+FFFD";
        m_log.logInfo(line.c_str());
    }
    return repaired;
}

// ---- Recipients

bool ClsEmail::addRecipient(RecipientKind kind, const char* context, const XString& name, const XString& address)
{
    m_log.clearLog();
    LogContextExit ctx(m_log, context);

    XString fixedName, fixedAddress;
    const XString& nameIn = wellFormed(name, "name", fixedName);
    const XString& addressIn = wellFormed(address, "address", fixedAddress);
    StringBuffer n, a;
    trimmedUtf8(nameIn, n);
    trimmedUtf8(addressIn, a);
    m_log.logData("name", n.getString());
    m_log.logData("address", a.getString());
    if (a.isEmpty()) {
        m_log.logError("No Email Address was provided");
        return false;
    }

    bool ok = false;
    switch (kind) {
        case RecipientKind::To: ok = m_email->AddTo(n.getString(), a.getString()); break;
        case RecipientKind::Cc: ok = m_email->AddCc(n.getString(), a.getString()); break;
        case RecipientKind::Bcc: ok = m_email->AddBcc(n.getString(), a.getString()); break;
    }
    if (!ok) {
        StringBuffer msg("Invalid email address: name = [");
        msg << n;
        msg << "], address = [";
        msg << a;
        msg << "]";
        m_log.logError(msg.getString());
    }
    return ok;
}

bool ClsEmail::AddTo(const XString& name, const XString& address)
{
    return addRecipient(RecipientKind::To, "AddTo", name, address);
}

bool ClsEmail::AddCC(const XString& name, const XString& address)
{
    return addRecipient(RecipientKind::Cc, "AddCC", name, address);
}

bool ClsEmail::AddBcc(const XString& name, const XString& address)
{
    return addRecipient(RecipientKind::Bcc, "AddBcc", name, address);
}

void ClsEmail::AddRecipientOfType(const XString& type, const XString& name, const XString& address)
{
    const StringBuffer& t = type.getUtf8Sb();
    if (t.equalsIgnoreCase("To"))
        (void)AddTo(name, address);
    else if (t.equalsIgnoreCase("CC"))
        (void)AddCC(name, address);
    else if (t.equalsIgnoreCase("Bcc"))
        (void)AddBcc(name, address);
}

bool ClsEmail::AddHeaderField(const XString& name, const XString& value)
{
    m_log.clearLog();
    LogContextExit ctx(m_log, "AddHeaderField");
    XString fixedName, fixedValue;
    StringBuffer n;
    trimmedUtf8(wellFormed(name, "field name", fixedName), n);
    const char* v = wellFormed(value, "field value", fixedValue).getUtf8();
    if (n.isEmpty()) {
        m_log.logError("No header field name was provided");
        return false;
    }
    if (!Email2::isFieldName(n.getString())) {
        logRefused("Invalid header field name: ", n);
        return false;
    }
    if (m_email->AddHeaderField(n.getString(), v)) return true;
    const StringBuffer given(v);
    if (n.equalsIgnoreCase("Date"))
        logRefused("Invalid date: ", given);
    else
        logRefused("Invalid email address: ", given);
    return false;
}

void ClsEmail::logRefused(const char* what, const StringBuffer& text)
{
    StringBuffer msg(what);
    msg << '[';
    msg << text;
    msg << ']';
    m_log.logError(msg.getString());
}

// ---- Bodies

void ClsEmail::chooseCharsetFor(Email2& node, const XString& text)
{
    Charset cs;
    UnicodeInfo::chooseCharset(text.getUnicode(), text.getNumChars(), cs);
    setNodeCharset(node, cs);
}

void ClsEmail::SetPlainBody(const XString& textIn)
{
    XString fixed;
    const XString& text = wellFormed(textIn, "text", fixed, false);
    if (&text != &textIn) {
        // Only a repair is worth a log of its own here.
        m_log.clearLog();
        LogContextExit ctx(m_log, "SetPlainBody");
        (void)wellFormed(textIn, "text", fixed);
    }
    if (m_email->charset().getCodePage() == 0 && !text.isEmpty()) chooseCharsetFor(*m_email, text);

    if (m_email->contentType().equalsIgnoreCase("text/html")) {
        m_email->SetContentType("text/plain", m_email->name().getString(), m_email->protocol().getString(),
                                m_email->micalg().getString(), m_email->charset(), m_email->boundary().getString(),
                                m_email->smimeType().getString(), m_email->type().getString());
    }
    const StringBuffer& utf8 = text.getUtf8Sb();
    m_email->SetTextBody(utf8.getString(), sizeOf(utf8), false);
}

void ClsEmail::SetHtmlBodyFromUtf8(const XString& htmlIn)
{
    m_log.clearLog();
    LogContextExit ctx(m_log, "SetHtmlBodyFromUtf8");
    XString fixed;
    const XString& html = wellFormed(htmlIn, "HTML", fixed);

    const StringBuffer& utf8 = html.getUtf8Sb();
    m_email->SetHtmlBody(utf8.getString(), sizeOf(utf8));

    Email2* part = m_email->FindHtmlBody();
    Email2& target = part ? *part : *m_email;
    StringBuffer declared;
    if (target.charset().getCodePage() == 0 && !HtmlHelp::getMetaCharset(utf8, declared) && !html.isEmpty())
        chooseCharsetFor(target, html);
}

bool ClsEmail::AddHtmlAltBodyUtf8(const XString& htmlIn)
{
    m_log.clearLog();
    LogContextExit ctx(m_log, "AddHtmlAltBodyUtf8");
    XString fixed;
    const XString& html = wellFormed(htmlIn, "HTML", fixed);

    const StringBuffer& utf8 = html.getUtf8Sb();
    Email2* part = m_email->FindHtmlBody();
    if (part) {
        part->SetHtmlBody(utf8.getString(), sizeOf(utf8));
    } else {
        // The message's charset only when it can hold the HTML.
        Charset cs(m_email->charset());
        if (!convertsWithoutLoss(utf8, cs.getCodePage())) cs.setByCodePage(kUtf8);
        Email2* made = Email2::NewHtmlPart(utf8.getString(), sizeOf(utf8), cs);
        if (!made) return false;
        m_email->AddAlternativeBody(made);
        part = m_email->FindHtmlBody();
    }
    if (part && part->charset().getCodePage() == 0 && !html.isEmpty()) chooseCharsetFor(*part, html);
    return true;
}

bool ClsEmail::AddPlainTextAltBodyUtf8(const XString& textIn)
{
    m_log.clearLog();
    LogContextExit ctx(m_log, "AddPlainTextAltBodyUtf8");
    XString fixed;
    const XString& text = wellFormed(textIn, "text", fixed);

    const StringBuffer& utf8 = text.getUtf8Sb();
    Email2* part = Email2::NewPlainTextPart(utf8.getString(), sizeOf(utf8));
    if (!part) return false;
    m_email->AddAlternativeBody(part);
    return true;
}

bool ClsEmail::AddPlainTextAltBody(const XString& text)
{
    // The inner call logs the repairs.
    XString fixed;
    const XString& t = wellFormed(text, "text", fixed, false);
    if (m_email->charset().getCodePage() == 0 && !t.isEmpty()) chooseCharsetFor(*m_email, t);
    return AddPlainTextAltBodyUtf8(text);
}

bool ClsEmail::HasPlainTextBody() const
{
    const bool plainTop = m_email->contentType().equalsIgnoreCase("text/plain");
    // A new email is an empty text/plain entity; HTML set on it must not gain
    // an empty plain-text alternative that plain readers show as blank.
    if (plainTop && m_email->GetPartCount() == 0 && m_email->body().getSize() == 0) return false;
    return plainTop || m_email->FindPlainTextBody(false) != nullptr;
}

bool ClsEmail::HasHtmlBody() const
{
    return m_email->FindHtmlBody() != nullptr;
}

// ---- Attachments

bool ClsEmail::AddFileAttachment(const XString& fileName, XString& outContentType)
{
    m_log.clearLog();
    LogContextExit ctx(m_log, "AddFileAttachment");
    // The file is opened by its name as given; the name in the email is repaired.
    XString repairedName;
    (void)wellFormed(fileName, "file name", repairedName);
    StringBuffer type;
    const bool ok = m_email->AddFileAttachment(fileName.getUtf8(), nullptr, type, m_log);
    outContentType.setFromUtf8(type.getString());
    if (!ok) m_log.logError("Failed to add file attachment");
    return ok;
}

bool ClsEmail::AddDataAttachment(const XString& fileName, const DataBuffer& data, XString& outContentType)
{
    m_log.clearLog();
    LogContextExit ctx(m_log, "AddDataAttachment");
    XString fixedName;
    StringBuffer name;
    trimmedUtf8(wellFormed(fileName, "file name", fixedName), name);
    StringBuffer type;
    const bool ok = m_email->AddDataAttachment(name.getString(), nullptr, data.getData(), data.getSize(), type);
    outContentType.setFromUtf8(type.getString());
    if (!ok) m_log.logError("Failed to add data attachment");
    return ok;
}

bool ClsEmail::AddStringAttachment(const XString& fileName, const XString& text)
{
    m_log.clearLog();
    LogContextExit ctx(m_log, "AddStringAttachment");
    XString fixedName, fixedText;
    StringBuffer name;
    trimmedUtf8(wellFormed(fileName, "file name", fixedName), name);
    const StringBuffer& utf8 = wellFormed(text, "text", fixedText).getUtf8Sb();
    StringBuffer type;
    const bool ok = m_email->AddTextAttachment(name.getString(), nullptr, utf8.getString(), sizeOf(utf8), type);
    if (!ok) m_log.logError("Failed to add data attachment");
    return ok;
}

bool ClsEmail::ZipAttachments(const XString& zipFileName)
{
    m_log.clearLog();
    LogContextExit ctx(m_log, "ZipAttachments");
    if (!m_email) {
        m_log.logError("Internal email pointer is NULL");
        return false;
    }
    const int n = m_email->GetAttachmentCount();
    if (n == 0) return true;

    m_log.logData("ZipFilename", zipFileName.getUtf8());
    m_log.logDataLong("NumAttachments", n);
    XString fixedZipName;
    StringBuffer zipName;
    trimmedUtf8(wellFormed(zipFileName, "file name", fixedZipName), zipName);
    if (zipName.isEmpty()) zipName = "attach.zip";

    ZipDn zip = ZipDn::createNewArchive();
    ClsZip2* archive = zip.archive();
    if (!archive) {
        m_log.logError("Failed to set Zip as an attachment");
        return false;
    }

    // Nothing leaves the message until the archive holding it is attached.
    std::vector<int> zipped;
    std::vector<std::string> used;
    StringBuffer name;
    for (int i = 0; i < n; ++i) {
        const Email2* part = m_email->GetAttachment(i);
        Email2::GetAttachmentFilename(*part, name);
        uniqueEntryName(name, used);
        ZipEntryDn entry = archive->AppendData(name.getString(), part->body().getData(), part->body().getSize(), m_log);
        ClsZipEntry2* e = entry.entry();
        if (!e || !e->SetCompressionMethod(8) || !e->SetCompressionLevel(6)) {
            m_log.logError("Failed to add file to Zip archive");
            m_log.logData("failed_filename", name.getString());
            continue;
        }
        m_log.logData("added_file", name.getString());
        zipped.push_back(i);
    }
    // An archive without entries would stand in for nothing.
    if (zipped.empty()) return false;

    DataBuffer bytes;
    StringBuffer type;
    if (!archive->WriteToMemory(bytes, m_log) ||
        !m_email->AddDataAttachment(zipName.getString(), nullptr, bytes.getData(), bytes.getSize(), type)) {
        m_log.logError("Failed to set Zip as an attachment");
        return false;
    }

    // The archive went in last, so the earlier attachments keep their
    // positions (a root that was itself the attachment is now part 0).
    for (auto it = zipped.rbegin(); it != zipped.rend(); ++it) {
        Email2* part = m_email->GetAttachment(*it);
        Email2* parent = nullptr;
        int index = -1;
        if (part && findParent(*m_email, part, parent, index)) parent->RemovePart(index);
    }
    return true;
}

// ---- Output

namespace {

// Writes into a file opened with the first bytes; a file left incomplete is removed.
class FileMimeSink : public MimeSink {
public:
    FileMimeSink(const char* name, LogBase& log) : m_name(name), m_log(log) {}
    ~FileMimeSink() override { (void)finish(false); }

    bool write(const char* bytes, size_t n) override
    {
        if (m_handle == platform::kInvalidFile) {
            if (m_opened) return false;
            m_opened = true;
            m_handle = FileSys::openForWrite(m_name, FileSys::formOf(m_name), &m_log);
            if (m_handle == platform::kInvalidFile) return false;
        }
        if (HandleIo::writeAll(m_handle, bytes, n)) return true;
        m_log.logError(platform::lastErrorText().c_str());
        return false;
    }

    bool opened() const { return m_opened; }

    // Closes the file; unless all went well, a file this sink made is removed.
    bool finish(bool ok)
    {
        if (m_handle != platform::kInvalidFile) {
            FileSys::closeFile(m_handle);
            m_handle = platform::kInvalidFile;
            if (!ok) FileSys::deleteFile(m_name);
        }
        return ok && m_opened;
    }

private:
    const char* m_name;
    LogBase& m_log;
    platform::FileHandle m_handle = platform::kInvalidFile;
    bool m_opened = false;
};

}  // namespace

void ClsEmail::noteCharsetFallback(const std::string& charset)
{
    m_charsetNotice.clear();
    if (charset.empty()) return;
    m_charsetNotice << "The charset " << charset << " cannot hold every character; utf-8 is used.";
    m_log.logInfo(m_charsetNotice.getString());
}

void ClsEmail::logBufferFailure(const StringBuffer& text)
{
    // Beyond the size a buffer can hold the text is too large; below it memory ran out.
    m_log.logError(text.failure() == BufferFailure::OutOfMemory ? "Out of memory" : "Email too large");
}

bool ClsEmail::textOut(bool written, const StringBuffer& text, XString& out)
{
    if (!written) {
        out.clear();
        return false;
    }
    out.setFromUtf8N(text.getString(), text.getSize());
    return true;
}

bool ClsEmail::fileNameParam(const XString& fileName, StringBuffer& name)
{
    trimmedUtf8(fileName, name);
    if (!name.isEmpty()) return true;
    m_log.logError("The filename parameter is missing");
    return false;
}

bool ClsEmail::writeMime(StringBuffer& mime)
{
    mailtext::Watch watch;
    const bool written = m_email->GetMimeText(mime);
    noteCharsetFallback(watch.fellBack());
    if (written) return true;
    logBufferFailure(mime);
    mime.clear();
    return false;
}

bool ClsEmail::GetMime(XString& outMime)
{
    m_log.clearLog();
    LogContextExit ctx(m_log, "GetMime");
    StringBuffer mime;
    return textOut(writeMime(mime), mime, outMime);
}

bool ClsEmail::GetMimeSb(StringBuffer& outMime)
{
    m_log.clearLog();
    LogContextExit ctx(m_log, "GetMime");
    outMime.clear();
    return writeMime(outMime);
}

bool ClsEmail::SaveEml(const XString& fileName)
{
    m_log.clearLog();
    LogContextExit ctx(m_log, "SaveEml");
    StringBuffer name;
    if (!fileNameParam(fileName, name)) return false;
    // The text goes to the file as it is written, so a large email is never
    // held whole; the file is opened with the first bytes, so an email that
    // cannot be written leaves an existing file as it was.
    FileMimeSink file(name.getString(), m_log);
    const bool written = streamMime(file);
    m_email->RemoveHeaderField("X-Unsent");
    if (!file.finish(written)) {
        if (file.opened()) m_log.logError("Failed to write EML file.");
        return false;
    }
    return true;
}

bool ClsEmail::WriteMime(MimeSink& sink)
{
    m_log.clearLog();
    LogContextExit ctx(m_log, "GetMime");
    return streamMime(sink);
}

bool ClsEmail::streamMime(MimeSink& sink)
{
    StringBuffer work;
    mailtext::Watch watch;
    const bool written = m_email->WriteMimeText(work, nullptr, sink);
    noteCharsetFallback(watch.fellBack());
    if (written) return true;
    if (work.hasFailed()) logBufferFailure(work);
    return false;
}

// ---- XML form

bool ClsEmail::writeXml(StringBuffer& xml)
{
    if (m_email->GetXml(xml, true)) return true;
    if (xml.hasFailed())
        logBufferFailure(xml);
    else
        // A failure must say why: here the header gave no XML at all.
        m_log.logError("The email's header has no XML form");
    xml.clear();
    return false;
}

bool ClsEmail::GetXml(XString& outXml)
{
    m_log.clearLog();
    LogContextExit ctx(m_log, "GetXml");
    StringBuffer xml;
    return textOut(writeXml(xml), xml, outXml);
}

bool ClsEmail::SaveXml(const XString& fileName)
{
    m_log.clearLog();
    LogContextExit ctx(m_log, "SaveXml");
    StringBuffer name;
    if (!fileNameParam(fileName, name)) return false;
    StringBuffer xml("<?xml version=\"1.0\" ?>\n");
    if (!writeXml(xml)) return false;
    xml.toLf();
    return FileSys::writeFile(name.getString(), xml.getString(), static_cast<uint32_t>(xml.getSize()), &m_log);
}

bool ClsEmail::SetFromMimeText(const StringBuffer& mimeUtf8, bool unwrapSecure)
{
    m_log.clearLog();
    LogContextExit ctx(m_log, "SetFromMimeText");
    // The reader refuses nothing; only a lack of memory leaves no email.
    MimeMessage2 entity;
    entity.ParseMime(mimeUtf8.getString(), static_cast<uint32_t>(mimeUtf8.getSize()), m_log);
    Email2* email = Email2::ToEmail(entity, unwrapSecure, m_log);
    if (!email) {
        m_log.logError("Failed to create email object from MIME text");
        return false;
    }
    delete m_email;
    m_email = email;
    return true;
}

bool ClsEmail::SetFromXmlText(const StringBuffer& xmlUtf8)
{
    m_log.clearLog();
    // The new message replaces the old one only when it could be read whole.
    Email2* email = Email2::ImportXml(xmlUtf8.getString(), xmlUtf8.getSize(), &m_log);
    if (!email) return false;
    delete m_email;
    m_email = email;
    return true;
}

// ---- Web page capture

void ClsEmail::SetCaptureTimeouts(int connectSeconds, int readSeconds)
{
    m_captureConnectS = connectSeconds > 0 ? connectSeconds : 10;
    m_captureReadS = readSeconds > 0 ? readSeconds : 10;
}

void ClsEmail::SetCaptureCaFile(const XString& path)
{
    const char* p = path.getUtf8();
    m_captureCaFile = p ? p : "";
}

void ClsEmail::SetCaptureInsecure(bool insecure)
{
    m_captureInsecure = insecure;
}

void ClsEmail::SetCaptureAddressFamily(platform::AddressFamily family)
{
    m_captureFamily = family;
}

bool ClsEmail::LoadHtmlComplete(const XString& urlOrFile)
{
    const char* arg = urlOrFile.getUtf8();
    if (!arg || !*arg) return false;
    StringBuffer mime;
    Mhtml capture;
    capture.setTimeoutsS(static_cast<uint32_t>(m_captureConnectS), static_cast<uint32_t>(m_captureReadS));
    platform::TlsSettings tls;
    tls.caFile = m_captureCaFile;
    tls.insecure = m_captureInsecure;
    capture.setTls(tls);
    capture.setAddressFamily(m_captureFamily);
    const bool captured =
        Mhtml::isUrl(arg) ? capture.captureUrl(arg, mime, m_log) : capture.captureFile(arg, "", mime, m_log);
    if (!captured) return false;
    MimeMessage2 entity;
    entity.ParseMime(mime.getString(), static_cast<uint32_t>(mime.getSize()), m_log);
    mime.clear();
    Email2* email = Email2::ToEmail(entity, false, m_log);
    if (!email) {
        m_log.logError("Failed to create email object from MIME text");
        return false;
    }
    email->CopyAddressingFrom(*m_email);
    delete m_email;
    m_email = email;
    return true;
}

// ---- Charset

void ClsEmail::GetCharset(XString& outName)
{
    StringBuffer name;
    m_email->GetCharset(name);
    outName.setFromUtf8(name.getString());
}

bool ClsEmail::SetCharset(const XString& charsetName)
{
    // A charset that cannot be written would leave the text unlabelled or lost.
    const int cp = charsetToCodePage(charsetName.getUtf8());
    if (cp == 0 || !isConvertibleCodePage(cp) || !preferredCharsetName(cp)) return true;
    Charset cs;
    cs.setByName(charsetName.getUtf8());
    if (cs.getCodePage() == 0) return true;
    m_email->SetCharset(cs);
    return true;
}

}  // namespace hanamail
