// Our zip writer (one deflated entry, level 6) beside zlib's raw deflate plus
// its crc32 over the same 20 MB, measured in the same run. The archive is
// read back and checked before any figure is printed, so a fast but wrong
// writer cannot pass.
//
// usage: bench_zip [RUNS]   (best of RUNS for each side, alternating; 5 by default)
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "BenchTimer.h"
#include "foundation/DataBuffer.h"
#include "foundation/StringBuffer.h"
#include "zip/ClsZip2.h"
#include "zip/ClsZipEntry2.h"
#include "zip/ZipCrc.h"
#include "zip/ZipDn.h"

using namespace hanamail;

namespace {

constexpr size_t kInputBytes = 20u * 1000u * 1000u;
constexpr int kLevel = 6;
constexpr const char* kEntryName = "data.bin";

// Blocks of English-like text (compressible) between blocks of random bytes
// (not), about three quarters text. A fixed start value: the same bytes every run.
std::string makeInput()
{
    std::mt19937 rng(20260415u);
    std::vector<std::string> words;
    for (int w = 0; w < 2000; ++w) {
        std::string word;
        int len = 2 + static_cast<int>(rng() % 9);
        for (int k = 0; k < len; ++k) word += static_cast<char>('a' + rng() % 26);
        words.push_back(word);
    }
    std::string s;
    s.reserve(kInputBytes + 300000);
    while (s.size() < kInputBytes) {
        size_t block = 4096 + rng() % (256 * 1024);
        size_t end = s.size() + block;
        if (rng() % 4 != 0) {
            int col = 0;
            while (s.size() < end) {
                const std::string& w = words[rng() % words.size()];
                s += w;
                col += static_cast<int>(w.size()) + 1;
                if (col > 72) {
                    s += "\r\n";
                    col = 0;
                } else {
                    s += rng() % 12 == 0 ? ", " : " ";
                }
            }
        } else {
            while (s.size() < end) {
                uint32_t r = rng();
                s.append(reinterpret_cast<const char*>(&r), 4);
            }
        }
    }
    s.resize(kInputBytes);
    return s;
}

bool writeOurs(const std::string& in, DataBuffer& out, std::string& why)
{
    ZipDn handle = ZipDn::createNewArchive();
    ClsZip2* zip = handle.archive();
    if (!zip) {
        why = "no archive";
        return false;
    }
    ZipEntryDn e = zip->AppendData(kEntryName, in.data(), static_cast<uint32_t>(in.size()));
    ClsZipEntry2* entry = e.entry();
    if (!entry || !entry->SetCompressionMethod(8) || !entry->SetCompressionLevel(kLevel)) {
        why = "AppendData failed";
        return false;
    }
    if (!zip->WriteToMemory(out)) {
        StringBuffer log;
        zip->getErrorTextUtf8(log, false);
        why = std::string("WriteToMemory failed: ") + log.getString();
        return false;
    }
    return true;
}

// zlib alone: one raw deflate stream with the archive's parameters, into a
// buffer of deflateBound bytes, then crc32 over the input.
size_t zlibDeflateAndCrc(const std::string& in, std::vector<unsigned char>& out, uint32_t& crc)
{
    z_stream zs{};
    if (deflateInit2(&zs, kLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return 0;
    out.resize(deflateBound(&zs, static_cast<uLong>(in.size())));
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    zs.avail_in = static_cast<uInt>(in.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    int rc = deflate(&zs, Z_FINISH);
    size_t n = rc == Z_STREAM_END ? zs.total_out : 0;
    deflateEnd(&zs);
    crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(in.data()), static_cast<uInt>(in.size())));
    return n;
}

uint32_t get16(const unsigned char* p)
{
    return p[0] | (p[1] << 8);
}
uint32_t get32(const unsigned char* p)
{
    return get16(p) | (get16(p + 2) << 16);
}

// The archive holds one entry whose headers agree with zlib's CRC and sizes
// and whose data inflates back to the input. Empty when it does; else why not.
std::string checkArchive(const DataBuffer& zipBytes, const std::string& in, uint32_t zlibCrc)
{
    const unsigned char* z = zipBytes.getData();
    uint32_t size = zipBytes.getSize();
    if (size < 30 + 46 + 22) return "archive too short";
    const unsigned char* end = z + size - 22;
    if (get32(end) != 0x06054B50u || get16(end + 10) != 1) return "no end record for one entry";
    uint32_t cdOffset = get32(end + 16);
    if (cdOffset + 46 > size || get32(z + cdOffset) != 0x02014B50u) return "no central header";
    const unsigned char* cd = z + cdOffset;
    uint32_t crc = get32(cd + 16), compressed = get32(cd + 20), plain = get32(cd + 24);
    uint32_t local = get32(cd + 42);
    if (get16(cd + 10) != 8) return "entry not deflated";
    if (crc != zlibCrc) return "central CRC differs from zlib's";
    if (plain != in.size()) return "central size differs from the input";
    if (local + 30 > size || get32(z + local) != 0x04034B50u) return "no local header";
    const unsigned char* lh = z + local;
    if (get32(lh + 14) != crc || get32(lh + 18) != compressed || get32(lh + 22) != plain)
        return "local header disagrees with the central one";
    uint64_t dataAt = uint64_t(local) + 30 + get16(lh + 26) + get16(lh + 28);
    if (dataAt + compressed > cdOffset) return "entry data runs past the central directory";

    std::string back(in.size() + 1, '\0');
    z_stream zs{};
    if (inflateInit2(&zs, -15) != Z_OK) return "inflateInit2 failed";
    zs.next_in = const_cast<Bytef*>(z + dataAt);
    zs.avail_in = compressed;
    zs.next_out = reinterpret_cast<Bytef*>(back.data());
    zs.avail_out = static_cast<uInt>(back.size());
    int rc = inflate(&zs, Z_FINISH);
    size_t got = zs.total_out;
    uInt leftIn = zs.avail_in;
    inflateEnd(&zs);
    if (rc != Z_STREAM_END || leftIn != 0) return "entry data is not one whole deflate stream";
    back.resize(got);
    if (back != in) return "entry data inflates to other bytes";
    return {};
}

}  // namespace

int main(int argc, char** argv)
{
    int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    if (runs < 1) runs = 1;
    const std::string in = makeInput();

    // Once outside the timing: both outputs, and the check of ours.
    DataBuffer ours;
    std::string why;
    if (!writeOurs(in, ours, why)) {
        std::printf("our writer failed: %s\n", why.c_str());
        return 1;
    }
    std::vector<unsigned char> peer;
    uint32_t peerCrc = 0;
    size_t peerSize = zlibDeflateAndCrc(in, peer, peerCrc);
    if (peerSize == 0) {
        std::printf("zlib deflate failed\n");
        return 1;
    }
    std::string bad = checkArchive(ours, in, peerCrc);
    if (!bad.empty()) {
        std::printf("our archive is wrong: %s\n", bad.c_str());
        return 1;
    }
    if (ZipCrc::of(in.data(), static_cast<uint32_t>(in.size())) != peerCrc) {
        std::printf("ZipCrc differs from zlib's crc32\n");
        return 1;
    }
    std::printf("input: %zu bytes (text and random blocks), deflate level %d, best of %d, alternating\n", in.size(),
                kLevel, runs);
    std::printf("archive %u bytes, zlib stream %zu bytes, CRC %08X: entry checked against the input\n\n",
                ours.getSize(), peerSize, peerCrc);

    double tOurs = 1e30, tZlib = 1e30;
    for (int i = 0; i < runs; ++i) {
        tOurs = std::min(tOurs, bestSeconds(1, [&] {
                             DataBuffer out;
                             writeOurs(in, out, why);
                         }));
        tZlib = std::min(tZlib, bestSeconds(1, [&] {
                             std::vector<unsigned char> out;
                             uint32_t c;
                             zlibDeflateAndCrc(in, out, c);
                         }));
    }
    double ratio = tZlib > 0 ? tOurs / tZlib : 0;
    std::printf("ours (AppendData + WriteToMemory)  %8.1f ms  %7.1f MB/s\n", tOurs * 1e3,
                mbPerSecond(in.size(), tOurs));
    std::printf("zlib (raw deflate + crc32)         %8.1f ms  %7.1f MB/s\n", tZlib * 1e3,
                mbPerSecond(in.size(), tZlib));
    std::printf("ours / zlib: x%.3f (target <= 1.03: %s)\n", ratio, ratio <= 1.03 ? "PASS" : "FAIL");
    return 0;
}
