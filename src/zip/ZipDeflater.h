#pragma once
#include <cstdint>

struct z_stream_s;  // zlib's, outside our namespace

namespace hanamail {

class DataBuffer;

// Raw deflate (no zlib header or trailer, 15-bit window, memory level 8,
// default strategy), one finished stream per call. The zlib state is kept
// between calls and reset, so that many small entries do not each pay for
// setting it up again.
class ZipDeflater {
public:
    enum class Result { kOk, kTooLarge, kNoMemory, kFailed };

    ZipDeflater() = default;
    ~ZipDeflater();
    ZipDeflater(const ZipDeflater&) = delete;
    ZipDeflater& operator=(const ZipDeflater&) = delete;

    // Appends the compressed form of bytes to out. kTooLarge: out would pass
    // the largest size a DataBuffer holds.
    Result deflateAll(const unsigned char* bytes, uint32_t n, int level, DataBuffer& out);

    // About the largest compressed size of n bytes; sizes the output reservation.
    static uint64_t bound(uint64_t n);

private:
    bool begin(int level);
    void end();

    ::z_stream_s* m_stream = nullptr;
    int m_level = -2;
    unsigned char* m_chunk = nullptr;
};

}  // namespace hanamail
