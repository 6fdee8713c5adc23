#include <cstdio>

#include "charset/Charset.h"
#include "tools/cli/Commands.h"

// One line per name: the code page and the name written for it, separated by a
// tab; 0 and an empty name for an unknown name.
int cmdCharset(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: hanamail charset NAME...\n");
        return 2;
    }
    bool allKnown = true;
    Charset charset;
    for (int i = 1; i < argc; ++i) {
        charset.setByName(argv[i]);
        if (charset.getCodePage() == 0) allKnown = false;
        std::printf("%d\t%s\n", charset.getCodePage(), charset.getName());
    }
    // A script must not take a truncated answer for a complete one.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "hanamail charset: cannot write the output\n");
        return 1;
    }
    return allKnown ? 0 : 1;
}
