#pragma once
#include <cstdint>

namespace hanamail {

class DataBuffer;

// Room for one conversion's output, sized for the worst case up front and
// written through a pointer; commit hands the bytes to the DataBuffer. When
// the target already has the room, the output is written in place; otherwise
// small outputs live on the stack and a large one is handed to an empty
// buffer as it is, which saves copying the whole text once more. When no room
// can be had, the target's failure() tells why.
class ScratchOutput {
public:
    ScratchOutput(uint64_t maxBytes, DataBuffer& target);
    ~ScratchOutput();
    ScratchOutput(const ScratchOutput&) = delete;
    ScratchOutput& operator=(const ScratchOutput&) = delete;

    // Null when maxBytes could not be had.
    unsigned char* data() { return m_data; }
    // Appends the first n bytes to out (n at most maxBytes).
    bool commit(uint32_t n, DataBuffer& out);

private:
    static constexpr uint32_t kStackSize = 2048;

    unsigned char* m_data = nullptr;
    unsigned char* m_heap = nullptr;
    DataBuffer* m_inPlace = nullptr;
    uint64_t m_capacity = 0;
    unsigned char m_stack[kStackSize];
};

// Records in out that bytes could not be added because they would pass the
// size limit (out.failure() becomes TooLarge unless a failure is recorded).
void recordTooLarge(DataBuffer& out);

// Room at the end of a DataBuffer for a writer that fills it through a
// pointer, piece by piece: at least k bytes after the current size (the
// buffer grows by half at least). Null when the room cannot be had; out's
// failure() then tells why.
unsigned char* appendRoom(DataBuffer& out, uint64_t k);
// Takes what was written up to end (inside the room) into the buffer's size.
bool appendCommit(DataBuffer& out, const unsigned char* end);

// Runs a codec over n input bytes in pieces of at most piece bytes, each
// written straight into the buffer's spare room: perByte bytes per input byte
// plus extra. step(i, limit, d) handles what starts at i and before limit (it
// may read on to n, so a character is never split), moves d past what it
// wrote and returns where it stopped. False when room could not be had.
template <typename Step>
bool appendPieces(DataBuffer& out, uint32_t n, uint32_t piece, uint64_t perByte, uint64_t extra, Step step)
{
    for (uint32_t i = 0; i < n;) {
        const uint32_t limit = n - i > piece ? i + piece : n;
        unsigned char* d = appendRoom(out, perByte * (limit - i) + extra);
        if (d == nullptr) return false;
        i = step(i, limit, d);
        if (!appendCommit(out, d)) return false;
    }
    return true;
}

// Runs a decoder that never writes more bytes than it reads over all n input
// bytes at once: write(d, room) fills the room from d on and moves d past
// what it wrote.
template <typename Write>
void appendShrinking(DataBuffer& out, uint32_t n, Write write)
{
    unsigned char* d = appendRoom(out, uint64_t(n) + 2);
    if (d == nullptr) return;
    write(d, n + 2);
    appendCommit(out, d);
}

// Runs a stateful decoding step over all of s at once, from its initial mode:
// step(s, i, n, d, room, mode) as the ...Step members of the 7-bit codecs.
template <typename Step>
void appendShrinkingSteps(const unsigned char* s, uint32_t n, DataBuffer& out, Step step)
{
    if (s == nullptr || n == 0) return;
    appendShrinking(out, n, [&](unsigned char*& d, uint32_t room) {
        bool mode = false;
        step(s, 0u, n, d, room, mode);
    });
}

}  // namespace hanamail
