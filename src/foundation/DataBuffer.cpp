#include "foundation/DataBuffer.h"

#include "platform/Automation.h"

#include <cstdlib>
#include <cstring>

#include "foundation/BufferLimit.h"
#include "foundation/CheckByte.h"

namespace hanamail {

namespace {
constexpr uint8_t kAlive = 0xDB;
constexpr uint32_t kStep = 20000;
constexpr int kMaxVariantDepth = 8;
}  // namespace

DataBuffer::DataBuffer() : m_check(kAlive), m_borrowed(0), m_data(nullptr), m_size(0), m_capacity(0) {}

DataBuffer::DataBuffer(uint32_t capacity) : DataBuffer()
{
    if (capacity > 0 && capacity <= kMaxSize) {
        m_data = static_cast<unsigned char*>(std::calloc(capacity, 1));
        if (m_data) m_capacity = capacity;
    }
}

DataBuffer::DataBuffer(const void* callerMemory, uint32_t n) : DataBuffer()
{
    borrow(callerMemory, n);
}

DataBuffer::~DataBuffer()
{
    if (m_check == kAlive) release();
    m_check = 0;
}

bool DataBuffer::alive() const
{
    return HM_ALIVE(m_check, kAlive, "DataBuffer");
}

void DataBuffer::release()
{
    m_failure = BufferFailure::None;
    if (!m_borrowed) std::free(m_data);
    m_data = nullptr;
    m_size = 0;
    m_capacity = 0;
    m_borrowed = 0;
}

const unsigned char* DataBuffer::getData() const
{
    return alive() ? m_data : nullptr;
}
unsigned char* DataBuffer::getDataMutable()
{
    return alive() ? m_data : nullptr;
}
uint32_t DataBuffer::getSize() const
{
    return alive() ? m_size : 0;
}
uint32_t DataBuffer::getCapacity() const
{
    return alive() ? m_capacity : 0;
}

void DataBuffer::clear()
{
    if (alive()) release();
}

bool DataBuffer::fail(BufferFailure why)
{
    if (m_failure == BufferFailure::None) m_failure = why;
    return false;
}

void DataBuffer::markFailed(BufferFailure why)
{
    if (alive() && why != BufferFailure::None) fail(why);
}

BufferFailure DataBuffer::failure() const
{
    return alive() ? m_failure : BufferFailure::None;
}

bool DataBuffer::reallocTo(uint32_t newCapacity)
{
    if (newCapacity < m_size) return false;
    if (newCapacity > BufferLimit::maxBytes()) return fail(BufferFailure::TooLarge);
    size_t bytes = newCapacity ? newCapacity : 1;
    unsigned char* p;
    if (m_borrowed || !m_data) {
        p = static_cast<unsigned char*>(std::malloc(bytes));
        if (p && m_size) std::memcpy(p, m_data, m_size);
    } else {
        // realloc lets large blocks move without a copy of their pages.
        p = static_cast<unsigned char*>(std::realloc(m_data, bytes));
    }
    if (!p) return fail(BufferFailure::OutOfMemory);
    m_data = p;
    m_capacity = newCapacity;
    m_borrowed = 0;
    return true;
}

// The capacity to reallocate to when `needed` bytes do not fit: at least
// 20000 more than the size, and at least half again the size, so that a
// buffer filled in pieces is copied O(log n) times.
uint32_t DataBuffer::grownCapacity(uint64_t needed) const
{
    uint64_t want = static_cast<uint64_t>(m_size) + kStep;
    uint64_t geometric = static_cast<uint64_t>(m_size) + m_size / 2;
    if (want < geometric) want = geometric;
    if (want < needed) want = needed;
    uint32_t limit = BufferLimit::maxBytes();
    return want > limit ? (needed > limit ? limit : static_cast<uint32_t>(needed)) : static_cast<uint32_t>(want);
}

bool DataBuffer::appendByte(unsigned char b)
{
    if (!alive()) return false;
    if (m_size + 1ull > m_capacity) {
        if (m_size + 1ull > BufferLimit::maxBytes()) return fail(BufferFailure::TooLarge);
        if (!reallocTo(grownCapacity(m_size + 1ull))) return false;
    }
    m_data[m_size++] = b;
    return true;
}

// Appends n bytes, reallocating when they do not fit (to exactly the size
// needed when exact is set). The source may lie inside our own memory.
bool DataBuffer::appendGrowing(const void* bytes, uint32_t n, bool exact)
{
    if (!alive()) return false;
    if (!bytes || n == 0) return true;
    uint64_t needed = static_cast<uint64_t>(m_size) + n;
    if (needed > BufferLimit::maxBytes()) return fail(BufferFailure::TooLarge);
    if (needed > m_capacity) {
        const unsigned char* src = static_cast<const unsigned char*>(bytes);
        bool inside = m_data && src >= m_data && src < m_data + m_capacity;
        size_t offset = inside ? static_cast<size_t>(src - m_data) : 0;
        if (!reallocTo(exact ? static_cast<uint32_t>(needed) : grownCapacity(needed))) return false;
        if (inside) bytes = m_data + offset;
    }
    std::memmove(m_data + m_size, bytes, n);
    m_size += n;
    return true;
}

bool DataBuffer::append(const void* bytes, uint32_t n)
{
    return appendGrowing(bytes, n, false);
}

bool DataBuffer::append(const DataBuffer& other)
{
    if (!other.alive()) return false;
    return append(other.m_data, other.m_size);
}

bool DataBuffer::appendExact(const void* bytes, uint32_t n)
{
    return appendGrowing(bytes, n, true);
}

bool DataBuffer::ensureCapacity(uint32_t n)
{
    if (!alive()) return false;
    if (n > BufferLimit::maxBytes()) return fail(BufferFailure::TooLarge);
    return n <= m_capacity || reallocTo(n);
}

void DataBuffer::borrow(const void* p, uint32_t n)
{
    if (!alive()) return;
    release();
    if (!p) return;
    m_data = static_cast<unsigned char*>(const_cast<void*>(p));
    m_size = n;
    m_capacity = n;
    m_borrowed = 1;
}

void DataBuffer::takeOwnership(void* p, uint32_t n)
{
    if (!alive()) return;
    release();
    if (!p) return;
    m_data = static_cast<unsigned char*>(p);
    m_size = n;
    m_capacity = n;
}

void DataBuffer::takeOver(DataBuffer& other)
{
    if (!alive() || !other.alive() || &other == this) return;
    release();
    m_data = other.m_data;
    m_size = other.m_size;
    m_capacity = other.m_capacity;
    m_borrowed = other.m_borrowed;
    m_failure = other.m_failure;
    other.m_failure = BufferFailure::None;
    other.m_data = nullptr;
    other.m_size = 0;
    other.m_capacity = 0;
    other.m_borrowed = 0;
}

unsigned char* DataBuffer::takeData()
{
    if (!alive() || m_borrowed) return nullptr;
    unsigned char* p = m_data;
    m_data = nullptr;
    release();
    return p;
}

void DataBuffer::shorten(uint32_t n)
{
    if (alive()) m_size = n >= m_size ? 0 : m_size - n;
}

bool DataBuffer::setSize(uint32_t n)
{
    if (!alive() || n > m_capacity) return false;
    m_size = n;
    return true;
}

bool DataBuffer::appendUnicodeZ(const OLECHAR* text)
{
    static const unsigned char kZero[2] = {0, 0};
    if (!text) return append(kZero, 2);
    size_t units = 0;
    while (text[units] != 0) {
        if (++units > kMaxSize / 2) return alive() && fail(BufferFailure::TooLarge);
    }
    return append(text, static_cast<uint32_t>((units + 1) * 2));
}

bool DataBuffer::appendBstr(BSTR bstr)
{
    if (!bstr) return alive();
    return append(bstr, SysStringLen(bstr) * 2u);
}

bool DataBuffer::appendSafeArray(const SAFEARRAY* sa)
{
    if (!alive()) return false;
    if (!sa || !sa->pvData || sa->cDims == 0) return true;
    // Arrays of pointers (strings, objects, variants, records) hold no data of their own.
    if (sa->fFeatures & (FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH | FADF_VARIANT | FADF_RECORD | FADF_HAVEIID))
        return true;
    uint64_t total = sa->cbElements;
    for (USHORT d = 0; d < sa->cDims; ++d) {
        total *= sa->rgsabound[d].cElements;
        if (total > kMaxSize) return fail(BufferFailure::TooLarge);
    }
    return append(sa->pvData, static_cast<uint32_t>(total));
}

bool DataBuffer::appendVariant(const VARIANT* v)
{
    return appendVariantAt(v, 0);
}

bool DataBuffer::appendVariantAt(const VARIANT* v, int depth)
{
    if (!alive()) return false;
    if (!v || depth > kMaxVariantDepth) return true;
    VARTYPE vt = v->vt;
    VARTYPE base = vt & VT_TYPEMASK;
    if (vt & VT_BYREF) {
        if (!v->byref) return true;
        if (vt & VT_ARRAY) return appendVariantArray(*v->pparray, base);
        switch (base) {
            case VT_VARIANT: return appendVariantAt(v->pvarVal, depth + 1);
            case VT_BSTR: return appendBstr(*v->pbstrVal);
            case VT_DISPATCH: return appendDispatchValue(*v->ppdispVal, depth);
            default: return true;
        }
    }
    if (vt & VT_ARRAY) return appendVariantArray(v->parray, base);
    if (base == VT_BSTR) return appendBstr(v->bstrVal);
    if (base == VT_DISPATCH) return appendDispatchValue(v->pdispVal, depth);
    return true;
}

bool DataBuffer::appendVariantArray(const SAFEARRAY* sa, VARTYPE elementType)
{
    switch (elementType) {
        case VT_VARIANT:
        case VT_BSTR:
        case VT_DISPATCH:
        case VT_UNKNOWN:
        case VT_RECORD: return true;
        default: return appendSafeArray(sa);
    }
}

bool DataBuffer::appendDispatchValue(IDispatch* obj, int depth)
{
    if (!obj) return true;
    DISPPARAMS noArgs = {nullptr, nullptr, 0, 0};
    VARIANT value;
    VariantInit(&value);
    HRESULT hr = obj->Invoke(DISPID_VALUE, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                             &noArgs, &value, nullptr, nullptr);
    bool ok = true;
    if (SUCCEEDED(hr)) ok = appendVariantAt(&value, depth + 1);
    VariantClear(&value);
    return ok;
}

bool DataBuffer::isAllAscii() const
{
    if (!alive()) return false;
    for (uint32_t i = 0; i < m_size; ++i) {
        if (m_data[i] >= 0x80) return false;
    }
    return true;
}

}  // namespace hanamail
