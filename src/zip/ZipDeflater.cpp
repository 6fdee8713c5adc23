// Raw deflate streams (RFC 1951) for zip entries.
#include "zip/ZipDeflater.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <new>

#include "foundation/DataBuffer.h"

namespace hanamail {

namespace {
constexpr uint32_t kChunk = 64 * 1024;
constexpr int kWindowBits = -15;  // negative: raw deflate
constexpr int kMemLevel = 8;

// Grows out geometrically: DataBuffer::append alone grows in fixed steps,
// which turns large archives quadratic.
void reserve(DataBuffer& out, uint64_t extra)
{
    uint64_t want = static_cast<uint64_t>(out.getSize()) + extra;
    if (want <= out.getCapacity()) return;
    want = std::max<uint64_t>(want, static_cast<uint64_t>(out.getCapacity()) * 2);
    want = std::min<uint64_t>(want, DataBuffer::kMaxSize);
    (void)out.ensureCapacity(static_cast<uint32_t>(want));  // a hint only: append reports real failures
}
}  // namespace

ZipDeflater::~ZipDeflater()
{
    end();
    std::free(m_chunk);
}

void ZipDeflater::end()
{
    if (m_stream) {
        deflateEnd(m_stream);
        delete m_stream;
        m_stream = nullptr;
    }
    m_level = -2;
}

bool ZipDeflater::begin(int level)
{
    if (m_stream && m_level == level) return deflateReset(m_stream) == Z_OK;
    end();
    m_stream = new (std::nothrow) z_stream{};
    if (!m_stream) return false;
    if (deflateInit2(m_stream, level, Z_DEFLATED, kWindowBits, kMemLevel, Z_DEFAULT_STRATEGY) != Z_OK) {
        delete m_stream;
        m_stream = nullptr;
        return false;
    }
    m_level = level;
    return true;
}

uint64_t ZipDeflater::bound(uint64_t n)
{
    // Roughly zlib's deflateBound for these parameters, in 64 bits; it only
    // sizes the reservation, so an estimate does no harm.
    return n + (n >> 12) + (n >> 14) + (n >> 25) + 13 + 6;
}

ZipDeflater::Result ZipDeflater::deflateAll(const unsigned char* bytes, uint32_t n, int level, DataBuffer& out)
{
    if (!m_chunk) {
        m_chunk = static_cast<unsigned char*>(std::malloc(kChunk));
        if (!m_chunk) return Result::kNoMemory;
    }
    if (!begin(level)) return m_stream ? Result::kFailed : Result::kNoMemory;
    reserve(out, bound(n));
    static const unsigned char kNothing = 0;
    m_stream->next_in = const_cast<Bytef*>(bytes ? bytes : &kNothing);
    m_stream->avail_in = bytes ? n : 0;
    for (;;) {
        m_stream->next_out = m_chunk;
        m_stream->avail_out = kChunk;
        int rc = deflate(m_stream, Z_FINISH);
        if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
            end();
            return Result::kFailed;
        }
        uint32_t produced = kChunk - m_stream->avail_out;
        if (static_cast<uint64_t>(out.getSize()) + produced > DataBuffer::kMaxSize) return Result::kTooLarge;
        if (!out.append(m_chunk, produced)) return Result::kNoMemory;
        if (rc == Z_STREAM_END) return Result::kOk;
        if (rc == Z_BUF_ERROR && produced == 0) {  // no progress possible
            end();
            return Result::kFailed;
        }
    }
}

}  // namespace hanamail
