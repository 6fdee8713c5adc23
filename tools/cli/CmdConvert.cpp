#include <cstdio>
#include <cstring>

#include "charset/CharsetCatalogue.h"
#include "charset/EncodingConvert.h"
#include "foundation/DataBuffer.h"
#include "foundation/HandleIo.h"
#include "platform/FileSystem.h"
#include "tools/cli/CliText.h"
#include "tools/cli/Commands.h"

namespace hanamail {

namespace {

const char kUsage[] = "usage: hanamail convert --from NAME --to NAME [INPUT [OUTPUT]]\n";

int usageError(const char* why)
{
    if (why != nullptr) std::fprintf(stderr, "hanamail convert: %s\n", why);
    std::fputs(kUsage, stderr);
    return 2;
}

// The value of "--opt VALUE" or "--opt=VALUE" at argv[i], or null.
const char* optionValue(const char* opt, int argc, char** argv, int& i)
{
    const size_t len = std::strlen(opt);
    if (std::strncmp(argv[i], opt, len) != 0) return nullptr;
    if (argv[i][len] == '=') return argv[i] + len + 1;
    if (argv[i][len] != '\0' || i + 1 >= argc) return nullptr;
    return argv[++i];
}

}  // namespace

int cmdConvert(int argc, char** argv)
{
    const char* fromName = nullptr;
    const char* toName = nullptr;
    const char* paths[2] = {nullptr, nullptr};
    int nPaths = 0;
    for (int i = 1; i < argc; ++i) {
        const char* v;
        if ((v = optionValue("--from", argc, argv, i)) != nullptr) {
            fromName = v;
        } else if ((v = optionValue("--to", argc, argv, i)) != nullptr) {
            toName = v;
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            return usageError("unknown option or missing value");
        } else if (nPaths < 2) {
            paths[nPaths++] = argv[i];
        } else {
            return usageError("too many arguments");
        }
    }
    if (fromName == nullptr || toName == nullptr) return usageError("--from and --to are required");
    const int fromCp = charsetToCodePage(fromName);
    const int toCp = charsetToCodePage(toName);
    if (fromCp == 0 || toCp == 0) {
        std::fprintf(stderr, "hanamail convert: unknown charset '%s'\n",
                     cli::escapeControls(fromCp == 0 ? fromName : toName).c_str());
        return 2;
    }

    platform::setStdStreamsBinary();  // text mode would change the bytes
    const bool fromStdin = paths[0] == nullptr || std::strcmp(paths[0], "-") == 0;
    platform::FileHandle in =
        fromStdin ? platform::standardInput() : platform::openFile(paths[0], platform::FileOpenMode::Read);
    if (in == platform::kInvalidFile) {
        std::fprintf(stderr, "hanamail convert: cannot open '%s'\n", cli::escapeControls(paths[0]).c_str());
        return 2;
    }
    DataBuffer input;
    const bool readOk = HandleIo::readToEnd(in, input);
    if (!fromStdin) platform::closeFile(in);
    if (!readOk) {
        std::fprintf(stderr, "hanamail convert: %s\n",
                     input.hasFailed() ? "the input is too large" : "cannot read the input");
        return 2;
    }

    DataBuffer output;
    EncodingConvert conv;
    const bool fits = conv.convert(fromCp, toCp, input.getData(), input.getSize(), output);
    if (output.hasFailed()) {
        std::fprintf(stderr, "hanamail convert: the converted text is too large\n");
        return 2;
    }
    input.clear();

    const bool toStdout = paths[1] == nullptr || std::strcmp(paths[1], "-") == 0;
    platform::FileHandle out =
        toStdout ? platform::standardOutput() : platform::openFile(paths[1], platform::FileOpenMode::Write);
    if (out == platform::kInvalidFile) {
        std::fprintf(stderr, "hanamail convert: cannot create '%s'\n", cli::escapeControls(paths[1]).c_str());
        return 2;
    }
    const bool written = HandleIo::writeAll(out, output.getData(), output.getSize());
    if (!toStdout) platform::closeFile(out);
    if (!written) {
        std::fprintf(stderr, "hanamail convert: cannot write the output\n");
        return 2;
    }
    if (!fits) {
        std::fprintf(stderr, "hanamail convert: not all of the text could be converted from %s to %s\n", fromName,
                     toName);
        return 1;
    }
    return 0;
}

}  // namespace hanamail
