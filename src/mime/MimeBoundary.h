#pragma once

namespace hanamail {

class StringBuffer;

// The boundaries written by the multiparts around the part being written,
// innermost first (null: none).
struct BoundaryChain {
    const StringBuffer& boundary;
    const BoundaryChain* outer;
};

// The boundaries of the multiparts this system writes (RFC 2046 section 5.1.1).
class MimeBoundary {
public:
    MimeBoundary() = delete;

    // Clears out and writes "----=_NextPart_xxx_xxxx_xxxxxxxx.xxxxxxxx" made
    // from a fresh UUID; the caller appends the kind ("_.MIX", "_.ALT", "_.REL").
    static void NewBoundary(StringBuffer& out);

    // Into out, the boundary a multipart is written with: its own, or a fresh
    // one when a multipart around it already writes that one (its closing
    // line would end the outer multipart and the text would read as a
    // different tree) or when it holds a byte that is no printable ASCII
    // (the header could not carry it as it is). True when out differs from own.
    static bool toWrite(const StringBuffer& own, const BoundaryChain* outer, StringBuffer& out);

    // The line before the first boundary of a multipart body, with the empty line after it.
    static constexpr const char* kPreamble = "This is a multi-part message in MIME format.\r\n\r\n";
};

}  // namespace hanamail
