// Reading a large message: a 37 MB multipart/mixed email (ISO-2022-JP
// encoded Subject and From, 2 MiB of Japanese once as ISO-2022-JP in base64
// and once as UTF-8 in quoted-printable, a 20 MiB base64 attachment) read by
// EmailFromMimeText, then both bodies fetched as UTF-8 and the attachment's
// bytes, beside GMime 3 doing the same in the same run. Both results are
// checked against the inputs; a mismatch makes the exit status 1.
//
// Each reader runs in a child process of its own, so that its peak resident
// memory is its own: the peak (VmHWM) less what the child held when it
// started (the message, loaded before the fork). Best of several runs
// (HANAMAIL_BENCH_RUNS, default 5) for both time and memory.
#include <gmime/gmime.h>
#include <iconv.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "ChildRun.h"
#include "foundation/LogNull.h"
#include "foundation/StringBuffer.h"
#include "mime/Email2.h"
#include "mime/Rfc822Address.h"

using namespace hanamail;

namespace {

constexpr size_t kJapaneseBytes = 2u << 20;
constexpr size_t kAttachmentBytes = 20u << 20;
const char* const kSubject = "大容量メッセージの読み込み試験";
const char* const kFromName = "山田太郎";

// ---- inputs

std::string toIso2022jp(const std::string& utf8)
{
    iconv_t cd = iconv_open("ISO-2022-JP", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        std::perror("iconv_open");
        std::exit(2);
    }
    std::string out(utf8.size() * 2 + 16, '\0');
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size();
    char* to = out.data();
    size_t toLeft = out.size();
    if (iconv(cd, &in, &inLeft, &to, &toLeft) == static_cast<size_t>(-1) ||
        iconv(cd, nullptr, nullptr, &to, &toLeft) == static_cast<size_t>(-1)) {
        std::perror("iconv");
        std::exit(2);
    }
    iconv_close(cd);
    out.resize(out.size() - toLeft);
    return out;
}

// Japanese prose of JIS X 0208 characters (kana, kanji, full-width
// punctuation), lines of 40 characters ended by CR LF.
std::string japaneseText(size_t bytes)
{
    static const char* const kPieces[] = {"日本語", "の", "文章", "を", "読み込む", "試験",     "です", "。",
                                          "東京",   "と", "大阪", "、", "カタカナ", "ひらがな", "漢字", "電子メール"};
    std::mt19937 rng(20240101u);  // fixed start value: the same text every run
    std::string out;
    out.reserve(bytes + 256);
    size_t line = 0;
    while (out.size() < bytes) {
        const std::string piece = kPieces[rng() % (sizeof kPieces / sizeof kPieces[0])];
        out += piece;
        line += piece.size() / 3;
        if (line >= 40) {
            out += "\r\n";
            line = 0;
        }
    }
    out += "\r\n";
    return out;
}

std::string base64Lines(const void* data, size_t n)
{
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const auto* p = static_cast<const unsigned char*>(data);
    std::string out;
    out.reserve(n / 3 * 4 + n / 57 * 2 + 8);
    for (size_t i = 0; i < n; i += 3) {
        const uint32_t v =
            (uint32_t(p[i]) << 16) | (i + 1 < n ? uint32_t(p[i + 1]) << 8 : 0) | (i + 2 < n ? uint32_t(p[i + 2]) : 0);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += i + 1 < n ? kAlphabet[(v >> 6) & 63] : '=';
        out += i + 2 < n ? kAlphabet[v & 63] : '=';
        if ((i / 3 + 1) % 19 == 0 || i + 3 >= n) out += "\r\n";
    }
    return out;
}

// Quoted-printable of CR LF text: line ends kept, lines cut at 76 with soft breaks.
std::string quotedPrintable(const std::string& text)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3 + text.size() / 24);
    size_t col = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            out += "\r\n";
            ++i;
            col = 0;
            continue;
        }
        const bool plain = c >= 33 && c <= 126 && c != '=';
        const size_t width = plain ? 1 : 3;
        if (col + width > 75) {
            out += "=\r\n";
            col = 0;
        }
        if (plain) {
            out += static_cast<char>(c);
        } else {
            out += '=';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
        col += width;
    }
    return out;
}

std::string encodedWord(const char* utf8)
{
    const std::string jis = toIso2022jp(utf8);
    std::string b = base64Lines(jis.data(), jis.size());
    b.resize(b.size() - 2);
    std::string out = "=?ISO-2022-JP?B?";
    out += b;
    out += "?=";
    return out;
}

struct Inputs {
    std::string japanese;  // UTF-8
    std::vector<unsigned char> attachment;
    char* message = nullptr;  // malloc'd, so that GMime can read it in place
    size_t messageSize = 0;
};

Inputs makeInputs()
{
    Inputs in;
    in.japanese = japaneseText(kJapaneseBytes);
    in.attachment.resize(kAttachmentBytes);
    std::mt19937_64 rng(0x5EADu);
    for (size_t i = 0; i + 8 <= in.attachment.size(); i += 8) {
        const uint64_t r = rng();
        std::memcpy(&in.attachment[i], &r, 8);
    }
    const std::string jis = toIso2022jp(in.japanese);

    std::string m;
    m.reserve(40u << 20);
    m += "MIME-Version: 1.0\r\n";
    m += "Date: Mon, 01 Jan 2024 09:00:00 +0900\r\n";
    m += "Subject: ";
    m += encodedWord(kSubject);
    m += "\r\nFrom: ";
    m += encodedWord(kFromName);
    m += " <taro@example.jp>\r\nTo: hanako@example.jp\r\n";
    m += "Content-Type: multipart/mixed; boundary=\"=_bench_boundary_1\"\r\n\r\n";
    m += "This is a multi-part message in MIME format.\r\n\r\n";
    m += "--=_bench_boundary_1\r\nContent-Type: text/plain; charset=\"iso-2022-jp\"\r\n"
         "Content-Transfer-Encoding: base64\r\n\r\n";
    m += base64Lines(jis.data(), jis.size());
    m += "\r\n--=_bench_boundary_1\r\nContent-Type: text/plain; charset=\"utf-8\"\r\n"
         "Content-Transfer-Encoding: quoted-printable\r\n\r\n";
    m += quotedPrintable(in.japanese);
    m += "\r\n--=_bench_boundary_1\r\nContent-Type: application/octet-stream; name=\"data.bin\"\r\n"
         "Content-Disposition: attachment; filename=\"data.bin\"\r\nContent-Transfer-Encoding: base64\r\n\r\n";
    m += base64Lines(in.attachment.data(), in.attachment.size());
    m += "\r\n--=_bench_boundary_1--\r\n";

    in.messageSize = m.size();
    in.message = static_cast<char*>(std::malloc(m.size()));
    std::memcpy(in.message, m.data(), m.size());
    return in;
}

// ---- measuring

bool sameBytes(const void* a, size_t an, const void* b, size_t bn)
{
    return an == bn && std::memcmp(a, b, an) == 0;
}

// ---- the readers

bool readOurs(const Inputs& in)
{
    LogNull log;
    std::unique_ptr<Email2> e(Email2::EmailFromMimeText(in.message, static_cast<uint32_t>(in.messageSize), log));
    if (!e || e->GetPartCount() != 3) return false;
    StringBuffer subject;
    bool ok = e->GetSubject(subject) && std::string_view(subject.getString()) == kSubject;
    StringBuffer name;
    if (e->fromAddress()) e->fromAddress()->GetFriendlyName(name);
    ok = ok && std::string_view(name.getString()) == kFromName;
    for (int i = 0; i < 2; ++i) {
        const DataBuffer& text = e->GetPart(i)->body();
        ok = ok && sameBytes(text.getData(), text.getSize(), in.japanese.data(), in.japanese.size());
    }
    const DataBuffer& file = e->GetPart(2)->body();
    return ok && sameBytes(file.getData(), file.getSize(), in.attachment.data(), in.attachment.size());
}

bool readGmime(const Inputs& in)
{
    g_mime_init();
    // The message read in place: the stream does not own (or copy) it.
    GByteArray* array = g_byte_array_new_take(reinterpret_cast<guint8*>(in.message), in.messageSize);
    GMimeStream* stream = g_mime_stream_mem_new_with_byte_array(array);
    g_mime_stream_mem_set_owner(GMIME_STREAM_MEM(stream), FALSE);
    GMimeParser* parser = g_mime_parser_new_with_stream(stream);
    GMimeMessage* message = g_mime_parser_construct_message(parser, nullptr);
    if (!message) return false;
    const char* subject = g_mime_message_get_subject(message);
    bool ok = subject && std::string_view(subject) == kSubject;
    InternetAddressList* from = g_mime_message_get_from(message);
    InternetAddress* sender = from ? internet_address_list_get_address(from, 0) : nullptr;
    const char* name = sender ? internet_address_get_name(sender) : nullptr;
    ok = ok && name && std::string_view(name) == kFromName;

    GMimeObject* root = g_mime_message_get_mime_part(message);
    if (!GMIME_IS_MULTIPART(root) || g_mime_multipart_get_count(GMIME_MULTIPART(root)) != 3) return false;
    for (int i = 0; i < 2; ++i) {
        GMimeObject* part = g_mime_multipart_get_part(GMIME_MULTIPART(root), i);
        char* text = GMIME_IS_TEXT_PART(part) ? g_mime_text_part_get_text(GMIME_TEXT_PART(part)) : nullptr;
        ok = ok && text && sameBytes(text, std::strlen(text), in.japanese.data(), in.japanese.size());
        g_free(text);
    }
    GMimeObject* file = g_mime_multipart_get_part(GMIME_MULTIPART(root), 2);
    if (!GMIME_IS_PART(file)) return false;
    GMimeStream* decoded = g_mime_stream_mem_new();
    g_mime_data_wrapper_write_to_stream(g_mime_part_get_content(GMIME_PART(file)), decoded);
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(decoded));
    ok = ok && sameBytes(bytes->data, bytes->len, in.attachment.data(), in.attachment.size());
    g_object_unref(decoded);
    g_object_unref(message);
    g_object_unref(parser);
    g_object_unref(stream);
    return ok;
}

}  // namespace

int main()
{
    int runs = 5;
    if (const char* r = std::getenv("HANAMAIL_BENCH_RUNS")) runs = std::max(1, std::atoi(r));
    const Inputs in = makeInputs();
    std::printf("message: %.1f MB (Japanese %zu bytes of UTF-8, attachment %zu bytes), best of %d\n",
                in.messageSize / 1e6, in.japanese.size(), in.attachment.size(), runs);

    const Outcome ours = bestOf(runs, [&] { return readOurs(in); });
    const Outcome gmime = bestOf(runs, [&] { return readGmime(in); });
    std::printf("%-10s %8.3f s %8.1f MB/s  peak %8.1f MiB  %s\n", "hanamail", ours.seconds,
                in.messageSize / ours.seconds / 1e6, ours.peakKb / 1024.0, ours.ok ? "ok" : "MISMATCH");
    std::printf("%-10s %8.3f s %8.1f MB/s  peak %8.1f MiB  %s\n", "GMime", gmime.seconds,
                in.messageSize / gmime.seconds / 1e6, gmime.peakKb / 1024.0, gmime.ok ? "ok" : "MISMATCH");
    const double memory = gmime.peakKb > 0 ? static_cast<double>(ours.peakKb) / gmime.peakKb : 0;
    std::printf("parse+decode: %.2fx GMime, peak memory %.2fx GMime\n", gmime.seconds / ours.seconds, memory);
    std::free(in.message);
    return ours.ok && gmime.ok ? 0 : 1;
}
