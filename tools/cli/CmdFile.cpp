#include <cstdio>
#include <cstring>

#include "component/ClsFileSys.h"
#include "foundation/DataBuffer.h"
#include "foundation/StringBuffer.h"
#include "foundation/XString.h"
#include "platform/FileSystem.h"
#include "tools/cli/CliIo.h"
#include "tools/cli/CliText.h"
#include "tools/cli/Commands.h"

namespace hanamail {

namespace {

int usage(FILE* out = stderr)
{
    std::fprintf(out,
                 "usage: hanamail file read [--charset NAME] [--log-xml OUT] FILE\n"
                 "       hanamail file write [--charset NAME] [--log-xml OUT] FILE < TEXT\n"
                 "read prints the file's text as UTF-8 (a UTF-8, UTF-16LE or UTF-16BE byte-order\n"
                 "mark decides over the charset); write stores UTF-8 text from standard input\n"
                 "in the charset, without a byte-order mark. An unknown or empty charset name\n"
                 "stands for the ANSI code page. --log-xml saves the activity log as XML.\n");
    return out == stderr ? 2 : 0;
}

// "--name VALUE" or "--name=VALUE"; advances i past what it used.
bool takeOption(int argc, char** argv, int& i, const char* name, const char*& value)
{
    size_t n = std::strlen(name);
    if (std::strncmp(argv[i], name, n) != 0) return false;
    if (argv[i][n] == '=') {
        value = argv[i] + n + 1;
        return true;
    }
    if (argv[i][n] != '\0' || i + 1 >= argc) return false;
    value = argv[++i];
    return true;
}

void printLog(ClsFileSys& fs)
{
    StringBuffer text;
    fs.getErrorTextUtf8(text, false);
    cli::writeLogText(text);
}

}  // namespace

// Mirrors ReadFile and WriteFile of the component: 0 on success, 1 when the
// operation failed (its log on standard error), 2 for a usage error.
int cmdFile(int argc, char** argv)
{
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) return usage(stdout);
    if (argc < 2) return usage();
    const bool reading = std::strcmp(argv[1], "read") == 0;
    if (!reading && std::strcmp(argv[1], "write") != 0) return usage();
    const char* charsetName = "";
    const char* logXml = nullptr;
    const char* file = nullptr;
    for (int i = 2; i < argc; ++i) {
        if (takeOption(argc, argv, i, "--charset", charsetName) || takeOption(argc, argv, i, "--log-xml", logXml))
            continue;
        if ((argv[i][0] == '-' && argv[i][1] != '\0') || file) return usage();
        file = argv[i];
    }
    if (!file) return usage();

    platform::setStdStreamsBinary();
    // Arguments arrive in the ANSI code page (UTF-8 on POSIX).
    XString name, charset;
    name.setFromAnsi(file);
    charset.setFromAnsi(charsetName);
    ClsFileSys fs;
    bool ok;
    XString text;
    if (reading) {
        ok = fs.ReadTextFile(name, charset, text);
    } else {
        DataBuffer input;
        if (!cli::readStandardInput(input) || input.getSize() > static_cast<uint32_t>(StringBuffer::kMaxLength)) {
            std::fprintf(stderr, "hanamail file write: cannot read standard input\n");
            return 1;
        }
        text.setFromUtf8N(reinterpret_cast<const char*>(input.getData()), static_cast<int32_t>(input.getSize()));
        ok = fs.WriteTextFile(name, charset, text);
    }
    const bool logSaved = !logXml || fs.saveErrorXml(logXml);
    if (!ok) {
        printLog(fs);
        if (!reading)
            std::fprintf(stderr, "hanamail file write: cannot write '%s'\n", cli::escapeControls(file).c_str());
    }
    if (!logSaved)
        std::fprintf(stderr, "hanamail file: cannot write the log to '%s'\n", cli::escapeControls(logXml).c_str());
    if (!ok || !logSaved) return 1;
    if (reading) {
        const StringBuffer& utf8 = text.getUtf8Sb();
        // A script must not take a truncated answer for a complete one.
        if (!cli::writeStandardOutput(utf8.getString(), static_cast<uint64_t>(utf8.getSize()))) {
            std::fprintf(stderr, "hanamail file read: cannot write the output\n");
            return 1;
        }
    }
    return 0;
}

}  // namespace hanamail
