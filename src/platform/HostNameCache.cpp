#include "platform/HostNameCache.h"

namespace hanamail {

namespace platform {

std::string HostNameCache::lookup(const std::string& shortName, uint32_t nowMs, Resolver resolve)
{
    std::lock_guard<std::mutex> hold(m_lock);
    if (!m_have || m_shortName != shortName || nowMs - m_since >= kKeepMs) {
        m_name = resolve(shortName);
        m_shortName = shortName;
        m_since = nowMs;
        m_have = true;
    }
    return m_name;
}

}  // namespace platform

}  // namespace hanamail
