#include "charset/CharsetCatalogue.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <string_view>

#include "foundation/StringBuffer.h"

namespace hanamail {

namespace {

constexpr int kMaxNamesPerRow = 10;

// One code page of the catalogue. Everything the lookups need is derived from
// these rows at compile time, so the data lives here and nowhere else.
struct CatalogueRow {
    int codePage;
    const char* preferred;  // the name written for the code page, or null
    bool converted;         // whether the conversion engine handles text in it
    // Names read as this code page, already normalised (lower case, "-" for "_").
    // A name listed under two code pages reads as the first of them.
    const char* names[kMaxNamesPerRow];
};

// Rows in ascending code-page order. 932 and 949 accept the hyphenated
// spelling of their preferred name; 20932 writes "euc-jp" but that name reads
// as 51932; 50222 writes "iso-2022-jp", which reads as 50220.
// clang-format off
constexpr CatalogueRow kRows[] = {
    {37, "ibm037", true, {"ibm037", "cp037", "csibm037", "ebcdic", "ebcdic-cp-ca", "ebcdic-cp-nl", "ebcdic-cp-us",
         "ebcdic-cp-wt"}},
    {437, "ibm437", true, {"ibm437", "cp437", "cspc8codepage437"}},
    {500, "ibm500", true, {"ibm500", "cp500", "csibm500", "ebcdic-cp-be", "ebcdic-cp-ch"}},
    {708, "asmo-708", true, {"asmo-708"}},
    {709, nullptr, false, {"asmo-449", "asmo-449+"}},
    {720, "dos-720", true, {"dos-720"}},
    {737, "ibm737", true, {"ibm737"}},
    {775, "ibm775", true, {"ibm775"}},
    {850, "ibm850", true, {"ibm850", "cp850"}},
    {852, "ibm852", true, {"ibm852", "cp852"}},
    {855, "ibm855", true, {"ibm855", "cp855"}},
    {857, "ibm857", true, {"ibm857", "cp857"}},
    {858, "ibm00858", true, {"ibm00858", "ccsid00858", "cp00858", "cp858"}},
    {860, "ibm860", true, {"ibm860", "cp860"}},
    {861, "ibm861", true, {"ibm861", "cp861"}},
    {862, "dos-862", true, {"dos-862", "cp862", "ibm862"}},
    {863, "ibm863", true, {"ibm863", "cp863"}},
    {864, "ibm864", true, {"ibm864", "cp864"}},
    {865, "ibm865", true, {"ibm865", "cp865"}},
    {866, "cp866", true, {"cp866", "ibm866"}},
    {869, "ibm869", true, {"ibm869", "cp869"}},
    {870, "ibm870", true, {"ibm870", "cp870", "csibm870", "ebcdic-cp-roece", "ebcdic-cp-yu"}},
    {874, "windows-874", true, {"windows-874", "dos-874", "iso-8859-11", "tis-620"}},
    {875, "cp875", true, {"cp875"}},
    {932, "shift_jis", true, {"shift-jis", "csshiftjis", "cswindows31j", "ms-kanji", "sjis", "x-ms-cp932", "x-sjis"}},
    {936, "gb2312", true, {"gb2312", "chinese", "cn-gb", "csgb2312", "csgb231280", "csiso58gb231280", "gb-2312-80",
         "gb2312-80", "gbk", "iso-ir-58"}},
    {949, "ks_c_5601-1987", true, {"ks-c-5601-1987", "csksc56011987", "iso-ir-149", "korean", "ks-c-5601",
         "ks-c-5601-1989", "ks-c5601", "ksc-5601", "ksc5601"}},
    {950, "big5", true, {"big5", "big5-hkscs", "cn-big5", "csbig5", "x-x-big5"}},
    {1026, "ibm1026", true, {"ibm1026", "cp1026", "csibm1026"}},
    {1047, "ibm01047", true, {"ibm01047"}},
    {1140, "ibm01140", true, {"ibm01140", "ccsid01140", "cp01140", "ebcdic-us-37+euro"}},
    {1141, "ibm01141", true, {"ibm01141", "ccsid01141", "cp01141", "ebcdic-de-273+euro"}},
    {1142, "ibm01142", true, {"ibm01142", "ccsid01142", "cp01142", "ebcdic-dk-277+euro", "ebcdic-no-277+euro"}},
    {1143, "ibm01143", true, {"ibm01143", "ccsid01143", "cp01143", "ebcdic-fi-278+euro", "ebcdic-se-278+euro"}},
    {1144, "ibm01144", true, {"ibm01144", "ccsid01144", "cp01144", "ebcdic-it-280+euro"}},
    {1145, "ibm01145", true, {"ibm01145", "ccsid01145", "cp01145", "ebcdic-es-284+euro"}},
    {1146, "ibm01146", true, {"ibm01146", "ccsid01146", "cp01146", "ebcdic-gb-285+euro"}},
    {1147, "ibm01147", true, {"ibm01147", "ccsid01147", "cp01147", "ebcdic-fr-297+euro"}},
    {1148, "ibm01148", true, {"ibm01148", "ccsid01148", "cp01148"}},
    {1149, "ibm01149", true, {"ibm01149", "ccsid01149", "cp01149", "ebcdic-is-871+euro"}},
    {1200, "unicode", true, {"unicode", "iso-10646-ucs-2", "ucs-2", "utf-16", "utf-16le"}},
    {1201, "unicodefffe", true, {"unicodefffe", "utf-16be"}},
    {1250, "windows-1250", true, {"windows-1250", "x-cp1250"}},
    {1251, "windows-1251", true, {"windows-1251", "x-cp1251"}},
    {1252, "windows-1252", true, {"windows-1252", "x-ansi"}},
    {1253, "windows-1253", true, {"windows-1253"}},
    {1254, "windows-1254", true, {"windows-1254"}},
    {1255, "windows-1255", true, {"windows-1255"}},
    {1256, "windows-1256", true, {"windows-1256", "cp1256"}},
    {1257, "windows-1257", true, {"windows-1257"}},
    {1258, "windows-1258", true, {"windows-1258"}},
    {1361, "johab", true, {"johab"}},
    {10000, "macintosh", true, {"macintosh", "macroman"}},
    {10001, "x-mac-japanese", true, {"x-mac-japanese", "macjapanese"}},
    {10002, "x-mac-chinesetrad", false, {"x-mac-chinesetrad", "macchinesetrad"}},
    {10003, "x-mac-korean", false, {"x-mac-korean", "mackorean"}},
    {10004, "x-mac-arabic", true, {"x-mac-arabic", "macarabic"}},
    {10005, "x-mac-hebrew", true, {"x-mac-hebrew", "machebrew"}},
    {10006, "x-mac-greek", true, {"x-mac-greek", "macgreek"}},
    {10007, "x-mac-cyrillic", true, {"x-mac-cyrillic", "maccyrillic"}},
    {10008, "x-mac-chinesesimp", false, {"x-mac-chinesesimp", "macchinesesimp"}},
    {10010, "x-mac-romanian", true, {"x-mac-romanian"}},
    {10017, "x-mac-ukrainian", true, {"x-mac-ukrainian"}},
    {10021, "x-mac-thai", true, {"x-mac-thai"}},
    {10029, "x-mac-ce", true, {"x-mac-ce", "maccentraleurope"}},
    {10079, "x-mac-icelandic", true, {"x-mac-icelandic", "macicelandic"}},
    {10081, "x-mac-turkish", true, {"x-mac-turkish", "macturkish"}},
    {10082, "x-mac-croatian", true, {"x-mac-croatian"}},
    {20000, "x-chinese-cns", false, {"x-chinese-cns"}},
    {20001, "x-cp20001", false, {"x-cp20001"}},
    {20002, "x-chinese-eten", false, {"x-chinese-eten"}},
    {20003, "x-cp20003", false, {"x-cp20003"}},
    {20004, "x-cp20004", false, {"x-cp20004"}},
    {20005, "x-cp20005", false, {"x-cp20005"}},
    {20105, "x-ia5", true, {"x-ia5", "irv"}},
    {20106, "x-ia5-german", true, {"x-ia5-german", "din-66003", "german"}},
    {20107, "x-ia5-swedish", true, {"x-ia5-swedish", "sen-850200-b", "swedish"}},
    {20108, "x-ia5-norwegian", true, {"x-ia5-norwegian", "norwegian", "ns-4551-1"}},
    {20127, "us-ascii", true, {"us-ascii", "ansi-x3.4-1968", "ansi-x3.4-1986", "ascii", "cp367", "csascii", "ibm367",
         "iso-646.irv:1991", "iso-ir-6", "iso646-us"}},
    {20261, "x-cp20261", true, {"x-cp20261"}},
    {20269, "x-cp20269", true, {"x-cp20269"}},
    {20273, "ibm273", true, {"ibm273", "cp273", "csibm273"}},
    {20277, "ibm277", true, {"ibm277", "csibm277", "ebcdic-cp-dk", "ebcdic-cp-no"}},
    {20278, "ibm278", true, {"ibm278", "cp278", "csibm278", "ebcdic-cp-fi", "ebcdic-cp-se"}},
    {20280, "ibm280", true, {"ibm280", "cp280", "csibm280", "ebcdic-cp-it"}},
    {20284, "ibm284", true, {"ibm284", "cp284", "csibm284", "ebcdic-cp-es"}},
    {20285, "ibm285", true, {"ibm285", "cp285", "csibm285", "ebcdic-cp-gb"}},
    {20290, "ibm290", true, {"ibm290", "cp290", "csibm290", "ebcdic-jp-kana"}},
    {20297, "ibm297", true, {"ibm297", "cp297", "csibm297", "ebcdic-cp-fr"}},
    {20420, "ibm420", true, {"ibm420", "cp420", "csibm420", "ebcdic-cp-ar1"}},
    {20423, "ibm423", true, {"ibm423", "cp423", "csibm423", "ebcdic-cp-gr"}},
    {20424, "ibm424", true, {"ibm424", "cp424", "csibm424", "ebcdic-cp-he"}},
    {20833, "x-ebcdic-koreanextended", false, {"x-ebcdic-koreanextended"}},
    {20838, "ibm-thai", true, {"ibm-thai", "csibmthai"}},
    {20866, "koi8-r", true, {"koi8-r", "cskoi8r", "koi", "koi8", "koi8r"}},
    {20871, "ibm871", true, {"ibm871", "cp871", "csibm871", "ebcdic-cp-is"}},
    {20880, "ibm880", true, {"ibm880", "cp880", "csibm880", "ebcdic-cyrillic"}},
    {20905, "ibm905", true, {"ibm905", "cp905", "csibm905", "ebcdic-cp-tr"}},
    {20924, "ibm00924", true, {"ibm00924", "ccsid00924", "cp00924", "ebcdic-latin9--euro"}},
    {20932, "euc-jp", false, {}},
    {20936, "x-cp20936", false, {"x-cp20936"}},
    {20949, "x-cp20949", false, {"x-cp20949"}},
    {21025, "cp1025", true, {"cp1025"}},
    {21027, nullptr, false, {"x-cp21027"}},
    {21866, "koi8-u", true, {"koi8-u", "koi8-ru"}},
    {28591, "iso-8859-1", true, {"iso-8859-1", "cp819", "csisolatin1", "ibm819", "iso-8859-1:1987", "iso-ir-100",
         "latin1"}},
    {28592, "iso-8859-2", true, {"iso-8859-2", "csisolatin2", "iso-8859-2:1987", "iso-ir-101", "latin2"}},
    {28593, "iso-8859-3", true, {"iso-8859-3", "csisolatin3", "iso-8859-3:1988", "iso-ir-109", "latin3"}},
    {28594, "iso-8859-4", true, {"iso-8859-4", "csisolatin4", "iso-8859-4:1988", "iso-ir-110", "latin4"}},
    {28595, "iso-8859-5", true, {"iso-8859-5", "csisolatincyrillic", "cyrillic", "iso-8859-5:1988", "iso-ir-144"}},
    {28596, "iso-8859-6", true, {"iso-8859-6", "arabic", "csisolatinarabic", "ecma-114", "iso-8859-6:1987",
         "iso-ir-127"}},
    {28597, "iso-8859-7", true, {"iso-8859-7", "csisolatingreek", "ecma-118", "elot-928", "greek", "greek8",
         "iso-8859-7:1987", "iso-ir-126"}},
    {28598, "iso-8859-8", true, {"iso-8859-8", "csisolatinhebrew", "hebrew", "iso-8859-8 visual", "iso-8859-8:1988",
         "iso-ir-138", "logical", "visual"}},
    {28599, "iso-8859-9", true, {"iso-8859-9", "csisolatin5", "iso-8859-9:1989", "iso-ir-148", "latin5"}},
    {28603, "iso-8859-13", true, {"iso-8859-13"}},
    {28605, "iso-8859-15", true, {"iso-8859-15", "csisolatin9", "latin9"}},
    {29001, "x-europa", false, {"x-europa"}},
    {38598, "iso-8859-8-i", true, {"iso-8859-8-i"}},
    {50000, nullptr, false, {"x-user-defined"}},
    {50220, "iso-2022-jp", true, {"iso-2022-jp"}},
    {50221, "csiso2022jp", true, {"csiso2022jp", "iso-2022-jp-1"}},
    {50222, "iso-2022-jp", true, {"iso-2022-jp", "iso-2022-jp-2"}},
    {50225, "iso-2022-kr", true, {"iso-2022-kr", "csiso2022kr", "iso-2022-kr-7", "iso-2022-kr-7bit"}},
    {50227, "x-cp50227", false, {"x-cp50227", "cp50227"}},
    {50930, nullptr, false, {"cp930"}},
    {50931, nullptr, false, {"x-ebcdic-japaneseanduscanada"}},
    {50933, nullptr, false, {"cp933"}},
    {50935, nullptr, false, {"cp935"}},
    {50937, nullptr, false, {"cp937"}},
    {50939, nullptr, false, {"cp939"}},
    {51932, "euc-jp", true, {"euc-jp", "cseucpkdfmtjapanese", "iso-2022-jpeuc", "x-euc", "x-euc-jp"}},
    {51936, "euc-cn", true, {"euc-cn", "x-euc-cn"}},
    {51949, "euc-kr", true, {"euc-kr", "cseuckr", "iso-2022-kr-8", "iso-2022-kr-8bit"}},
    {51950, nullptr, false, {"euc-tw"}},
    {52936, "hz-gb-2312", true, {"hz-gb-2312"}},
    {54936, "gb18030", true, {"gb18030", "gb18030-2000"}},
    {57002, "x-iscii-de", false, {"x-iscii-de"}},
    {57003, "x-iscii-be", false, {"x-iscii-be"}},
    {57004, "x-iscii-ta", false, {"x-iscii-ta"}},
    {57005, "x-iscii-te", false, {"x-iscii-te"}},
    {57006, "x-iscii-as", false, {"x-iscii-as"}},
    {57007, "x-iscii-or", false, {"x-iscii-or"}},
    {57008, "x-iscii-ka", false, {"x-iscii-ka"}},
    {57009, "x-iscii-ma", false, {"x-iscii-ma"}},
    {57010, "x-iscii-gu", false, {"x-iscii-gu"}},
    {57011, "x-iscii-pa", false, {"x-iscii-pa"}},
    {65000, "utf-7", true, {"utf-7", "csunicode11utf7", "unicode-1-1-utf-7", "unicode-2-0-utf-7", "x-unicode-1-1-utf-7",
         "x-unicode-2-0-utf-7"}},
    {65001, "utf-8", true, {"utf-8", "unicode-1-1-utf-8", "unicode-2-0-utf-8", "x-unicode-1-1-utf-8",
         "x-unicode-2-0-utf-8"}},
    {65005, "utf-32", true, {"utf-32"}},
    {65006, "utf-32be", true, {"utf-32be"}},
};
// clang-format on

constexpr std::size_t kRowCount = sizeof(kRows) / sizeof(kRows[0]);

constexpr std::size_t countRowNames()
{
    std::size_t n = 0;
    for (const CatalogueRow& row : kRows)
        for (const char* name : row.names) n += name != nullptr;
    return n;
}

constexpr std::size_t kRowNameCount = countRowNames();

struct IndexedName {
    CharsetNameEntry entry;
    std::size_t order;  // position in the rows, to keep the first of equal names
};

// All names of the rows, sorted by name; of equal names only the first listed stays.
constexpr std::array<IndexedName, kRowNameCount> sortedRowNames(std::size_t& distinct)
{
    std::array<IndexedName, kRowNameCount> all{};
    std::size_t n = 0;
    for (const CatalogueRow& row : kRows)
        for (const char* name : row.names)
            if (name != nullptr) {
                all[n] = IndexedName{{name, row.codePage}, n};
                ++n;
            }
    std::sort(all.begin(), all.end(), [](const IndexedName& a, const IndexedName& b) {
        const std::string_view x(a.entry.name), y(b.entry.name);
        return x < y || (x == y && a.order < b.order);
    });
    distinct = 0;
    for (std::size_t i = 0; i < n; ++i)
        if (distinct == 0 || std::string_view(all[distinct - 1].entry.name) != all[i].entry.name)
            all[distinct++] = all[i];
    return all;
}

constexpr std::size_t countDistinctNames()
{
    std::size_t distinct = 0;
    sortedRowNames(distinct);
    return distinct;
}

constexpr std::size_t kNameCount = countDistinctNames();

constexpr std::array<CharsetNameEntry, kNameCount> buildNameTable()
{
    std::size_t distinct = 0;
    const auto sorted = sortedRowNames(distinct);
    std::array<CharsetNameEntry, kNameCount> table{};
    for (std::size_t i = 0; i < kNameCount; ++i) table[i] = sorted[i].entry;
    return table;
}

// The name table: distinct names in byte order, searched by halving.
constexpr std::array<CharsetNameEntry, kNameCount> kNames = buildNameTable();

constexpr std::size_t maxNameLength()
{
    std::size_t longest = 0;
    for (const CharsetNameEntry& e : kNames) longest = std::max(longest, std::string_view(e.name).size());
    return longest;
}

constexpr std::size_t kMaxNameLength = maxNameLength();
constexpr std::size_t kMinNameLength = 3;

constexpr bool isTrimmedChar(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// A table name must be reachable: normalised, untrimmed, long enough.
constexpr bool namesAreNormalised()
{
    for (const CharsetNameEntry& e : kNames) {
        const std::string_view name(e.name);
        if (name.size() < kMinNameLength || isTrimmedChar(name.front()) || isTrimmedChar(name.back())) return false;
        for (char c : name)
            if ((c >= 'A' && c <= 'Z') || c == '_') return false;
    }
    return true;
}

constexpr bool rowsAscending()
{
    for (std::size_t i = 1; i < kRowCount; ++i)
        if (kRows[i - 1].codePage >= kRows[i].codePage) return false;
    return true;
}

constexpr std::size_t countPreferred()
{
    std::size_t n = 0;
    for (const CatalogueRow& row : kRows) n += row.preferred != nullptr;
    return n;
}

static_assert(rowsAscending(), "rows must be sorted by code page for the search");
static_assert(namesAreNormalised(), "a table name could never be matched");
static_assert(kRowNameCount == 405 && kNameCount == 404, "iso-2022-jp is the one name listed twice");
static_assert(countPreferred() == 140);

const CatalogueRow* findRow(int cp)
{
    const CatalogueRow* end = kRows + kRowCount;
    const CatalogueRow* row =
        std::lower_bound(kRows, end, cp, [](const CatalogueRow& r, int value) { return r.codePage < value; });
    return row != end && row->codePage == cp ? row : nullptr;
}

}  // namespace

int charsetToCodePage(const char* name)
{
    if (name == nullptr) return 0;
    // Trim on the caller's text first so that padding does not count against the
    // work buffer; a name longer than every table name cannot match.
    const char* begin = name;
    while (isTrimmedChar(*begin)) ++begin;
    const char* end = begin + std::strlen(begin);
    while (end > begin && isTrimmedChar(end[-1])) --end;
    const std::size_t length = static_cast<std::size_t>(end - begin);
    if (length < kMinNameLength || length > kMaxNameLength) return 0;

    // ASCII folding only: the result must not depend on the process locale.
    char work[kMaxNameLength];
    for (std::size_t i = 0; i < length; ++i) {
        char c = begin[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        else if (c == '_')
            c = '-';
        work[i] = c;
    }
    const std::string_view key(work, length);

    const auto found = std::lower_bound(kNames.begin(), kNames.end(), key,
                                        [](const CharsetNameEntry& e, std::string_view k) { return e.name < k; });
    if (found != kNames.end() && found->name == key) return found->codePage;
    return 0;
}

bool isKnownCharset(const char* name)
{
    return charsetToCodePage(name) != 0;
}

bool codePageToCharset(int cp, StringBuffer& out)
{
    out.clear();
    const char* preferred = preferredCharsetName(cp);
    if (preferred == nullptr) return false;
    return out.append(preferred);
}

const char* preferredCharsetName(int cp)
{
    const CatalogueRow* row = findRow(cp);
    return row != nullptr ? row->preferred : nullptr;
}

bool isConvertibleCodePage(int cp)
{
    const CatalogueRow* row = findRow(cp);
    return row != nullptr && row->converted;
}

int charsetNameCount()
{
    return static_cast<int>(kNameCount);
}

const CharsetNameEntry& charsetNameAt(int i)
{
    static constexpr CharsetNameEntry kNoEntry{"", 0};
    if (i < 0 || static_cast<std::size_t>(i) >= kNameCount) return kNoEntry;
    return kNames[static_cast<std::size_t>(i)];
}

}  // namespace hanamail
