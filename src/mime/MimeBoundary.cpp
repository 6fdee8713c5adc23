#include "mime/MimeBoundary.h"

#include <string>
#include <string_view>

#include "foundation/StringBuffer.h"
#include "mime/FreshUuid.h"
#include "mime/MimeText.h"

namespace hanamail {

void MimeBoundary::NewBoundary(StringBuffer& out)
{
    const std::string u = mimetext::lowered(FreshUuid::text());
    out.clear();
    if (u.size() < 36) return;
    std::string b = "----=_NextPart_";
    b += u.substr(0, 3);
    b += '_';
    b += u.substr(3, 4);
    b += '_';
    b += u.substr(9, 4);
    b += u.substr(14, 4);
    b += '.';
    b += u.substr(24, 8);
    out << b.c_str();
}

bool MimeBoundary::heldIn(const StringBuffer& boundary, const unsigned char* bytes, uint32_t n)
{
    if (!bytes || n == 0) return false;
    std::string delimiter = "--";
    delimiter.append(boundary.getString(), static_cast<size_t>(boundary.getSize()));
    const std::string_view text(reinterpret_cast<const char*>(bytes), n);
    return text.find(delimiter) != std::string_view::npos;
}

bool MimeBoundary::toWrite(const StringBuffer& own, const BoundaryChain* outer, bool heldByParts, StringBuffer& out)
{
    out.clear();
    if (heldByParts) {
        NewBoundary(out);
        return true;
    }
    // A header parameter holds such bytes only as encoded words, which
    // readers may decode to other bytes than the delimiter lines hold.
    const char* s = own.getString();
    for (int32_t i = 0; i < own.getSize(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x20 || c >= 0x7F) {
            NewBoundary(out);
            return true;
        }
    }
    for (const BoundaryChain* c = outer; c; c = c->outer) {
        if (c->boundary.getSize() == own.getSize() && c->boundary.equals(own.getString())) {
            NewBoundary(out);
            return true;
        }
    }
    out << own;
    return false;
}

}  // namespace hanamail
