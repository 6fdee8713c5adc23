// The uudecoder on arbitrary text: never a read past the input, a block that
// lies inside the text, and nothing appended when no block is found. When
// the first byte is odd the rest is instead uuencoded here (a begin line with
// a name, full and short lines, "`" and "end") inside text around it, and
// must decode to the same bytes and name, with the block where it was put.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/DataBuffer.h"
#include "mime/UuDecoder.h"

using namespace hanamail;

namespace {

void require(bool condition)
{
    if (!condition) __builtin_trap();
}

char uuChar(unsigned v)
{
    return v == 0 ? '`' : static_cast<char>(32 + v);
}

std::string uuencode(const uint8_t* p, size_t n)
{
    std::string out;
    for (size_t at = 0; at < n; at += 45) {
        const size_t len = n - at < 45 ? n - at : 45;
        out += uuChar(static_cast<unsigned>(len));
        for (size_t i = 0; i < len; i += 3) {
            const unsigned a = p[at + i];
            const unsigned b = i + 1 < len ? p[at + i + 1] : 0;
            const unsigned c = i + 2 < len ? p[at + i + 2] : 0;
            out += uuChar(a >> 2);
            out += uuChar(((a & 3) << 4) | (b >> 4));
            out += uuChar(((b & 15) << 2) | (c >> 6));
            out += uuChar(c & 63);
        }
        out += "\r\n";
    }
    return out + "`\r\nend\r\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0 || size > (1 << 18)) return 0;
    if (data[0] & 1) {
        const std::string before = "Here is the file.\r\n\r\n";
        const std::string after = "\r\nRegards\r\n";
        const std::string text = before + "begin 644 my file.bin\r\n" + uuencode(data + 1, size - 1) + after;
        UuDecoder uu;
        DataBuffer out;
        require(uu.UuDecode(text.data(), static_cast<uint32_t>(text.size()), out));
        require(out.getSize() == size - 1);
        require(size == 1 || std::memcmp(out.getData(), data + 1, size - 1) == 0);
        require(std::strcmp(uu.fileName().getString(), "my file.bin") == 0);
        require(uu.blockStart() == before.size());
        require(uu.blockEnd() == text.size() - after.size());
        return 0;
    }
    std::vector<char> text(data + 1, data + size);
    UuDecoder uu;
    DataBuffer out;
    const uint8_t mark = 0x5A;
    require(out.append(&mark, 1));
    const bool found = uu.UuDecode(text.data(), static_cast<uint32_t>(text.size()), out);
    require(out.getSize() >= 1 && out.getData()[0] == mark);
    if (!found) {
        require(out.getSize() == 1);
        return 0;
    }
    require(uu.blockStart() <= uu.blockEnd() && uu.blockEnd() <= text.size());
    // At most 63 bytes come from one line, and a line takes at least one byte.
    require(out.getSize() - 1 <= 63u * text.size());
    return 0;
}
