#pragma once
#include <cstdint>

#include "foundation/BufferLimit.h"
#include "foundation/DataBuffer.h"

namespace hanamail {

// The 200-byte block in which the byte-at-a-time encoders gather their output
// before appending it to the buffer. The caller keeps the write position in a
// local pointer (a position kept in the object would be reloaded after every
// byte written) and asks for room before each write:
//
//     unsigned char* w = block.start();
//     w = block.room(w, 3);  *w++ = ...;  ...
//     state.ok = block.finish(w, ok);
//
// The buffer grows by half its size at a time, so long texts are not copied
// over and over. Once the buffer cannot grow, nothing more is appended:
// failed() tells the writer, and the buffer's failure() tells why.
class StagingBlock {
public:
    static constexpr uint32_t kSize = 200;
    static constexpr uint32_t kMaxStep = 8;  // most bytes one room() call may ask for

    // expected: a guess of the output size, reserved up front.
    StagingBlock(DataBuffer& out, uint64_t expected) : m_out(out) { reserve(expected); }
    StagingBlock(const StagingBlock&) = delete;
    StagingBlock& operator=(const StagingBlock&) = delete;

    unsigned char* start() { return m_block; }
    // w, or the start of the emptied block when fewer than k bytes are left after w.
    unsigned char* room(unsigned char* w, uint32_t k)
    {
        if (static_cast<uint32_t>(m_block + kSize - w) >= k) return w;
        flush(w);
        return m_block;
    }
    // Appends what was written up to w; returns ok unless some output was lost.
    bool finish(unsigned char* w, bool ok)
    {
        flush(w);
        return ok && !m_failed;
    }
    // Whether some of the output could not be appended.
    bool failed() const { return m_failed; }

private:
    void flush(unsigned char* w)
    {
        const uint32_t len = static_cast<uint32_t>(w - m_block);
        if (len == 0 || m_failed) return;
        const uint64_t capacity = m_out.getCapacity();
        if (m_out.getSize() + uint64_t(len) > capacity) reserve(capacity / 2 + len);
        if (!m_failed && !m_out.append(m_block, len)) m_failed = true;
    }
    // Grows by half at least: a text written in many pieces, each with its
    // own block, is then not copied over and over either. Never past the size
    // limit: the appends find out whether the text itself fits.
    void reserve(uint64_t more)
    {
        uint64_t want = uint64_t(m_out.getSize()) + more;
        const uint64_t capacity = m_out.getCapacity();
        if (want <= capacity) return;
        if (capacity + capacity / 2 > want) want = capacity + capacity / 2;
        const uint64_t limit = BufferLimit::maxBytes();
        if (want > limit) want = limit;
        if (want > capacity && !m_out.ensureCapacity(static_cast<uint32_t>(want)))
            m_failed = true;  // recorded in the buffer too
    }

    DataBuffer& m_out;
    bool m_failed = false;
    unsigned char m_block[kSize];
};

}  // namespace hanamail
