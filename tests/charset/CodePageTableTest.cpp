#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>
#ifdef _GLIBCXX_HAS_GTHREADS
#include <thread>
#endif

#include "charset/CodePageTable.h"
#include "foundation/DataBuffer.h"

using namespace hanamail;

namespace {

using Bytes = std::vector<uint8_t>;
using Units = std::vector<uint16_t>;

struct Result {
    bool ok;
    Bytes out;
};

Bytes toBytes(const DataBuffer& b)
{
    return Bytes(b.getData(), b.getData() + b.getSize());
}

Bytes utf16le(const Units& units)
{
    Bytes b;
    for (uint16_t u : units) {
        b.push_back(static_cast<uint8_t>(u));
        b.push_back(static_cast<uint8_t>(u >> 8));
    }
    return b;
}

const CodePageTable& table(int cp)
{
    const CodePageTable* t = CodePageTable::forCodePage(cp);
    if (!t) {
        ADD_FAILURE() << "no table for " << cp;
        static const CodePageTable* fallback = CodePageTable::forCodePage(28591);
        return *fallback;
    }
    return *t;
}

Result decode(const CodePageTable& t, const Bytes& in)
{
    DataBuffer out;
    bool ok = t.decodeToUtf16(in.data(), static_cast<uint32_t>(in.size()), out);
    return {ok, toBytes(out)};
}

Result encode(const CodePageTable& t, const Bytes& in)
{
    DataBuffer out;
    bool ok = t.encodeFromUtf16(in.data(), static_cast<uint32_t>(in.size()), out);
    return {ok, toBytes(out)};
}

Result encodeUnits(const CodePageTable& t, const Units& units)
{
    return encode(t, utf16le(units));
}

// Runs first in this program, so the page is not built yet.
TEST(CodePageTable, FirstUseFromTwoThreadsBuildsOneTable)
{
#ifdef _GLIBCXX_HAS_GTHREADS
    std::atomic<bool> go{false};
    const CodePageTable* seen[2] = {};
    bool decoded[2] = {};
    auto run = [&](int k) {
        while (!go.load())
            ;
        seen[k] = CodePageTable::forCodePage(51949);
        decoded[k] = seen[k] && decode(*seen[k], {0xB0, 0xA1}).out == utf16le({0xAC00});
    };
    std::thread a(run, 0);
    std::thread b(run, 1);
    go = true;
    a.join();
    b.join();
    EXPECT_NE(seen[0], nullptr);
    EXPECT_EQ(seen[0], seen[1]);
    EXPECT_TRUE(decoded[0] && decoded[1]);
#else
    GTEST_SKIP() << "no threads in this runtime";
#endif
}

// ---- Reference mapping files ------------------------------------------------

struct RefPage {
    int single[256];                     // byte -> unit, -1 = none (decode and decode-lenient)
    std::map<uint16_t, uint16_t> pairs;  // lead << 8 | trail -> unit
    std::map<uint16_t, Bytes> encode;    // unit -> bytes
};

bool loadRef(const std::string& path, RefPage& page)
{
    for (int& s : page.single) s = -1;
    gzFile f = gzopen(path.c_str(), "rb");  // reads plain files as they are
    if (!f) return false;
    char line[256];
    std::string section;
    while (gzgets(f, line, sizeof line)) {
        std::string s(line);
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
        if (s.rfind("#", 0) == 0) {
            if (s == "# decode" || s == "# encode" || s == "# decode-lenient" || s == "# end") section = s.substr(2);
            continue;
        }
        size_t tab = s.find('\t');
        if (tab == std::string::npos) continue;
        unsigned long code = std::stoul(s.substr(2, tab - 2), nullptr, 16);
        uint16_t unit = static_cast<uint16_t>(std::stoul(s.substr(tab + 3), nullptr, 16));
        bool twoBytes = tab - 2 == 4;
        Bytes bytes = twoBytes ? Bytes{uint8_t(code >> 8), uint8_t(code)} : Bytes{uint8_t(code)};
        if (section == "encode") {
            page.encode[unit] = bytes;
        } else if (section == "decode" || section == "decode-lenient") {
            // Unit 0 from any byte but 0 means no mapping.
            if (unit == 0 && code != 0) continue;
            if (twoBytes)
                page.pairs[uint16_t(code)] = unit;
            else
                page.single[code] = unit;
        }
    }
    gzclose(f);
    return section == "end";
}

Bytes singleExpected(const RefPage& page, uint8_t b)
{
    return page.single[b] < 0 ? Bytes{} : utf16le({uint16_t(page.single[b])});
}

void checkPage(int cp, const RefPage& page)
{
    SCOPED_TRACE("code page " + std::to_string(cp));
    const CodePageTable* t = CodePageTable::forCodePage(cp);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->codePage(), cp);
    EXPECT_EQ(t->isMultiByte(), !page.pairs.empty());

    for (int b = 0; b < 256; ++b) {
        Result r = decode(*t, {uint8_t(b)});
        EXPECT_EQ(r.out, singleExpected(page, uint8_t(b))) << "byte " << b;
        EXPECT_EQ(r.ok, page.single[b] >= 0) << "byte " << b;
    }
    std::map<int, bool> leads;
    for (const auto& [code, unit] : page.pairs) {
        leads[code >> 8] = true;
        Result r = decode(*t, {uint8_t(code >> 8), uint8_t(code)});
        ASSERT_TRUE(r.ok && r.out == utf16le({unit})) << "pair " << code;
    }
    // An unlisted pair is two single bytes: the lead byte and the trail on its own.
    for (const auto& [lead, unused] : leads) {
        for (int trail = 0; trail < 256; ++trail) {
            uint16_t code = uint16_t(lead << 8 | trail);
            if (page.pairs.count(code)) continue;
            Bytes want = singleExpected(page, uint8_t(lead));
            Bytes tail = singleExpected(page, uint8_t(trail));
            want.insert(want.end(), tail.begin(), tail.end());
            Result r = decode(*t, {uint8_t(lead), uint8_t(trail)});
            ASSERT_EQ(r.out, want) << "pair " << code;
            ASSERT_EQ(r.ok, page.single[lead] >= 0 && page.single[trail] >= 0) << "pair " << code;
        }
    }

    for (const auto& [unit, bytes] : page.encode) {
        Result r = encodeUnits(*t, {unit});
        ASSERT_TRUE(r.ok && r.out == bytes) << "unit " << unit;
    }
    // All units at once: exactly the listed encodings in order, the rest dropped.
    Units all;
    Bytes want;
    for (uint32_t u = 0; u < 0x10000; ++u) {
        all.push_back(uint16_t(u));
        auto it = page.encode.find(uint16_t(u));
        if (it != page.encode.end()) want.insert(want.end(), it->second.begin(), it->second.end());
    }
    Result r = encodeUnits(*t, all);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.out, want);
    for (uint32_t u = 1; u < 0x10000; u += 97) {
        if (!page.encode.count(uint16_t(u))) {
            Result one = encodeUnits(*t, {uint16_t(u)});
            ASSERT_TRUE(!one.ok && one.out.empty()) << "unit " << u;
        }
    }
}

TEST(CodePageTableReference, EveryFileMatchesItsTables)
{
    const std::string dir = std::string(HANAMAIL_SHARED_DIR) + "/codepages/";
    FILE* index = std::fopen((dir + "index.tsv").c_str(), "r");
    if (!index) GTEST_SKIP() << "no reference data in " << dir;
    char line[512];
    int tables = 0;
    int computed = 0;
    while (std::fgets(line, sizeof line, index)) {
        if (line[0] == '#') continue;
        int cp = 0;
        char name[64];
        char file[64];
        if (std::sscanf(line, "%d\t%63[^\t]\t%63[^\t]", &cp, name, file) != 3) continue;
        if (std::strcmp(file, "-") == 0) {
            ++computed;
            EXPECT_FALSE(CodePageTable::isTableCodePage(cp)) << cp;
            EXPECT_EQ(CodePageTable::forCodePage(cp), nullptr) << cp;
            continue;
        }
        ++tables;
        EXPECT_TRUE(CodePageTable::isTableCodePage(cp)) << cp;
        RefPage page;
        ASSERT_TRUE(loadRef(dir + file, page)) << file;
        checkPage(cp, page);
    }
    std::fclose(index);
    EXPECT_EQ(tables, 103);
    EXPECT_EQ(computed, 10);
}

// ---- Cases that need no reference data ---------------------------------------

TEST(CodePageTable, KnowsWhichCodePagesAreTables)
{
    for (int cp : {932, 936, 949, 950, 1361, 10001, 51932, 51936, 51949, 20261})
        EXPECT_TRUE(table(cp).isMultiByte()) << cp;
    for (int cp : {37, 437, 1047, 1252, 20127, 20269, 28591, 38598}) EXPECT_FALSE(table(cp).isMultiByte()) << cp;
    for (int cp : {0, 1200, 1201, 65000, 65001, 65005, 65006, 50220, 50225, 20932, 54936, 12345}) {
        EXPECT_FALSE(CodePageTable::isTableCodePage(cp)) << cp;
        EXPECT_EQ(CodePageTable::forCodePage(cp), nullptr) << cp;
    }
    EXPECT_EQ(CodePageTable::forCodePage(932), CodePageTable::forCodePage(932));
}

TEST(CodePageTable, MultiByteAsciiMapsToItself)
{
    Bytes ascii;
    Units units;
    for (int b = 0; b < 0x80; ++b) {
        ascii.push_back(uint8_t(b));
        units.push_back(uint16_t(b));
    }
    for (int cp : {932, 936, 949, 950, 1361, 10001, 51932, 51936, 51949}) {
        Result d = decode(table(cp), ascii);
        EXPECT_TRUE(d.ok && d.out == utf16le(units)) << cp;
        Result e = encodeUnits(table(cp), units);
        EXPECT_TRUE(e.ok && e.out == ascii) << cp;
    }
}

TEST(CodePageTable, ShiftJisDecoding)
{
    const CodePageTable& sjis = table(932);
    EXPECT_EQ(decode(sjis, {0x82, 0xA0}).out, utf16le({0x3042}));
    EXPECT_EQ(decode(sjis, {0xB1, 0x00, 0x41}).out, utf16le({0xFF71, 0x0000, 0x0041}));

    // A lead byte at the end is dropped.
    Result r = decode(sjis, {0x41, 0x82});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.out, utf16le({0x41}));
    // A lead byte whose trail is not valid: the lead is dropped, the trail stands alone.
    r = decode(sjis, {0x81, 0x20, 0xA2});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.out, utf16le({0x20, 0xFF62}));
    r = decode(sjis, {0x82, 0x0A});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.out, utf16le({0x0A}));

    // Private-use bytes decode leniently and encode back to the same byte.
    EXPECT_EQ(decode(sjis, {0xA0}).out, utf16le({0xF8F0}));
    EXPECT_EQ(encodeUnits(sjis, {0xF8F0}).out, Bytes{0xA0});
}

TEST(CodePageTable, ShiftJisEncoding)
{
    const CodePageTable& sjis = table(932);
    Result r = encodeUnits(sjis, {0x3042, 0xFF71, 0x0000, 0x0041});
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.out, (Bytes{0x82, 0xA0, 0xB1, 0x00, 0x41}));
    // One-way decodes are not reversed: NEC row 13 decodes, the character encodes elsewhere.
    EXPECT_EQ(decode(sjis, {0x87, 0x90}).out, utf16le({0x2252}));
    EXPECT_EQ(encodeUnits(sjis, {0x2252}).out, (Bytes{0x81, 0xE0}));
    EXPECT_EQ(encodeUnits(sjis, {0x2170}).out, (Bytes{0xFA, 0x40}));

    // Surrogates are looked up one by one and have no mapping.
    r = encodeUnits(sjis, {0x41, 0xD83D, 0xDE00, 0x42});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.out, (Bytes{0x41, 0x42}));
}

TEST(CodePageTable, Utf16InputLength)
{
    const CodePageTable& latin1 = table(28591);
    Result r = encode(latin1, {0x41});
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.out.empty());
    r = encode(latin1, {0x41, 0x00, 0x42});
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.out, Bytes{0x41});
    r = encode(latin1, {});
    EXPECT_TRUE(r.ok);
    DataBuffer out;
    EXPECT_TRUE(latin1.decodeToUtf16(nullptr, 5, out));
    EXPECT_TRUE(latin1.encodeFromUtf16(nullptr, 5, out));
    EXPECT_EQ(out.getSize(), 0u);
}

TEST(CodePageTable, UnmappedUnitsAreDropped)
{
    const CodePageTable& latin1 = table(28591);
    Result r = encodeUnits(latin1, {0x3042});
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.out.empty());
    r = encodeUnits(latin1, {0x41, 0x3042, 0x43, 0xE9});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.out, (Bytes{0x41, 0x43, 0xE9}));
}

TEST(CodePageTable, PagesWithPlatformQuirks)
{
    // us-ascii decodes high bytes with the top bit cleared, one-way; 0x80 gives U+0000, so none.
    const CodePageTable& ascii = table(20127);
    EXPECT_EQ(decode(ascii, {0xE9}).out, utf16le({0x69}));
    Result r = decode(ascii, {0x80, 0x41});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.out, utf16le({0x41}));
    EXPECT_FALSE(encodeUnits(ascii, {0xE9}).ok);

    // 1047 swaps LF and NEL against the other EBCDIC pages.
    EXPECT_EQ(decode(table(1047), {0x15, 0x25}).out, utf16le({0x0A, 0x85}));
    EXPECT_EQ(encodeUnits(table(1047), {0x0A}).out, Bytes{0x15});
    EXPECT_EQ(decode(table(37), {0x15, 0x25, 0xC1, 0x00}).out, utf16le({0x85, 0x0A, 0x41, 0x00}));
    EXPECT_EQ(encodeUnits(table(37), {0x0A, 0x00, 0x41}).out, (Bytes{0x25, 0x00, 0xC1}));

    // 20261 combines a diacritic lead byte with the letter after it.
    const CodePageTable& t61 = table(20261);
    EXPECT_EQ(decode(t61, {0xC1, 0x41, 0x42}).out, utf16le({0xC0, 0x42}));
    EXPECT_EQ(encodeUnits(t61, {0xC0}).out, (Bytes{0xC1, 0x41}));
    r = decode(t61, {0x41, 0xC1});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.out, utf16le({0x41}));
}

TEST(CodePageTable, LongInputsCrossChunkBoundaries)
{
    // Pairs at odd offsets, so some pair straddles every internal chunk edge.
    Bytes sjis{0x41};
    Units units{0x41};
    for (int i = 0; i < 10000; ++i) {
        sjis.insert(sjis.end(), {0x82, 0xA0});
        units.push_back(0x3042);
    }
    Result d = decode(table(932), sjis);
    EXPECT_TRUE(d.ok);
    EXPECT_EQ(d.out, utf16le(units));
    Result e = encodeUnits(table(932), units);
    EXPECT_TRUE(e.ok);
    EXPECT_EQ(e.out, sjis);

    // Output is appended after what the buffer holds.
    DataBuffer out;
    EXPECT_TRUE(out.append("xy", 2));
    EXPECT_TRUE(table(1252).decodeToUtf16(reinterpret_cast<const unsigned char*>("ab"), 2, out));
    EXPECT_EQ(toBytes(out), (Bytes{'x', 'y', 'a', 0, 'b', 0}));
}

}  // namespace
