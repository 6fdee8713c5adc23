#include "mime/TransferEncodingChoice.h"

#include "charset/CodePages.h"

namespace hanamail {

bool TransferEncodingChoice::isBase64CodePage(int cp)
{
    if (cp >= 50000) return true;
    if (cp == 874 || (cp > 900 && cp < 1000)) return true;
    if (cp >= 20833 && cp < 22000) return true;
    switch (cp) {
        case kUtf16:
        case kUtf16Be:
        case 1361:
        case 10001:
        case 10002:
        case 10003:
        case 10021: return true;
        default: return false;
    }
}

const char* TransferEncodingChoice::forCodePage(int cp)
{
    if (cp == kUsAscii) return "7bit";
    if (isBase64CodePage(cp)) return "base64";
    return "quoted-printable";
}

}  // namespace hanamail
