#pragma once
#include <cstdint>

#include "web/HttpConnPool.h"
#include "web/MhtmlFetcher.h"

namespace hanamail {

// The capture's fetches over HTTP and HTTPS, sharing kept-open connections
// per scheme, host and port.
class HttpPageFetcher : public MhtmlFetcher {
public:
    HttpPageFetcher() = default;
    void setTimeoutsS(uint32_t connectS, uint32_t readS) { m_pool.setTimeoutsS(connectS, readS); }
    void setTls(const platform::TlsSettings& settings) { m_pool.setTls(settings); }
    void setAddressFamily(platform::AddressFamily family) { m_pool.setAddressFamily(family); }
    bool fetch(const char* url, const char* login, const char* password, DataBuffer& body, MhtmlFetched& got,
               LogBase& log) override;

private:
    HttpConnPool m_pool;
};

}  // namespace hanamail
