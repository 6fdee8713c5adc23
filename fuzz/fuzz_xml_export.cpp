// Arbitrary bytes read as MIME text and written as the XML form: whatever
// the message holds, the document is well-formed XML that an independent
// parser (libxml2) reads, with "mime_message" as its root.
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "foundation/LogNull.h"
#include "foundation/StringBuffer.h"
#include "mime/Email2.h"

using namespace hanamail;

namespace {

void require(bool condition)
{
    if (!condition) __builtin_trap();
}

void quiet(void*, const char*, ...) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0 || size > (1 << 17)) return 0;
    xmlSetGenericErrorFunc(nullptr, quiet);
    std::vector<char> text(data, data + size);
    LogNull log;
    std::unique_ptr<Email2> e(Email2::EmailFromMimeText(text.data(), static_cast<uint32_t>(text.size()), log));
    require(e != nullptr);
    StringBuffer xml;
    if (!e->GetXml(xml, (data[0] & 1) != 0)) return 0;
    xmlDocPtr doc = xmlReadMemory(xml.getString(), xml.getSize(), "export.xml", "UTF-8", XML_PARSE_NONET);
    require(doc != nullptr);
    const xmlNode* root = xmlDocGetRootElement(doc);
    require(root && std::strcmp(reinterpret_cast<const char*>(root->name), "mime_message") == 0);
    xmlFreeDoc(doc);
    return 0;
}
