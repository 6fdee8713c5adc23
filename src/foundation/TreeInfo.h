#pragma once
#include <cstdint>

#include "foundation/TembrixObject.h"

namespace hanamail {

class StringBuffer;
class TreeNode;

// What one parsed document shares among all its nodes; owned by the root.
class TreeInfo : public TembrixObject {
public:
    explicit TreeInfo(TreeNode* root);
    TreeInfo(const TreeInfo&) = delete;
    TreeInfo& operator=(const TreeInfo&) = delete;
    ~TreeInfo() override;

    TreeNode* root() const { return m_root; }
    // The attributes of "<?xml ...?>" (version, encoding, standalone), or null.
    const TreeNode* declaration() const { return m_declaration; }
    // "<!DOCTYPE ...>" as it stood, or null.
    const StringBuffer* doctype() const { return m_doctype; }
    uint32_t treeSerial() const { return m_treeSerial; }

private:
    friend class TreeNode;
    // Takes ownership of both (either may be null), destroying what was there.
    void adopt(TreeNode* declaration, StringBuffer* doctype);

    TreeNode* m_root;
    TreeNode* m_declaration = nullptr;
    StringBuffer* m_doctype = nullptr;
    uint32_t m_treeSerial;
};

}  // namespace hanamail
