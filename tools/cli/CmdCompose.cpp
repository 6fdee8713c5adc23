#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>

#include "component/ClsEmail.h"
#include "component/ClsFileSys.h"
#include "foundation/DataBuffer.h"
#include "foundation/StringBuffer.h"
#include "foundation/XString.h"
#include "mime/MimeSink.h"
#include "platform/FileSystem.h"
#include "tools/cli/CliArgs.h"
#include "tools/cli/CliIo.h"
#include "tools/cli/CliText.h"
#include "tools/cli/Commands.h"
#include "tools/cli/ComposeOptions.h"
#include "tools/cli/EmailInput.h"

namespace hanamail {

namespace {

const char kUsageLine[] = "usage: hanamail compose [OPTIONS]\n";

const char kIntro[] =
    "Composes one email and writes it as MIME text (standard output unless -o is given).\n"
    "\n"
    "  --from-eml FILE         start from the email in FILE (MIME text); the other options\n"
    "                          then change it\n"
    "  --from-xml FILE         the same for an email in its XML form\n";

const char kOwnOptions[] =
    "  --xml                   write the XML form of the email instead of MIME text\n"
    "  -o FILE                 write the email to FILE instead of standard output\n"
    "  --log-xml FILE          save the activity log of the last operation as XML\n"
    "  --help                  this text\n"
    "\n";

const char kExit[] =
    "Exit status: 0 on success; 1 when an operation failed (its activity log goes to\n"
    "standard error); 2 for a usage error.\n";

struct Options {
    cli::ComposeOptions compose;
    const char* fromEml = nullptr;
    const char* fromXml = nullptr;
    const char* output = nullptr;
    const char* logXml = nullptr;
    bool xml = false;
};

int usage(const std::string& problem)
{
    std::fprintf(stderr, "hanamail compose: %s\nusage: hanamail compose [OPTIONS]   (--help lists them)\n",
                 problem.c_str());
    return 2;
}

// 0 when parsed, else the exit status (2 for a usage error, 0 after --help).
int parse(int argc, char** argv, Options& o, bool& helpShown)
{
    const cli::ValueOption singles[] = {
        {"--from-eml", &o.fromEml}, {"--from-xml", &o.fromXml}, {"-o", &o.output}, {"--log-xml", &o.logXml}};
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf("%s%s%s%s%s%s", kUsageLine, kIntro, cli::kComposeOptionsHelp, kOwnOptions,
                        cli::kComposeOptionsNotes, kExit);
            helpShown = true;
            return 0;
        }
        if (std::strcmp(argv[i], "--xml") == 0) {
            if (o.xml) return usage("--xml given twice");
            o.xml = true;
            continue;
        }
        std::string problem;
        switch (cli::parseCommandOption(argc, argv, i, singles, std::size(singles), o.compose, problem)) {
            case cli::OptionParse::Taken: continue;
            case cli::OptionParse::Bad: return usage(problem);
            case cli::OptionParse::NotMine: return usage("unknown argument " + cli::quoted(argv[i]));
        }
    }
    if (o.fromEml && o.fromXml) return usage("only one of --from-eml and --from-xml can be given");
    std::string problem;
    if (!cli::checkComposeOptions(o.compose, problem)) return usage(problem);
    return 0;
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
        return cli::finishCommand("compose", ok, *m_last, m_opt.logXml, m_problem);
    }

private:
    bool compose()
    {
        const bool loaded = m_opt.fromEml || m_opt.fromXml;
        if (loaded && !load()) return false;
        if (!cli::applyComposeOptions(m_opt.compose, loaded, m_email, m_files, m_last, m_problem)) return false;
        m_last = &m_email;
        return m_opt.xml ? writeXml() : write();
    }

    // The email a --from option names replaces the new one.
    bool load()
    {
        return cli::loadEmailFile(m_email, m_opt.fromEml ? m_opt.fromEml : m_opt.fromXml,
                                  m_opt.fromEml ? cli::EmailForm::Mime : cli::EmailForm::Xml, m_problem);
    }

    bool writeXml()
    {
        if (m_opt.output) return m_email.SaveXml(cli::fromArg(m_opt.output));
        // What SaveXml writes into a file, on standard output.
        XString xml;
        if (!m_email.GetXml(xml)) return false;
        StringBuffer text("<?xml version=\"1.0\" ?>\n");
        if (!text.append(xml.getUtf8())) {
            m_problem = "the XML form is too large";
            return false;
        }
        text.toLf();
        if (cli::writeStandardOutput(text.getString(), text.getSize())) return true;
        m_problem = "cannot write the output";
        return false;
    }

    bool write()
    {
        if (m_opt.output) return m_email.SaveEml(cli::fromArg(m_opt.output));
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
