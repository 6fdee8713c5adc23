#pragma once
#include <cstdint>

namespace hanamail {

class LogBase;
class StringBuffer;

// The few operations the system performs on HTML as text: HTML is never
// parsed into a tree. Searches ignore the case of ASCII letters; the
// replacements of ensureHtmlStructure and addMetaCharset respect it. All
// operations work on byte counts, so NUL bytes in a document survive.
class HtmlHelp {
public:
    HtmlHelp() = delete;

    static constexpr int kMaxTagAttributes = 100;

    // Writes one tag (text from "<" to ">") into out in normal form:
    // "<name", then " attr" or " attr=\"value\"" for each attribute, then ">".
    // Quoted values keep their quote character; unquoted ones get double
    // quotes. CR and NUL are dropped and LF becomes a space. Attributes after
    // the first kMaxTagAttributes are dropped.
    static void cleanHtmlTag(const char* tag, int32_t n, StringBuffer& out, LogBase* log = nullptr);
    static void cleanHtmlTag(const StringBuffer& tag, StringBuffer& out, LogBase* log = nullptr);

    // The quoted value of the attribute whose whole name is name (case
    // ignored) in a cleaned tag: the first double-quoted one, else the first
    // single-quoted one. start and len give the value between its quotes.
    static bool findAttribute(const char* cleanTag, int32_t n, const char* name, int32_t& start, int32_t& len);
    // That value trimmed, with every backslash turned into a slash; empty
    // (and false) when the tag has no such attribute.
    static bool getAttributeValue(const StringBuffer& cleanTag, const char* name, StringBuffer& value);

    // The href of the first base tag; false (href empty) when there is none.
    static bool getBaseHref(const StringBuffer& html, StringBuffer& href);

    // The charset named by the first charset declaration: a meta tag with
    // HTTP-EQUIV content-type whose content holds "charset=" (or that has a
    // CHARSET attribute), or a meta tag with a CHARSET attribute.
    static bool getMetaCharset(const StringBuffer& html, StringBuffer& charset);

    // Drops every charset declaration that getMetaCharset could report and
    // keeps everything else byte for byte. Returns the number dropped.
    static int removeMetaCharset(StringBuffer& html);

    // Adds whatever of <html>, <head>, </head>, <body>, </body> and </html>
    // is missing.
    static void ensureHtmlStructure(StringBuffer& html);

    // ensureHtmlStructure, then a declaration of charset as the first thing
    // inside the head element. False (html untouched) for an empty name or
    // one with bytes that cannot be part of a charset name.
    static bool addMetaCharset(StringBuffer& html, const char* charset);
};

}  // namespace hanamail
