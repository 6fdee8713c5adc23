// Arbitrary text through the HTML tag and charset-declaration helpers: the
// tag cleaner must be stable, and a document whose declarations were removed
// must declare nothing until a new declaration is added.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "foundation/StringBuffer.h"
#include "html/HtmlHelp.h"

using namespace hanamail;

namespace {

void require(bool condition)
{
    if (!condition) __builtin_trap();
}

void tagCleaner(const char* text, int32_t n)
{
    StringBuffer once;
    HtmlHelp::cleanHtmlTag(text, n, once);
    require(once.getSize() >= 2 && once.charAt(0) == '<' && once.lastChar() == '>');
    for (int32_t i = 0; i < once.getSize(); ++i)
        require(once.charAt(i) != '\r' && once.charAt(i) != '\n' && once.charAt(i) != '\0');
    StringBuffer twice;
    HtmlHelp::cleanHtmlTag(once, twice);
    require(twice.getSize() == once.getSize() &&
            std::memcmp(twice.getString(), once.getString(), static_cast<size_t>(once.getSize())) == 0);

    for (const char* name : {"src", "href", "content", "http-equiv", "charset", "a"}) {
        int32_t start = -1;
        int32_t len = -1;
        if (HtmlHelp::findAttribute(once.getString(), once.getSize(), name, start, len)) {
            require(start > 0 && len >= 0 && start + len < once.getSize());
            char quote = once.charAt(start - 1);
            require(quote == '"' || quote == '\'');
            require(std::memchr(once.getString() + start, quote, static_cast<size_t>(len)) == nullptr);
        }
        StringBuffer value;
        HtmlHelp::getAttributeValue(once, name, value);
    }
}

void documentHelpers(const char* text, int32_t n)
{
    StringBuffer html(text, n, 0);
    StringBuffer out;
    HtmlHelp::getBaseHref(html, out);
    HtmlHelp::getMetaCharset(html, out);

    StringBuffer stripped(html);
    HtmlHelp::removeMetaCharset(stripped);
    require(stripped.getSize() <= html.getSize());
    require(!HtmlHelp::getMetaCharset(stripped, out));
    require(HtmlHelp::removeMetaCharset(stripped) == 0);

    StringBuffer skeleton(stripped);
    HtmlHelp::ensureHtmlStructure(skeleton);
    require(skeleton.containsIgnoreCase("<html") && skeleton.containsIgnoreCase("</html>"));

    require(HtmlHelp::addMetaCharset(stripped, "windows-1252"));
    require(HtmlHelp::getMetaCharset(stripped, out) && out.equals("windows-1252"));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 1 << 20) return 0;
    const char* text = reinterpret_cast<const char*>(data);
    int32_t n = static_cast<int32_t>(size);
    tagCleaner(text, n);
    documentHelpers(text, n);
    return 0;
}
