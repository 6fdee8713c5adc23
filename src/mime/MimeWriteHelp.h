#pragma once
#include <cstdint>
#include <string>

#include "foundation/StringBuffer.h"

namespace hanamail {

class Charset;
class DataBuffer;
class MimeBodyText;
class MimeHeader;

// The boundaries written by the multiparts around the part being written,
// innermost first (null: none).
struct BoundaryChain {
    const StringBuffer& boundary;
    const BoundaryChain* outer;
};

// Pieces of MIME writing that both entity classes share: boundaries,
// transfer encodings by code page, quoted parameter values and the transfer
// coding of a body.
class MimeWriteHelp {
public:
    MimeWriteHelp() = delete;

    // Clears out and writes "----=_NextPart_xxx_xxxx_xxxxxxxx.xxxxxxxx" made
    // from a fresh UUID; the caller appends the kind ("_.MIX", "_.ALT", "_.REL").
    static void NewBoundary(StringBuffer& out);

    // "7bit" for us-ascii, "base64" for the code pages whose text is mostly
    // non-ASCII, "quoted-printable" for everything else (0 included).
    static const char* TransferEncodingForCodePage(int cp);
    static bool isBase64CodePage(int cp);

    // '"' value '"' with '"' and '\' of the value backslash-escaped.
    static void appendQuoted(StringBuffer& out, const char* value);

    // The Content-Type parameters besides the charset, copied: the arguments
    // may be the entity's own fields, which are cleared before writing.
    struct ContentTypeParams {
        ContentTypeParams(const char* type, const char* boundary, const char* name, const char* protocol,
                          const char* micalg, const char* smimeType);
        StringBuffer type;
        StringBuffer boundary;
        StringBuffer name;
        StringBuffer protocol;
        StringBuffer micalg;
        StringBuffer smimeType;
    };
    // The fields an entity keeps them in.
    struct ContentTypeFields {
        StringBuffer* type;
        StringBuffer* boundary;
        StringBuffer* name;
        StringBuffer* protocol;
        StringBuffer* micalg;
        StringBuffer* smimeType;
        void clear() const;
    };

    // Appends each non-empty parameter in a fixed order (micalg and
    // smime-type unquoted) after a ';', and stores it in its field.
    static void appendContentTypeParams(StringBuffer& value, const ContentTypeParams& params,
                                        const ContentTypeFields& fields);

    // Writes an entity's header and the empty line after it; a body that
    // needs the UTF-8 label gets it in the written copy only, and so does a
    // multipart written with a boundary other than its own (newBoundary).
    static void writeHeader(const MimeHeader& header, const char* contentTypeName, const MimeBodyText& text,
                            const char* excludedPrefix, const Charset& cs, StringBuffer& out,
                            const char* newBoundary = nullptr);

    // Into out, the boundary a multipart is written with: its own, or a fresh
    // one when a multipart around it already writes that one (its closing
    // line would end the outer multipart and the text would read as a
    // different tree).
    static void boundaryToWrite(const StringBuffer& own, const BoundaryChain* outer, StringBuffer& out);

    // Drops surrounding whitespace and one trailing ';' of a header value.
    static void trimParamList(StringBuffer& value);

    // Appends the bytes in the named transfer encoding (case ignored):
    // base64 in lines of 72, quoted-printable, anything else unchanged.
    // False (and out marked) when out could not hold them.
    static bool appendEncoded(const StringBuffer& transferEncoding, const unsigned char* bytes, uint32_t n,
                              StringBuffer& out);

    static bool beginsWithNoCase(const StringBuffer& s, const char* prefix);
    static bool beginsWithNoCase(const char* s, const char* prefix);
    static bool hasHighBytes(const unsigned char* bytes, uint32_t n);
    // One byte of a Q word's text in the form that is safe inside a phrase
    // (RFC 2047 section 5 (3)): letters, digits and "!*+-/=_" as they are,
    // anything else as "=XX".
    static void appendPhraseSafeQ(std::string& out, unsigned char c);
    // Text lines end in CR LF: whether a CR or LF stands alone, and the text
    // with every bare LF, bare CR (and CR LF as it is) made CR LF appended to out.
    static bool hasBareLineEnd(const unsigned char* bytes, uint32_t n);
    [[nodiscard]] static bool appendCrlfLines(const unsigned char* bytes, uint32_t n, DataBuffer& out);

    // The line before the first boundary of a multipart body, with the empty line after it.
    static constexpr const char* kPreamble = "This is a multi-part message in MIME format.\r\n\r\n";
};

}  // namespace hanamail
