#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace hanamail {

class LogBase;

// Server-side includes of a local page: each "<!--#include file=...-->"
// becomes the text of the file it names (relative to the current
// directory), whose own includes are expanded too.
class IncludeExpander {
public:
    explicit IncludeExpander(uint64_t maxBytes) : m_maxBytes(maxBytes) {}

    // text is UTF-8; included files are read in code page cp (0: UTF-8)
    // unless a byte-order mark says otherwise.
    void expand(std::string& text, int cp, LogBase& log);

private:
    void expandAt(std::string& text, int cp, int depth, LogBase& log);
    bool readInclude(const std::string& name, int cp, std::string& out, LogBase& log);

    uint64_t m_maxBytes;
    uint64_t m_read = 0;
    bool m_depthLogged = false;
    std::vector<std::string> m_stack;  // the files being expanded
};

}  // namespace hanamail
