#pragma once
#include <cstdint>

#include "foundation/StringBuffer.h"
#include "mime/MimeHeader.h"

namespace hanamail {

// The status line and header fields of one HTTP response, and the URL that
// gave it (the last one after redirects, without its user part).
class HttpResponseHeader {
public:
    HttpResponseHeader() = default;
    HttpResponseHeader(const HttpResponseHeader&) = delete;
    HttpResponseHeader& operator=(const HttpResponseHeader&) = delete;
    virtual ~HttpResponseHeader();

    void clear();
    // Reads a header block as the socket returned it. Without a status line
    // ("HTTP", a space, a code of 100-999) the status code stays 0.
    void parse(const unsigned char* block, uint32_t n);

    int32_t statusCode() const { return m_statusCode; }
    const StringBuffer& reason() const { return m_reason; }
    const MimeHeader& fields() const { return m_fields; }
    // 0 when the field is absent or does not read as a number.
    int32_t contentLength() const { return m_contentLength; }
    // A Content-Length field with a number, 0 included.
    bool hasContentLength() const { return m_hasContentLength; }
    // A Content-Length that is negative or does not fit 32 bits: the body
    // cannot be delimited.
    bool badContentLength() const { return m_badContentLength; }
    bool isChunked() const;
    // The server will close the connection after this response.
    bool closesConnection() const;

    const StringBuffer& url() const { return m_url; }
    void setUrl(const char* url);

private:
    void parseStatusLine(const char* line, uint32_t n);
    void parseContentLength(const char* block, uint32_t n);

    int32_t m_statusCode = 0;
    StringBuffer m_reason;
    MimeHeader m_fields;
    int32_t m_contentLength = 0;
    bool m_hasContentLength = false;
    bool m_badContentLength = false;
    StringBuffer m_url;
};

}  // namespace hanamail
