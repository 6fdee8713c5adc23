#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "charset/ContentCoding.h"
#include "charset/Utf8Check.h"
#include "component/ClsEmail.h"
#include "foundation/DataBuffer.h"
#include "foundation/HandleIo.h"
#include "foundation/StringBuffer.h"
#include "foundation/XString.h"
#include "mime/Email2.h"
#include "mime/Rfc822Address.h"
#include "platform/FileSystem.h"
#include "tools/cli/CliArgs.h"
#include "tools/cli/CliIo.h"
#include "tools/cli/CliText.h"
#include "tools/cli/Commands.h"
#include "tools/cli/EmailInput.h"
#include "tools/cli/MessageView.h"
#include "tools/cli/Sha256.h"

namespace hanamail {

namespace {

const char kHelp[] =
    "usage: hanamail show [OPTIONS] FILE\n"
    "Reads an email, MIME text or its XML form (\"-\": standard input), and shows its\n"
    "subject, sender, recipients, date, charset, MIME structure and attachments.\n"
    "\n"
    "  --text                  print only the plain-text body, as UTF-8\n"
    "  --html                  print only the HTML body, as UTF-8\n"
    "  --json                  print subject, from, to, cc, date, text, html and the\n"
    "                          attachments (filename, content_type, size, sha256) as JSON\n"
    "  --save-attachments DIR  write each attachment into DIR under a safe name; an\n"
    "                          existing file is never replaced (\" (2)\" goes before the\n"
    "                          extension instead)\n"
    "  --log-xml FILE          save the activity log of the reading as XML\n"
    "  --help                  this text\n"
    "\n"
    "The bodies are those a mail reader shows: the first text/plain (text/html) part\n"
    "not marked as an attachment, a multipart/related one only through its root part,\n"
    "never inside an attached message. Every other part is an attachment.\n"
    "Exit status: 0 on success; 1 when the input cannot be read, its XML holds no\n"
    "email or an attachment cannot be saved; 2 for a usage error.\n";

int usage(const std::string& problem)
{
    std::fprintf(stderr, "hanamail show: %s\nusage: hanamail show [OPTIONS] FILE   (--help lists them)\n",
                 problem.c_str());
    return 2;
}

enum class Output { Summary, Text, Html, Json };

struct Options {
    const char* input = nullptr;
    const char* saveDir = nullptr;
    const char* logXml = nullptr;
    Output output = Output::Summary;
};

int parse(int argc, char** argv, Options& o, bool& helpShown)
{
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
            std::fputs(kHelp, stdout);
            helpShown = true;
            return 0;
        }
        const struct {
            const char* name;
            Output output;
        } outputs[] = {{"--text", Output::Text}, {"--html", Output::Html}, {"--json", Output::Json}};
        bool done = false;
        for (const auto& out : outputs) {
            if (std::strcmp(a, out.name) != 0) continue;
            if (o.output != Output::Summary) return usage("only one of --text, --html and --json can be given");
            o.output = out.output;
            done = true;
        }
        bool matched = false;
        const char* value = nullptr;
        for (const char** slot : {&o.saveDir, &o.logXml}) {
            if (done) break;
            const char* name = slot == &o.saveDir ? "--save-attachments" : "--log-xml";
            if (cli::takeValue(argc, argv, i, name, value, matched)) {
                if (*slot) return usage(std::string(name) + " given twice");
                *slot = value;
                done = true;
            } else if (matched) {
                return usage(cli::quoted(a) + " needs a value");
            }
        }
        if (done) continue;
        if (a[0] == '-' && a[1] != '\0') return usage("unknown argument " + cli::quoted(a));
        if (o.input) return usage("only one FILE can be shown");
        o.input = a;
    }
    if (!o.input) return usage("FILE is missing");
    return 0;
}

std::string fieldText(const Email2& e, const char* name)
{
    StringBuffer v;
    if (!e.GetHeaderField(name, v)) return std::string();
    return std::string(v.getString(), static_cast<size_t>(v.getSize()));
}

std::string decodedField(const Email2& e, const char* name)
{
    StringBuffer v;
    if (!e.GetHeaderField(name, v)) return std::string();
    ContentCoding coding;
    coding.decodeEncodedWords(v);
    return std::string(v.getString(), static_cast<size_t>(v.getSize()));
}

struct Mailbox {
    std::string name;
    std::string address;
};

Mailbox mailbox(const Rfc822Address& a)
{
    StringBuffer name, address;
    a.GetFriendlyName(name);
    a.GetAddress(address);
    return {name.getString(), address.getString()};
}

std::vector<Mailbox> recipients(const Email2& e, Email2::Recipients kind)
{
    std::vector<Mailbox> r;
    for (int i = 0; i < e.GetRecipientCount(kind); ++i) r.push_back(mailbox(*e.GetRecipient(kind, i)));
    return r;
}

// Text that goes to a terminal or into JSON: ill-formed UTF-8 becomes U+FFFD.
std::string wellFormed(const std::string& s)
{
    std::string out;
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    uint32_t n = static_cast<uint32_t>(s.size());
    while (n > 0) {
        const uint32_t good = utf8check::firstInvalid(p, n);
        out.append(reinterpret_cast<const char*>(p), good);
        if (good == n) break;
        out += "\xEF\xBF\xBD";
        p += good + 1;
        n -= good + 1;
    }
    return out;
}

std::string json(const std::string& s)
{
    static const char kHex[] = "0123456789abcdef";
    std::string r = "\"";
    for (unsigned char c : wellFormed(s)) {
        if (c == '"' || c == '\\') {
            r += '\\';
            r += static_cast<char>(c);
        } else if (c == '\n') {
            r += "\\n";
        } else if (c == '\r') {
            r += "\\r";
        } else if (c == '\t') {
            r += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            r += "\\u00";
            r += kHex[c >> 4];
            r += kHex[c & 15];
        } else {
            r += static_cast<char>(c);
        }
    }
    r += '"';
    return r;
}

std::string jsonMailboxes(const std::vector<Mailbox>& list)
{
    std::string r = "[";
    for (size_t i = 0; i < list.size(); ++i) {
        if (i) r += ", ";
        r += "{\"name\": " + json(list[i].name) + ", \"address\": " + json(list[i].address) + "}";
    }
    return r + "]";
}

std::string bodyText(const Email2* part)
{
    if (!part) return std::string();
    const DataBuffer& b = part->body();
    const char* d = reinterpret_cast<const char*>(b.getData());
    return std::string(d ? d : "", b.getSize());
}

// A name that stays in the folder it is saved to: its last path component,
// control bytes and path separators replaced, never "." or "..".
std::string safeName(const std::string& fileName, size_t index)
{
    std::string name = fileName;
    const size_t slash = name.find_last_of("/\\");
    if (slash != std::string::npos) name.erase(0, slash + 1);
    for (char& c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F || c == ':' || c == '/' || c == '\\') c = '_';
    }
    if (name.find_first_not_of(". ") == std::string::npos) name = "attachment-" + std::to_string(index);
    return name;
}

// "name (2).ext", "name (3).ext", ...: the number before the extension.
std::string numbered(const std::string& name, int n)
{
    const size_t dot = name.rfind('.');
    const bool hasExt = dot != std::string::npos && dot > 0;
    std::string r = hasExt ? name.substr(0, dot) : name;
    r += " (" + std::to_string(n) + ")";
    if (hasExt) r += name.substr(dot);
    return r;
}

class Shower {
public:
    explicit Shower(const Options& o) : m_opt(o) {}

    int run()
    {
        const bool ok = show();
        if (!ok && m_logToo) {
            StringBuffer text;
            m_email.getErrorTextUtf8(text, false);
            cli::writeLogText(text);
        }
        return cli::finishCommand("show", ok, m_email, m_opt.logXml, m_problem);
    }

private:
    bool show()
    {
        DataBuffer bytes;
        if (!cli::readInput(m_opt.input, bytes, m_problem)) return false;
        if (!cli::loadEmail(m_email, bytes, cli::EmailForm::Sniff, m_problem)) {
            m_logToo = true;
            return false;
        }
        const Email2& e = m_email.email();
        const cli::MessageView view(e);
        std::string out;
        switch (m_opt.output) {
            case Output::Text: out = bodyText(view.text()); break;
            case Output::Html: out = bodyText(view.html()); break;
            case Output::Json: out = jsonOf(e, view); break;
            case Output::Summary: out = summaryOf(e, view); break;
        }
        if (!cli::writeStandardOutput(out.data(), out.size())) {
            m_problem = "cannot write the output";
            return false;
        }
        return !m_opt.saveDir || save(view);
    }

    std::string jsonOf(const Email2& e, const cli::MessageView& view)
    {
        std::vector<Mailbox> from;
        if (e.fromAddress()) from.push_back(mailbox(*e.fromAddress()));
        std::string r = "{\"subject\": " + json(decodedField(e, "Subject"));
        r += ",\n \"from\": " + jsonMailboxes(from);
        r += ",\n \"to\": " + jsonMailboxes(recipients(e, Email2::Recipients::To));
        r += ",\n \"cc\": " + jsonMailboxes(recipients(e, Email2::Recipients::Cc));
        r += ",\n \"date\": " + json(fieldText(e, "Date"));
        r += ",\n \"text\": " + (view.text() ? json(bodyText(view.text())) : std::string("null"));
        r += ",\n \"html\": " + (view.html() ? json(bodyText(view.html())) : std::string("null"));
        r += ",\n \"attachments\": [";
        for (size_t i = 0; i < view.attachments().size(); ++i) {
            const Email2& a = *view.attachments()[i];
            const std::string name = cli::MessageView::fileName(a);
            const std::string data = cli::MessageView::bytes(a);
            r += i ? ",\n  " : "\n  ";
            r += "{\"filename\": " + (name.empty() ? std::string("null") : json(name));
            r += ", \"content_type\": " + json(cli::MessageView::contentType(a));
            r += ", \"size\": " + std::to_string(data.size());
            r += ", \"sha256\": \"" + cli::sha256Hex(data.data(), data.size()) + "\"}";
        }
        return r + "]}\n";
    }

    static std::string mailboxLine(const std::vector<Mailbox>& list)
    {
        std::string r;
        for (const Mailbox& m : list) {
            if (!r.empty()) r += ", ";
            r += m.name.empty() ? m.address : m.name + " <" + m.address + ">";
        }
        return r;
    }

    static void structure(const Email2& part, int depth, std::string& out)
    {
        out += std::string(2 * depth + 2, ' ') + cli::MessageView::contentType(part);
        const char* charset = part.charset().getName();
        if (charset && *charset) {
            out += "; charset=";
            out += charset;
        }
        if (!part.transferEncoding().isEmpty()) {
            out += "; ";
            out += part.transferEncoding().getString();
        }
        if (cli::MessageView::isLeaf(part))
            out += "; " + std::to_string(cli::MessageView::bytes(part).size()) + " bytes";
        const std::string name = cli::MessageView::fileName(part);
        if (!name.empty()) out += "; " + name;
        out += '\n';
        if (!cli::MessageView::isLeaf(part))
            for (int i = 0; i < part.GetPartCount(); ++i) structure(*part.GetPart(i), depth + 1, out);
    }

    std::string summaryOf(const Email2& e, const cli::MessageView& view)
    {
        XString charset;
        m_email.GetCharset(charset);
        std::vector<Mailbox> from;
        if (e.fromAddress()) from.push_back(mailbox(*e.fromAddress()));
        std::string r = "Subject: " + decodedField(e, "Subject") + "\n";
        r += "From: " + (from.empty() ? std::string(e.fromText().getString()) : mailboxLine(from)) + "\n";
        r += "To: " + mailboxLine(recipients(e, Email2::Recipients::To)) + "\n";
        r += "Cc: " + mailboxLine(recipients(e, Email2::Recipients::Cc)) + "\n";
        r += "Date: " + fieldText(e, "Date") + "\n";
        r += "Charset: ";
        r += charset.getUtf8();
        r += "\nStructure:\n";
        structure(e, 0, r);
        r += "Attachments: " + std::to_string(view.attachments().size()) + "\n";
        for (size_t i = 0; i < view.attachments().size(); ++i) {
            const Email2& a = *view.attachments()[i];
            const std::string name = cli::MessageView::fileName(a);
            r += "  " + std::to_string(i + 1) + ". " + (name.empty() ? std::string("(no name)") : name) + " (" +
                 cli::MessageView::contentType(a) + ", " + std::to_string(cli::MessageView::bytes(a).size()) +
                 " bytes)\n";
        }
        // Names and texts come from the message: no control byte reaches the terminal as it is.
        std::string shown;
        for (size_t at = 0; at < r.size();) {
            const size_t eol = r.find('\n', at);
            shown += cli::escapeControls(std::string_view(r).substr(at, eol - at), true) + "\n";
            at = eol + 1;
        }
        return wellFormed(shown);
    }

    bool save(const cli::MessageView& view)
    {
        std::string dir = m_opt.saveDir;
        if (dir.empty()) dir = ".";
        if (dir.back() != '/' && dir.back() != '\\') dir += '/';
        for (size_t i = 0; i < view.attachments().size(); ++i) {
            const Email2& a = *view.attachments()[i];
            const std::string name = safeName(cli::MessageView::fileName(a), i + 1);
            const std::string data = cli::MessageView::bytes(a);
            if (!saveOne(dir, name, data)) return false;
        }
        return true;
    }

    // Created new, never over an existing file or through a link.
    bool saveOne(const std::string& dir, const std::string& name, const std::string& data)
    {
        std::string path;
        platform::FileHandle h = platform::kInvalidFile;
        for (int n = 1; n <= 1000 && h == platform::kInvalidFile; ++n) {
            path = dir + (n == 1 ? name : numbered(name, n));
            h = platform::openFile(path.c_str(), platform::FileOpenMode::CreateNew);
            if (h == platform::kInvalidFile && !platform::lastErrorWasFileExists()) break;
        }
        if (h == platform::kInvalidFile) {
            m_problem = "cannot create " + cli::quoted(path) + ": " + platform::lastErrorText();
            return false;
        }
        const bool ok = HandleIo::writeAll(h, data.data(), data.size());
        platform::closeFile(h);
        if (!ok) m_problem = "cannot write " + cli::quoted(path) + ": " + platform::lastErrorText();
        return ok;
    }

    const Options& m_opt;
    ClsEmail m_email;
    std::string m_problem;
    bool m_logToo = false;
};

}  // namespace

int cmdShow(int argc, char** argv)
{
    Options o;
    bool helpShown = false;
    const int status = parse(argc, argv, o, helpShown);
    if (status != 0 || helpShown) return status;
    platform::setStdStreamsBinary();
    Shower s(o);
    return s.run();
}

}  // namespace hanamail
