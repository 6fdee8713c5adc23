#pragma once
#include <cstdint>

#include "foundation/TembrixObject.h"
#include "foundation/TreeInfo.h"

namespace hanamail {

class AttributeSet;
class ExtPtrArray;
class LogBase;
class StringBuffer;

// One element of an XML document. A node owns its tag, attributes, content
// and children; the root also owns the document's TreeInfo.
class TreeNode : public TembrixObject {
public:
    TreeNode(const TreeNode&) = delete;
    TreeNode& operator=(const TreeNode&) = delete;
    ~TreeNode() override;

    // Builds the tree of the text. The parser is lenient: it never rejects a
    // document, logs "Unclosed comment", "Failed to parse DTD" and "Error in
    // closing tag" (log may be null), and closes what is open at the end.
    // *outRoot is null when the text holds no element; the caller deletes it.
    // False only when outRoot is null. With trim, surrounding white space of
    // each text piece is dropped (without it, only the trailing).
    static bool parseXml(const char* text, LogBase* log, TreeNode** outRoot, bool trim);
    // The same over n bytes, which may hold NULs.
    static bool parseXml(const char* text, int32_t n, LogBase* log, TreeNode** outRoot, bool trim);

    // A new root with a new TreeInfo; the caller deletes it.
    static TreeNode* createRoot(const char* tag);
    // A new last child (owned by this node).
    TreeNode* appendChild(const char* tag);
    // Takes over a root (and its subtree, which joins this document); false,
    // nothing changed, for null, a node that has a parent, or this node's
    // own root.
    bool appendChild(TreeNode* child);

    // "" when none.
    const char* getTag() const;
    void setTag(const char* tag);
    bool tagEquals(const char* tag) const;
    // Created empty on first use.
    StringBuffer& getContent();
    // The content's text, "" when none.
    const char* contentText() const;
    int32_t contentSize() const;
    bool isCdata() const { return m_cdata != 0; }

    int32_t numChildren() const;
    // Null out of range.
    TreeNode* getChild(int32_t i) const;
    TreeNode* getParent() const { return m_parent; }
    TreeInfo* getInfo() const { return m_info; }
    // The first child with exactly this tag and, when attrName is given,
    // with that attribute of exactly that value.
    TreeNode* findChild(const char* tag, const char* attrName = nullptr, const char* attrValue = nullptr) const;
    // Breadth-first over the whole tree below and including this node, level
    // by level in document order; with start, only nodes visited after start
    // count.
    TreeNode* searchForTag(const TreeNode* start, const char* tag) const;

    int32_t numAttributes() const;
    // "" out of range.
    const char* getAttributeName(int32_t i) const;
    const char* getAttributeValue(int32_t i) const;
    bool hasAttribute(const char* name, const char* value) const;
    void addAttribute(const char* name, const char* value);

private:
    class Parser;
    explicit TreeNode(TreeInfo* info);
    // This node and its subtree now belong to info.
    void setInfo(TreeInfo* info);
    void appendText(const char* bytes, int32_t n, bool separate);

    TreeInfo* m_info;
    StringBuffer* m_tag = nullptr;
    AttributeSet* m_attributes = nullptr;
    StringBuffer* m_content = nullptr;
    uint8_t m_cdata = 0;
    ExtPtrArray* m_children = nullptr;
    TreeNode* m_parent = nullptr;
};

}  // namespace hanamail
