#pragma once

namespace hanamail {

class StringBuffer;

// The boundaries of the multiparts this system writes (RFC 2046 section 5.1.1).
class MimeBoundary {
public:
    MimeBoundary() = delete;

    // Clears out and writes "----=_NextPart_xxx_xxxx_xxxxxxxx.xxxxxxxx" made
    // from a fresh UUID; the caller appends the kind ("_.MIX", "_.ALT", "_.REL").
    static void NewBoundary(StringBuffer& out);

    // The line before the first boundary of a multipart body, with the empty line after it.
    static constexpr const char* kPreamble = "This is a multi-part message in MIME format.\r\n\r\n";
};

}  // namespace hanamail
