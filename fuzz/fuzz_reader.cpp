// Arbitrary bytes read as MIME text: the reader must give an email for
// every input, without reading past it; the email must write again, and that
// text must read as the same email: the same tree of parts, each leaf with
// the same decoded bytes. The first byte chooses whether the input is also
// read as a multipart body of its own and whether the email is copied.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "charset/CodePages.h"
#include "charset/EncodingConvert.h"
#include "foundation/LogNull.h"
#include "foundation/StringBuffer.h"
#include "mime/Email2.h"
#include "mime/MimeMessage2.h"
#include "mime/MimeText.h"

using namespace hanamail;

namespace {

void require(bool condition)
{
    if (!condition) __builtin_trap();
}

bool sameBytes(const DataBuffer& x, const DataBuffer& y)
{
    return x.getSize() == y.getSize() && (x.getSize() == 0 || std::memcmp(x.getData(), y.getData(), x.getSize()) == 0);
}

// ISO-2022-JP has no half-width katakana: its writer gives their full-width
// forms, so text that held some reads back changed by exactly that. It is
// compared as the charset carries it.
bool sameAsCharsetCarries(const Email2& a, const DataBuffer& x, const DataBuffer& y)
{
    const int cp = a.charset().getCodePage();
    if (cp < 50220 || cp > 50222 || !mimetext::beginsWithNoCase(a.contentType(), "text/")) return false;
    EncodingConvert convert;
    DataBuffer jis;
    DataBuffer back;
    convert.convert(kUtf8, cp, x.getData(), x.getSize(), jis);
    convert.convert(cp, kUtf8, jis.getData(), jis.getSize(), back);
    return sameBytes(back, y);
}

void requireSameParts(const Email2& a, const Email2& b)
{
    require(a.GetPartCount() == b.GetPartCount());
    if (a.GetPartCount() == 0) require(sameBytes(a.body(), b.body()) || sameAsCharsetCarries(a, a.body(), b.body()));
    for (int i = 0; i < a.GetPartCount(); ++i) requireSameParts(*a.GetPart(i), *b.GetPart(i));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0 || size > (1 << 18)) return 0;
    const unsigned flags = data[0];
    // An exact copy, so that a read past the end is caught.
    std::vector<char> text(data + 1, data + size);
    const uint32_t n = static_cast<uint32_t>(text.size());
    LogNull log;

    std::unique_ptr<Email2> e(Email2::EmailFromMimeText(text.data(), n, log));
    require(e != nullptr);
    StringBuffer out;
    require(e->GetMimeText(out));
    std::unique_ptr<Email2> again(
        Email2::EmailFromMimeText(out.getString(), static_cast<uint32_t>(out.getSize()), log));
    require(again != nullptr);
    requireSameParts(*e, *again);

    if (flags & 1) {
        MimeMessage2 m;
        m.SetContentType("multipart/mixed", nullptr, nullptr, nullptr, Charset(), "b", nullptr, nullptr);
        m.ParseBody(text.data(), n, log);
        m.ParseAsSingle(text.data(), n);
    }
    if (flags & 2) {
        std::unique_ptr<Email2> copy(e->Clone(log));
        require(copy != nullptr);
        requireSameParts(*e, *copy);
    }
    return 0;
}
