#pragma once
#include <cstdint>

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
    // heldByParts: a body under the multipart holds a delimiter of its own
    // boundary (heldUnder()), which would end a part early; a fresh one is
    // written then too.
    static bool toWrite(const StringBuffer& own, const BoundaryChain* outer, bool heldByParts, StringBuffer& out);

    // Whether "--" and boundary stand anywhere in bytes. A transfer coding
    // other than base64 keeps such text, and a soft line break may put it at
    // the start of a line, where readers take it for a delimiter.
    static bool heldIn(const StringBuffer& boundary, const unsigned char* bytes, uint32_t n);

    // Whether a body under the multipart e may hold a delimiter of boundary:
    // count(e) and part(e, i) give its parts.
    template <typename Entity, typename Count, typename Part>
    static bool heldUnder(const StringBuffer& boundary, const Entity& e, Count count, Part part)
    {
        const int n = count(e);
        for (int i = 0; i < n; ++i) {
            const Entity* p = part(e, i);
            if (!p) continue;
            if (count(*p) > 0) {
                if (heldUnder(boundary, *p, count, part)) return true;
            } else if (!p->transferEncoding().equalsIgnoreCase("base64") &&
                       heldIn(boundary, p->body().getData(), p->body().getSize())) {
                return true;
            }
        }
        return false;
    }

    // The line before the first boundary of a multipart body, with the empty line after it.
    static constexpr const char* kPreamble = "This is a multi-part message in MIME format.\r\n\r\n";
};

}  // namespace hanamail
