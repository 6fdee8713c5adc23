#include "mime/BodyEncoder.h"

#include <string_view>

#include "charset/ContentCoding.h"
#include "foundation/StringBuffer.h"

namespace hanamail {

bool BodyEncoder::append(const StringBuffer& transferEncoding, const unsigned char* bytes, uint32_t n,
                         StringBuffer& out)
{
    ContentCoding coding;
    bool ok = true;
    if (transferEncoding.equalsIgnoreCase("base64"))
        ok = coding.encodeBase64(bytes, n, out);
    else if (transferEncoding.equalsIgnoreCase("quoted-printable"))
        ok = coding.encodeQuotedPrintable(bytes, n, out);
    else if (n > 0)
        out << std::string_view(reinterpret_cast<const char*>(bytes), n);
    // An encoder fails only when its output cannot grow.
    if (!ok && !out.hasFailed()) out.markFailed(BufferFailure::TooLarge);
    return ok && !out.hasFailed();
}

}  // namespace hanamail
