#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

#include "component/ClsEmail.h"
#include "component/ClsFileSys.h"
#include "component/ClsMailMan.h"
#include "foundation/DataBuffer.h"
#include "foundation/FileSys.h"
#include "foundation/StringBuffer.h"
#include "foundation/XString.h"
#include "mime/Email2.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "platform/Socket.h"
#include "tools/cli/CliArgs.h"
#include "tools/cli/CliText.h"
#include "tools/cli/Commands.h"
#include "tools/cli/ComposeOptions.h"
#include "tools/cli/EmailInput.h"

namespace hanamail {

namespace {

const char kUsageLine[] =
    "usage: hanamail send [COMPOSE OPTIONS] [--eml FILE | --xml-file FILE | --capture URL|FILE] --smtp-host HOST\n"
    "                     [--smtp-port N] [--login USER] [--password-file FILE | --password-env VAR] [--dist-list "
    "FILE]\n"
    "                     [--tls none|starttls|auto|implicit] [--ca-file FILE] [--insecure] [--allow-plain-auth]\n"
    "                     [-4 | -6] [--timeout S] [--quiet] [--log-xml FILE]\n";

const char kIntro[] =
    "Sends one email by SMTP: the email of --eml or --xml-file, changed by the compose options,\n"
    "or one composed from them alone.\n"
    "\n"
    "  --eml FILE              start from the email in FILE (MIME text)\n"
    "  --xml-file FILE         start from the email in FILE (its XML form)\n"
    "  --capture URL|FILE      send the web page (or local HTML file) captured whole; --text then\n"
    "                          adds a plain-text alternative, and --html does not apply\n";

const char kOwnOptions[] =
    "  --smtp-host HOST        the SMTP server (required): a name, or an IPv4 or IPv6 address\n"
    "                          (::1 or [::1]), with or without a port (name:587, [::1]:2525);\n"
    "                          every address of a name is tried in turn\n"
    "  --smtp-port N           its port when HOST names none (25; 465 with --tls implicit)\n"
    "  --login USER            log in as USER (with a password from one of the two options below)\n"
    "  --password-file FILE    the password is the first line of FILE (no option takes a password)\n"
    "  --password-env VAR      the password is the value of the environment variable VAR\n"
    "  --dist-list FILE        send one message to each address of FILE (one a line) instead of\n"
    "                          the email's recipients (sets the TBX-FileDistList field)\n"
    "  --tls MODE              none: in the clear; starttls: STARTTLS is required; auto (the\n"
    "                          default): STARTTLS when the server offers it; implicit: TLS from\n"
    "                          the first byte (submission on port 465)\n"
    "  --ca-file FILE          trust the CA certificates of FILE (PEM) besides the system's (for\n"
    "                          the SMTP server and an https page of --capture)\n"
    "  --insecure              do not check the servers' certificates at all (for tests only)\n"
    "  --allow-plain-auth      send a login and password without TLS to a host that is not\n"
    "                          this machine (refused otherwise)\n"
    "  -4, -6                  connect over IPv4 only, or IPv6 only\n"
    "  --timeout S             connect and read time-outs in seconds (30); they bound the TLS\n"
    "                          handshake too, and the connect time-out all of a name's addresses\n"
    "  --quiet                 no progress display (it is shown only when standard error is a terminal)\n"
    "  --log-xml FILE          save the activity log of the send as XML\n"
    "  --help                  this text\n"
    "\n"
    "A receipt is asked for with --header 'TBX-ReturnReceipt: YES'. An email read from a file may\n"
    "carry TBX-FileDistList itself: it names a local file the send reads.\n"
    "\n"
    "The certificate must be valid now, lead to a trusted CA and name the --smtp-host (a name,\n"
    "or an address it lists). A login and password never go over a connection without TLS to a\n"
    "host other than localhost, 127.0.0.0/8 or ::1 unless --allow-plain-auth is given: --tls none\n"
    "is then a usage error, and --tls auto requires STARTTLS.\n"
    "\n";

const char kExit[] =
    "Exit status: 0 when every recipient took the email; 1 when the send failed or some recipients\n"
    "were refused (the activity log goes to standard error); 2 for a usage error (nothing is sent).\n";

struct Options {
    cli::ComposeOptions compose;
    const char* eml = nullptr;
    const char* xmlFile = nullptr;
    const char* capture = nullptr;
    const char* host = nullptr;
    const char* port = nullptr;
    const char* login = nullptr;
    const char* passwordFile = nullptr;
    const char* passwordEnv = nullptr;
    const char* distList = nullptr;
    const char* timeout = nullptr;
    const char* logXml = nullptr;
    const char* tls = nullptr;
    const char* caFile = nullptr;
    bool insecure = false;
    bool allowPlainAuth = false;
    bool quiet = false;
    SmtpTlsMode tlsMode = SmtpTlsMode::Auto;
    platform::AddressFamily family = platform::AddressFamily::Any;
};

int usage(const std::string& problem)
{
    std::fprintf(stderr, "hanamail send: %s\nusage: hanamail send [OPTIONS]   (--help lists them)\n", problem.c_str());
    return 2;
}

bool parseNumber(const char* text, long low, long high, long& out)
{
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < low || v > high) return false;
    out = v;
    return true;
}

// 0 when parsed, else the exit status (2 for a usage error, 0 after --help).
int parse(int argc, char** argv, Options& o, bool& helpShown)
{
    const cli::ValueOption singles[] = {
        {"--eml", &o.eml},
        {"--xml-file", &o.xmlFile},
        {"--capture", &o.capture},
        {"--smtp-host", &o.host},
        {"--smtp-port", &o.port},
        {"--login", &o.login},
        {"--password-file", &o.passwordFile},
        {"--password-env", &o.passwordEnv},
        {"--dist-list", &o.distList},
        {"--timeout", &o.timeout},
        {"--log-xml", &o.logXml},
        {"--tls", &o.tls},
        {"--ca-file", &o.caFile},
    };
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf("%s%s%s%s%s%s", kUsageLine, kIntro, cli::kComposeOptionsHelp, kOwnOptions,
                        cli::kComposeOptionsNotes, kExit);
            helpShown = true;
            return 0;
        }
        if (std::strcmp(argv[i], "--quiet") == 0) {
            o.quiet = true;
            continue;
        }
        if (std::strcmp(argv[i], "--insecure") == 0) {
            o.insecure = true;
            continue;
        }
        if (const int f = cli::takeFamilyFlag(argv[i], o.family)) {
            if (f < 0) return usage("only one of -4 and -6 can be given");
            continue;
        }
        if (std::strcmp(argv[i], "--allow-plain-auth") == 0) {
            o.allowPlainAuth = true;
            continue;
        }
        if (std::strcmp(argv[i], "--password") == 0 || std::strncmp(argv[i], "--password=", 11) == 0)
            return usage("no option takes a password: use --password-file or --password-env");
        std::string problem;
        switch (cli::parseCommandOption(argc, argv, i, singles, std::size(singles), o.compose, problem)) {
            case cli::OptionParse::Taken: continue;
            case cli::OptionParse::Bad: return usage(problem);
            case cli::OptionParse::NotMine: return usage("unknown argument " + cli::quoted(argv[i]));
        }
    }
    if (!o.host || !*o.host) return usage("--smtp-host is required");
    if ((o.eml != nullptr) + (o.xmlFile != nullptr) + (o.capture != nullptr) > 1)
        return usage("only one of --eml, --xml-file and --capture can be given");
    if (o.capture && o.compose.html) return usage("--html does not apply: the captured page is the body");
    if (o.capture) o.compose.textAsAlternative = true;
    if (o.passwordFile && o.passwordEnv) return usage("only one of --password-file and --password-env can be given");
    long n = 0;
    if (o.port && !parseNumber(o.port, 1, 65535, n)) return usage("--smtp-port needs a number from 1 to 65535");
    if (o.timeout && !parseNumber(o.timeout, 1, 3600, n)) return usage("--timeout needs seconds from 1 to 3600");
    if (o.tls) {
        static const struct {
            const char* name;
            SmtpTlsMode mode;
        } kModes[] = {{"none", SmtpTlsMode::None},
                      {"starttls", SmtpTlsMode::StartTls},
                      {"auto", SmtpTlsMode::Auto},
                      {"implicit", SmtpTlsMode::Implicit}};
        bool known = false;
        for (const auto& m : kModes)
            if (std::strcmp(o.tls, m.name) == 0) {
                o.tlsMode = m.mode;
                known = true;
            }
        if (!known) return usage("--tls needs none, starttls, auto or implicit");
    }
    // Decided from the setting alone, before any name is resolved or byte sent.
    const bool credentials = o.login && (o.passwordFile || o.passwordEnv);
    if (credentials && !o.allowPlainAuth && !platform::isLoopbackHost(o.host)) {
        if (o.tlsMode == SmtpTlsMode::None)
            return usage("refusing to send the login and password to " + cli::quoted(o.host) +
                         " without TLS: use --tls starttls, auto or implicit (or --allow-plain-auth)");
        // Auto would fall back to the clear where STARTTLS is not offered.
        if (o.tlsMode == SmtpTlsMode::Auto) o.tlsMode = SmtpTlsMode::StartTls;
    }
    std::string problem;
    if (!cli::checkComposeOptions(o.compose, problem)) return usage(problem);
    return 0;
}

// The password the options name; false (a usage error) when it cannot be had.
bool readPassword(const Options& o, StringBuffer& out, std::string& problem)
{
    if (o.passwordEnv) {
        std::string value;
        if (!platform::environmentValue(o.passwordEnv, value)) {
            problem = "the environment variable " + cli::quoted(o.passwordEnv) + " is not set";
            return false;
        }
        out = value.c_str();
        for (char& c : value) c = '\0';
        return true;
    }
    if (o.passwordFile) {
        StringBuffer text;
        if (!FileSys::loadFile(o.passwordFile, text, nullptr)) {
            problem = "cannot read the password file " + cli::quoted(o.passwordFile);
            return false;
        }
        const char* s = text.getString();
        const size_t line = std::strcspn(s, "\r\n");
        out.clear();
        const bool ok = out.appendN(s, static_cast<int32_t>(line));
        text.secureClear();
        if (!ok) problem = "the password file is too large";
        return ok;
    }
    return true;
}

// A progress line on standard error: percentage, bytes sent, rate.
class ProgressBar : public ProgressEvent {
public:
    explicit ProgressBar(uint64_t bytes) : m_bytes(bytes), m_start(platform::tickCount()) {}

    void percentDone(int percent, bool& abort) override
    {
        abort = false;
        const uint32_t ms = platform::tickCount() - m_start;
        const uint64_t sent = m_bytes * static_cast<uint64_t>(percent) / 100;
        const uint64_t rate = ms > 0 ? sent * 1000 / ms : 0;
        std::fprintf(stderr, "\r%3d%%  %" PRIu64 " bytes  %" PRIu64 " KB/s ", percent, sent, rate / 1024);
        if (percent >= 100) std::fprintf(stderr, "\n");
        std::fflush(stderr);
        m_ended = percent >= 100;
    }

    void abortCheck(bool& abort) override { abort = false; }
    bool ended() const { return m_ended; }

private:
    uint64_t m_bytes;
    uint32_t m_start;
    bool m_ended = false;
};

class Sender {
public:
    explicit Sender(const Options& o) : m_opt(o) {}

    int run(const StringBuffer& password)
    {
        const bool ok = send(password);
        return cli::finishCommand("send", ok, *m_last, m_opt.logXml, m_problem);
    }

private:
    bool send(const StringBuffer& password)
    {
        const int timeout = m_opt.timeout ? std::atoi(m_opt.timeout) : 30;
        const bool loaded = m_opt.eml || m_opt.xmlFile || m_opt.capture;
        if (m_opt.capture) {
            // The certificate settings hold for an https page as for the SMTP server.
            cli::CaptureSettings settings;
            settings.timeoutSecs = timeout;
            settings.caFile = m_opt.caFile;
            settings.insecure = m_opt.insecure;
            settings.family = m_opt.family;
            if (!cli::captureEmail(m_email, m_opt.capture, settings)) return false;
        } else if (loaded && !load()) {
            return false;
        }
        if (!cli::applyComposeOptions(m_opt.compose, loaded, m_email, m_files, m_last, m_problem)) return false;
        if (m_opt.distList && !setDistributionList()) return false;

        XString text;
        text.setFromUtf8(m_opt.host);
        m_mailman.put_SmtpHost(text);
        if (m_opt.login) {
            text.setFromUtf8(m_opt.login);
            m_mailman.put_SmtpLogin(text);
            text.setFromUtf8(password.getString());
            m_mailman.put_SmtpPassword(text);
            text.setFromUtf8("");
        }
        if (m_opt.port) m_mailman.setSmtpPort(std::atoi(m_opt.port));
        m_mailman.setTlsMode(m_opt.tlsMode);
        if (m_opt.caFile) m_mailman.setTlsCaFile(cli::fullPathArg(m_opt.caFile));
        m_mailman.setTlsInsecure(m_opt.insecure);
        m_mailman.setConnectTimeout(timeout);
        m_mailman.setAddressFamily(m_opt.family);
        m_mailman.setReadTimeout(timeout);

        const int estimate = m_email.email().EstimateSize();
        ProgressBar bar(estimate > 0 ? static_cast<uint64_t>(estimate) : 0);
        const bool showProgress = !m_opt.quiet && platform::standardErrorIsTerminal();
        if (showProgress) m_mailman.setProgressEvent(&bar);
        m_last = &m_mailman;
        const bool ok = m_mailman.SendEmail(&m_email);
        if (showProgress && !bar.ended()) std::fprintf(stderr, "\n");
        return ok;
    }

    bool load()
    {
        return cli::loadEmailFile(m_email, m_opt.eml ? m_opt.eml : m_opt.xmlFile,
                                  m_opt.eml ? cli::EmailForm::Mime : cli::EmailForm::Xml, m_problem);
    }

    // The list file is named by its absolute path: the send reads it later.
    bool setDistributionList()
    {
        XString name;
        name.setFromUtf8("TBX-FileDistList");
        m_last = &m_email;
        return m_email.AddHeaderField(name, cli::fullPathArg(m_opt.distList));
    }

    const Options& m_opt;
    ClsEmail m_email;
    ClsFileSys m_files;
    ClsMailMan m_mailman;
    ClsBase* m_last = &m_email;
    std::string m_problem;
};

}  // namespace

// The command-line face of ClsMailMan: 0 sent, 1 failed or partial (the log
// on standard error), 2 for a usage error.
int cmdSend(int argc, char** argv)
{
    Options o;
    bool helpShown = false;
    const int status = parse(argc, argv, o, helpShown);
    if (status != 0 || helpShown) return status;
    StringBuffer password;
    std::string problem;
    if (!readPassword(o, password, problem)) return usage(problem);
    if (o.login && !o.passwordFile && !o.passwordEnv)
        std::fprintf(stderr, "hanamail send: --login without a password: no login is tried\n");
    platform::setStdStreamsBinary();
    Sender s(o);
    const int result = s.run(password);
    password.secureClear();
    return result;
}

}  // namespace hanamail
