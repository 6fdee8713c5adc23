#include "web/HttpPageFetcher.h"

#include "foundation/DataBuffer.h"
#include "web/HttpResponseHeader.h"

namespace hanamail {

bool HttpPageFetcher::fetch(const char* url, const char* login, const char* password, DataBuffer& body,
                            MhtmlFetched& got, LogBase& log)
{
    HttpResponseHeader response;
    const bool ok = m_pool.fetch(url, "", login, password, body, got.charset, log, &response);
    got.status = response.statusCode();
    got.finalUrl = response.url().getString();
    got.contentType.clear();
    StringBuffer type;
    if (response.fields().GetFieldValue("Content-Type", type)) {
        const char* s = type.getString();
        int32_t n = 0;
        while (s[n] && s[n] != ';') ++n;
        (void)got.contentType.appendN(s, n);
        got.contentType.trim2();
        got.contentType.toLowerCase();
    }
    return ok;
}

}  // namespace hanamail
