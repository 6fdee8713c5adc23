// Whole emails composed from arbitrary bytes through the API object: the
// input is cut at NUL bytes into a charset, a subject, sender and recipient
// names and addresses, a header field, plain and HTML bodies, an attachment
// name and its bytes. Whatever the pieces hold, every header line written
// (the email's and each part's) must be 7-bit printable ASCII or TAB, no
// line may exceed 998 bytes, and the email's header must read back as as
// many fields as were written.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/DataBuffer.h"
#include "foundation/StringBuffer.h"
#include "foundation/XString.h"
#include "hanamail/Email.h"
#include "mime/MimeHeader.h"

using namespace hanamail;

namespace {

void require(bool condition)
{
    if (!condition) __builtin_trap();
}

XString utf8(const std::string& s)
{
    XString x;
    x.setFromUtf8N(s.data(), static_cast<int32_t>(s.size()));
    return x;
}

bool headerByte(unsigned char c)
{
    return c == '\t' || (c >= 0x20 && c < 0x7F);
}

// Checks the header block that starts at `at` and returns where its empty line ends.
size_t checkHeaderBlock(const std::string& mime, size_t at, int& fields)
{
    fields = 0;
    while (at < mime.size()) {
        size_t end = mime.find("\r\n", at);
        if (end == std::string::npos) end = mime.size();
        if (end == at) return at + 2;  // the empty line
        require(end - at <= 998);
        for (size_t i = at; i < end; ++i) require(headerByte(static_cast<unsigned char>(mime[i])));
        if (mime[at] != ' ' && mime[at] != '\t') ++fields;
        at = end + 2;
    }
    return at;
}

void checkMime(const std::string& mime)
{
    int fields = 0;
    const size_t bodyStart = checkHeaderBlock(mime, 0, fields);
    MimeHeader reread;
    reread.LoadFromMimeText(mime.data(), static_cast<int32_t>(bodyStart < mime.size() ? bodyStart : mime.size()));
    require(reread.GetFieldCount() == fields);
    // Every part's header follows one of our delimiter lines.
    const std::string delimiter = "\r\n------=_NextPart_";
    for (size_t at = mime.find(delimiter); at != std::string::npos; at = mime.find(delimiter, at + 2)) {
        const size_t lineEnd = mime.find("\r\n", at + 2);
        if (lineEnd == std::string::npos) break;
        if (mime.compare(lineEnd - 2, 2, "--") == 0) continue;  // the closing delimiter
        int partFields = 0;
        checkHeaderBlock(mime, lineEnd + 2, partFields);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 1 << 16 || size == 0) return 0;
    const unsigned flags = data[0];
    std::vector<std::string> piece(12);
    size_t k = 0;
    for (size_t i = 1; i < size; ++i) {
        if (data[i] == 0 && k + 1 < piece.size())
            ++k;
        else
            piece[k] += static_cast<char>(data[i]);
    }

    ClsEmail email;
    if (!piece[0].empty()) email.SetCharset(utf8(piece[0]));
    email.AddHeaderField(utf8("Subject"), utf8(piece[1]));
    email.AddHeaderField(utf8("From"), utf8(piece[2] + " <" + piece[3] + ">"));
    (void)email.AddTo(utf8(piece[4]), utf8(piece[5]));
    (void)email.AddCC(utf8(piece[2]), utf8(piece[5] + piece[3]));
    if (!piece[6].empty()) email.AddHeaderField(utf8(piece[6]), utf8(piece[7]));
    email.SetPlainBody(utf8(piece[8]));
    if (flags & 1) {
        (void)email.AddHtmlAltBodyUtf8(utf8(piece[9]));
    } else if (!piece[9].empty()) {
        email.SetHtmlBodyFromUtf8(utf8(piece[9]));
    }
    if (flags & 2) {
        DataBuffer bytes;
        if (!bytes.append(piece[11].data(), static_cast<uint32_t>(piece[11].size()))) return 0;
        XString type;
        (void)email.AddDataAttachment(utf8(piece[10]), bytes, type);
        (void)email.AddStringAttachment(utf8(piece[10] + ".txt"), utf8(piece[11]));
    }
    if (flags & 4) (void)email.ZipAttachments(utf8(piece[10] + ".zip"));

    StringBuffer mime;
    require(email.GetMimeSb(mime));
    checkMime(std::string(mime.getString(), static_cast<size_t>(mime.getSize())));
    return 0;
}
