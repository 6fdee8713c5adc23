// Throughput of the conversion engine on 10 MB of Japanese text, beside glibc
// iconv, ICU and Python's codecs measured in the same run.
#include <iconv.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#ifdef HANAMAIL_HAVE_ICU
#include <unicode/ucnv.h>
#endif

#include "BenchTimer.h"
#include "charset/EncodingConvert.h"
#include "foundation/DataBuffer.h"

using namespace hanamail;

namespace {

constexpr int kRuns = 5;
constexpr size_t kTargetBytes = 10u * 1000u * 1000u;

void appendUtf8(std::string& s, uint32_t cp)
{
    if (cp < 0x80) {
        s += static_cast<char>(cp);
    } else if (cp < 0x800) {
        s += static_cast<char>(0xC0 | (cp >> 6));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        s += static_cast<char>(0xE0 | (cp >> 12));
        s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Characters that Shift_JIS, EUC-JP and ISO-2022-JP all hold, by our engine and by iconv.
std::vector<uint32_t> japaneseRepertoire()
{
    std::vector<uint32_t> out;
    iconv_t sj = iconv_open("CP932", "UTF-8");
    iconv_t ej = iconv_open("EUC-JP", "UTF-8");
    iconv_t jj = iconv_open("ISO-2022-JP", "UTF-8");
    auto fits = [](iconv_t cd, const std::string& s) {
        char buf[16];
        char* in = const_cast<char*>(s.data());
        size_t inLeft = s.size();
        char* o = buf;
        size_t oLeft = sizeof buf;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        return iconv(cd, &in, &inLeft, &o, &oLeft) != static_cast<size_t>(-1) && inLeft == 0;
    };
    auto consider = [&](uint32_t lo, uint32_t hi) {
        for (uint32_t cp = lo; cp <= hi; ++cp) {
            std::string s;
            appendUtf8(s, cp);
            DataBuffer a, b, c;
            EncodingConvert ec;
            auto n = static_cast<uint32_t>(s.size());
            if (fits(sj, s) && fits(ej, s) && fits(jj, s) && ec.convert(65001, 932, s.data(), n, a) &&
                ec.convert(65001, 51932, s.data(), n, b) && ec.convert(65001, 50220, s.data(), n, c))
                out.push_back(cp);
        }
    };
    consider(0x3041, 0x3093);  // hiragana
    consider(0x30A1, 0x30F6);  // katakana
    consider(0x4E00, 0x7FFF);  // kanji
    consider(0x3001, 0x3002);
    iconv_close(sj);
    iconv_close(ej);
    iconv_close(jj);
    return out;
}

std::string makeText(const std::vector<uint32_t>& rep)
{
    std::mt19937 rng(20261208u);  // fixed start value: the same text every run
    std::uniform_int_distribution<size_t> pick(0, rep.size() - 1);
    std::uniform_int_distribution<int> roll(0, 99);
    std::string s;
    s.reserve(kTargetBytes + 64);
    int col = 0;
    while (s.size() < kTargetBytes) {
        int r = roll(rng);
        if (r < 8) {
            s += static_cast<char>('a' + roll(rng) % 26);
            ++col;
        } else if (r < 10) {
            s += ' ';
            ++col;
        } else {
            appendUtf8(s, rep[pick(rng)]);
            col += 2;
        }
        if (col >= 70) {
            s += "\r\n";
            col = 0;
        }
    }
    return s;
}

// Output room is allocated (and touched) by the caller, outside the timing,
// for every converter alike.
size_t viaIconvInto(const char* to, const char* from, const std::string& in, std::string& out)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return 0;
    char* ip = const_cast<char*>(in.data());
    size_t il = in.size();
    char* op = out.data();
    size_t ol = out.size();
    iconv(cd, &ip, &il, &op, &ol);
    iconv(cd, nullptr, nullptr, &op, &ol);
    iconv_close(cd);
    return out.size() - ol;
}

std::string viaIconv(const char* to, const char* from, const std::string& in)
{
    std::string out(in.size() * 4 + 16, '\0');
    out.resize(viaIconvInto(to, from, in, out));
    return out;
}

#ifdef HANAMAIL_HAVE_ICU
size_t viaIcu(const char* to, const char* from, const std::string& in, std::string& out)
{
    UErrorCode err = U_ZERO_ERROR;
    int32_t n = ucnv_convert(to, from, out.data(), static_cast<int32_t>(out.size()), in.data(),
                             static_cast<int32_t>(in.size()), &err);
    return U_FAILURE(err) ? 0 : static_cast<size_t>(n);
}
#endif

std::string viaEngine(int to, int from, const std::string& in, bool& ok)
{
    DataBuffer out;
    if (!out.ensureCapacity(static_cast<uint32_t>(in.size() * 2 + 16))) std::abort();
    EncodingConvert ec;
    ok = ec.convert(from, to, in.data(), static_cast<uint32_t>(in.size()), out);
    return std::string(reinterpret_cast<const char*>(out.getData()), out.getSize());
}

// Python's codec on the same bytes, timed inside Python (best of the runs).
double pythonSeconds(const std::string& path, const char* from, const char* to)
{
    std::string cmd = "python3 -c \"import time,sys\nd=open('" + path + "','rb').read()\nb=1e9\nfor i in range(" +
                      std::to_string(kRuns) + "):\n t=time.perf_counter(); d.decode('" + from + "').encode('" + to +
                      "'); b=min(b,time.perf_counter()-t)\nprint(b)\" 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return 0;
    double s = 0;
    if (std::fscanf(p, "%lf", &s) != 1) s = 0;
    pclose(p);
    return s;
}

struct Row {
    const char* label;
    int fromCp, toCp;
    const char* iconvFrom;
    const char* iconvTo;
    const char* icuFrom;
    const char* icuTo;
    const char* pyFrom;
    const char* pyTo;
    const std::string* input;
    std::string inputPath;
};

void printRow(const Row& r)
{
    const std::string& in = *r.input;
    bool ok = false;
    std::string ours = viaEngine(r.toCp, r.fromCp, in, ok);
    DataBuffer room;
    if (!room.ensureCapacity(static_cast<uint32_t>(in.size() * 4 + 16))) std::abort();
    std::memset(room.getDataMutable(), 0, room.getCapacity());
    double tOurs = bestSeconds(kRuns, [&] {
        if (!room.setSize(0)) std::abort();
        EncodingConvert ec;
        ec.convert(r.fromCp, r.toCp, in.data(), static_cast<uint32_t>(in.size()), room);
    });
    std::string peer = viaIconv(r.iconvTo, r.iconvFrom, in);
    std::string peerRoom(in.size() * 4 + 16, '\0');
    double tIconv = bestSeconds(kRuns, [&] { viaIconvInto(r.iconvTo, r.iconvFrom, in, peerRoom); });
    double ours_mb = mbPerSecond(in.size(), tOurs);
    double iconv_mb = mbPerSecond(in.size(), tIconv);
    // A peer that stopped early (a character it rejects) is not a fair figure.
    bool peerWhole = peer.size() * 10 >= ours.size() * 9;
    std::printf("%-24s ours %6.0f MB/s%s   iconv %6.0f MB/s (x%.2f)%s", r.label, ours_mb, ok ? "" : " (lossy!)",
                iconv_mb, iconv_mb > 0 ? ours_mb / iconv_mb : 0,
                !peerWhole     ? " [iconv stopped early]"
                : ours == peer ? ""
                               : " [bytes differ]");
#ifdef HANAMAIL_HAVE_ICU
    double tIcu = bestSeconds(kRuns, [&] { viaIcu(r.icuTo, r.icuFrom, in, peerRoom); });
    double icu_mb = mbPerSecond(in.size(), tIcu);
    std::printf("   ICU %7.0f MB/s (x%.2f)", icu_mb, icu_mb > 0 ? ours_mb / icu_mb : 0);
#else
    (void)r.icuFrom;
#endif
    if (r.pyFrom && !r.inputPath.empty()) {
        double tPy = pythonSeconds(r.inputPath, r.pyFrom, r.pyTo);
        double py_mb = mbPerSecond(in.size(), tPy);
        std::printf("   python %7.0f MB/s (x%.2f)", py_mb, py_mb > 0 ? ours_mb / py_mb : 0);
    }
    std::printf("\n");
}

std::string writeTemp(const std::string& name, const std::string& data)
{
    std::string path = "/tmp/hanamail-bench-" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return {};
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
    return path;
}

}  // namespace

int main()
{
    std::vector<uint32_t> rep = japaneseRepertoire();
    std::string utf8 = makeText(rep);
    bool ok;
    std::string sjis = viaEngine(932, 65001, utf8, ok);
    std::string jis = viaEngine(50220, 65001, utf8, ok);
    std::string utf16 = viaEngine(1200, 65001, utf8, ok);
    std::printf("input: %zu bytes of UTF-8 Japanese text (%zu characters in the repertoire)\n\n", utf8.size(),
                rep.size());

    // First use of a multi-byte table: unpacking it.
    {
        auto t0 = std::chrono::steady_clock::now();
        DataBuffer out;
        EncodingConvert ec;
        ec.convert(65001, 950, "\xE4\xB8\x80", 3, out);
        double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        std::printf("first use of code page 950 (unpacking its table): %.2f ms\n\n", ms);
    }

    std::string p8 = writeTemp("utf8", utf8), pj = writeTemp("jis", jis), ps = writeTemp("sjis", sjis);
    std::vector<Row> rows = {
        {"UTF-8 -> Shift_JIS", 65001, 932, "UTF-8", "CP932", "UTF-8", "windows-31j", "utf-8", "cp932", &utf8, p8},
        {"Shift_JIS -> UTF-8", 932, 65001, "CP932", "UTF-8", "windows-31j", "UTF-8", "cp932", "utf-8", &sjis, ps},
        {"UTF-8 -> EUC-JP", 65001, 51932, "UTF-8", "EUC-JP", "UTF-8", "EUC-JP", "utf-8", "euc_jp", &utf8, p8},
        {"UTF-8 -> ISO-2022-JP", 65001, 50220, "UTF-8", "ISO-2022-JP", "UTF-8", "ISO-2022-JP", "utf-8", "iso2022_jp",
         &utf8, p8},
        {"ISO-2022-JP -> UTF-8", 50220, 65001, "ISO-2022-JP", "UTF-8", "ISO-2022-JP", "UTF-8", "iso2022_jp", "utf-8",
         &jis, pj},
        {"UTF-8 -> UTF-16LE", 65001, 1200, "UTF-8", "UTF-16LE", "UTF-8", "UTF-16LE", nullptr, nullptr, &utf8, ""},
        {"UTF-16LE -> UTF-8", 1200, 65001, "UTF-16LE", "UTF-8", "UTF-16LE", "UTF-8", nullptr, nullptr, &utf16, ""},
    };
    std::string eucjp = viaEngine(51932, 65001, utf8, ok);
    std::string pe = writeTemp("eucjp", eucjp);
    rows.insert(rows.begin() + 3, Row{"EUC-JP -> UTF-8", 51932, 65001, "EUC-JP", "UTF-8", "EUC-JP", "UTF-8", "euc_jp",
                                      "utf-8", &eucjp, pe});
    for (const Row& r : rows) printRow(r);
    for (const std::string& p : {p8, pj, ps, pe}) std::remove(p.c_str());
    return 0;
}
