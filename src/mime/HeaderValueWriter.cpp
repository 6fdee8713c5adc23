// Header field values as written (RFC 5322 lines and folding; RFC 2047
// encoded words for text that is not plain ASCII; RFC 2231 for parameters
// that need them).
#include "mime/HeaderValueWriter.h"

#include <cstring>
#include <vector>

#include "charset/Charset.h"
#include "charset/CharsetCatalogue.h"
#include "charset/CodePages.h"
#include "foundation/DataBuffer.h"
#include "foundation/StringBuffer.h"
#include "mime/MailTextCharset.h"
#include "mime/MimeField.h"
#include "mime/MimeParamList.h"
#include "mime/MimeText.h"
#include "mime/Rfc822Address.h"

namespace hanamail {

namespace {

constexpr const char* kFold = "\r\n\t";
constexpr size_t npos = std::string::npos;

// Lines are kept near the 78 characters RFC 5322 section 2.1.1 recommends,
// counting the field name in front of the first line:
// - a value shorter than this beside most field names fits one line, so a
//   list of addresses is folded after its commas only when longer;
constexpr size_t kListFoldFrom = 60;
// - no fold before this column: a shorter line gains nothing;
constexpr size_t kFoldFromColumn = 20;
// - a Content-Type or Content-Disposition value this long before its first
//   ";" puts the parameters on the next line;
constexpr size_t kParametersOwnLine = 35;
// - parameters join a line while it stays this long at most;
constexpr size_t kParameterLine = 64;
// - plain text that would take the line past this is folded at its blanks;
constexpr size_t kPlainLine = 65;
// - display-name words longer than this put the address on a line of its own.
constexpr size_t kDisplayWordsLine = 40;

bool isPlainText(const std::string& s)
{
    for (unsigned char c : s)
        if ((c < 0x20 && c != '\t') || c >= 0x7F) return false;
    return true;
}

bool isAscii(const std::string& s)
{
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

bool isWsp(char c)
{
    return c == ' ' || c == '\t';
}

// Text readers would take for an encoded word ("=?" with a "?=" after it):
// written as it is, it would be shown decoded, as other text than was given.
bool looksEncoded(const std::string& s, size_t from = 0, size_t to = npos)
{
    if (to > s.size()) to = s.size();
    // Only within [from, to): a word is looked at on its own.
    bool opened = false;
    for (size_t i = from; i + 1 < to; ++i) {
        if (!opened && s[i] == '=' && s[i + 1] == '?') {
            opened = true;
            ++i;
        } else if (opened && s[i] == '?' && s[i + 1] == '=') {
            return true;
        }
    }
    return false;
}

// A parameter value that plain would be shown as other text: one that looks
// encoded, or a run without white space too long for a line beside the
// parameter's name (it would be cut inside the quotes, and readers keep the
// cut).
bool needsParamWords(const std::string& s)
{
    size_t run = 0;
    for (char c : s) {
        run = isWsp(c) ? 0 : run + 1;
        if (run > HeaderValueWriter::kMaxLine - 80) return true;
    }
    return looksEncoded(s);
}

std::string lowerAscii(const std::string& s)
{
    std::string r(s);
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return r;
}

// Code pages whose bytes are not ASCII text (NUL bytes, base64 runs): header
// text in them would be unreadable, so such emails get UTF-8 header words.
bool isUnicodeForm(int cp)
{
    return cp == 1200 || cp == 1201 || cp == 12000 || cp == 12001 || cp == 65000;
}

// First c at or after from that is outside double quotes; a backslash makes
// the next byte literal (quoted pairs, and the escapes of decoded display names).
size_t findUnquoted(const std::string& s, char c, size_t from = 0)
{
    bool quoted = false;
    for (size_t i = from; i < s.size(); ++i) {
        if (s[i] == '\\') {
            ++i;
        } else if (s[i] == '"') {
            quoted = !quoted;
        } else if (s[i] == c && !quoted) {
            return i;
        }
    }
    return npos;
}

// The end of the parameter that starts at from (its ';' or the end), split
// as the reader splits a list: a quote opens or closes a quoted string
// wherever it stands, and a backslash escapes only inside one.
size_t parameterEnd(const std::string& s, size_t from)
{
    bool quoted = false;
    for (size_t i = from; i < s.size(); ++i) {
        if (quoted && s[i] == '\\' && i + 1 < s.size())
            ++i;
        else if (s[i] == '"')
            quoted = !quoted;
        else if (s[i] == ';' && !quoted)
            return i;
    }
    return s.size();
}

size_t lastUnquoted(const std::string& s, char c)
{
    size_t last = npos;
    for (size_t i = findUnquoted(s, c); i != npos; i = findUnquoted(s, c, i + 1)) last = i;
    return last;
}

// Undoes the escapes this system writes; any other backslash stays, so that a
// "DOMAIN\user" written without escapes keeps its backslash.
std::string unescape(const std::string& s, bool commaToo)
{
    std::string r;
    r.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size() &&
            (s[i + 1] == '"' || s[i + 1] == '\\' || (commaToo && s[i + 1] == ','))) {
            ++i;
        }
        r += s[i];
    }
    return r;
}

std::string escapeQuoted(const std::string& s)
{
    std::string r;
    r.reserve(s.size() + 2);
    for (char c : s) {
        if (c == '"' || c == '\\') r += '\\';
        r += c;
    }
    return r;
}

// Q words stand inside phrases and quoted parameter values: only the
// characters RFC 2047 allows there stay literal, so a '"' or ',' of the text
// can never end a quoted string or split an address list.
void makeQPhraseSafe(StringBuffer& words)
{
    const std::string s(words.getString(), static_cast<size_t>(words.getSize()));
    std::string r;
    r.reserve(s.size() + 16);
    bool inText = false;
    for (size_t i = 0; i < s.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (!inText) {
            r += static_cast<char>(c);
            if (c == '?' && i + 2 < s.size() && (s[i + 1] == 'Q' || s[i + 1] == 'q') && s[i + 2] == '?') {
                r += s[++i];
                r += s[++i];
                inText = true;
            }
            continue;
        }
        if (c == '?') {  // encodeQ escapes every '?', so this closes the word
            r += '?';
            inText = false;
            continue;
        }
        mimetext::appendPhraseSafeQ(r, c);
    }
    words.clear();
    words << std::string_view(r);
}

// An unquoted display name holding backslashes (the escapes of decoded words,
// or a "DOMAIN\user") is only valid as a quoted string.
std::string quoteEscapedPhrase(const std::string& element)
{
    const size_t lt = findUnquoted(element, '<');
    if (lt == npos) return element;
    size_t a = 0;
    while (a < lt && (element[a] == ' ' || element[a] == '\t')) ++a;
    size_t b = lt;
    while (b > a && (element[b - 1] == ' ' || element[b - 1] == '\t')) --b;
    if (a == b || element[a] == '"' || element.substr(a, b - a).find('\\') == npos) return element;
    std::string q = "\"";
    for (size_t i = a; i < b; ++i) {
        const char c = element[i];
        if (c == '\\' && i + 1 < b && (element[i + 1] == '"' || element[i + 1] == '\\' || element[i + 1] == ',')) {
            const char next = element[++i];
            if (next != ',') q += '\\';
            q += next;
        } else if (c == '\\' || c == '"') {
            q += '\\';
            q += c;
        } else {
            q += c;
        }
    }
    q += '"';
    return element.substr(0, a) + q + element.substr(b);
}

std::string quoteEscapedPhrases(const std::string& value)
{
    if (value.find('\\') == npos) return value;
    std::string r;
    size_t start = 0;
    for (;;) {
        const size_t comma = findUnquoted(value, ',', start);
        const size_t end = comma == npos ? value.size() : comma;
        r += quoteEscapedPhrase(value.substr(start, end - start));
        if (comma == npos) break;
        r += ',';
        start = comma + 1;
    }
    return r;
}

// Folds a rendered field whose physical lines exceed the limit, at the last
// space or tab that keeps the line within it (hard, between characters, when
// there is none). Our own reader removes exactly the inserted fold.
void limitLineLength(std::string& s, size_t firstLineMin)
{
    const size_t limit = HeaderValueWriter::kMaxLine;
    if (s.size() <= limit) return;
    std::string r;
    r.reserve(s.size() + s.size() / 64);
    size_t pos = 0;
    bool first = true;
    // The current physical line of r starts at r.size() - column.
    while (pos < s.size()) {
        size_t eol = s.find("\r\n", pos);
        if (eol == npos) eol = s.size();
        // One physical line of s: s[pos, eol), emitted in pieces of at most limit bytes.
        size_t lineStart = pos;
        size_t carried = 0;  // bytes of the current output line already in r (the fold's tab)
        while (eol - lineStart + carried > limit) {
            const size_t maxEnd = lineStart + limit - carried;  // s[lineStart, maxEnd) fits
            size_t lo = lineStart + (first ? firstLineMin : (carried ? 1 : 2));
            if (lo > maxEnd) lo = maxEnd;
            size_t cut = npos;
            for (size_t p = maxEnd; p >= lo && p > lineStart; --p) {
                if (s[p] == ' ' || s[p] == '\t') {
                    cut = p;
                    break;
                }
            }
            if (cut == npos) {
                cut = maxEnd;
                while (cut > lo && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;
                if (cut <= lineStart) cut = maxEnd;
            }
            r.append(s, lineStart, cut - lineStart);
            r += kFold;
            carried = 1;
            lineStart = cut;
            first = false;
        }
        r.append(s, lineStart, eol - lineStart);
        if (eol < s.size()) r += "\r\n";
        pos = eol + 2;
        first = false;
    }
    s.swap(r);
}

}  // namespace

bool HeaderValueWriter::isWideCodePage(int cp)
{
    switch (cp) {
        case 932:
        case 936:
        case 949:
        case 950:
        case 874:
        case 1361:
        case 1200:
        case 1201:
        case 28596:
        case 1256: return true;
        default: return cp >= 50001;
    }
}

HeaderValueWriter::HeaderValueWriter(const std::string& fieldName, int cp, const std::string& charsetName)
    : m_field(lowerAscii(fieldName)), m_cp(cp), m_charset(charsetName), m_bForm(isWideCodePage(cp))
{
}

void HeaderValueWriter::renderField(const StringBuffer& name, const StringBuffer& value, const Charset& charset,
                                    StringBuffer& out)
{
    // Only printable ASCII other than ':' may form a name.
    std::string fieldName(name.getString(), static_cast<size_t>(name.getSize()));
    for (char& c : fieldName) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7F || c == ':') c = '-';
    }
    // The one place where a value's line breaks could start a new header line.
    std::string text(value.getString(), static_cast<size_t>(value.getSize()));
    for (char& c : text)
        if (c == '\r' || c == '\n') c = ' ';

    int cp = charset.getCodePage();
    std::string charsetName = charset.getName() ? charset.getName() : "";
    if (cp != 0 && charsetName.empty()) {
        const char* preferred = preferredCharsetName(cp);
        if (preferred)
            charsetName = preferred;
        else
            cp = kUtf8;
    }
    if (isUnicodeForm(cp) || (cp == 0 && !isAscii(text)) || (cp == kUtf8 && charsetName.empty())) {
        cp = kUtf8;
        charsetName = "utf-8";
    }

    HeaderValueWriter w(fieldName, cp, charsetName);
    std::string line = fieldName + ": ";
    w.writeValue(text, line);
    limitLineLength(line, fieldName.size() + 2);
    out << std::string_view(line);
    // A value whose words could not be built in full must not pass for written.
    out.markFailed(w.m_failure);
}

void HeaderValueWriter::writeValue(const std::string& value, std::string& line)
{
    const bool wide = isWideCodePage(m_cp);
    if (m_field == "received" || m_field == "content-location" || m_field == "content-transfer-encoding") {
        // Trace and location values are written as they are; only bytes that
        // no header line may hold (8-bit, control) make UTF-8 words of them.
        if (isPlainText(value)) {
            if (wide)
                line += value;
            else
                foldPlain(value, line);
            return;
        }
        if (m_field == "content-location") {
            // A URI: its other bytes are written as the URI's own escapes.
            static const char kHex[] = "0123456789ABCDEF";
            for (unsigned char c : value) {
                if ((c < 0x20 && c != '\t') || c >= 0x7F) {
                    line += '%';
                    line += kHex[c >> 4];
                    line += kHex[c & 15];
                } else {
                    line += static_cast<char>(c);
                }
            }
            return;
        }
        m_cp = kUtf8;
        m_charset = "utf-8";
        m_bForm = isWideCodePage(m_cp);
        appendWords(value, line);
        return;
    }
    std::string text = value;
    const bool address = MimeField::isAddressFieldName(m_field.c_str());
    const bool structured = m_field == "content-type" || m_field == "content-disposition";
    if (address) text = quoteEscapedPhrases(text);
    const bool unstructured = !address && !structured;
    if (unstructured && isPlainText(text) && hasRiskyWord(text)) {
        writeRiskyPlain(text, line);
        return;
    }
    if (structured && isPlainText(text) && needsParamWords(text)) {
        useWordCharset(text);
        encodeStructuredValue(text, line);
        return;
    }
    if (address && isPlainText(text) && hasRiskyWord(text)) {
        // A display name word longer than a line: words keep it whole.
        useWordCharset(text);
        encodeWords(text, line);
        return;
    }
    if (!wide && isPlainText(text)) {
        foldPlain(text, line);
        return;
    }
    if (m_cp != kUtf8) {
        DataBuffer converted;
        if (toCharset(text, converted)) {
            m_charset = mailtext::label(m_cp, m_charset.c_str(), converted.getData(), converted.getSize());
        } else {
            // Text the charset cannot hold goes out as UTF-8 words, never as raw bytes.
            mailtext::noteFallback(m_charset.c_str());
            m_cp = kUtf8;
            m_charset = "utf-8";
        }
    }
    m_bForm = isWideCodePage(m_cp);
    if (structured)
        encodeStructuredValue(text, line);
    else
        encodeWords(text, line);
}

bool HeaderValueWriter::isRiskyWord(const std::string& text, size_t from, size_t to) const
{
    // A word longer than a line (the first beside the name, a later one after
    // a fold's tab) could only be cut where no white space is, and readers
    // would show the cut.
    const size_t room = from == 0 ? kMaxLine - m_field.size() - 2 : kMaxLine - 1;
    return to - from > room || looksEncoded(text, from, to);
}

bool HeaderValueWriter::hasRiskyWord(const std::string& text) const
{
    size_t i = 0;
    const size_t n = text.size();
    while (i < n) {
        while (i < n && isWsp(text[i])) ++i;
        size_t j = i;
        while (j < n && !isWsp(text[j])) ++j;
        if (j > i && isRiskyWord(text, i, j)) return true;
        i = j;
    }
    return false;
}

void HeaderValueWriter::useWordCharset(const std::string& text)
{
    // Plain text about to be written (in part) as words: they need a charset
    // name, and one that holds the text as it is.
    if (m_cp == 0 || m_charset.empty() || (m_cp != kUtf8 && !isPlainInCharset(text))) {
        m_cp = kUtf8;
        m_charset = "utf-8";
    }
    m_bForm = isWideCodePage(m_cp);
}

void HeaderValueWriter::writeRiskyPlain(const std::string& text, std::string& line)
{
    // Words too long for a line and words that look encoded go out as encoded
    // words, which readers join back exactly; the rest stays plain. A run of
    // such words is encoded together with the white space between them,
    // which readers would drop between two encoded words.
    useWordCharset(text);
    const size_t n = text.size();
    size_t plainStart = 0;
    size_t i = 0;
    while (i < n) {
        size_t wordStart = i;
        while (wordStart < n && isWsp(text[wordStart])) ++wordStart;
        size_t wordEnd = wordStart;
        while (wordEnd < n && !isWsp(text[wordEnd])) ++wordEnd;
        if (wordEnd == wordStart || !isRiskyWord(text, wordStart, wordEnd)) {
            i = wordEnd;
            continue;
        }
        size_t runEnd = wordEnd;
        for (;;) {
            size_t next = runEnd;
            while (next < n && isWsp(text[next])) ++next;
            size_t nextEnd = next;
            while (nextEnd < n && !isWsp(text[nextEnd])) ++nextEnd;
            if (nextEnd == next || !isRiskyWord(text, next, nextEnd)) break;
            runEnd = nextEnd;
        }
        if (wordStart > plainStart) appendPlainOrWords(text.substr(plainStart, wordStart - plainStart), line);
        appendWords(text.substr(wordStart, runEnd - wordStart), line);
        plainStart = i = runEnd;
    }
    if (plainStart < n) appendPlainOrWords(text.substr(plainStart), line);
}

void HeaderValueWriter::foldPlain(const std::string& text, std::string& line) const
{
    size_t column = line.size();
    const bool listMode = text.size() > kListFoldFrom && text.find('@') != npos && text.find(',') != npos;
    bool quoted = false;
    const size_t n = text.size();
    for (size_t i = 0; i < n; ++i) {
        const char c = text[i];
        if (c == '\\' && i + 1 < n) {
            line += c;
            line += text[++i];
            column += 2;
            continue;
        }
        if (c == '"') quoted = !quoted;
        line += c;
        ++column;
        // No fold after the last byte: a line of white space alone would follow.
        if (!quoted && i + 1 < n && (c == ';' || (listMode && c == ',')) && column > kFoldFromColumn) {
            line += kFold;
            column = 0;
        }
    }
}

void HeaderValueWriter::encodeStructuredValue(const std::string& value, std::string& io)
{
    std::string out;
    std::string line = io;
    std::string pending;
    auto flush = [&]() {
        if (line.empty()) return;
        if (!out.empty()) out += kFold;
        out += line;
        line.clear();
    };

    // The parameters begin where readers begin them; a blank that ends a
    // media type is written as the ';' it stands for.
    const size_t semi = m_field == "content-type" ? MimeParamList::mediaTypeEnd(value) : value.find(';');
    if (semi == npos) {
        encodeWords(value, line);
        io = line;
        return;
    }
    if (semi > 0) encodeWords(value.substr(0, semi), line);
    line += ';';
    if (semi + 1 == value.size()) {
        io = line;
        return;
    }
    if (line.size() >= kParametersOwnLine) flush();
    encodeParameters(value.substr(semi + 1), out, line, pending);
    if (line.size() + pending.size() <= kParameterLine) {
        line += pending;
    } else {
        flush();
        line = pending;
    }
    flush();
    io = out;
}

void HeaderValueWriter::encodeParameters(const std::string& rest, std::string& out, std::string& line,
                                         std::string& pending)
{
    auto merge = [&]() {
        if (line.size() + pending.size() > kParameterLine) {
            if (!line.empty()) {
                if (!out.empty()) out += kFold;
                out += line;
            }
            line = pending;
        } else {
            line += pending;
        }
        pending.clear();
    };

    const size_t n = rest.size();
    size_t i = 0;
    while (i < n) {
        // The parameter ends where readers end it, a quote in its name included.
        const size_t k = parameterEnd(rest, i);
        size_t j = i;
        while (j < k && rest[j] != '=') ++j;
        std::string name = rest.substr(i, j - i);
        // A quote in a name would pair with those written around the value
        // and join the parameters after it to this one; a ';' that a quote
        // kept inside the name would split it.
        if (j < k)
            for (char& c : name)
                if (c == '"' || c == ';') c = '-';
        appendPlainOrWords(name, pending);
        if (j == n) return;
        pending += rest[j];
        if (rest[j] == ';') {
            if (j + 1 == n) return;
            merge();
            i = j + 1;
            continue;
        }
        pending += '"';
        std::string v = rest.substr(j + 1, k - j - 1);
        size_t a = 0;
        size_t b = v.size();
        while (a < b && (v[a] == ' ' || v[a] == '\t' || v[a] == '\r' || v[a] == '\n')) ++a;
        while (b > a && (v[b - 1] == ' ' || v[b - 1] == '\t' || v[b - 1] == '\r' || v[b - 1] == '\n')) --b;
        bool quoted = false;
        if (a < b && v[a] == '"') {
            ++a;
            quoted = true;
            // The value ends at its last unescaped quote (a bare quote before
            // it is text of the value); what stands after that quote, such as
            // a stray control byte, is no part of it, as readers take it.
            size_t close = npos;
            for (size_t q = a; q < b; ++q) {
                if (v[q] == '\\' && q + 1 < b && (v[q + 1] == '"' || v[q + 1] == '\\'))
                    ++q;
                else if (v[q] == '"')
                    close = q;
            }
            if (close != npos) b = close;
        }
        v = v.substr(a, b - a);
        appendParamValue(quoted ? unescape(v, false) : v, pending);
        pending += '"';
        if (k >= n) return;
        pending += ';';
        if (k + 1 == n) return;
        merge();
        i = k + 1;
    }
}

void HeaderValueWriter::appendParamValue(const std::string& logical, std::string& pending)
{
    if (logical.empty()) return;
    if (isPlainInCharset(logical) && !needsParamWords(logical))
        pending += escapeQuoted(logical);
    else
        appendWords(logical, pending);
}

void HeaderValueWriter::appendPlainOrWords(const std::string& chunk, std::string& line)
{
    if (chunk.empty()) return;
    if (!isPlainInCharset(chunk))
        appendWords(chunk, line);
    else if (line.size() + chunk.size() > kPlainLine)
        foldPlain(chunk, line);
    else
        line += chunk;
}

void HeaderValueWriter::encodeWords(const std::string& segment, std::string& line)
{
    if (!MimeField::isAddressFieldName(m_field.c_str())) {
        // Only address fields hold addresses to keep readable.
        if (isPlainText(segment) && isPlainInCharset(segment))
            appendPlainOrWords(segment, line);
        else
            appendWords(segment, line);
        return;
    }
    const size_t n = segment.size();
    // plainFrom[i]: everything from i on is printable ASCII (checked once, from the end).
    std::vector<bool> plainFrom(n + 1, true);
    for (size_t k = n; k-- > 0;) {
        const unsigned char c = static_cast<unsigned char>(segment[k]);
        plainFrom[k] = plainFrom[k + 1] && !((c < 0x20 && c != '\t') || c >= 0x7F);
    }
    size_t i = 0;
    while (i < n) {
        if (plainFrom[i] && isPlainInCharset(segment.substr(i)) && !hasRiskyWord(segment.substr(i))) {
            appendPlainOrWords(segment.substr(i), line);
            return;
        }
        const size_t lt = findUnquoted(segment, '<', i);
        const size_t gt = lt == npos ? npos : segment.find('>', lt + 1);
        // Only an address that a header line can carry as it is stays out of
        // the words; anything else between the brackets is text.
        const bool isAddress = gt != npos && Rfc822ParseHelp::isAsciiAddrSpec(segment.data() + lt + 1, gt - lt - 1);
        if (lt == npos || lt + 1 == n || !isAddress) {
            appendWords(segment.substr(i), line);
            return;
        }
        size_t displayEnd = lt;
        if (lt > i && segment[lt - 1] == ' ') --displayEnd;
        size_t addressEnd = gt + 1;
        while (addressEnd < n && (segment[addressEnd] == ' ' || segment[addressEnd] == ',')) ++addressEnd;

        std::string display = segment.substr(i, displayEnd - i);
        // Earlier mailboxes of a list without angle brackets stay outside the words.
        const size_t comma = lastUnquoted(display, ',');
        if (comma != npos) {
            size_t cut = comma + 1;
            while (cut < display.size() && display[cut] == ' ') ++cut;
            appendPlainOrWords(display.substr(0, cut), line);
            display = display.substr(cut);
        }
        if (!display.empty()) {
            const size_t before = line.size();
            if (display.size() >= 3 && display.front() == '"' && display.back() == '"' &&
                display[display.size() - 2] != '\\')
                appendWords(unescape(display.substr(1, display.size() - 2), true), line);
            else
                appendWords(unescape(display, true), line);
            if (line.size() - before > kDisplayWordsLine) line += kFold;
        }
        line.append(segment, displayEnd, addressEnd - displayEnd);
        i = addressEnd;
    }
}

void HeaderValueWriter::appendWords(const std::string& utf8, std::string& dst)
{
    if (utf8.empty()) return;
    DataBuffer bytes;
    std::string label = m_charset;
    bool bForm = m_bForm;
    // In an ISO-2022 charset ESC, SO and SI switch character sets: the text's
    // own would be read as switches, so such text goes out in UTF-8.
    const bool shifting = m_cp >= 50220 && m_cp <= 50229 && utf8.find_first_of("\x1b\x0e\x0f") != npos;
    if (m_cp == kUtf8 || shifting || !toCharset(utf8, bytes)) {
        bytes.clear();
        if (!bytes.append(utf8.data(), static_cast<uint32_t>(utf8.size()))) {
            m_failure = bytes.failure();
            return;
        }
        if (m_cp != kUtf8) {
            mailtext::noteFallback(m_charset.c_str());
            label = "utf-8";
            bForm = true;
        }
    }
    StringBuffer words;
    if (bForm) {
        m_coding.encodeBWords(bytes.getData(), bytes.getSize(), label.c_str(), words);
    } else {
        m_coding.encodeQWords(bytes.getData(), bytes.getSize(), label.c_str(), words);
        makeQPhraseSafe(words);
    }
    if (bytes.hasFailed() || words.hasFailed()) {
        m_failure = words.hasFailed() ? words.failure() : bytes.failure();
        return;
    }
    // Adjacent words need white space between them; readers drop it, ours as a fold.
    if (words.getSize() > 0 && dst.size() >= 2 && dst.compare(dst.size() - 2, 2, "?=") == 0) dst += kFold;
    dst.append(words.getString(), static_cast<size_t>(words.getSize()));
}

// Header text leaves in the charset as the email writer converts it (the
// Japanese twins of the JIS forms included), so values and bodies agree.
bool HeaderValueWriter::toCharset(const std::string& utf8, DataBuffer& out)
{
    return mailtext::convert(m_cp, utf8.data(), static_cast<uint32_t>(utf8.size()), out);
}

bool HeaderValueWriter::isPlainInCharset(const std::string& text)
{
    if (text.empty()) return true;
    if (!isPlainText(text)) return false;
    if (m_cp == kUtf8 || m_cp == 20127 || m_cp == 0) return true;
    // Charsets that give ASCII bytes other meanings (national 7-bit sets) need words.
    DataBuffer converted;
    if (!toCharset(text, converted)) return false;
    return converted.getSize() == text.size() && std::memcmp(converted.getData(), text.data(), text.size()) == 0;
}

}  // namespace hanamail
