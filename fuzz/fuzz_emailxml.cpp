// Arbitrary bytes imported as the XML form of an email: an email that comes
// out writes MIME text and XML again, that XML is one document our parser
// reads, and further rounds keep every part and every field.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "foundation/StringBuffer.h"
#include "foundation/TreeNode.h"
#include "mime/Email2.h"

using namespace hanamail;

namespace {

void require(bool condition)
{
    if (!condition) __builtin_trap();
}

// The tags of every element, one per line: parts in document order, the
// fields of a header sorted (a field the writer adds, such as the Bcc list or
// a transfer encoding, may land elsewhere among them from one round to the next).
std::string shapeOf(const TreeNode& n)
{
    std::string out = n.getTag();
    out += '\n';
    std::vector<std::string> children;
    for (int32_t i = 0; i < n.numChildren(); ++i) children.push_back(shapeOf(*n.getChild(i)));
    if (n.tagEquals("header")) std::sort(children.begin(), children.end());
    for (const std::string& c : children) out += c;
    return out;
}

std::string shapeOf(const StringBuffer& xml)
{
    TreeNode* raw = nullptr;
    require(TreeNode::parseXml(xml.getString(), xml.getSize(), nullptr, &raw, true));
    std::unique_ptr<TreeNode> root(raw);
    require(root != nullptr);
    return shapeOf(*root);
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
    std::unique_ptr<Email2> third(Email2::ImportXml(xml2.getString(), xml2.getSize(), nullptr));
    require(third != nullptr);
    StringBuffer xml3;
    require(third->GetXml(xml3, true));
    // No part and no field is lost between rounds. (Values may still change:
    // the header layer escapes an address value that does not parse again
    // at every read.)
    require(shapeOf(xml2) == shapeOf(xml3));
    return 0;
}
