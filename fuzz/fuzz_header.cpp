// Arbitrary header text through LoadFromMimeText, then every field written
// back in a few charsets: whatever came in, each written field must stay one
// header field (only the writer's own CR LF TAB folds), with no NUL and no
// line over 998 bytes, and the unfolded form must hold no fold at all.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "charset/Charset.h"
#include "foundation/StringBuffer.h"
#include "mime/MimeField.h"
#include "mime/MimeHeader.h"

using namespace hanamail;

namespace {

void require(bool condition)
{
    if (!condition) __builtin_trap();
}

void checkField(const StringBuffer& out)
{
    const char* s = out.getString();
    const int32_t n = out.getSize();
    int32_t lineStart = 0;
    for (int32_t i = 0; i < n; ++i) {
        require(s[i] != '\0');
        if (s[i] == '\r') {
            require(i + 2 < n && s[i + 1] == '\n' && s[i + 2] == '\t');
            require(i - lineStart <= 998);
            lineStart = i + 2;
        } else {
            require(s[i] != '\n' || (i > 0 && s[i - 1] == '\r'));
        }
    }
    require(n - lineStart <= 998);
    // The name ends at the first colon, which the writer put there itself.
    const char* colon = static_cast<const char*>(std::memchr(s, ':', static_cast<size_t>(n)));
    require(colon && colon + 1 < s + n && colon[1] == ' ');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 1 << 16) return 0;
    MimeHeader header;
    header.LoadFromMimeText(reinterpret_cast<const char*>(data), static_cast<int32_t>(size));
    static const char* const kCharsets[] = {"utf-8", "iso-8859-1", "shift_jis", "iso-2022-jp", "us-ascii", ""};
    for (const char* name : kCharsets) {
        Charset cs;
        cs.setByName(name);
        for (int i = 0; i < header.GetFieldCount(); ++i) {
            StringBuffer out;
            header.GetFieldByIndex(i)->WriteMime(out, cs);
            checkField(out);
            StringBuffer flat;
            header.GetFieldByIndex(i)->WriteUnfolded(flat, cs);
            require(!flat.contains("\r\n\t"));
        }
        StringBuffer all;
        header.WriteMime(all, "TBX-", cs);
        MimeHeader again;
        again.LoadFromMimeText(all.getString(), all.getSize());
        require(again.GetFieldCount() <= header.GetFieldCount());
    }
    StringBuffer param;
    header.GetFieldParam("Content-Type", "charset", param);
    MimeHeader copy;
    copy.CopyFieldsFrom(header);
    copy.MergeFieldsFrom(header);
    copy.ReplaceFieldsFrom(header);
    copy.RemoveEmptyFields();
    return 0;
}
