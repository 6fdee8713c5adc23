#pragma once
// The message text as DATA carries it (RFC 5321 section 4.5.2): lines end
// in CR LF, and a line that begins with "." gets a second one. A bare CR or
// LF becomes CR LF first, so no byte sequence of the text can end the data
// early or be read by a server as the end marker ("SMTP smuggling").
#include <cstdint>

namespace hanamail {

class SmtpDataEncoder {
public:
    // The number of bytes the whole text encodes to.
    static uint64_t encodedSize(const unsigned char* text, uint32_t n);

    // Encodes text from pos on into out, at most room bytes (room >= 3), and
    // moves pos past what was taken. Returns the bytes written; call again
    // with the same text until pos reaches n.
    uint32_t encode(const unsigned char* text, uint32_t n, uint32_t& pos, unsigned char* out, uint32_t room);

    static constexpr uint32_t kMinRoom = 3;

private:
    bool m_lineStart = true;
};

}  // namespace hanamail
