#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "charset/CharsetCatalogue.h"
#include "charset/Utf8Check.h"
#include "component/ClsEmail.h"
#include "component/ClsFileSys.h"
#include "foundation/DataBuffer.h"
#include "foundation/StringBuffer.h"
#include "foundation/XString.h"
#include "mime/MimeSink.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "tools/cli/CliIo.h"
#include "tools/cli/CliText.h"
#include "tools/cli/Commands.h"

namespace hanamail {

namespace {

const char kHelp[] =
    "usage: hanamail compose [OPTIONS]\n"
    "Composes one email and writes it as MIME text (standard output unless -o is given).\n"
    "\n"
    "  --charset NAME          charset of the email's text (chosen from the text when absent)\n"
    "  --from ADDR             the sender\n"
    "  --reply-to ADDR         the address replies go to\n"
    "  --to ADDR               a To recipient (repeatable)\n"
    "  --cc ADDR               a Cc recipient (repeatable)\n"
    "  --bcc ADDR              a Bcc recipient, never written into the header (repeatable)\n"
    "  --subject TEXT          the subject\n"
    "  --date TEXT             the Date field (\"Tue, 08 Dec 2026 09:30:00 +0900\"; now when absent)\n"
    "  --header \"Name: value\"  a header field (repeatable); the fields that have an option\n"
    "                          of their own (To, Cc, Bcc, From, Reply-To, Subject, Date) are\n"
    "                          refused here\n"
    "  --text FILE             the plain-text body, UTF-8 (\"-\": standard input)\n"
    "  --text-charset NAME     the charset --text is stored in, when it is not UTF-8\n"
    "  --html FILE             the HTML body, UTF-8 (\"-\": standard input); beside a plain-text\n"
    "                          body it becomes the HTML alternative\n"
    "  --html-charset NAME     the charset --html is stored in, when it is not UTF-8\n"
    "  --attach FILE           attach a file (repeatable)\n"
    "  --attach-string NAME=TEXT  attach TEXT as a file named NAME (repeatable)\n"
    "  --zip NAME              pack every attachment into one zip attachment named NAME\n"
    "  -o FILE                 write the email to FILE instead of standard output\n"
    "  --log-xml FILE          save the activity log of the last operation as XML\n"
    "  --help                  this text\n"
    "\n"
    "ADDR is \"Name <address>\" or a bare address; everything before the last \"<\" is the\n"
    "name (one pair of enclosing double quotes removed), and the address is ASCII with\n"
    "an \"@\". Options take effect in this order, whatever their order on the command\n"
    "line: charset; header fields and addresses (in the order given); plain-text body;\n"
    "HTML body; attachments (in the order given); zip. Arguments are UTF-8 text; so are\n"
    "the files of --text and --html unless a byte-order mark (UTF-8, UTF-16LE, UTF-16BE)\n"
    "or the charset option says otherwise. Text lines are written with CR LF, whatever\n"
    "they ended with.\n"
    "Exit status: 0 on success; 1 when an operation failed (its activity log goes to\n"
    "standard error); 2 for a usage error.\n";

int usage(const std::string& problem)
{
    std::fprintf(stderr, "hanamail compose: %s\nusage: hanamail compose [OPTIONS]   (--help lists them)\n",
                 problem.c_str());
    return 2;
}

// Input echoed in a message, quoted, with its control bytes as escapes.
std::string quoted(const std::string& s)
{
    // Built by appending: GCC 12 at -O3 warns falsely on "literal" + std::string&&.
    std::string r = "'";
    r += cli::escapeControls(s);
    r += '\'';
    return r;
}

enum class Kind { From, ReplyTo, To, Cc, Bcc, Subject, Date, Header, Attach, AttachString };

struct Step {
    Kind kind;
    std::string value;
};

struct Options {
    const char* charset = nullptr;
    const char* text = nullptr;
    const char* textCharset = nullptr;
    const char* html = nullptr;
    const char* htmlCharset = nullptr;
    const char* zip = nullptr;
    const char* output = nullptr;
    const char* logXml = nullptr;
    std::vector<Step> addressing;   // header fields and addresses, in command-line order
    std::vector<Step> attachments;  // files and strings, in command-line order
};

// "--name VALUE" or "--name=VALUE". matched tells a missing value from another option.
bool takeValue(int argc, char** argv, int& i, const char* name, const char*& value, bool& matched)
{
    const size_t n = std::strlen(name);
    if (std::strncmp(argv[i], name, n) != 0 || (argv[i][n] != '\0' && argv[i][n] != '=')) return false;
    matched = true;
    if (argv[i][n] == '=') {
        value = argv[i] + n + 1;
        return true;
    }
    if (i + 1 >= argc) return false;
    value = argv[++i];
    return true;
}

void trimSpaces(std::string& s)
{
    const char* ws = " \t\r\n";
    const size_t b = s.find_first_not_of(ws);
    if (b == std::string::npos) {
        s.clear();
        return;
    }
    s = s.substr(b, s.find_last_not_of(ws) - b + 1);
}

// "Name <addr>" gives both: the name is everything before the last "<",
// kept whole (quotes, commas and all), without one pair of double quotes that
// encloses it; anything else is taken as the bare address.
void splitAddress(const std::string& text, std::string& name, std::string& address)
{
    const size_t open = text.rfind('<');
    const size_t close = text.rfind('>');
    if (open == std::string::npos || close == std::string::npos || close < open) {
        name.clear();
        address = text;
        trimSpaces(address);
        return;
    }
    address = text.substr(open + 1, close - open - 1);
    trimSpaces(address);
    name = text.substr(0, open);
    trimSpaces(name);
    if (name.size() < 2 || name.front() != '"' || name.back() != '"') return;
    // Only a single quoted string loses its quotes (and its escapes).
    std::string unquoted;
    for (size_t k = 1; k + 1 < name.size(); ++k) {
        if (name[k] == '\\' && k + 2 < name.size()) {
            unquoted += name[++k];
        } else if (name[k] == '"') {
            return;
        } else {
            unquoted += name[k];
        }
    }
    name = unquoted;
}

// "Name" <address> with the name's quotes and backslashes escaped, or the bare address.
std::string mailboxText(const std::string& name, const std::string& address)
{
    if (name.empty()) return address;
    std::string r = "\"";
    for (char c : name) {
        if (c == '"' || c == '\\') r += '\\';
        r += c;
    }
    return r + "\" <" + address + ">";
}

bool hasControlBytes(const std::string& s)
{
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7F) return true;
    return false;
}

// Empty when the value of an address option can be given to the email.
std::string addressProblem(const char* option, const std::string& value)
{
    std::string name, address;
    splitAddress(value, name, address);
    if (hasControlBytes(value)) return std::string(option) + ": control characters in " + quoted(value);
    if (address.find('@') == std::string::npos)
        return std::string(option) + ": " + quoted(value) + " has no address (no \"@\")";
    return std::string();
}

// Empty when "Name: value" may go through --header.
std::string headerProblem(const std::string& value)
{
    const size_t colon = value.find(':');
    if (colon == std::string::npos) return "--header needs \"Name: value\"";
    std::string field = value.substr(0, colon);
    trimSpaces(field);
    if (field.empty()) return "--header needs \"Name: value\"";
    for (unsigned char c : field)
        if (c <= 0x20 || c >= 0x7F) return "--header: the field name " + quoted(field) + " is not printable ASCII";
    struct Own {
        const char* field;
        const char* option;
    };
    static const Own kOwn[] = {
        {"to", "--to"},           {"cc", "--cc"},    {"bcc", "--bcc"}, {"from", "--from"}, {"reply-to", "--reply-to"},
        {"subject", "--subject"}, {"date", "--date"}};
    for (const Own& o : kOwn) {
        if (field.size() != std::strlen(o.field)) continue;
        bool same = true;
        for (size_t k = 0; k < field.size() && same; ++k)
            same = std::tolower(static_cast<unsigned char>(field[k])) == o.field[k];
        if (same) return "--header cannot set " + field + "; use " + o.option;
    }
    return std::string();
}

// 0 when parsed, else the exit status (2 for a usage error, 0 after --help).
int parse(int argc, char** argv, Options& o, bool& helpShown)
{
    struct Single {
        const char* name;
        const char** slot;
    };
    const Single singles[] = {{"--charset", &o.charset}, {"--text-charset", &o.textCharset},
                              {"--text", &o.text},       {"--html-charset", &o.htmlCharset},
                              {"--html", &o.html},       {"--zip", &o.zip},
                              {"-o", &o.output},         {"--log-xml", &o.logXml}};
    struct Repeated {
        const char* name;
        Kind kind;
    };
    const Repeated repeated[] = {
        {"--from", Kind::From},     {"--reply-to", Kind::ReplyTo}, {"--to", Kind::To},
        {"--cc", Kind::Cc},         {"--bcc", Kind::Bcc},          {"--subject", Kind::Subject},
        {"--header", Kind::Header}, {"--attach", Kind::Attach},    {"--attach-string", Kind::AttachString},
        {"--date", Kind::Date}};
    bool seenFrom = false, seenReplyTo = false, seenSubject = false, seenDate = false;

    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kHelp, stdout);
            helpShown = true;
            return 0;
        }
        bool matched = false;
        bool done = false;
        const char* value = nullptr;
        for (const Single& s : singles) {
            if (takeValue(argc, argv, i, s.name, value, matched)) {
                if (*s.slot) {
                    std::string msg = std::string(s.name) + " given twice";
                    return usage(msg.c_str());
                }
                *s.slot = value;
                done = true;
                break;
            }
            if (matched) break;
        }
        for (size_t r = 0; !done && !matched && r < sizeof repeated / sizeof repeated[0]; ++r) {
            if (!takeValue(argc, argv, i, repeated[r].name, value, matched)) continue;
            const Kind kind = repeated[r].kind;
            // One sender, one reply address and one subject: a second would silently replace the first.
            bool* once = kind == Kind::From      ? &seenFrom
                         : kind == Kind::ReplyTo ? &seenReplyTo
                         : kind == Kind::Subject ? &seenSubject
                         : kind == Kind::Date    ? &seenDate
                                                 : nullptr;
            if (once && *once) {
                std::string msg = std::string(repeated[r].name) + " given twice";
                return usage(msg.c_str());
            }
            if (once) *once = true;
            if (kind == Kind::Header) {
                const std::string problem = headerProblem(value);
                if (!problem.empty()) return usage(problem);
            }
            if (kind == Kind::Date && hasControlBytes(value))
                return usage("--date: control characters in " + quoted(value));
            if (kind == Kind::From || kind == Kind::ReplyTo || kind == Kind::To || kind == Kind::Cc ||
                kind == Kind::Bcc) {
                const std::string problem = addressProblem(repeated[r].name, value);
                if (!problem.empty()) return usage(problem);
            }
            if (kind == Kind::AttachString && !std::strchr(value, '=')) return usage("--attach-string needs NAME=TEXT");
            std::vector<Step>& list =
                (kind == Kind::Attach || kind == Kind::AttachString) ? o.attachments : o.addressing;
            list.push_back({kind, value});
            done = true;
        }
        if (done) continue;
        std::string msg =
            matched ? quoted(argv[i]) + " needs a value" : std::string("unknown argument ") + quoted(argv[i]);
        return usage(msg.c_str());
    }
    if (o.text && o.html && std::strcmp(o.text, "-") == 0 && std::strcmp(o.html, "-") == 0)
        return usage("only one of --text and --html can read standard input");
    // A charset that cannot be written (or read) would be ignored without a word.
    const Single charsets[] = {
        {"--charset", &o.charset}, {"--text-charset", &o.textCharset}, {"--html-charset", &o.htmlCharset}};
    for (const Single& c : charsets) {
        if (!*c.slot) continue;
        const int cp = charsetToCodePage(*c.slot);
        if (cp == 0 || !isConvertibleCodePage(cp) || !preferredCharsetName(cp)) {
            std::string msg = std::string("unknown charset '") + *c.slot + "' for " + c.name;
            return usage(msg.c_str());
        }
    }
    if (o.textCharset && !o.text) return usage("--text-charset needs --text");
    if (o.htmlCharset && !o.html) return usage("--html-charset needs --html");
    return 0;
}

// Where text is not UTF-8, in the words the tool reports it with.
std::string notUtf8(const std::string& what, uint32_t offset, unsigned char byte)
{
    char where[64];
    std::snprintf(where, sizeof where, " is not UTF-8 (byte 0x%02X at offset %u)", byte, offset);
    return what + where;
}

// False, with the reason, when an argument holds bytes that are not UTF-8.
// Arguments are UTF-8 where the ANSI code page is; elsewhere they are ANSI text.
bool argumentIsUtf8(const char* option, const std::string& value, std::string& problem)
{
    if (platform::ansiCodePage() != 65001) return true;
    const auto* bytes = reinterpret_cast<const unsigned char*>(value.data());
    const uint32_t n = static_cast<uint32_t>(value.size());
    const uint32_t bad = utf8check::firstInvalid(bytes, n);
    if (bad == n) return true;
    problem = notUtf8(option, bad, bytes[bad]);
    return false;
}

const char* optionOf(Kind kind)
{
    switch (kind) {
        case Kind::From: return "--from";
        case Kind::ReplyTo: return "--reply-to";
        case Kind::To: return "--to";
        case Kind::Cc: return "--cc";
        case Kind::Bcc: return "--bcc";
        case Kind::Subject: return "--subject";
        case Kind::Date: return "--date";
        case Kind::Header: return "--header";
        case Kind::Attach: return "--attach";
        case Kind::AttachString: return "--attach-string";
    }
    return "an argument";
}

XString fromArg(const std::string& s)
{
    // Arguments arrive in the ANSI code page (UTF-8 on POSIX).
    XString x;
    x.setFromAnsi(s.c_str());
    return x;
}

class Composer {
public:
    explicit Composer(const Options& o) : m_opt(o) {}

    int run()
    {
        const bool ok = compose();
        // The email is complete, but not in the charset asked for.
        if (ok && !m_email.charsetNotice().isEmpty())
            std::fprintf(stderr, "hanamail compose: %s\n", m_email.charsetNotice().getString());
        bool logSaved = true;
        if (m_opt.logXml) {
            XString name = fromArg(m_opt.logXml);
            logSaved = m_last->saveErrorXml(name);
        }
        if (!ok) {
            if (!m_problem.empty()) {
                std::fprintf(stderr, "hanamail compose: %s\n", m_problem.c_str());
            } else {
                StringBuffer text;
                m_last->getErrorTextUtf8(text, false);
                cli::writeLogText(text);
            }
        }
        if (!logSaved)
            std::fprintf(stderr, "hanamail compose: cannot write the log to %s\n", quoted(m_opt.logXml).c_str());
        return ok && logSaved ? 0 : 1;
    }

private:
    // Text that is not UTF-8 is refused rather than turned into something else.
    bool argumentsAreUtf8()
    {
        for (const std::vector<Step>* list : {&m_opt.addressing, &m_opt.attachments})
            for (const Step& s : *list)
                if (!argumentIsUtf8(optionOf(s.kind), s.value, m_problem)) return false;
        return !m_opt.zip || argumentIsUtf8("--zip", m_opt.zip, m_problem);
    }

    bool compose()
    {
        if (!argumentsAreUtf8()) return false;
        if (m_opt.charset) m_email.SetCharset(fromArg(m_opt.charset));
        for (const Step& s : m_opt.addressing) {
            if (!applyAddressing(s)) return false;
        }
        if (m_opt.text) {
            XString text;
            if (!readText(m_opt.text, m_opt.textCharset, "--text-charset", text)) return false;
            m_email.SetPlainBody(text);
        }
        if (m_opt.html) {
            XString html;
            if (!readText(m_opt.html, m_opt.htmlCharset, "--html-charset", html)) return false;
            // Beside a plain-text body the HTML is an alternative. Only a body given here counts: a new
            // email's default text/plain type would otherwise leave an empty plain part beside the HTML.
            if (m_opt.text && m_email.HasPlainTextBody()) {
                if (!m_email.AddHtmlAltBodyUtf8(html)) return false;
            } else {
                m_email.SetHtmlBodyFromUtf8(html);
            }
        }
        for (const Step& s : m_opt.attachments) {
            if (!applyAttachment(s)) return false;
        }
        if (m_opt.zip && !m_email.ZipAttachments(fromArg(m_opt.zip))) return false;
        return write();
    }

    bool applyAddressing(const Step& s)
    {
        std::string name, address;
        switch (s.kind) {
            case Kind::From:
            case Kind::ReplyTo:
                splitAddress(s.value, name, address);
                return m_email.AddHeaderField(fromArg(s.kind == Kind::From ? "From" : "Reply-To"),
                                              fromArg(mailboxText(name, address)));
            case Kind::Subject: return m_email.AddHeaderField(fromArg("Subject"), fromArg(s.value));
            case Kind::Date: return m_email.AddHeaderField(fromArg("Date"), fromArg(s.value));
            case Kind::Header: {
                const size_t colon = s.value.find(':');
                std::string field = s.value.substr(0, colon);
                std::string value = s.value.substr(colon + 1);
                trimSpaces(field);
                value.erase(0, value.find_first_not_of(" \t"));
                return m_email.AddHeaderField(fromArg(field), fromArg(value));
            }
            case Kind::To:
            case Kind::Cc:
            case Kind::Bcc:
                splitAddress(s.value, name, address);
                if (s.kind == Kind::To) return m_email.AddTo(fromArg(name), fromArg(address));
                if (s.kind == Kind::Cc) return m_email.AddCC(fromArg(name), fromArg(address));
                return m_email.AddBcc(fromArg(name), fromArg(address));
            default: return true;
        }
    }

    bool applyAttachment(const Step& s)
    {
        if (s.kind == Kind::Attach) {
            XString contentType;
            return m_email.AddFileAttachment(fromArg(s.value), contentType);
        }
        const size_t eq = s.value.find('=');
        return m_email.AddStringAttachment(fromArg(s.value.substr(0, eq)), fromArg(s.value.substr(eq + 1)));
    }

    // The text of a file, or of standard input for "-": UTF-8 unless a
    // byte-order mark or the charset says otherwise. Text that should be UTF-8
    // and is not is refused, naming the option that reads it right.
    bool readText(const char* file, const char* charset, const char* charsetOption, XString& out)
    {
        const bool standardInput = std::strcmp(file, "-") == 0;
        const std::string what = standardInput ? std::string("standard input") : std::string(file);
        ClsFileSys::Utf8Problem problem;
        bool ok;
        m_last = &m_files;
        if (standardInput) {
            DataBuffer input;
            if (!cli::readStandardInput(input) || input.getSize() > static_cast<uint32_t>(StringBuffer::kMaxLength)) {
                m_problem = "cannot read standard input";
                return false;
            }
            XString name;
            name.setFromAnsi(charset ? charset : "utf-8");
            ok = m_files.TextFromBytes(input, name, out, charset ? nullptr : &problem);
        } else if (charset) {
            ok = m_files.ReadTextFile(fromArg(file), fromArg(charset), out);
        } else {
            ok = m_files.ReadUtf8TextFile(fromArg(file), out, problem);
        }
        if (problem.found) {
            m_problem = notUtf8(what, problem.offset, problem.byte) + "; give " + charsetOption + " NAME";
            return false;
        }
        if (ok) m_last = &m_email;
        return ok;
    }

    bool write()
    {
        if (m_opt.output) return m_email.SaveEml(fromArg(m_opt.output));
        // Written as it is made: a large email is never held whole.
        struct StandardOutput : MimeSink {
            bool failed = false;
            bool write(const char* bytes, size_t n) override
            {
                failed = failed || !cli::writeStandardOutput(bytes, n);
                return !failed;
            }
        } out;
        const bool ok = m_email.WriteMime(out);
        // A script must not take a truncated email for a complete one.
        if (!ok && !out.failed) return false;
        if (out.failed) {
            m_problem = "cannot write the output";
            return false;
        }
        return true;
    }

    const Options& m_opt;
    ClsEmail m_email;
    ClsFileSys m_files;
    ClsBase* m_last = &m_email;  // whose log the last operation wrote
    std::string m_problem;       // a failure of the tool itself rather than of an operation
};

}  // namespace

// The command-line face of ClsEmail: 0 on success, 1 when an operation failed
// (its log on standard error), 2 for a usage error.
int cmdCompose(int argc, char** argv)
{
    Options o;
    bool helpShown = false;
    const int status = parse(argc, argv, o, helpShown);
    if (status != 0 || helpShown) return status;
    platform::setStdStreamsBinary();
    Composer c(o);
    return c.run();
}

}  // namespace hanamail
