#include "mime/UuDecoder.h"

#include <string>
#include <string_view>

#include "foundation/DataBuffer.h"

namespace hanamail {

namespace {

char lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

bool beginsNoCase(std::string_view s, std::string_view prefix)
{
    if (s.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (lower(s[i]) != prefix[i]) return false;
    return true;
}

// The six bits of one character; a character past the line's end counts as 0.
unsigned sixBits(std::string_view line, size_t i)
{
    return i < line.size() ? (static_cast<unsigned char>(line[i]) - 32u) & 63u : 0u;
}

// "begin", blanks, octal digits, blanks, a name: the name, or false.
bool parseBeginLine(std::string_view line, std::string& name)
{
    size_t i = 5;
    const auto blank = [&](size_t k) { return k < line.size() && (line[k] == ' ' || line[k] == '\t'); };
    if (!blank(i)) return false;
    while (blank(i)) ++i;
    const size_t digits = i;
    while (i < line.size() && line[i] >= '0' && line[i] <= '7') ++i;
    if (i == digits || !blank(i)) return false;
    while (blank(i)) ++i;
    if (i >= line.size()) return false;
    name.assign(line.substr(i));
    return true;
}

}  // namespace

bool UuDecoder::UuDecode(const char* text, uint32_t n, DataBuffer& out)
{
    m_fileName.clear();
    m_blockStart = m_blockEnd = 0;
    if (!text || n == 0) return false;
    const std::string_view all(text, n);
    size_t pos = 0;
    // Each line without its LF and CRs.
    auto nextLine = [&](std::string& line, size_t& start) {
        if (pos >= all.size()) return false;
        start = pos;
        size_t eol = all.find('\n', pos);
        if (eol == std::string_view::npos) eol = all.size();
        line.clear();
        for (size_t i = pos; i < eol; ++i)
            if (all[i] != '\r') line += all[i];
        pos = eol < all.size() ? eol + 1 : eol;
        return true;
    };

    std::string line;
    std::string name;
    size_t start = 0;
    bool found = false;
    while (nextLine(line, start)) {
        if (beginsNoCase(line, "begin ")) {
            if (!parseBeginLine(line, name)) return false;
            found = true;
            break;
        }
    }
    if (!found) return false;
    m_fileName = name.c_str();
    m_blockStart = static_cast<uint32_t>(start);

    DataBuffer decoded;
    while (nextLine(line, start)) {
        std::string_view l(line);
        while (!l.empty() && (l.back() == ' ' || l.back() == '\t') && l.size() > 1) l.remove_suffix(1);
        if (l == "end") break;
        int count = l.empty() ? 0 : static_cast<int>(sixBits(l, 0));
        if (count == 0) {
            // The "end" line that follows belongs to the block too.
            const size_t after = pos;
            if (nextLine(line, start)) {
                std::string_view e(line);
                while (!e.empty() && (e.back() == ' ' || e.back() == '\t')) e.remove_suffix(1);
                if (e != "end") pos = after;
            }
            break;
        }
        for (size_t g = 1; count > 0; g += 4) {
            const unsigned a = sixBits(l, g), b = sixBits(l, g + 1), c = sixBits(l, g + 2), d = sixBits(l, g + 3);
            const unsigned char bytes[3] = {static_cast<unsigned char>((a << 2) | (b >> 4)),
                                            static_cast<unsigned char>(((b & 15) << 4) | (c >> 2)),
                                            static_cast<unsigned char>(((c & 3) << 6) | d)};
            const uint32_t take = count < 3 ? static_cast<uint32_t>(count) : 3u;
            if (!decoded.append(bytes, take)) return false;
            count -= 3;
        }
    }
    m_blockEnd = static_cast<uint32_t>(pos);
    return out.append(decoded);
}

}  // namespace hanamail
