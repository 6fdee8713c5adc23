// Arbitrary text through the decoders of the transfer codings (base64 both
// ways, quoted-printable, Q, encoded words), and arbitrary bytes through the
// encoders, checking that what we write reads back as the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "charset/ContentCoding.h"
#include "foundation/DataBuffer.h"
#include "foundation/StringBuffer.h"

using namespace hanamail;

namespace {

void require(bool condition)
{
    if (!condition) __builtin_trap();
}

bool same(const void* a, uint32_t an, const void* b, uint32_t bn)
{
    return an == bn && (an == 0 || std::memcmp(a, b, an) == 0);
}

void decoders(const ContentCoding& cc, const char* text, uint32_t n)
{
    uint32_t count = 0;
    unsigned char* lenient = cc.decodeBase64(text, n, count);
    require(count <= n / 4 * 3 + 2);
    DataBuffer strict;
    if (cc.decodeBase64Strict(text, n, strict)) require(same(strict.getData(), strict.getSize(), lenient, count));
    std::free(lenient);

    DataBuffer qp;
    (void)cc.decodeQuotedPrintable(text, n, qp);  // only that it survives any text
    if (n > 0)                                    // 0 would mean a NUL-terminated text
        std::free(cc.decodeQ(text, static_cast<int32_t>(n), count));

    StringBuffer words;
    require(words.appendN(text, static_cast<int32_t>(n)));
    DataBuffer raw;
    cc.decodeEncodedWordsRaw(words, raw);
    cc.decodeEncodedWords(words);
}

void roundTrips(const ContentCoding& cc, const unsigned char* data, uint32_t n)
{
    StringBuffer b64;
    if (!cc.encodeBase64(data, n, b64)) return;
    DataBuffer back;
    require(cc.decodeBase64Strict(b64.getString(), static_cast<uint32_t>(b64.getSize()), back));
    require(same(back.getData(), back.getSize(), data, n));

    StringBuffer qp;
    if (!cc.encodeQuotedPrintable(data, n, qp)) return;
    DataBuffer plain;
    if (cc.decodeQuotedPrintable(qp.getString(), static_cast<uint32_t>(qp.getSize()), plain))
        require(same(plain.getData(), plain.getSize(), data, n));

    // One word of each form, read back without charset conversion.
    for (bool bForm : {false, true}) {
        StringBuffer word;
        if (bForm)
            cc.encodeBWord(data, n, "8bit", word);
        else
            cc.encodeQWord(data, n, "8bit", word);
        DataBuffer bytes;
        cc.decodeEncodedWordsRaw(word, bytes);
        require(same(bytes.getData(), bytes.getSize(), data, n));
    }

    StringBuffer split;
    cc.encodeBWords(data, n, "iso-2022-jp", split);
    cc.encodeQWords(data, n, "utf-8", split);
    cc.encodeWordAuto(data, n, "shift_jis", split);
    cc.decodeEncodedWords(split);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 1u << 20) return 0;
    ContentCoding cc;
    decoders(cc, reinterpret_cast<const char*>(data), static_cast<uint32_t>(size));
    roundTrips(cc, data, static_cast<uint32_t>(size));
    return 0;
}
