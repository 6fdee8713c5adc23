#pragma once
#include <cstdint>

namespace hanamail {

// The bytes a socket received beyond the last terminator, kept for the next
// read. Always NUL-terminated after the last byte.
class ParseBuffer {
public:
    static constexpr uint32_t kStartCapacity = 32000;
    static constexpr uint32_t kFirstGrowth = 100000;
    static constexpr uint32_t kLaterGrowth = 400000;
    // Sizes stay clear of the 32-bit limit, the NUL included.
    static constexpr uint32_t kMaxLength = 0x7FFFFFF0u;

    ParseBuffer();
    ParseBuffer(const ParseBuffer&) = delete;
    ParseBuffer& operator=(const ParseBuffer&) = delete;
    virtual ~ParseBuffer();

    const char* getData() const { return m_data ? m_data : ""; }
    uint32_t getSize() const { return m_length; }
    uint32_t getCapacity() const { return m_capacity; }

    // False (the buffer unchanged) when the result would pass kMaxLength or
    // memory runs out.
    [[nodiscard]] bool append(const void* bytes, uint32_t n);
    // Drops the first n bytes (all of them when n is larger).
    void removePrefix(uint32_t n);
    void clear();
    // Offset of the first occurrence of term (termLen bytes) at or after
    // from, or -1. With tailOnly only an occurrence that ends the data counts.
    int64_t find(const char* term, uint32_t termLen, uint32_t from, bool tailOnly) const;

private:
    char* m_data;
    uint32_t m_length;
    uint32_t m_capacity;
    uint32_t m_growth;
};

}  // namespace hanamail
