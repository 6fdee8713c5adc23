#include "zip/AltData.h"

bool AltData::setBytes(const void* bytes, uint32_t n)
{
    m_bytes.clear();
    return m_bytes.appendExact(bytes, n);
}
