#pragma once
#include <cstdint>
#include <mutex>
#include <string>

namespace hanamail {

namespace platform {

// The name service's name for this host, kept for a while. Looking it up for
// every connection costs each small send more than its own commands do, and
// a name service that does not answer would hold up every connection by its
// time-out. The short name is read by the caller each time, so a host that
// was renamed is looked up again at once.
class HostNameCache {
public:
    using Resolver = std::string (*)(const std::string& shortName);
    static constexpr uint32_t kKeepMs = 60000;

    // The name kept for shortName when it is younger than kKeepMs at nowMs
    // (a tick count, which may wrap); otherwise resolve(shortName), kept
    // from nowMs. Callers at the same time wait for one lookup.
    std::string lookup(const std::string& shortName, uint32_t nowMs, Resolver resolve);

private:
    std::mutex m_lock;
    bool m_have = false;
    std::string m_shortName;
    std::string m_name;
    uint32_t m_since = 0;
};

}  // namespace platform

}  // namespace hanamail
