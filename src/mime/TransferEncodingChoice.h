#pragma once

namespace hanamail {

// The Content-Transfer-Encoding (RFC 2045 section 6) text in a code page is written in.
class TransferEncodingChoice {
public:
    TransferEncodingChoice() = delete;

    // "7bit" for us-ascii, "base64" for the code pages whose text is mostly
    // non-ASCII, "quoted-printable" for everything else (0 included).
    static const char* forCodePage(int cp);
    static bool isBase64CodePage(int cp);
};

}  // namespace hanamail
