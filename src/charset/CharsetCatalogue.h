#pragma once
// Charset names of mail, HTML and the interface, and the code pages behind them.

namespace hanamail {

class StringBuffer;

// The code page of a charset name, or 0 when the name is null or unknown.
int charsetToCodePage(const char* name);
bool isKnownCharset(const char* name);
// Clears out and writes the preferred name of cp; false (out empty) when cp has none.
bool codePageToCharset(int cp, StringBuffer& out);
// The preferred name of cp, or null.
const char* preferredCharsetName(int cp);
// Whether the conversion engine converts text in this code page.
bool isConvertibleCodePage(int cp);

// One row of the name table, for walking the catalogue.
struct CharsetNameEntry {
    const char* name;
    int codePage;
};
int charsetNameCount();
const CharsetNameEntry& charsetNameAt(int i);

}  // namespace hanamail
