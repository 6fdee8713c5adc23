#include "tools/cli/ComposeOptions.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "charset/CharsetCatalogue.h"
#include "charset/Utf8Check.h"
#include "component/ClsEmail.h"
#include "component/ClsFileSys.h"
#include "foundation/DataBuffer.h"
#include "foundation/StringBuffer.h"
#include "foundation/XString.h"
#include "platform/Platform.h"
#include "tools/cli/CliArgs.h"
#include "tools/cli/CliIo.h"

namespace hanamail {

namespace cli {

const char kComposeOptionsHelp[] =
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
    "  --zip NAME              pack every attachment into one zip attachment named NAME\n";

const char kComposeOptionsNotes[] =
    "ADDR is \"Name <address>\" or a bare address; everything before the last \"<\" is the\n"
    "name (one pair of enclosing double quotes removed), and the address is ASCII with\n"
    "an \"@\". Options take effect in this order, whatever their order on the command\n"
    "line: charset; header fields and addresses (in the order given); plain-text body;\n"
    "HTML body; attachments (in the order given); zip. Arguments are UTF-8 text; so are\n"
    "the files of --text and --html unless a byte-order mark (UTF-8, UTF-16LE, UTF-16BE)\n"
    "or the charset option says otherwise. Text lines are written with CR LF, whatever\n"
    "they ended with.\n";

namespace {

using Kind = ComposeOptions::Kind;
using Step = ComposeOptions::Step;

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

struct Single {
    const char* name;
    const char* ComposeOptions::*slot;
};
const Single kSingles[] = {{"--charset", &ComposeOptions::charset}, {"--text-charset", &ComposeOptions::textCharset},
                           {"--text", &ComposeOptions::text},       {"--html-charset", &ComposeOptions::htmlCharset},
                           {"--html", &ComposeOptions::html},       {"--zip", &ComposeOptions::zip}};

struct Repeated {
    const char* name;
    Kind kind;
};
const Repeated kRepeated[] = {
    {"--from", Kind::From},     {"--reply-to", Kind::ReplyTo}, {"--to", Kind::To},
    {"--cc", Kind::Cc},         {"--bcc", Kind::Bcc},          {"--subject", Kind::Subject},
    {"--header", Kind::Header}, {"--attach", Kind::Attach},    {"--attach-string", Kind::AttachString},
    {"--date", Kind::Date}};

const char* optionOf(Kind kind)
{
    for (const Repeated& r : kRepeated)
        if (r.kind == kind) return r.name;
    return "an argument";
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

class Applier {
public:
    Applier(const ComposeOptions& o, bool loaded, ClsEmail& email, ClsFileSys& files, ClsBase*& last,
            std::string& problem)
        : m_opt(o), m_loaded(loaded), m_email(email), m_files(files), m_last(last), m_problem(problem)
    {
    }

    bool apply()
    {
        if (!argumentsAreUtf8()) return false;
        if (m_opt.charset) m_email.SetCharset(fromArg(m_opt.charset));
        for (const Step& s : m_opt.addressing) {
            if (!applyAddressing(s)) return false;
        }
        if (m_opt.text) {
            XString text;
            if (!readText(m_opt.text, m_opt.textCharset, "--text-charset", text)) return false;
            if (m_opt.textAsAlternative) {
                if (!m_email.AddPlainTextAltBody(text)) return false;
            } else {
                m_email.SetPlainBody(text);
            }
        }
        if (m_opt.html) {
            XString html;
            if (!readText(m_opt.html, m_opt.htmlCharset, "--html-charset", html)) return false;
            // Beside a plain-text body the HTML is an alternative. Only a body given here (or one of a
            // loaded email) counts: a new email's default text/plain type would otherwise leave an
            // empty plain part beside the HTML.
            if ((m_opt.text || m_loaded) && m_email.HasPlainTextBody()) {
                if (!m_email.AddHtmlAltBodyUtf8(html)) return false;
            } else {
                m_email.SetHtmlBodyFromUtf8(html);
            }
        }
        for (const Step& s : m_opt.attachments) {
            if (!applyAttachment(s)) return false;
        }
        return !m_opt.zip || m_email.ZipAttachments(fromArg(m_opt.zip));
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
            if (!readStandardInput(input) || input.getSize() > static_cast<uint32_t>(StringBuffer::kMaxLength)) {
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

    const ComposeOptions& m_opt;
    const bool m_loaded;
    ClsEmail& m_email;
    ClsFileSys& m_files;
    ClsBase*& m_last;
    std::string& m_problem;
};

}  // namespace

OptionParse parseComposeOption(int argc, char** argv, int& i, ComposeOptions& o, std::string& problem)
{
    bool matched = false;
    const char* value = nullptr;
    for (const Single& s : kSingles) {
        if (takeValue(argc, argv, i, s.name, value, matched)) {
            if (o.*s.slot) {
                problem = std::string(s.name) + " given twice";
                return OptionParse::Bad;
            }
            o.*s.slot = value;
            return OptionParse::Taken;
        }
        if (matched) break;
    }
    for (size_t r = 0; !matched && r < sizeof kRepeated / sizeof kRepeated[0]; ++r) {
        if (!takeValue(argc, argv, i, kRepeated[r].name, value, matched)) continue;
        const Kind kind = kRepeated[r].kind;
        // One sender, one reply address and one subject: a second would silently replace the first.
        bool* once = kind == Kind::From      ? &o.seenFrom
                     : kind == Kind::ReplyTo ? &o.seenReplyTo
                     : kind == Kind::Subject ? &o.seenSubject
                     : kind == Kind::Date    ? &o.seenDate
                                             : nullptr;
        if (once && *once) {
            problem = std::string(kRepeated[r].name) + " given twice";
            return OptionParse::Bad;
        }
        if (once) *once = true;
        if (kind == Kind::Header) problem = headerProblem(value);
        if (kind == Kind::Date && hasControlBytes(value)) problem = "--date: control characters in " + quoted(value);
        if (kind == Kind::From || kind == Kind::ReplyTo || kind == Kind::To || kind == Kind::Cc || kind == Kind::Bcc)
            problem = addressProblem(kRepeated[r].name, value);
        if (kind == Kind::AttachString && !std::strchr(value, '=')) problem = "--attach-string needs NAME=TEXT";
        if (!problem.empty()) return OptionParse::Bad;
        std::vector<Step>& list = (kind == Kind::Attach || kind == Kind::AttachString) ? o.attachments : o.addressing;
        list.push_back({kind, value});
        return OptionParse::Taken;
    }
    if (!matched) return OptionParse::NotMine;
    problem = quoted(argv[i]) + " needs a value";
    return OptionParse::Bad;
}

bool checkComposeOptions(const ComposeOptions& o, std::string& problem)
{
    if (o.text && o.html && std::strcmp(o.text, "-") == 0 && std::strcmp(o.html, "-") == 0) {
        problem = "only one of --text and --html can read standard input";
        return false;
    }
    // A charset that cannot be written (or read) would be ignored without a word.
    const Single charsets[] = {{"--charset", &ComposeOptions::charset},
                               {"--text-charset", &ComposeOptions::textCharset},
                               {"--html-charset", &ComposeOptions::htmlCharset}};
    for (const Single& c : charsets) {
        if (!(o.*c.slot)) continue;
        const int cp = charsetToCodePage(o.*c.slot);
        if (cp == 0 || !isConvertibleCodePage(cp) || !preferredCharsetName(cp)) {
            problem = std::string("unknown charset '") + o.*c.slot + "' for " + c.name;
            return false;
        }
    }
    if (o.textCharset && !o.text) problem = "--text-charset needs --text";
    if (o.htmlCharset && !o.html) problem = "--html-charset needs --html";
    return problem.empty();
}

bool applyComposeOptions(const ComposeOptions& o, bool loaded, ClsEmail& email, ClsFileSys& files, ClsBase*& last,
                         std::string& problem)
{
    Applier a(o, loaded, email, files, last, problem);
    return a.apply();
}

}  // namespace cli

}  // namespace hanamail
