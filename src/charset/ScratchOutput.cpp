#include "charset/ScratchOutput.h"

#include <cstdint>
#include <cstdlib>

#include "foundation/BufferLimit.h"
#include "foundation/DataBuffer.h"

namespace hanamail {

ScratchOutput::ScratchOutput(uint64_t maxBytes, DataBuffer& target) : m_capacity(maxBytes)
{
    uint32_t size = target.getSize();
    if (!target.isBorrowed() && target.getData() != nullptr && target.getCapacity() - size >= maxBytes) {
        m_inPlace = &target;
        m_data = target.getDataMutable() + size;
    } else if (maxBytes <= kStackSize) {
        m_data = m_stack;
    } else if (maxBytes <= DataBuffer::kMaxSize) {
        m_heap = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(maxBytes)));
        m_data = m_heap;
    }
    if (m_data == nullptr) {
        // Growing the target itself may still work; if not, the target
        // records why, so the failure shows in it.
        const uint64_t want = uint64_t(size) + maxBytes;
        if (target.ensureCapacity(want < UINT32_MAX ? static_cast<uint32_t>(want) : UINT32_MAX) &&
            !target.isBorrowed() && target.getData() != nullptr) {
            m_inPlace = &target;
            m_data = target.getDataMutable() + size;
        }
    }
}

ScratchOutput::~ScratchOutput()
{
    std::free(m_heap);
}

bool ScratchOutput::commit(uint32_t n, DataBuffer& out)
{
    if (m_data == nullptr || n > m_capacity) return false;
    if (n == 0) return true;
    if (m_inPlace != nullptr) {
        if (m_inPlace != &out) return false;
        return out.setSize(out.getSize() + n);
    }
    // Hand the heap block over when the buffer has nothing to keep; shrinking
    // it first does not move it.
    if (m_heap != nullptr && out.getSize() == 0 && n <= BufferLimit::maxBytes()) {
        if (n < m_capacity) {
            if (void* smaller = std::realloc(m_heap, n)) m_heap = static_cast<unsigned char*>(smaller);
        }
        out.takeOwnership(m_heap, n);
        m_data = nullptr;
        if (out.getData() != m_heap) return false;  // a dead buffer refused it; the destructor frees the block
        m_heap = nullptr;
        return true;
    }
    return out.append(m_data, n);
}

void recordTooLarge(DataBuffer& out)
{
    out.markFailed(BufferFailure::TooLarge);
}

unsigned char* appendRoom(DataBuffer& out, uint64_t k)
{
    const uint64_t size = out.getSize();
    const uint64_t capacity = out.getCapacity();
    const uint64_t limit = BufferLimit::maxBytes();
    if (size + k > limit) {
        recordTooLarge(out);
        return nullptr;
    }
    // Borrowed memory is the caller's: writing into it needs a copy of our own.
    if (out.getData() == nullptr || out.isBorrowed() || capacity - size < k) {
        uint64_t want = size + k;
        if (capacity + capacity / 2 > want) want = capacity + capacity / 2;
        if (out.isBorrowed() && want <= capacity) want = capacity + 1;
        if (want > limit) want = limit;
        if (!out.ensureCapacity(static_cast<uint32_t>(want)) || out.isBorrowed()) return nullptr;
    }
    unsigned char* data = out.getDataMutable();
    return data != nullptr ? data + size : nullptr;
}

bool appendCommit(DataBuffer& out, const unsigned char* end)
{
    const unsigned char* data = out.getData();
    if (data == nullptr || end < data) return false;
    return out.setSize(static_cast<uint32_t>(end - data));
}

}  // namespace hanamail
