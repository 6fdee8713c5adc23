#include "foundation/TreeInfo.h"

#include <atomic>

#include "foundation/StringBuffer.h"
#include "foundation/TreeNode.h"

namespace hanamail {

namespace {
// Process-wide. A tree belongs to one thread at a time, but apartment-threaded
// objects build trees on several threads of one host at once, so the counter
// is atomic like the objects' own serial numbers.
std::atomic<uint32_t> g_treeSerial{0};
}  // namespace

TreeInfo::TreeInfo(TreeNode* root) : m_root(root), m_treeSerial(++g_treeSerial) {}

TreeInfo::~TreeInfo()
{
    delete m_declaration;
    delete m_doctype;
}

void TreeInfo::adopt(TreeNode* declaration, StringBuffer* doctype)
{
    if (declaration != m_declaration) {
        delete m_declaration;
        m_declaration = declaration;
    }
    if (doctype != m_doctype) {
        delete m_doctype;
        m_doctype = doctype;
    }
}

}  // namespace hanamail
