#include "foundation/TreeNode.h"

#include <cstring>
#include <vector>

#include "foundation/AttributeSet.h"
#include "foundation/ExtPtrArray.h"
#include "foundation/LogBase.h"
#include "foundation/LogNull.h"
#include "foundation/StringBuffer.h"

namespace hanamail {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool isQuote(char c)
{
    return c == '"' || c == '\'';
}

// Where lit stands at i, within the n bytes (which may hold NULs).
bool at(const char* t, int32_t n, int32_t i, const char* lit)
{
    const auto len = static_cast<int32_t>(std::strlen(lit));
    return i >= 0 && len <= n - i && std::memcmp(t + i, lit, static_cast<size_t>(len)) == 0;
}

bool atNoCase(const char* t, int32_t n, int32_t i, const char* lit)
{
    const auto len = static_cast<int32_t>(std::strlen(lit));
    if (i < 0 || len > n - i) return false;
    for (int32_t k = 0; k < len; ++k) {
        char a = t[i + k];
        char b = lit[k];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a + 32);
        if (b >= 'A' && b <= 'Z') b = static_cast<char>(b + 32);
        if (a != b) return false;
    }
    return true;
}

// The first lit at or after from, or -1.
int32_t find(const char* t, int32_t n, int32_t from, const char* lit)
{
    const auto len = static_cast<int32_t>(std::strlen(lit));
    for (int32_t i = from; i >= 0 && i <= n - len; ++i) {
        const void* hit = std::memchr(t + i, lit[0], static_cast<size_t>(n - len - i + 1));
        if (!hit) return -1;
        i = static_cast<int32_t>(static_cast<const char*>(hit) - t);
        if (std::memcmp(t + i, lit, static_cast<size_t>(len)) == 0) return i;
    }
    return -1;
}

int32_t findChar(const char* t, int32_t n, int32_t from, char c)
{
    if (from >= n) return -1;
    const void* hit = std::memchr(t + from, c, static_cast<size_t>(n - from));
    return hit ? static_cast<int32_t>(static_cast<const char*>(hit) - t) : -1;
}

// Appends the bytes with "&lt;", "&gt;", "&quot;", "&apos;" and "&amp;"
// decoded. One pass, so each piece is decoded exactly once: "&amp;lt;" gives
// "&lt;", as the writer that escaped "&lt;" meant. (Replacing one entity after
// the other over the text gives the same, since no replacement makes a new
// "&".) Nothing else is decoded.
void appendDecoded(StringBuffer& out, const char* p, int32_t n)
{
    static const struct {
        const char* entity;
        char c;
    } kEntities[] = {{"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}, {"&amp;", '&'}};
    int32_t run = 0;
    for (int32_t i = 0; i < n; ++i) {
        if (p[i] != '&') continue;
        for (const auto& e : kEntities) {
            if (!at(p, n, i, e.entity)) continue;
            (void)out.appendN(p + run, i - run);  // a failure stays recorded in out
            (void)out.appendChar(e.c);
            i += static_cast<int32_t>(std::strlen(e.entity)) - 1;
            run = i + 1;
            break;
        }
    }
    (void)out.appendN(p + run, n - run);
}

}  // namespace

// ---- The parser

class TreeNode::Parser {
public:
    Parser(const char* text, int32_t n, LogBase& log, bool trim) : m_t(text), m_n(n), m_log(log), m_trim(trim) {}
    ~Parser()
    {
        delete m_root;
        if (!m_open.empty()) delete m_open.front();
        delete m_declaration;
        delete m_doctype;
    }
    Parser(const Parser&) = delete;
    Parser& operator=(const Parser&) = delete;

    TreeNode* run();

private:
    void text(int32_t from, int32_t to);
    int32_t cdata(int32_t lt);
    int32_t doctype(int32_t lt);
    int32_t declaration(int32_t lt);
    int32_t closingTag(int32_t lt);
    int32_t element(int32_t lt);
    // Reads attributes into node from i up to ">" (or "?>" for the
    // declaration); returns the position after it and whether the element
    // ended with "/>".
    int32_t attributes(int32_t i, TreeNode& node, bool declaration, bool& empty);
    void close();

    const char* m_t;
    int32_t m_n;
    LogBase& m_log;
    bool m_trim;
    // Open elements, outermost first; the first is the root of its own tree.
    std::vector<TreeNode*> m_open;
    TreeNode* m_root = nullptr;  // the last completed top-level element
    TreeNode* m_declaration = nullptr;
    StringBuffer* m_doctype = nullptr;
};

TreeNode* TreeNode::Parser::run()
{
    int32_t i = 0;
    while (i < m_n) {
        const int32_t lt = findChar(m_t, m_n, i, '<');
        text(i, lt < 0 ? m_n : lt);
        if (lt < 0) break;
        if (at(m_t, m_n, lt, "<![CDATA[")) {
            i = cdata(lt);
        } else if (at(m_t, m_n, lt, "<!--")) {
            const int32_t end = find(m_t, m_n, lt + 4, "-->");
            if (end < 0) {
                m_log.logError("Unclosed comment");
                break;
            }
            i = end + 3;
        } else if (at(m_t, m_n, lt, "<!DOCTYPE")) {
            i = doctype(lt);
        } else if (at(m_t, m_n, lt, "<!")) {
            const int32_t gt = findChar(m_t, m_n, lt + 2, '>');
            i = gt < 0 ? m_n : gt + 1;
        } else if (atNoCase(m_t, m_n, lt, "<?xml ")) {
            i = declaration(lt);
        } else if (at(m_t, m_n, lt, "<?")) {
            const int32_t end = find(m_t, m_n, lt + 2, "?>");
            i = end < 0 ? m_n : end + 2;
        } else if (at(m_t, m_n, lt, "</")) {
            i = closingTag(lt);
        } else {
            i = element(lt);
        }
    }
    // Elements still open after a completed root are discarded; without one,
    // the outermost open element is the root.
    TreeNode* root = m_root;
    if (!root && !m_open.empty()) {
        root = m_open.front();
        m_open.clear();
    }
    m_root = nullptr;
    if (root) {
        root->m_info->adopt(m_declaration, m_doctype);
        m_declaration = nullptr;
        m_doctype = nullptr;
    }
    return root;
}

void TreeNode::Parser::text(int32_t from, int32_t to)
{
    if (m_open.empty()) return;  // text outside any element is dropped
    if (m_trim)
        while (from < to && isBlank(m_t[from])) ++from;
    while (to > from && isBlank(m_t[to - 1])) --to;
    if (to > from) m_open.back()->appendText(m_t + from, to - from, true);
}

int32_t TreeNode::Parser::cdata(int32_t lt)
{
    const int32_t start = lt + 9;
    int32_t end = find(m_t, m_n, start, "]]>");
    const int32_t next = end < 0 ? m_n : end + 3;
    if (end < 0) end = m_n;
    if (!m_open.empty()) {
        TreeNode* node = m_open.back();
        (void)node->getContent().appendN(m_t + start, end - start);  // a failure stays recorded
        node->m_cdata = 1;
    }
    return next;
}

int32_t TreeNode::Parser::doctype(int32_t lt)
{
    int depth = 0;
    for (int32_t j = lt; j < m_n; ++j) {
        if (m_t[j] == '<') {
            ++depth;
        } else if (m_t[j] == '>' && --depth == 0) {
            delete m_doctype;
            m_doctype = new StringBuffer(m_t + lt, j + 1 - lt, 0);
            return j + 1;
        }
    }
    m_log.logError("Failed to parse DTD");
    return lt + 9;
}

int32_t TreeNode::Parser::declaration(int32_t lt)
{
    auto* node = new TreeNode(nullptr);
    node->setTag("xml");
    bool empty = false;
    const int32_t next = attributes(lt + 6, *node, true, empty);
    delete m_declaration;
    m_declaration = node;
    return next;
}

int32_t TreeNode::Parser::closingTag(int32_t lt)
{
    const int32_t gt = findChar(m_t, m_n, lt + 2, '>');
    const int32_t nextLt = findChar(m_t, m_n, lt + 2, '<');
    int32_t next = gt + 1;
    if (gt < 0 || (nextLt >= 0 && nextLt < gt)) {
        m_log.logError("Error in closing tag");
        m_log.logData("error_tag", m_open.empty() ? "" : m_open.back()->getTag());
        next = nextLt < 0 ? m_n : nextLt;
    }
    close();
    return next;
}

int32_t TreeNode::Parser::element(int32_t lt)
{
    StringBuffer tag;
    int32_t i = lt + 1;
    for (; i < m_n && !isBlank(m_t[i]) && m_t[i] != '/' && m_t[i] != '>'; ++i)
        if (m_t[i] != '<' && m_t[i] != '\0') (void)tag.appendChar(m_t[i]);
    TreeNode* node = m_open.empty() ? createRoot(tag.getString()) : m_open.back()->appendChild(tag.getString());
    if (!node) return m_n;  // memory exhausted: keep what was built
    bool empty = false;
    m_open.push_back(node);
    i = attributes(i, *node, false, empty);
    if (empty) close();
    return i;
}

int32_t TreeNode::Parser::attributes(int32_t i, TreeNode& node, bool declaration, bool& empty)
{
    while (i < m_n) {
        while (i < m_n && isBlank(m_t[i])) ++i;
        if (i >= m_n) break;
        if (m_t[i] == '>') return i + 1;
        if (declaration && at(m_t, m_n, i, "?>")) return i + 2;
        if (m_t[i] == '/') {
            int32_t j = i + 1;
            while (j < m_n && isBlank(m_t[j])) ++j;
            if (j < m_n && m_t[j] == '>' && !declaration) {
                empty = true;
                return j + 1;
            }
            i = i + 1;
            continue;
        }
        StringBuffer name;
        const int32_t nameStart = i;
        for (; i < m_n && !isBlank(m_t[i]) && m_t[i] != '=' && m_t[i] != '>' && m_t[i] != '/'; ++i) {
            if (declaration && at(m_t, m_n, i, "?>")) break;
            if (!isQuote(m_t[i]) && m_t[i] != '<' && m_t[i] != '\0') (void)name.appendChar(m_t[i]);
        }
        while (i < m_n && isBlank(m_t[i])) ++i;
        StringBuffer value;
        bool hasValue = false;
        if (i < m_n && m_t[i] == '=') {
            hasValue = true;
            ++i;
            while (i < m_n && isBlank(m_t[i])) ++i;
            int32_t start = i;
            int32_t end;
            if (i < m_n && isQuote(m_t[i])) {
                start = i + 1;
                end = findChar(m_t, m_n, start, m_t[i]);
                if (end < 0) end = m_n;
                i = end < m_n ? end + 1 : m_n;
            } else {
                // An unquoted value runs up to the next quote of either kind.
                end = start;
                while (end < m_n && !isQuote(m_t[end])) ++end;
                i = end;
            }
            appendDecoded(value, m_t + start, end - start);
            value.removeChar('\0');
        }
        if (!name.isEmpty()) node.addAttribute(name.getString(), value.getString());
        if (i == nameStart && !hasValue) ++i;  // a byte no rule takes: step over it
    }
    return m_n;
}

void TreeNode::Parser::close()
{
    if (m_open.empty()) return;
    TreeNode* node = m_open.back();
    m_open.pop_back();
    if (!m_open.empty()) return;
    // The outermost element closed: the document's root, replacing an earlier one.
    delete m_root;
    m_root = node;
}

bool TreeNode::parseXml(const char* text, LogBase* log, TreeNode** outRoot, bool trim)
{
    return parseXml(text, text ? static_cast<int32_t>(std::strlen(text)) : 0, log, outRoot, trim);
}

bool TreeNode::parseXml(const char* text, int32_t n, LogBase* log, TreeNode** outRoot, bool trim)
{
    if (!outRoot) return false;
    *outRoot = nullptr;
    if (!text || n <= 0) return true;
    LogNull none;
    Parser parser(text, n, log ? *log : none, trim);
    *outRoot = parser.run();
    return true;
}

// ---- Nodes

TreeNode::TreeNode(TreeInfo* info) : m_info(info) {}

TreeNode::~TreeNode()
{
    // Children are destroyed without recursion, so a deep document cannot
    // exhaust the stack.
    if (m_children) {
        std::vector<TreeNode*> work;
        for (int32_t i = 0; i < m_children->getSize(); ++i) work.push_back(static_cast<TreeNode*>(m_children->get(i)));
        m_children->removeAll();
        while (!work.empty()) {
            TreeNode* n = work.back();
            work.pop_back();
            if (n->m_children) {
                for (int32_t i = 0; i < n->m_children->getSize(); ++i)
                    work.push_back(static_cast<TreeNode*>(n->m_children->get(i)));
                n->m_children->removeAll();
            }
            delete n;
        }
        delete m_children;
    }
    delete m_tag;
    delete m_attributes;
    delete m_content;
    if (m_info && m_info->root() == this) delete m_info;
}

TreeNode* TreeNode::createRoot(const char* tag)
{
    auto* node = new TreeNode(nullptr);
    node->m_info = new TreeInfo(node);
    node->setTag(tag);
    return node;
}

TreeNode* TreeNode::appendChild(const char* tag)
{
    TreeNode* child = createRoot(tag);
    if (appendChild(child)) return child;
    delete child;
    return nullptr;
}

bool TreeNode::appendChild(TreeNode* child)
{
    if (!child || child->m_parent || child == this || (m_info && child->m_info == m_info)) return false;
    if (!m_children) m_children = new ExtPtrArray(5, 5);
    if (m_children->append(child) < 0) return false;
    TreeInfo* old = child->m_info;
    child->setInfo(m_info);
    if (old && old->root() == child) delete old;
    child->m_parent = this;
    return true;
}

void TreeNode::setInfo(TreeInfo* info)
{
    std::vector<TreeNode*> work{this};
    while (!work.empty()) {
        TreeNode* n = work.back();
        work.pop_back();
        n->m_info = info;
        for (int32_t i = 0; i < n->numChildren(); ++i) work.push_back(n->getChild(i));
    }
}

const char* TreeNode::getTag() const
{
    return m_tag ? m_tag->getString() : "";
}

void TreeNode::setTag(const char* tag)
{
    delete m_tag;
    m_tag = (tag && *tag) ? new StringBuffer(tag) : nullptr;
}

bool TreeNode::tagEquals(const char* tag) const
{
    return std::strcmp(getTag(), tag ? tag : "") == 0;
}

StringBuffer& TreeNode::getContent()
{
    if (!m_content) m_content = new StringBuffer();
    return *m_content;
}

const char* TreeNode::contentText() const
{
    return m_content ? m_content->getString() : "";
}

int32_t TreeNode::contentSize() const
{
    return m_content ? m_content->getSize() : 0;
}

void TreeNode::appendText(const char* bytes, int32_t n, bool separate)
{
    StringBuffer& c = getContent();
    if (separate && c.getSize() > 0) (void)c.appendChar(' ');
    appendDecoded(c, bytes, n);
}

int32_t TreeNode::numChildren() const
{
    return m_children ? m_children->getSize() : 0;
}

TreeNode* TreeNode::getChild(int32_t i) const
{
    return m_children ? static_cast<TreeNode*>(m_children->get(i)) : nullptr;
}

TreeNode* TreeNode::findChild(const char* tag, const char* attrName, const char* attrValue) const
{
    for (int32_t i = 0; i < numChildren(); ++i) {
        TreeNode* c = getChild(i);
        if (c->tagEquals(tag) && (!attrName || c->hasAttribute(attrName, attrValue))) return c;
    }
    return nullptr;
}

TreeNode* TreeNode::searchForTag(const TreeNode* start, const char* tag) const
{
    // Breadth-first: the queue holds the nodes in the order they are visited.
    std::vector<const TreeNode*> queue{this};
    bool counting = start == nullptr;
    for (size_t k = 0; k < queue.size(); ++k) {
        const TreeNode* n = queue[k];
        if (counting && n->tagEquals(tag)) return const_cast<TreeNode*>(n);
        if (n == start) counting = true;
        for (int32_t i = 0; i < n->numChildren(); ++i) queue.push_back(n->getChild(i));
    }
    return nullptr;
}

int32_t TreeNode::numAttributes() const
{
    return m_attributes ? m_attributes->count() : 0;
}

const char* TreeNode::getAttributeName(int32_t i) const
{
    return m_attributes ? m_attributes->name(i) : "";
}

const char* TreeNode::getAttributeValue(int32_t i) const
{
    return m_attributes ? m_attributes->value(i) : "";
}

bool TreeNode::hasAttribute(const char* name, const char* value) const
{
    return m_attributes && m_attributes->has(name, value);
}

void TreeNode::addAttribute(const char* name, const char* value)
{
    if (!m_attributes) m_attributes = new AttributeSet();
    m_attributes->add(name, value);
}

}  // namespace hanamail
