#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

#include "component/ClsEmail.h"
#include "component/ClsFileSys.h"
#include "foundation/FileSys.h"
#include "foundation/StringBuffer.h"
#include "foundation/XString.h"
#include "platform/FileSystem.h"
#include "platform/Socket.h"
#include "tools/cli/CliArgs.h"
#include "tools/cli/CliIo.h"
#include "tools/cli/Commands.h"
#include "tools/cli/ComposeOptions.h"
#include "tools/cli/EmailInput.h"

namespace hanamail {

namespace {

const char kUsageLine[] =
    "usage: hanamail capture URL|FILE [COMPOSE OPTIONS] [-4 | -6] [--timeout S] [--ca-file FILE] [--insecure]\n"
    "                        [--xml] [-o OUT.eml]\n";

const char kIntro[] =
    "Captures a web page (an http: or https: URL) or a local HTML file with every image, style\n"
    "sheet, script and frame it shows, as one email whose body is multipart/related, and writes\n"
    "it as MIME text (standard output unless -o is given). The compose options then change it;\n"
    "--text adds a plain-text alternative beside the page. --html, --from-eml and --from-xml do\n"
    "not apply. An IPv6 address goes in brackets: http://[::1]:8080/page.html.\n"
    "\n";

const char kOwnOptions[] =
    "  -4, -6                  connect over IPv4 only, or IPv6 only\n"
    "  --timeout S             connect and read time-outs of each HTTP fetch in seconds (10);\n"
    "                          the connect time-out bounds all of a name's addresses together\n"
    "  --ca-file FILE          for https: trust the CA certificates of FILE (PEM) besides the\n"
    "                          system's\n"
    "  --insecure              for https: do not check the servers' certificates at all (for\n"
    "                          tests only)\n"
    "  --xml                   write the XML form of the email instead of MIME text\n"
    "  -o FILE                 write the email to FILE (only when everything succeeded; an\n"
    "                          existing FILE is left as it was otherwise)\n"
    "  --log-xml FILE          save the activity log of the capture (or of the option that\n"
    "                          failed) as XML\n"
    "  --help                  this text\n"
    "\n";

const char kExit[] =
    "Exit status: 0 on success; 1 when the capture or an option failed (its activity log goes to\n"
    "standard error); 2 for a usage error.\n";

struct Options {
    cli::ComposeOptions compose;
    const char* source = nullptr;
    const char* output = nullptr;
    const char* logXml = nullptr;
    const char* timeout = nullptr;
    const char* caFile = nullptr;
    bool xml = false;
    bool insecure = false;
    platform::AddressFamily family = platform::AddressFamily::Any;
};

int usage(const std::string& problem)
{
    std::fprintf(stderr, "hanamail capture: %s\nusage: hanamail capture URL|FILE [OPTIONS]   (--help lists them)\n",
                 problem.c_str());
    return 2;
}

bool parseSeconds(const char* text, long& out)
{
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < 1 || v > 3600) return false;
    out = v;
    return true;
}

// 0 when parsed, else the exit status (2 for a usage error, 0 after --help).
int parse(int argc, char** argv, Options& o, bool& helpShown)
{
    const cli::ValueOption singles[] = {
        {"-o", &o.output}, {"--log-xml", &o.logXml}, {"--timeout", &o.timeout}, {"--ca-file", &o.caFile}};
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf("%s%s%s%s%s%s", kUsageLine, kIntro, cli::kComposeOptionsHelp, kOwnOptions,
                        cli::kComposeOptionsNotes, kExit);
            helpShown = true;
            return 0;
        }
        if (const int f = cli::takeFamilyFlag(argv[i], o.family)) {
            if (f < 0) return usage("only one of -4 and -6 can be given");
            continue;
        }
        if (std::strcmp(argv[i], "--xml") == 0) {
            if (o.xml) return usage("--xml given twice");
            o.xml = true;
            continue;
        }
        if (std::strcmp(argv[i], "--insecure") == 0) {
            o.insecure = true;
            continue;
        }
        for (const char* refused : {"--from-eml", "--from-xml", "--html", "--html-charset"}) {
            const size_t n = std::strlen(refused);
            if (std::strncmp(argv[i], refused, n) == 0 && (argv[i][n] == '\0' || argv[i][n] == '='))
                return usage(std::string(refused) + " does not apply: the captured page is the body");
        }
        std::string problem;
        switch (cli::parseCommandOption(argc, argv, i, singles, std::size(singles), o.compose, problem)) {
            case cli::OptionParse::Taken: continue;
            case cli::OptionParse::Bad: return usage(problem);
            case cli::OptionParse::NotMine: break;
        }
        if (argv[i][0] == '-' && argv[i][1] != '\0') return usage("unknown argument " + cli::quoted(argv[i]));
        if (o.source) return usage("only one URL or FILE can be captured");
        o.source = argv[i];
    }
    if (!o.source || !*o.source) return usage("a URL or FILE to capture is required");
    long seconds = 0;
    if (o.timeout && !parseSeconds(o.timeout, seconds)) return usage("--timeout needs seconds from 1 to 3600");
    o.compose.textAsAlternative = true;
    std::string problem;
    if (!cli::checkComposeOptions(o.compose, problem)) return usage(problem);
    return 0;
}

class Capturer {
public:
    explicit Capturer(const Options& o) : m_opt(o) {}

    int run()
    {
        const bool ok = capture();
        // The capture's log was saved when it succeeded; a failure after it
        // saves the failing option's log instead.
        const char* logXml = (ok && m_logSaved) ? nullptr : m_opt.logXml;
        return cli::finishCommand("capture", ok, *m_last, logXml, m_problem);
    }

private:
    bool capture()
    {
        cli::CaptureSettings settings;
        settings.timeoutSecs = m_opt.timeout ? std::atoi(m_opt.timeout) : 0;
        settings.caFile = m_opt.caFile;
        settings.insecure = m_opt.insecure;
        settings.family = m_opt.family;
        if (!cli::captureEmail(m_email, m_opt.source, settings)) return false;
        if (m_opt.logXml) {
            if (!m_email.saveErrorXml(cli::fromArg(m_opt.logXml))) {
                m_problem = "cannot write the log to " + cli::quoted(m_opt.logXml);
                return false;
            }
            m_logSaved = true;
        }
        if (!cli::applyComposeOptions(m_opt.compose, true, m_email, m_files, m_last, m_problem)) return false;
        m_last = &m_email;
        StringBuffer text;
        if (m_opt.xml) {
            XString xml;
            if (!m_email.GetXml(xml)) return false;
            text = "<?xml version=\"1.0\" ?>\n";
            if (!text.append(xml.getUtf8())) {
                m_problem = "the XML form is too large";
                return false;
            }
            text.toLf();
        } else if (!m_email.GetMimeSb(text)) {
            return false;
        }
        return m_opt.output ? writeFile(text) : writeOut(text);
    }

    bool writeOut(const StringBuffer& text)
    {
        if (cli::writeStandardOutput(text.getString(), static_cast<uint64_t>(text.getSize()))) return true;
        m_problem = "cannot write the output";
        return false;
    }

    // Written beside the target and then moved over it, so a failed write
    // never leaves a truncated email where a good file was.
    bool writeFile(const StringBuffer& text)
    {
        const std::string target = m_opt.output;
        const std::string partial = target + ".part";
        if (!FileSys::writeFile(partial.c_str(), text.getString(), static_cast<uint32_t>(text.getSize()), nullptr)) {
            (void)FileSys::deleteFile(partial.c_str());
            m_problem = "cannot write " + cli::quoted(target);
            return false;
        }
        if (!FileSys::moveFile(partial.c_str(), target.c_str())) {
            (void)FileSys::deleteFile(partial.c_str());
            m_problem = "cannot write " + cli::quoted(target);
            return false;
        }
        return true;
    }

    const Options& m_opt;
    ClsEmail m_email;
    ClsFileSys m_files;
    ClsBase* m_last = &m_email;
    std::string m_problem;
    bool m_logSaved = false;
};

}  // namespace

// A web page as an email: 0 written, 1 when the capture or an option failed
// (the log on standard error), 2 for a usage error.
int cmdCapture(int argc, char** argv)
{
    Options o;
    bool helpShown = false;
    const int status = parse(argc, argv, o, helpShown);
    if (status != 0 || helpShown) return status;
    platform::setStdStreamsBinary();
    Capturer c(o);
    return c.run();
}

}  // namespace hanamail
