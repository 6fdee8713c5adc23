#include "zip/AltData.h"

namespace hanamail {

bool AltData::setBytes(const void* bytes, uint32_t n)
{
    m_bytes.clear();
    return m_bytes.appendExact(bytes, n);
}

}  // namespace hanamail
