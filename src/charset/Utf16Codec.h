#pragma once
#include <cstdint>

namespace hanamail {

class DataBuffer;

// UTF-8 <-> UTF-16LE and the byte swap of UTF-16BE: the conversions every
// text of the system passes through, so they work on whole runs with ASCII
// fast paths and write through a pointer into space sized up front.
class Utf16Codec {
public:
    // UTF-8 to UTF-16LE. An invalid or cut-off sequence loses its first byte
    // and decoding goes on at the next; 4-byte sequences become surrogate pairs.
    // False only when the output could not be allocated.
    static bool fromUtf8(const unsigned char* s, uint32_t n, DataBuffer& out);
    // UTF-16LE to UTF-8. A well-formed surrogate pair becomes one 4-byte
    // sequence; any other surrogate unit is written alone in three bytes.
    // False when n is odd (the last byte is ignored).
    static bool toUtf8(const unsigned char* s, uint32_t n, DataBuffer& out);
    // Swaps the bytes of every unit. False when n is odd (the last byte is dropped).
    static bool swapBytes(const unsigned char* s, uint32_t n, DataBuffer& out);

    // The same into caller memory: room for 2 * n bytes (fromUtf8Raw) or
    // 3 * (n / 2) bytes (toUtf8Raw); they return the number of bytes written.
    static uint32_t fromUtf8Raw(const unsigned char* s, uint32_t n, unsigned char* d);
    static uint32_t toUtf8Raw(const unsigned char* s, uint32_t n, unsigned char* d);
};

}  // namespace hanamail
