#include <cstdio>

#include <cstring>

#include "charset/Charset.h"
#include "charset/CharsetCatalogue.h"
#include "tools/cli/Commands.h"

namespace hanamail {

namespace {

bool flushed()
{
    // A script must not take a truncated answer for a complete one.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "hanamail charset: cannot write the output\n");
        return false;
    }
    return true;
}

// Every accepted name with its code page, in table order.
int listNames()
{
    for (int i = 0; i < charsetNameCount(); ++i) {
        const CharsetNameEntry& e = charsetNameAt(i);
        std::printf("%d\t%s\n", e.codePage, e.name);
    }
    return flushed() ? 0 : 1;
}

}  // namespace

// One line per name: the code page and the name written for it, separated by a
// tab; 0 and an empty name for an unknown name.
int cmdCharset(int argc, char** argv)
{
    static const char kUsage[] =
        "usage: hanamail charset NAME...\n       hanamail charset --list\n"
        "Prints the code page and the name written for each charset name (0 and an empty\n"
        "name for an unknown one; exit status 1 then); --list prints every accepted name.\n";
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return flushed() ? 0 : 1;
    }
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (argc == 2 && std::strcmp(argv[1], "--list") == 0) return listNames();
    bool allKnown = true;
    Charset charset;
    for (int i = 1; i < argc; ++i) {
        charset.setByName(argv[i]);
        if (charset.getCodePage() == 0) allKnown = false;
        std::printf("%d\t%s\n", charset.getCodePage(), charset.getName());
    }
    if (!flushed()) return 1;
    return allKnown ? 0 : 1;
}

}  // namespace hanamail
