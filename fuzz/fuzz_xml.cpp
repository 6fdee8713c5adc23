// Arbitrary bytes through the XML parser, by length and in both trim modes:
// no read past the input, every node in the root's document with consistent
// parent links, the search agreeing with a plain walk, and a tree written
// back as escaped XML parsing to the same tree.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "foundation/StringBuffer.h"
#include "foundation/TreeNode.h"

using namespace hanamail;

namespace {

void require(bool condition)
{
    if (!condition) __builtin_trap();
}

std::string contentOf(const TreeNode& n)
{
    return std::string(n.contentText(), static_cast<size_t>(n.contentSize()));
}

void escape(std::string& out, const std::string& s, bool attribute)
{
    for (char c : s) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += attribute ? "&quot;" : "\""; break;
            default: out += c;
        }
    }
}

// Whether write() gives text that reads back as this tree: tags and names
// the element rule reads as they are, CDATA content that can stay CDATA.
bool writable(const TreeNode& n)
{
    const char* tag = n.getTag();
    if (*tag == '!' || *tag == '?') return false;
    if (n.isCdata() && contentOf(n).find("]]>") != std::string::npos) return false;
    for (int32_t i = 0; i < n.numChildren(); ++i)
        if (!writable(*n.getChild(i))) return false;
    return true;
}

void write(const TreeNode& n, std::string& out)
{
    out += "<";
    out += n.getTag();
    for (int32_t i = 0; i < n.numAttributes(); ++i) {
        out += " ";
        out += n.getAttributeName(i);
        out += "=\"";
        escape(out, n.getAttributeValue(i), true);
        out += "\"";
    }
    out += ">";
    if (n.isCdata())
        out += "<![CDATA[" + contentOf(n) + "]]>";
    else
        escape(out, contentOf(n), false);
    for (int32_t i = 0; i < n.numChildren(); ++i) write(*n.getChild(i), out);
    out += "</";
    out += n.getTag();
    out += ">";
}

void requireSame(const TreeNode& a, const TreeNode& b)
{
    require(std::strcmp(a.getTag(), b.getTag()) == 0);
    require(contentOf(a) == contentOf(b));
    require(a.numAttributes() == b.numAttributes());
    for (int32_t i = 0; i < a.numAttributes(); ++i) {
        require(std::strcmp(a.getAttributeName(i), b.getAttributeName(i)) == 0);
        require(std::strcmp(a.getAttributeValue(i), b.getAttributeValue(i)) == 0);
    }
    require(a.numChildren() == b.numChildren());
    for (int32_t i = 0; i < a.numChildren(); ++i) requireSame(*a.getChild(i), *b.getChild(i));
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

void check(const char* text, int32_t n, bool trim)
{
    TreeNode* raw = nullptr;
    require(TreeNode::parseXml(text, n, nullptr, &raw, trim));
    std::unique_ptr<TreeNode> root(raw);
    if (!root) return;
    require(root->getParent() == nullptr && root->getInfo()->root() == root.get());

    // Breadth-first order by hand, against the search.
    std::vector<const TreeNode*> order{root.get()};
    for (size_t k = 0; k < order.size(); ++k) {
        const TreeNode* node = order[k];
        require(node->getInfo() == root->getInfo());
        const std::string c = contentOf(*node);
        if (!c.empty() && !node->isCdata()) {
            require(!isBlank(c.back()));
            if (trim) require(!isBlank(c.front()));
        }
        for (int32_t i = 0; i < node->numChildren(); ++i) {
            require(node->getChild(i)->getParent() == node);
            order.push_back(node->getChild(i));
        }
    }
    const char* tag = order.back()->getTag();
    const TreeNode* found = root->searchForTag(nullptr, tag);
    size_t first = 0;
    while (std::strcmp(order[first]->getTag(), tag) != 0) ++first;
    require(found == order[first]);
    const TreeNode* next = root->searchForTag(found, tag);
    size_t second = first + 1;
    while (second < order.size() && std::strcmp(order[second]->getTag(), tag) != 0) ++second;
    require(next == (second < order.size() ? order[second] : nullptr));

    if (!writable(*root)) return;
    std::string again;
    write(*root, again);
    TreeNode* raw2 = nullptr;
    require(TreeNode::parseXml(again.data(), static_cast<int32_t>(again.size()), nullptr, &raw2, trim));
    std::unique_ptr<TreeNode> root2(raw2);
    require(root2 != nullptr);
    requireSame(*root, *root2);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20)) return 0;
    // An exact copy, so that a read past the end is one past the allocation.
    std::unique_ptr<char[]> text(new char[size ? size : 1]);
    if (size) std::memcpy(text.get(), data, size);
    const auto n = static_cast<int32_t>(size);
    check(text.get(), n, true);
    check(text.get(), n, false);
    return 0;
}
