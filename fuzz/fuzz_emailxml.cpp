// Arbitrary bytes imported as the XML form of an email: an email that comes
// out writes MIME text and XML again, and that XML imports to an email whose
// XML is the same (the form is stable after one round).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "foundation/StringBuffer.h"
#include "foundation/TreeNode.h"
#include "mime/Email2.h"

namespace {

void require(bool condition)
{
    if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 16)) return 0;
    std::unique_ptr<char[]> text(new char[size ? size : 1]);
    if (size) std::memcpy(text.get(), data, size);
    std::unique_ptr<Email2> email(Email2::ImportXml(text.get(), static_cast<int32_t>(size), nullptr));
    if (!email) return 0;
    StringBuffer mime;
    (void)email->GetMimeText(mime);
    StringBuffer xml;
    if (!email->GetXml(xml, true)) return 0;
    // What we write is a document our parser reads with one root.
    TreeNode* raw = nullptr;
    require(TreeNode::parseXml(xml.getString(), xml.getSize(), nullptr, &raw, true));
    std::unique_ptr<TreeNode> root(raw);
    require(root && root->tagEquals("mime_message"));
    std::unique_ptr<Email2> again(Email2::ImportXml(xml.getString(), xml.getSize(), nullptr));
    require(again != nullptr);
    StringBuffer xml2;
    require(again->GetXml(xml2, true));
    StringBuffer xml3;
    std::unique_ptr<Email2> third(Email2::ImportXml(xml2.getString(), xml2.getSize(), nullptr));
    require(third != nullptr && third->GetXml(xml3, true));
    require(xml3.getSize() == xml2.getSize() &&
            std::memcmp(xml3.getString(), xml2.getString(), static_cast<size_t>(xml2.getSize())) == 0);
    return 0;
}
