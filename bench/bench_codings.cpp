// Throughput of the transfer codings on 64 MiB, beside OpenSSL's EVP base64 and
// GMime's base64 and quoted-printable coders measured in the same run, and
// beside memcpy of the same buffer. Every result is also checked in this run:
// our decoders against our own and the peers' output, the peers' decoders
// against ours. Any mismatch is printed and makes the exit status 1.
//
// MB/s counts the bytes each operation reads (1 MB = 10^6 bytes). "x memcpy"
// is the operation's time over the time memcpy takes for the same input.
// Times are the thread's CPU time (user + system, so page faults count): on a
// shared machine the wait for a core would otherwise swamp the figures.
// HANAMAIL_BENCH_WALL=1 times by the wall clock instead.
#include <gmime/gmime.h>
#include <openssl/evp.h>
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

#include "BenchTimer.h"
#include "charset/Base64Codec.h"
#include "charset/ContentCoding.h"
#include "foundation/DataBuffer.h"
#include "foundation/StringBuffer.h"

using namespace hanamail;

namespace {

// Best of 5 rounds; HANAMAIL_BENCH_RUNS asks for more on a busy machine.
int g_runs = 5;
bool g_wallClock = false;
constexpr size_t kDataBytes = 64u << 20;

int g_failures = 0;

void check(bool ok, const char* what)
{
    if (ok) return;
    ++g_failures;
    std::printf("!!! MISMATCH: %s\n", what);
}

bool sameBytes(const void* a, size_t an, const void* b, size_t bn)
{
    return an == bn && std::memcmp(a, b, an) == 0;
}

// The optimiser may not drop work whose result is looked at.
volatile size_t g_sink;

// ---- inputs ----

std::vector<unsigned char> randomBytes(size_t n)
{
    std::mt19937_64 rng(0x48616E61u);  // fixed start value: the same bytes every run
    std::vector<unsigned char> v(n);
    for (size_t i = 0; i + 8 <= n; i += 8) {
        uint64_t r = rng();
        std::memcpy(&v[i], &r, 8);
    }
    return v;
}

// Mail text as people write it: short and long lines of words, CR LF ends, a
// few 8-bit UTF-8 words, some "=" and trailing blanks, lines that begin with
// "From " or ".", the odd tab.
std::string mailText(size_t n)
{
    static const char* const kWords[] = {
        "the",     "of",      "and",    "to",       "in",       "is",     "that",    "for",      "it",
        "as",      "with",    "was",    "on",       "be",       "at",     "by",      "this",     "had",
        "not",     "are",     "but",    "from",     "or",       "have",   "an",      "they",     "which",
        "meeting", "report",  "please", "attached", "schedule", "thanks", "regards", "project",  "invoice",
        "Monday",  "deliver", "budget", "review",   "message",  "server", "update",  "customer", "order",
        "x=1",     "a=b",     "50%",    "(see",     "below)",   "--",     "e.g.",    "12:30",    "2026-12-08",
    };
    static const char* const kEightBit[] = {
        "caf\xC3\xA9",
        "na\xC3\xAFve",
        "Gr\xC3\xBC\xC3\x9F"
        "e",
        "\xC3\xA9l\xC3\xA8ve",
        "\xE2\x80\x9Cquoted\xE2\x80\x9D",
        "\xE2\x80\x94",
        "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E",
        "\xE2\x82\xAC"
        "20",
        "se\xC3\xB1or",
        "K\xC3\xB8"
        "benhavn",
    };
    constexpr size_t kPlain = sizeof kWords / sizeof kWords[0];
    constexpr size_t kEight = sizeof kEightBit / sizeof kEightBit[0];
    std::mt19937 rng(20261208u);  // fixed start value
    std::uniform_int_distribution<int> roll(0, 999);
    std::string s;
    s.reserve(n + 4096);
    while (s.size() < n) {
        int kind = roll(rng);
        size_t target;
        if (kind < 120)
            target = 0;  // blank line
        else if (kind < 880)
            target = 20 + static_cast<size_t>(roll(rng)) % 57;  // wrapped prose, up to 76
        else
            target = 100 + static_cast<size_t>(roll(rng)) * 2;  // unwrapped paragraph, up to ~2 kB
        int start = roll(rng);
        if (start < 5)
            s += "From ";
        else if (start < 7)
            s += ".";
        else if (start < 30)
            s += "\t";
        else if (start < 60)
            s += "> ";
        size_t lineStart = s.size();
        while (s.size() - lineStart < target) {
            if (roll(rng) < 30)
                s += kEightBit[static_cast<size_t>(roll(rng)) % kEight];
            else
                s += kWords[static_cast<size_t>(roll(rng)) % kPlain];
            s += roll(rng) < 60 ? ", " : " ";
        }
        if (!s.empty() && s.back() == ' ' && roll(rng) < 900)
            s.pop_back();  // most lines end in a word; the rest keep a trailing blank
        s += "\r\n";
    }
    return s;
}

// ---- peers ----

std::string opensslEncode(const unsigned char* p, size_t n)
{
    std::string out(n / 48 * 65 + 4 * ((n % 48 + 2) / 3) + 8, '\0');
    EVP_ENCODE_CTX* ctx = EVP_ENCODE_CTX_new();
    EVP_EncodeInit(ctx);
    int a = 0, b = 0;
    EVP_EncodeUpdate(ctx, reinterpret_cast<unsigned char*>(out.data()), &a, p, static_cast<int>(n));
    EVP_EncodeFinal(ctx, reinterpret_cast<unsigned char*>(out.data()) + a, &b);
    EVP_ENCODE_CTX_free(ctx);
    out.resize(static_cast<size_t>(a) + static_cast<size_t>(b));
    return out;
}

// EVP's line-wise coders into preallocated memory; returns the length (or -1 from the decoder).
long opensslEncodeInto(const unsigned char* p, size_t n, unsigned char* out, EVP_ENCODE_CTX* ctx)
{
    EVP_EncodeInit(ctx);
    int a = 0, b = 0;
    EVP_EncodeUpdate(ctx, out, &a, p, static_cast<int>(n));
    EVP_EncodeFinal(ctx, out + a, &b);
    return a + b;
}

long opensslDecodeInto(const char* p, size_t n, unsigned char* out, EVP_ENCODE_CTX* ctx)
{
    EVP_DecodeInit(ctx);
    int a = 0, b = 0;
    if (EVP_DecodeUpdate(ctx, out, &a, reinterpret_cast<const unsigned char*>(p), static_cast<int>(n)) < 0) return -1;
    if (EVP_DecodeFinal(ctx, out + a, &b) < 0) return -1;
    return a + b;
}

size_t gmimeEncodeInto(GMimeContentEncoding enc, const void* p, size_t n, char* out)
{
    GMimeEncoding st;
    g_mime_encoding_init_encode(&st, enc);
    return g_mime_encoding_flush(&st, static_cast<const char*>(p), n, out);
}

size_t gmimeDecodeInto(GMimeContentEncoding enc, const void* p, size_t n, char* out)
{
    GMimeEncoding st;
    g_mime_encoding_init_decode(&st, enc);
    return g_mime_encoding_flush(&st, static_cast<const char*>(p), n, out);
}

// ---- report ----

struct Line {
    std::string name;
    size_t inBytes;
    double seconds;
};

// Rivals run in turns, one run each per round, best of the rounds kept: on a
// shared machine a busy spell then hurts every entry alike, not just one.
class Race {
public:
    size_t add(std::string name, size_t inBytes, std::function<void()> run)
    {
        m_lines.push_back({std::move(name), inBytes, 1e30});
        m_runs.push_back(std::move(run));
        return m_lines.size() - 1;
    }
    static double cpuSeconds(const std::function<void()>& f)
    {
        timespec a{}, b{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &a);
        f();
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &b);
        return static_cast<double>(b.tv_sec - a.tv_sec) + static_cast<double>(b.tv_nsec - a.tv_nsec) * 1e-9;
    }

    void run(int rounds)
    {
        for (int r = 0; r < rounds; ++r)
            for (size_t i = 0; i < m_runs.size(); ++i) {
                double s = g_wallClock ? bestSeconds(1, m_runs[i]) : cpuSeconds(m_runs[i]);
                if (s < m_lines[i].seconds) m_lines[i].seconds = s;
            }
    }
    const Line& operator[](size_t i) const { return m_lines[i]; }

private:
    std::vector<Line> m_lines;
    std::vector<std::function<void()>> m_runs;
};

void printHeader(const char* title)
{
    std::printf("\n%s\n", title);
}

void printLine(const Line& l, const Line& memcpyLine, std::initializer_list<const Line*> peers = {},
               const char* note = "")
{
    std::printf("  %-40s %7.1f ms %6.0f MB/s %6.2f x memcpy", l.name.c_str(), l.seconds * 1e3,
                mbPerSecond(l.inBytes, l.seconds), l.seconds / memcpyLine.seconds);
    for (const Line* p : peers)
        std::printf("  %.2f x %s", mbPerSecond(l.inBytes, l.seconds) / mbPerSecond(p->inBytes, p->seconds),
                    p->name.c_str());
    std::printf("%s\n", note);
}

std::function<void()> memcpyRun(const void* src, size_t n, std::vector<unsigned char>& dst)
{
    dst.assign(n, 1);
    return [src, n, &dst] {
        std::memcpy(dst.data(), src, n);
        g_sink = dst[n / 2];
    };
}

// What a result array of n fresh bytes costs before anything is written to it:
// the decoders that hand out new arrays pay it, the peers here write into memory already touched.
std::function<void()> freshMemoryRun(size_t n)
{
    return [n] {
        auto* p = static_cast<unsigned char*>(std::malloc(n));
        for (size_t i = 0; i < n; i += 4096) p[i] = 1;
        g_sink = p[n / 2];
        std::free(p);
    };
}

bool linesOf72(const std::string& s)
{
    // Every line but the last two carries 72 characters; the last non-empty one 4..72.
    size_t pos = 0;
    while (pos < s.size()) {
        size_t cr = s.find("\r\n", pos);
        if (cr == std::string::npos) return false;
        size_t len = cr - pos;
        bool last = cr + 2 == s.size() || (cr + 4 == s.size() && s.compare(cr + 2, 2, "\r\n") == 0);
        if (len != 72 && !(last && len % 4 == 0)) return false;
        pos = cr + 2;
    }
    return true;
}

bool qpLinesShort(const std::string& s)
{
    size_t pos = 0;
    while (pos < s.size()) {
        size_t cr = s.find("\r\n", pos);
        size_t end = cr == std::string::npos ? s.size() : cr;
        if (end - pos > 75) return false;
        pos = cr == std::string::npos ? s.size() : cr + 2;
    }
    return true;
}

std::string withoutCrLf(const std::string& s)
{
    std::string r;
    r.reserve(s.size());
    for (char c : s)
        if (c != '\r' && c != '\n') r += c;
    return r;
}

void benchBase64()
{
    const ContentCoding cc;
    const std::vector<unsigned char> data = randomBytes(kDataBytes);
    const unsigned char* d = data.data();
    const size_t n = data.size();
    std::printf("base64: %zu bytes of random data\n", n);

    // Reference outputs, checked before any timing.
    StringBuffer oursSb;
    check(cc.encodeBase64(d, static_cast<uint32_t>(n), oursSb), "our encodeBase64 failed");
    const std::string ours(oursSb.getString(), static_cast<size_t>(oursSb.getSize()));
    const std::string evp = opensslEncode(d, n);
    std::vector<char> gmBuf(GMIME_BASE64_ENCODE_LEN(n) + 16);
    const std::string gm(gmBuf.data(), gmimeEncodeInto(GMIME_CONTENT_ENCODING_BASE64, d, n, gmBuf.data()));

    check(linesOf72(ours), "our base64 lines are not 72 characters + CR LF");
    StringBuffer flatSb;
    if (!cc.encodeBase64Flat(d, static_cast<uint32_t>(n), flatSb)) std::abort();
    const std::string flat(flatSb.getString(), static_cast<size_t>(flatSb.getSize()));
    check(flat == withoutCrLf(ours), "our flat base64 differs from the lined text without its line ends");
    check(flat == withoutCrLf(evp), "our base64 text differs from OpenSSL's (line ends aside)");
    check(flat == withoutCrLf(gm), "our base64 text differs from GMime's (line ends aside)");

    auto oursDecodes = [&](const std::string& text, const char* what) {
        uint32_t count = 0;
        unsigned char* p = cc.decodeBase64(text.data(), static_cast<uint32_t>(text.size()), count);
        check(p && sameBytes(p, count, d, n), what);
        std::free(p);
    };
    oursDecodes(ours, "our decodeBase64 of our text does not give the input");
    oursDecodes(evp, "our decodeBase64 of OpenSSL's text does not give the input");
    oursDecodes(gm, "our decodeBase64 of GMime's text does not give the input");
    {
        DataBuffer strict;
        check(cc.decodeBase64Strict(ours.data(), static_cast<uint32_t>(ours.size()), strict) &&
                  sameBytes(strict.getData(), strict.getSize(), d, n),
              "our decodeBase64Strict of our text does not give the input");
    }
    std::vector<unsigned char> dec(n + 64);
    EVP_ENCODE_CTX* ctx = EVP_ENCODE_CTX_new();
    {
        long got = opensslDecodeInto(ours.data(), ours.size(), dec.data(), ctx);
        check(got >= 0 && sameBytes(dec.data(), static_cast<size_t>(got), d, n),
              "OpenSSL's decoder does not read our text back to the input");
        size_t g = gmimeDecodeInto(GMIME_CONTENT_ENCODING_BASE64, ours.data(), ours.size(),
                                   reinterpret_cast<char*>(dec.data()));
        check(sameBytes(dec.data(), g, d, n), "GMime's decoder does not read our text back to the input");
    }
    std::printf("  text: ours %zu bytes (72 + CR LF), OpenSSL %zu (64 + LF), GMime %zu (76 + LF)\n", ours.size(),
                evp.size(), gm.size());

    // Encoders write into memory already allocated and touched (our StringBuffer
    // keeps its capacity across clear()); our decoder API allocates its result
    // each time, the core loop beside it does not. All decoders read our text.
    std::vector<unsigned char> mcDst1, mcDst2;
    std::vector<unsigned char> encBuf(gmBuf.size() + evp.size(), 1);
    StringBuffer out;
    if (!cc.encodeBase64(d, static_cast<uint32_t>(n), out)) std::abort();
    const uint32_t n32 = static_cast<uint32_t>(n);
    const auto* text = reinterpret_cast<const unsigned char*>(ours.data());
    const size_t tn = ours.size();
    Race race;
    const size_t mcData = race.add("memcpy of the data", n, memcpyRun(d, n, mcDst1));
    const size_t ourEnc = race.add("ours encodeBase64 (72 + CR LF)", n, [&] {
        out.clear();
        if (!cc.encodeBase64(d, n32, out)) std::abort();
        g_sink = static_cast<size_t>(out.getSize());
    });
    const size_t evpEnc =
        race.add("OpenSSL", n, [&] { g_sink = static_cast<size_t>(opensslEncodeInto(d, n, encBuf.data(), ctx)); });
    const size_t gmEnc = race.add("GMime", n, [&] {
        g_sink = gmimeEncodeInto(GMIME_CONTENT_ENCODING_BASE64, d, n, reinterpret_cast<char*>(encBuf.data()));
    });
    const size_t ourFlat = race.add("ours encodeBase64Flat (no line ends)", n, [&] {
        out.clear();
        if (!cc.encodeBase64Flat(d, n32, out)) std::abort();
        g_sink = static_cast<size_t>(out.getSize());
    });
    const size_t evpBlock = race.add("EVP_EncodeBlock", n, [&] {
        g_sink = static_cast<size_t>(EVP_EncodeBlock(encBuf.data(), d, static_cast<int>(n)));
    });
    const size_t mcText = race.add("memcpy of our text", tn, memcpyRun(text, tn, mcDst2));
    const size_t ourDec = race.add("ours decodeBase64 (lenient, allocates)", tn, [&] {
        uint32_t count = 0;
        unsigned char* p = cc.decodeBase64(ours.data(), static_cast<uint32_t>(tn), count);
        g_sink = count;
        std::free(p);
    });
    const size_t ourCore = race.add("ours lenient core loop (preallocated)", tn, [&] {
        size_t len = 0;
        Base64Codec::decode(text, tn, dec.data(), len, false);
        g_sink = len;
    });
    // The core loop on each path the processor has (the default is the fastest).
    static const char* const kPathNames[] = {"scalar", "SSSE3", "AVX2"};
    std::vector<size_t> ourPaths;
    for (int p = Base64Codec::kScalar; p <= Base64Codec::fastestPath(); ++p)
        ourPaths.push_back(race.add(std::string("  core loop, ") + kPathNames[p] + " path", tn, [&, p] {
            size_t len = 0;
            Base64Codec::decode(text, tn, dec.data(), len, false, static_cast<Base64Codec::Path>(p));
            g_sink = len;
        }));
    const size_t ourStrict = race.add("ours decodeBase64Strict (allocates)", tn, [&] {
        DataBuffer db;
        if (!cc.decodeBase64Strict(ours.data(), static_cast<uint32_t>(tn), db)) std::abort();
        g_sink = db.getSize();
    });
    const size_t evpDec = race.add(
        "OpenSSL", tn, [&] { g_sink = static_cast<size_t>(opensslDecodeInto(ours.data(), tn, dec.data(), ctx)); });
    const size_t gmDec = race.add("GMime", tn, [&] {
        g_sink = gmimeDecodeInto(GMIME_CONTENT_ENCODING_BASE64, text, tn, reinterpret_cast<char*>(dec.data()));
    });
    const size_t gmDecFresh = race.add("GMime into fresh memory (as our API)", tn, [&] {
        auto* p = static_cast<char*>(std::malloc(tn / 4 * 3 + 16));
        g_sink = gmimeDecodeInto(GMIME_CONTENT_ENCODING_BASE64, text, tn, p);
        std::free(p);
    });
    const size_t fresh =
        race.add("(fresh result memory: malloc + touch)", tn, freshMemoryRun(Base64Codec::decodedBound(tn) + 1));
    race.run(g_runs);
    EVP_ENCODE_CTX_free(ctx);

    printHeader("base64 encode (MB/s of data read)");
    printLine(race[mcData], race[mcData]);
    printLine(race[ourEnc], race[mcData], {&race[evpEnc], &race[gmEnc]});
    printLine(race[evpEnc], race[mcData], {}, "  (EVP_EncodeUpdate: 64-column lines, LF)");
    printLine(race[gmEnc], race[mcData], {}, "  (g_mime_encoding_flush: 76-column lines, LF)");
    printLine(race[ourFlat], race[mcData], {&race[evpBlock]});
    printLine(race[evpBlock], race[mcData], {}, "  (OpenSSL, no line ends)");

    printHeader("base64 decode of our 72-column text (MB/s of text read)");
    printLine(race[mcText], race[mcText]);
    printLine(race[ourDec], race[mcText], {&race[evpDec], &race[gmDec], &race[gmDecFresh]});
    printLine(race[ourCore], race[mcText], {&race[evpDec], &race[gmDec]});
    for (size_t i : ourPaths) printLine(race[i], race[mcText], {&race[gmDec]});
    printLine(race[ourStrict], race[mcText], {&race[evpDec], &race[gmDec]});
    printLine(race[evpDec], race[mcText], {}, "  (EVP_DecodeUpdate)");
    printLine(race[gmDec], race[mcText], {}, "  (g_mime_encoding_flush)");
    printLine(race[gmDecFresh], race[mcText]);
    printLine(race[fresh], race[mcText]);
    std::printf("  goal: at least the peers, and within 3 x memcpy: encode %.2f, decode %.2f\n",
                race[ourEnc].seconds / race[mcData].seconds, race[ourDec].seconds / race[mcText].seconds);
}

void benchQuotedPrintable()
{
    const ContentCoding cc;
    const std::string text = mailText(kDataBytes);
    const char* t = text.data();
    const size_t n = text.size();
    size_t eight = 0, lines = 0, longLines = 0, lineStart = 0;
    for (size_t i = 0; i < n; ++i) {
        if (static_cast<unsigned char>(t[i]) >= 0x80) ++eight;
        if (t[i] == '\n') {
            ++lines;
            if (i - lineStart > 78) ++longLines;
            lineStart = i + 1;
        }
    }
    std::printf("\nquoted-printable: %zu bytes of mail text, %zu lines (%.1f%% longer than 76), %.1f%% 8-bit bytes\n",
                n, lines, 100.0 * static_cast<double>(longLines) / static_cast<double>(lines),
                100.0 * static_cast<double>(eight) / static_cast<double>(n));

    StringBuffer oursSb;
    check(cc.encodeQuotedPrintable(t, static_cast<uint32_t>(n), oursSb), "our encodeQuotedPrintable failed");
    const std::string ours(oursSb.getString(), static_cast<size_t>(oursSb.getSize()));
    std::vector<char> gmBuf(GMIME_QP_ENCODE_LEN(n) + 16);
    const std::string gm(gmBuf.data(), gmimeEncodeInto(GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE, t, n, gmBuf.data()));
    check(qpLinesShort(ours), "our quoted-printable has a line over 75 characters");

    DataBuffer back;
    check(cc.decodeQuotedPrintable(ours.data(), static_cast<uint32_t>(ours.size()), back) &&
              sameBytes(back.getData(), back.getSize(), t, n),
          "our decodeQuotedPrintable of our text does not give the input");
    // GMime writes LF line ends; ours reads them back as CR LF, which is the input again.
    check(cc.decodeQuotedPrintable(gm.data(), static_cast<uint32_t>(gm.size()), back) &&
              sameBytes(back.getData(), back.getSize(), t, n),
          "our decodeQuotedPrintable of GMime's text does not give the input");
    std::vector<char> dec(ours.size() + 64);
    size_t g = gmimeDecodeInto(GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE, ours.data(), ours.size(), dec.data());
    check(sameBytes(dec.data(), g, t, n), "GMime's decoder does not read our text back to the input");
    std::printf("  text: ours %zu bytes (CR LF), GMime %zu (LF)\n", ours.size(), gm.size());

    std::vector<unsigned char> mcDst1, mcDst2;
    StringBuffer out;
    if (!cc.encodeQuotedPrintable(t, static_cast<uint32_t>(n), out)) std::abort();
    const size_t qn = ours.size();
    Race race;
    const size_t mcData = race.add("memcpy of the text", n, memcpyRun(t, n, mcDst1));
    const size_t ourEnc = race.add("ours encodeQuotedPrintable", n, [&] {
        out.clear();
        if (!cc.encodeQuotedPrintable(t, static_cast<uint32_t>(n), out)) std::abort();
        g_sink = static_cast<size_t>(out.getSize());
    });
    const size_t gmEnc = race.add(
        "GMime", n, [&] { g_sink = gmimeEncodeInto(GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE, t, n, gmBuf.data()); });
    const size_t mcQp = race.add("memcpy of our QP text", qn, memcpyRun(ours.data(), qn, mcDst2));
    const size_t ourDec = race.add("ours decodeQuotedPrintable (allocates)", qn, [&] {
        DataBuffer db;
        if (!cc.decodeQuotedPrintable(ours.data(), static_cast<uint32_t>(qn), db)) std::abort();
        g_sink = db.getSize();
    });
    const size_t gmDec = race.add("GMime", qn, [&] {
        g_sink = gmimeDecodeInto(GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE, ours.data(), qn, dec.data());
    });
    const size_t gmDecFresh = race.add("GMime into fresh memory (as our API)", qn, [&] {
        auto* p = static_cast<char*>(std::malloc(qn + 16));
        g_sink = gmimeDecodeInto(GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE, ours.data(), qn, p);
        std::free(p);
    });
    const size_t fresh =
        race.add("(fresh result memory: malloc + touch)", qn,
                 freshMemoryRun(qn + static_cast<size_t>(std::count(ours.begin(), ours.end(), '\n')) + 1));
    race.run(g_runs);

    printHeader("quoted-printable encode (MB/s of text read)");
    printLine(race[mcData], race[mcData]);
    printLine(race[ourEnc], race[mcData], {&race[gmEnc]});
    printLine(race[gmEnc], race[mcData], {}, "  (76-column lines, LF)");
    printHeader("quoted-printable decode of our text (MB/s of text read)");
    printLine(race[mcQp], race[mcQp]);
    printLine(race[ourDec], race[mcQp], {&race[gmDec], &race[gmDecFresh]});
    printLine(race[gmDec], race[mcQp]);
    printLine(race[gmDecFresh], race[mcQp]);
    printLine(race[fresh], race[mcQp]);
}

}  // namespace

int main()
{
    if (const char* r = std::getenv("HANAMAIL_BENCH_RUNS"); r && std::atoi(r) > 0) g_runs = std::atoi(r);
    if (const char* w = std::getenv("HANAMAIL_BENCH_WALL"); w && *w == '1') g_wallClock = true;
    std::printf("times: %s, best of %d rounds\n\n", g_wallClock ? "wall clock" : "thread CPU time", g_runs);
    g_mime_init();
    benchBase64();
    benchQuotedPrintable();
    g_mime_shutdown();
    if (g_failures != 0) {
        std::printf("\n!!! %d MISMATCH(ES): the figures above are not to be trusted\n", g_failures);
        return 1;
    }
    std::printf("\nall outputs checked: no mismatch\n");
    return 0;
}
