#include <cstdio>
#include <cstring>

#include "tools/cli/Commands.h"

#ifdef HANAMAIL_TEST_HOOKS
#include <cstdlib>

#include "foundation/BufferLimit.h"
#endif

namespace hanamail {

namespace {

struct Command {
    const char* name;
    int (*run)(int, char**);
    const char* summary;
};

const Command kCommands[] = {
    {"capture", cmdCapture,
     "capture URL|FILE [OPTIONS] capture a web page or HTML file as an email (--help lists them)"},
    {"charset", cmdCharset, "charset NAME...            code page and preferred name of each charset name"},
    {"compose", cmdCompose, "compose [OPTIONS]          compose an email as MIME text (--help lists the options)"},
    {"convert", cmdConvert, "convert --from NAME --to NAME [INPUT [OUTPUT]]   convert text between charsets"},
    {"file", cmdFile,
     "file read|write --charset NAME FILE   read a text file as UTF-8, or write UTF-8 input in a charset"},
    {"mime2xml", cmdMimeToXml, "mime2xml [IN [OUT]]        write the XML form of an email read as MIME text"},
    {"send", cmdSend, "send [OPTIONS]             send an email by SMTP (--help lists the options)"},
    {"show", cmdShow, "show [OPTIONS] FILE        show an email (MIME or XML): fields, structure, bodies, attachments"},
    {"xml2mime", cmdXmlToMime, "xml2mime [IN [OUT]]        write the MIME text of an email read from its XML form"},
};

void printUsage(FILE* out)
{
    std::fprintf(out, "usage: hanamail COMMAND [ARGS...]\n\ncommands:\n");
    for (const Command& c : kCommands) std::fprintf(out, "  %s\n", c.summary);
    std::fprintf(out, "\n  --help       this text\n  --version    the version\n");
}

}  // namespace

}  // namespace hanamail

using namespace hanamail;

int main(int argc, char** argv)
{
#ifdef HANAMAIL_TEST_HOOKS
    // Only the tests' build of the tool has this: a low buffer limit makes
    // the failure paths of large emails reachable without gigabytes.
    if (const char* cap = std::getenv("HANAMAIL_TEST_BUFFER_CAP"))
        BufferLimit::setCapForTesting(static_cast<uint32_t>(std::strtoul(cap, nullptr, 10)));
#endif
    if (argc < 2) {
        printUsage(stderr);
        return 2;
    }
    const char* cmd = argv[1];
    if (std::strcmp(cmd, "--help") == 0 || std::strcmp(cmd, "-h") == 0 || std::strcmp(cmd, "help") == 0) {
        printUsage(stdout);
        return 0;
    }
    if (std::strcmp(cmd, "--version") == 0) {
        std::printf("hanamail %s\n", HANAMAIL_VERSION);
        return 0;
    }
    for (const Command& c : kCommands) {
        if (std::strcmp(cmd, c.name) == 0) return c.run(argc - 1, argv + 1);
    }
    std::fprintf(stderr, "hanamail: unknown command '%s'\n\n", cmd);
    printUsage(stderr);
    return 2;
}
