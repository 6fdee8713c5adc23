#include "tools/cli/CliArgs.h"

#include <cstdio>
#include <cstring>

#include "foundation/ClsBase.h"
#include "foundation/FileSys.h"
#include "foundation/StringBuffer.h"
#include "tools/cli/CliText.h"

namespace hanamail {

namespace cli {

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

XString fullPathArg(const char* path)
{
    StringBuffer full;
    FileSys::getFullPathName(path, full);
    XString x;
    x.setFromUtf8(full.getString());
    return x;
}

int takeFamilyFlag(const char* arg, platform::AddressFamily& family)
{
    if (std::strcmp(arg, "-4") != 0 && std::strcmp(arg, "-6") != 0) return 0;
    const auto given = arg[1] == '4' ? platform::AddressFamily::Ipv4 : platform::AddressFamily::Ipv6;
    if (family != platform::AddressFamily::Any && family != given) return -1;
    family = given;
    return 1;
}

std::string quoted(const std::string& s)
{
    // Built by appending: GCC 12 at -O3 warns falsely on "literal" + std::string&&.
    std::string r = "'";
    r += escapeControls(s);
    r += '\'';
    return r;
}

XString fromArg(const std::string& s)
{
    XString x;
    x.setFromAnsi(s.c_str());
    return x;
}

int finishCommand(const char* command, bool ok, ClsBase& last, const char* logXml, const std::string& problem)
{
    bool logSaved = true;
    if (logXml) logSaved = last.saveErrorXml(fromArg(logXml));
    if (!ok) {
        if (!problem.empty()) {
            std::fprintf(stderr, "hanamail %s: %s\n", command, problem.c_str());
        } else {
            StringBuffer text;
            last.getErrorTextUtf8(text, false);
            writeLogText(text);
        }
    }
    if (!logSaved) std::fprintf(stderr, "hanamail %s: cannot write the log to %s\n", command, quoted(logXml).c_str());
    return ok && logSaved ? 0 : 1;
}

}  // namespace cli

}  // namespace hanamail
