#include <cstdio>
#include <cstring>
#include <string>

#include "component/ClsEmail.h"
#include "foundation/DataBuffer.h"
#include "foundation/HandleIo.h"
#include "foundation/StringBuffer.h"
#include "foundation/XString.h"
#include "platform/FileSystem.h"
#include "tools/cli/CliArgs.h"
#include "tools/cli/CliIo.h"
#include "tools/cli/CliText.h"
#include "tools/cli/Commands.h"
#include "tools/cli/EmailInput.h"

namespace hanamail {

namespace {

// The two conversions differ only in what they read and what they write.
struct Conversion {
    const char* command;
    cli::EmailForm input;
    const char* help;
};

const Conversion kMimeToXml = {
    "mime2xml", cli::EmailForm::Mime,
    "usage: hanamail mime2xml [OPTIONS] [IN [OUT]]\n"
    "Reads an email as MIME text and writes its XML form, as SaveXml writes it (an XML\n"
    "declaration, LF line ends). IN and OUT default to standard input and output (\"-\").\n"};

const Conversion kXmlToMime = {"xml2mime", cli::EmailForm::Xml,
                               "usage: hanamail xml2mime [OPTIONS] [IN [OUT]]\n"
                               "Reads the XML form of an email and writes it as MIME text. IN and OUT default\n"
                               "to standard input and output (\"-\").\n"};

const char kCommonHelp[] =
    "\n"
    "  --log-xml FILE          save the activity log of the last operation as XML\n"
    "  --help                  this text\n"
    "\n"
    "Exit status: 0 on success; 1 when the input cannot be read, the XML holds no email\n"
    "or the output cannot be written; 2 for a usage error. MIME text is never refused.\n";

int usage(const Conversion& c, const std::string& problem)
{
    std::fprintf(stderr, "hanamail %s: %s\nusage: hanamail %s [OPTIONS] [IN [OUT]]   (--help lists them)\n", c.command,
                 problem.c_str(), c.command);
    return 2;
}

bool writeOutput(const char* path, const StringBuffer& text, std::string& problem)
{
    const bool standardOutput = path == nullptr || std::strcmp(path, "-") == 0;
    if (standardOutput) {
        if (cli::writeStandardOutput(text.getString(), static_cast<uint64_t>(text.getSize()))) return true;
        problem = "cannot write the output";
        return false;
    }
    platform::FileHandle h = platform::openFile(path, platform::FileOpenMode::Write);
    if (h == platform::kInvalidFile) {
        problem = "cannot create " + cli::quoted(path) + ": " + platform::lastErrorText();
        return false;
    }
    const bool ok = HandleIo::writeAll(h, text.getString(), static_cast<uint64_t>(text.getSize()));
    if (!ok) problem = "cannot write " + cli::quoted(path) + ": " + platform::lastErrorText();
    platform::closeFile(h);
    return ok;
}

// The other form of the email read from the input.
bool convert(const Conversion& c, ClsEmail& email, const char* in, const char* out, std::string& problem)
{
    DataBuffer bytes;
    if (!cli::readInput(in, bytes, problem)) return false;
    if (!cli::loadEmail(email, bytes, c.input, problem)) {
        StringBuffer text;
        email.getErrorTextUtf8(text, false);
        cli::writeLogText(text);
        return false;
    }
    bytes.clear();
    StringBuffer text;
    if (c.input == cli::EmailForm::Mime) {
        XString xml;
        if (!email.GetXml(xml)) return false;
        text = "<?xml version=\"1.0\" ?>\n";
        if (!text.append(xml.getUtf8())) {
            problem = "the XML form is too large";
            return false;
        }
        text.toLf();
    } else if (!email.GetMimeSb(text)) {
        return false;
    }
    return writeOutput(out, text, problem);
}

int run(const Conversion& c, int argc, char** argv)
{
    const char* paths[2] = {nullptr, nullptr};
    int nPaths = 0;
    const char* logXml = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf("%s%s", c.help, kCommonHelp);
            return 0;
        }
        bool matched = false;
        const char* value = nullptr;
        if (cli::takeValue(argc, argv, i, "--log-xml", value, matched)) {
            if (logXml) return usage(c, "--log-xml given twice");
            logXml = value;
        } else if (matched) {
            return usage(c, "'--log-xml' needs a value");
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            return usage(c, "unknown argument " + cli::quoted(argv[i]));
        } else if (nPaths < 2) {
            paths[nPaths++] = argv[i];
        } else {
            return usage(c, "too many arguments");
        }
    }
    platform::setStdStreamsBinary();
    ClsEmail email;
    std::string problem;
    const bool ok = convert(c, email, paths[0], paths[1], problem);
    return cli::finishCommand(c.command, ok, email, logXml, problem);
}

}  // namespace

int cmdMimeToXml(int argc, char** argv)
{
    return run(kMimeToXml, argc, argv);
}

int cmdXmlToMime(int argc, char** argv)
{
    return run(kXmlToMime, argc, argv);
}

}  // namespace hanamail
