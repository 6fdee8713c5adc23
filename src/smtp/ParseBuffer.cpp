#include "smtp/ParseBuffer.h"

#include <cstdlib>
#include <cstring>

namespace hanamail {

ParseBuffer::ParseBuffer() : m_data(nullptr), m_length(0), m_capacity(0), m_growth(kFirstGrowth)
{
    m_data = static_cast<char*>(std::malloc(kStartCapacity));
    if (m_data) {
        m_capacity = kStartCapacity;
        m_data[0] = '\0';
    }
}

ParseBuffer::~ParseBuffer()
{
    std::free(m_data);
}

bool ParseBuffer::append(const void* bytes, uint32_t n)
{
    if (n == 0) return true;
    const uint64_t needed = uint64_t(m_length) + n;  // without the NUL
    if (needed > kMaxLength) return false;
    if (needed + 1 > m_capacity) {
        uint64_t grown = uint64_t(m_capacity) + m_growth;
        if (grown <= needed) grown += n;
        if (grown < needed + 1) grown = needed + 1;
        if (grown > uint64_t(kMaxLength) + 1) grown = uint64_t(kMaxLength) + 1;
        char* p = static_cast<char*>(std::realloc(m_data, static_cast<size_t>(grown)));
        if (!p) return false;
        m_data = p;
        m_capacity = static_cast<uint32_t>(grown);
        m_growth = kLaterGrowth;
    }
    std::memcpy(m_data + m_length, bytes, n);
    m_length = static_cast<uint32_t>(needed);
    m_data[m_length] = '\0';
    return true;
}

void ParseBuffer::removePrefix(uint32_t n)
{
    if (n >= m_length) {
        clear();
        return;
    }
    std::memmove(m_data, m_data + n, m_length - n);
    m_length -= n;
    m_data[m_length] = '\0';
}

void ParseBuffer::clear()
{
    m_length = 0;
    if (m_data) m_data[0] = '\0';
}

int64_t ParseBuffer::find(const char* term, uint32_t termLen, uint32_t from, bool tailOnly) const
{
    if (termLen == 0 || termLen > m_length) return -1;
    const uint32_t last = m_length - termLen;  // the last offset a whole terminator fits at
    if (tailOnly) return std::memcmp(m_data + last, term, termLen) == 0 ? int64_t(last) : -1;
    for (uint32_t at = from; at <= last; ++at) {
        const void* hit = std::memchr(m_data + at, term[0], last - at + 1);
        if (!hit) return -1;
        at = static_cast<uint32_t>(static_cast<const char*>(hit) - m_data);
        if (std::memcmp(m_data + at, term, termLen) == 0) return at;
    }
    return -1;
}

}  // namespace hanamail
