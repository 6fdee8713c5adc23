#pragma once
#include <cstdint>

#include "platform/Automation.h"

// Growable byte buffer. A buffer may borrow caller memory that it never frees.
class DataBuffer {
public:
    static constexpr uint32_t kMaxSize = 0xFFFFFFF0u;  // sizes are 32-bit

    DataBuffer();
    explicit DataBuffer(uint32_t capacity);          // zero-filled, size 0
    DataBuffer(const void* callerMemory, uint32_t n);  // borrowed: size = capacity = n
    DataBuffer(const DataBuffer&) = delete;
    DataBuffer& operator=(const DataBuffer&) = delete;
    virtual ~DataBuffer();

    const unsigned char* getData() const;
    unsigned char* getDataMutable();
    uint32_t getSize() const;
    uint32_t getCapacity() const;
    bool isBorrowed() const { return m_borrowed != 0; }

    void clear();
    bool appendByte(unsigned char b);
    bool append(const void* bytes, uint32_t n);
    bool append(const DataBuffer& other);
    bool appendExact(const void* bytes, uint32_t n);
    bool ensureCapacity(uint32_t n);
    void borrow(const void* p, uint32_t n);
    void takeOwnership(void* p, uint32_t n);  // p from std::malloc
    void takeOver(DataBuffer& other);
    bool appendUnicodeZ(const OLECHAR* text);
    bool appendBstr(BSTR bstr);
    bool appendSafeArray(const SAFEARRAY* sa);
    bool appendVariant(const VARIANT* v);
    bool isAllAscii() const;
    // Drops bytes from the end (n larger than the size empties the buffer).
    void shorten(uint32_t n);
    // Sets the count of bytes in use within the capacity, for writers that
    // filled the spare capacity through getDataMutable(); false when n > capacity.
    bool setSize(uint32_t n);

private:
    bool alive() const;
    bool reallocTo(uint32_t newCapacity);
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
};
