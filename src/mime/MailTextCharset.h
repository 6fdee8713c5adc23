#pragma once
#include <cstdint>
#include <string>

namespace hanamail {

class DataBuffer;

// How the email writer turns UTF-8 text (header values and text bodies) into
// the email's charset, and the name it labels the bytes with. The conversion
// engine itself converts exactly as the platform's code pages do; the writer
// adds what mail readers need on top of it:
//  - the Japanese code pages (932, 50220-50222, 51932) lack the JIS forms of
//    seven characters that text from other systems uses (WAVE DASH, DOUBLE
//    VERTICAL LINE, MINUS SIGN, CENT, POUND, NOT SIGN, EM DASH) and hold a twin
//    with the same glyph; the writer writes the twin, so the email stays in the
//    charset asked for;
//  - code page 936 is labelled "gb2312", a name readers take strictly: bytes
//    beyond that set are labelled "gbk";
//  - code pages 1200 and 1201 carry the catalogue names "unicode" and
//    "unicodefffe", which no reader knows: the MIME names are "utf-16le" and
//    "utf-16be".
namespace mailtext {

// Appends utf8 converted into cp to out; true when no character was lost.
bool convert(int cp, const void* utf8, uint32_t n, DataBuffer& out);

// The label of bytes that convert() made for cp under the charset name.
const char* label(int cp, const char* name, const unsigned char* converted, uint32_t n);

// The name of a charset in a MIME label.
const char* mimeName(int cp, const char* name);

// The writer falls back to UTF-8 when the charset cannot hold every
// character. A Watch in scope on this thread collects the charsets that were
// given up, so that the caller can say so in its log.
class Watch {
public:
    Watch();
    ~Watch();
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;

    // The first charset given up while this watch was in scope, or empty.
    const std::string& fellBack() const { return m_charset; }

private:
    friend void noteFallback(const char* charsetName);
    Watch* m_outer;
    std::string m_charset;
};

// Called by the writer where it gives a charset up for UTF-8.
void noteFallback(const char* charsetName);

}  // namespace mailtext

}  // namespace hanamail
