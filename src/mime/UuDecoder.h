#pragma once
#include <cstdint>

#include "foundation/StringBuffer.h"

namespace hanamail {

class DataBuffer;

// Decodes the first uuencoded block of a text ("begin <octal mode> <name>",
// then lines of a length character and groups of four) and remembers the
// file name of its begin line. A line of count 0, an "end" line or the end
// of the text ends the block.
class UuDecoder {
public:
    // Appends the decoded bytes to out; false (out untouched) when the text
    // has no begin line of that form.
    bool UuDecode(const char* text, uint32_t n, DataBuffer& out);

    // The rest of the begin line after the mode (it may hold spaces).
    const StringBuffer& fileName() const { return m_fileName; }
    // Where the block stood in the text: its begin line up to the end of the
    // last line it read, so that callers can keep the text around it.
    uint32_t blockStart() const { return m_blockStart; }
    uint32_t blockEnd() const { return m_blockEnd; }

private:
    StringBuffer m_fileName;
    uint32_t m_blockStart = 0;
    uint32_t m_blockEnd = 0;
};

}  // namespace hanamail
