#pragma once
#include <cstdint>
#include "foundation/Api.h"

#include "foundation/BufferLimit.h"
#include "platform/AutomationFwd.h"

namespace hanamail {

// Growable byte buffer. A buffer may borrow caller memory that it never frees.
class DataBuffer {
public:
    static constexpr uint32_t kMaxSize = 0xFFFFFFF0u;  // sizes are 32-bit

    HANAMAIL_API DataBuffer();
    explicit DataBuffer(uint32_t capacity);            // zero-filled, size 0
    DataBuffer(const void* callerMemory, uint32_t n);  // borrowed: size = capacity = n
    DataBuffer(const DataBuffer&) = delete;
    DataBuffer& operator=(const DataBuffer&) = delete;
    HANAMAIL_API virtual ~DataBuffer();

    HANAMAIL_API const unsigned char* getData() const;
    unsigned char* getDataMutable();
    HANAMAIL_API uint32_t getSize() const;
    uint32_t getCapacity() const;
    bool isBorrowed() const { return m_borrowed != 0; }
    // The first append that failed since construction or the last clear.
    HANAMAIL_API BufferFailure failure() const;
    bool hasFailed() const { return failure() != BufferFailure::None; }
    // Records that the bytes meant for this buffer could not all be had.
    void markFailed(BufferFailure why);

    HANAMAIL_API void clear();
    [[nodiscard]] bool appendByte(unsigned char b);
    [[nodiscard]] HANAMAIL_API bool append(const void* bytes, uint32_t n);
    [[nodiscard]] HANAMAIL_API bool append(const DataBuffer& other);
    [[nodiscard]] bool appendExact(const void* bytes, uint32_t n);
    [[nodiscard]] bool ensureCapacity(uint32_t n);
    void borrow(const void* p, uint32_t n);
    void takeOwnership(void* p, uint32_t n);  // p from std::malloc
    void takeOver(DataBuffer& other);
    // Hands the owned memory to the caller (who frees it with std::free) and
    // leaves the buffer empty; null for borrowed memory or none.
    unsigned char* takeData();
    [[nodiscard]] bool appendUnicodeZ(const OLECHAR* text);
    [[nodiscard]] bool appendBstr(BSTR bstr);
    [[nodiscard]] bool appendSafeArray(const SAFEARRAY* sa);
    [[nodiscard]] bool appendVariant(const VARIANT* v);
    bool isAllAscii() const;
    // Drops bytes from the end (n larger than the size empties the buffer).
    void shorten(uint32_t n);
    // Sets the count of bytes in use within the capacity, for writers that
    // filled the spare capacity through getDataMutable(); false when n > capacity.
    [[nodiscard]] bool setSize(uint32_t n);

private:
    bool alive() const;
    bool reallocTo(uint32_t newCapacity);
    uint32_t grownCapacity(uint64_t needed) const;
    bool fail(BufferFailure why);
    bool appendGrowing(const void* bytes, uint32_t n, bool exact);
    void release();
    bool appendVariantAt(const VARIANT* v, int depth);
    bool appendVariantArray(const SAFEARRAY* sa, VARTYPE elementType);
    bool appendDispatchValue(IDispatch* obj, int depth);

    uint8_t m_check;
    uint8_t m_borrowed;
    unsigned char* m_data;
    uint32_t m_size;
    uint32_t m_capacity;
    BufferFailure m_failure = BufferFailure::None;
};

}  // namespace hanamail
