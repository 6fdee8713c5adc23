#include "charset/Charset.h"

#include <cstring>

#include "charset/CharsetCatalogue.h"

namespace hanamail {

void Charset::setByName(const char* name)
{
    if (name == nullptr) return;
    // "default" asks for no charset of its own, so the owner's default applies.
    const int cp = std::strcmp(name, "default") == 0 ? 0 : charsetToCodePage(name);
    m_codePage = cp;
    // Always the canonical spelling; a code page known by name only keeps its
    // number with an empty name.
    codePageToCharset(cp, m_name);
}

void Charset::setByCodePage(int cp)
{
    m_codePage = codePageToCharset(cp, m_name) ? cp : 0;
}

}  // namespace hanamail
