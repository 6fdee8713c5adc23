// The XML tree and its lenient parser, grouped by what they do with text,
// markup, broken documents, lookups and trees built in code.
#include "foundation/TreeNode.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "foundation/Logger.h"
#include "foundation/StringBuffer.h"

using namespace hanamail;

namespace {

struct Parsed {
    std::unique_ptr<TreeNode> root;
    std::string log;
};

Parsed parse(const std::string& text, bool trim = true)
{
    Logger log;
    TreeNode* root = nullptr;
    EXPECT_TRUE(TreeNode::parseXml(text.data(), static_cast<int32_t>(text.size()), &log, &root, trim));
    StringBuffer sb;
    log.getText(sb);
    return {std::unique_ptr<TreeNode>(root), sb.getString()};
}

std::string content(TreeNode* n)
{
    return n ? std::string(n->contentText(), static_cast<size_t>(n->contentSize())) : "<no node>";
}

// ---- Text between tags

TEST(TreeNodeText, EntitiesAreDecodedOneLevel)
{
    EXPECT_EQ(content(parse("<a>x &amp;lt; y</a>").root.get()), "x &lt; y");
    EXPECT_EQ(content(parse("<a>&lt;&gt;&quot;&apos;&amp;</a>").root.get()), "<>\"'&");
}

TEST(TreeNodeText, OtherEntitiesAndCharacterReferencesStayAsTheyAre)
{
    EXPECT_EQ(content(parse("<a>&#65;&#x42;&nbsp;&amp</a>").root.get()), "&#65;&#x42;&nbsp;&amp");
}

TEST(TreeNodeText, PiecesAroundChildrenAreJoinedByOneSpace)
{
    EXPECT_EQ(content(parse("<a>one<b/>two</a>").root.get()), "one two");
    EXPECT_EQ(content(parse("<a>\n one \n<b/>\n<c/>\t two\r\n</a>").root.get()), "one two");
}

TEST(TreeNodeText, EachPieceIsDecodedOnceEvenWhenASecondPieceArrives)
{
    // Decoding the whole content again when "z" arrives would turn the
    // escaped "&lt;" into "<": text the writer escaped must come back as written.
    EXPECT_EQ(content(parse("<a>x &amp;lt; y<b/>z</a>").root.get()), "x &lt; y z");
    EXPECT_EQ(content(parse("<a>&amp;amp;<b/>&amp;gt;</a>").root.get()), "&amp; &gt;");
}

TEST(TreeNodeText, WithoutTrimLeadingWhiteSpaceIsKept)
{
    EXPECT_EQ(content(parse("<a>  x  </a>", false).root.get()), "  x");
    EXPECT_EQ(content(parse("<a>  x  </a>", true).root.get()), "x");
}

TEST(TreeNodeText, TextOutsideElementsIsDropped)
{
    Parsed p = parse("before<a>in</a>after");
    EXPECT_EQ(content(p.root.get()), "in");
}

TEST(TreeNodeText, EmptyElementHasNoContent)
{
    Parsed p = parse("<a>  </a>");
    EXPECT_EQ(p.root->contentSize(), 0);
    EXPECT_STREQ(p.root->contentText(), "");
}

// ---- CDATA, comments, declarations

TEST(TreeNodeMarkup, CdataIsTakenUnchangedAndFlagged)
{
    Parsed p = parse("<a><![CDATA[<b>]]></a>");
    EXPECT_EQ(content(p.root.get()), "<b>");
    EXPECT_TRUE(p.root->isCdata());
    EXPECT_EQ(p.root->numChildren(), 0);
    Parsed q = parse("<a><![CDATA[ &amp; \n]]></a>");
    EXPECT_EQ(content(q.root.get()), " &amp; \n");
    EXPECT_FALSE(parse("<a>x</a>").root->isCdata());
}

TEST(TreeNodeMarkup, UnterminatedCdataRunsToTheEnd)
{
    Parsed p = parse("<a><![CDATA[x</a>");
    EXPECT_EQ(content(p.root.get()), "x</a>");
}

TEST(TreeNodeMarkup, CommentsAreSkipped)
{
    Parsed p = parse("<a>one<!-- <b>two</b> -->three</a>");
    EXPECT_EQ(content(p.root.get()), "one three");
    EXPECT_EQ(p.root->numChildren(), 0);
    EXPECT_EQ(p.log, "");
}

TEST(TreeNodeMarkup, UnclosedCommentEndsTheParseWithWhatWasRead)
{
    Parsed p = parse("<a><b>x</b><!-- <c/>");
    ASSERT_TRUE(p.root);
    EXPECT_STREQ(p.root->getTag(), "a");
    ASSERT_EQ(p.root->numChildren(), 1);
    EXPECT_STREQ(p.root->getChild(0)->getTag(), "b");
    EXPECT_EQ(p.log, "Unclosed comment\r\n");
}

TEST(TreeNodeMarkup, DeclarationAttributesAreKept)
{
    Parsed p = parse("<?XML version=\"1.0\" encoding='utf-8' standalone=\"yes\"?>\n<a/>");
    ASSERT_TRUE(p.root);
    const TreeNode* decl = p.root->getInfo()->declaration();
    ASSERT_NE(decl, nullptr);
    ASSERT_EQ(decl->numAttributes(), 3);
    EXPECT_STREQ(decl->getAttributeName(0), "version");
    EXPECT_STREQ(decl->getAttributeValue(0), "1.0");
    EXPECT_TRUE(decl->hasAttribute("encoding", "utf-8"));
    EXPECT_TRUE(decl->hasAttribute("standalone", "yes"));
    EXPECT_EQ(p.root->getInfo()->root(), p.root.get());
}

TEST(TreeNodeMarkup, ProcessingInstructionsAndOtherDeclarationsAreSkipped)
{
    Parsed p = parse("<?xml-stylesheet href=\"a>b\"?><!ELEMENT a ANY><a>x<?pi y?></a>");
    ASSERT_TRUE(p.root);
    EXPECT_EQ(content(p.root.get()), "x");
    EXPECT_EQ(p.root->getInfo()->declaration(), nullptr);
}

TEST(TreeNodeMarkup, DoctypeTextIsKeptWithNestedBrackets)
{
    const std::string dtd = "<!DOCTYPE a [<!ELEMENT a (#PCDATA)><!ENTITY e \"x\">]>";
    Parsed p = parse(dtd + "<a>y</a>");
    ASSERT_TRUE(p.root);
    ASSERT_NE(p.root->getInfo()->doctype(), nullptr);
    EXPECT_EQ(p.root->getInfo()->doctype()->getString(), dtd);
    EXPECT_EQ(content(p.root.get()), "y");
    EXPECT_EQ(p.log, "");
}

TEST(TreeNodeMarkup, UnbalancedDoctypeLogsAndGoesOn)
{
    Parsed p = parse("<!DOCTYPE a [<!ELEMENT a ANY>");
    EXPECT_EQ(p.log, "Failed to parse DTD\r\n");
    EXPECT_FALSE(p.root);
}

// ---- Elements and attributes

TEST(TreeNodeElements, AttributesInDocumentOrderWithEntities)
{
    Parsed p = parse("<a x=\"1\" y='&lt;&gt;&quot;&apos;&amp;amp;' z = \"a b\" x=\"2\"/>");
    ASSERT_TRUE(p.root);
    ASSERT_EQ(p.root->numAttributes(), 4);
    EXPECT_STREQ(p.root->getAttributeName(0), "x");
    EXPECT_STREQ(p.root->getAttributeValue(1), "<>\"'&amp;");
    EXPECT_STREQ(p.root->getAttributeName(2), "z");
    EXPECT_STREQ(p.root->getAttributeValue(2), "a b");
    EXPECT_TRUE(p.root->hasAttribute("x", "2"));
    EXPECT_FALSE(p.root->hasAttribute("x", "3"));
    EXPECT_FALSE(p.root->hasAttribute("X", "1"));
    EXPECT_STREQ(p.root->getAttributeName(4), "");
    EXPECT_STREQ(p.root->getAttributeValue(-1), "");
}

TEST(TreeNodeElements, AttributeWithoutValueAndUnquotedValue)
{
    Parsed p = parse("<a checked b=1\"><c/></a>");
    ASSERT_TRUE(p.root);
    ASSERT_EQ(p.root->numAttributes(), 2);
    EXPECT_TRUE(p.root->hasAttribute("checked", ""));
    // An unquoted value runs up to the next quote.
    EXPECT_TRUE(p.root->hasAttribute("b", "1"));
    EXPECT_EQ(p.root->numChildren(), 1);
}

TEST(TreeNodeElements, QuotesAndStrayOpenersAreRemovedFromNames)
{
    Parsed p = parse("<a<b c\"d=\"v\"/>");
    ASSERT_TRUE(p.root);
    EXPECT_STREQ(p.root->getTag(), "ab");
    EXPECT_TRUE(p.root->hasAttribute("cd", "v"));
}

TEST(TreeNodeElements, ChildrenInDocumentOrder)
{
    Parsed p = parse("<r><a/><b><c/></b><a k='2'/></r>");
    ASSERT_TRUE(p.root);
    ASSERT_EQ(p.root->numChildren(), 3);
    EXPECT_STREQ(p.root->getChild(0)->getTag(), "a");
    EXPECT_STREQ(p.root->getChild(1)->getChild(0)->getTag(), "c");
    EXPECT_EQ(p.root->getChild(1)->getChild(0)->getParent(), p.root->getChild(1));
    EXPECT_EQ(p.root->getChild(3), nullptr);
    EXPECT_EQ(p.root->getChild(-1), nullptr);
    // Every node shares the root's document.
    EXPECT_EQ(p.root->getChild(1)->getChild(0)->getInfo(), p.root->getInfo());
}

// ---- Broken documents

TEST(TreeNodeBroken, ClosingTagsAreNotMatchedByName)
{
    Parsed p = parse("<a><b></a>");
    ASSERT_TRUE(p.root);
    EXPECT_STREQ(p.root->getTag(), "a");
    ASSERT_EQ(p.root->numChildren(), 1);
    EXPECT_STREQ(p.root->getChild(0)->getTag(), "b");
    EXPECT_EQ(p.log, "");
}

TEST(TreeNodeBroken, LaterTopLevelElementReplacesTheRoot)
{
    Parsed p = parse("<a/><b/>");
    ASSERT_TRUE(p.root);
    EXPECT_STREQ(p.root->getTag(), "b");
}

TEST(TreeNodeBroken, OpenElementsAfterACompletedRootAreDiscarded)
{
    Parsed p = parse("<a>x</a><b><c>");
    ASSERT_TRUE(p.root);
    EXPECT_STREQ(p.root->getTag(), "a");
}

TEST(TreeNodeBroken, UnendedElementBecomesTheRoot)
{
    Parsed p = parse("<a");
    ASSERT_TRUE(p.root);
    EXPECT_STREQ(p.root->getTag(), "a");
    Parsed q = parse("<a><b>text");
    ASSERT_TRUE(q.root);
    EXPECT_STREQ(q.root->getTag(), "a");
    EXPECT_EQ(content(q.root->getChild(0)), "text");
}

TEST(TreeNodeBroken, ClosingTagWithoutEndLogsTheOpenTag)
{
    Parsed p = parse("<a><b>x</b<c/></a>");
    ASSERT_TRUE(p.root);
    EXPECT_EQ(p.log, "Error in closing tag\r\nerror_tag: b\r\n");
    // b was closed all the same: c is a's child.
    ASSERT_EQ(p.root->numChildren(), 2);
    EXPECT_STREQ(p.root->getChild(1)->getTag(), "c");
    Parsed q = parse("</x");
    EXPECT_FALSE(q.root);
    EXPECT_EQ(q.log, "Error in closing tag\r\nerror_tag: \r\n");
}

TEST(TreeNodeBroken, NoElementGivesNoRoot)
{
    EXPECT_FALSE(parse("just text").root);
    EXPECT_FALSE(parse("").root);
    EXPECT_FALSE(parse("<!-- c --><?pi?>").root);
    TreeNode* root = reinterpret_cast<TreeNode*>(1);
    EXPECT_TRUE(TreeNode::parseXml(nullptr, nullptr, &root, true));
    EXPECT_EQ(root, nullptr);
    EXPECT_FALSE(TreeNode::parseXml("<a/>", nullptr, nullptr, true));
}

TEST(TreeNodeBroken, NulBytesAreBytesNotEnds)
{
    static const char kText[] = "<a>x\0y<b k=\"v\0w\"/>\0</a>\0<";
    const std::string text(kText, sizeof kText - 1);
    Parsed p = parse(text);
    ASSERT_TRUE(p.root);
    EXPECT_STREQ(p.root->getTag(), "a");
    EXPECT_EQ(content(p.root.get()), std::string("x\0y \0", 5));
    ASSERT_EQ(p.root->numChildren(), 1);
    // Tags, names and values are C strings: a NUL in them is dropped, not an end.
    EXPECT_TRUE(p.root->getChild(0)->hasAttribute("k", "vw"));
    // Every byte of the input was looked at, and none past it.
    for (size_t cut = 0; cut <= text.size(); ++cut) {
        const std::unique_ptr<char[]> exact(new char[cut ? cut : 1]);
        std::copy(text.data(), text.data() + cut, exact.get());
        TreeNode* r = nullptr;
        EXPECT_TRUE(TreeNode::parseXml(exact.get(), static_cast<int32_t>(cut), nullptr, &r, true));
        delete r;
    }
}

TEST(TreeNodeBroken, DeepDocumentsAreBuiltAndDestroyedWithoutRecursion)
{
    std::string text;
    for (int i = 0; i < 200000; ++i) text += "<a>";
    Parsed p = parse(text);
    ASSERT_TRUE(p.root);
    int depth = 0;
    for (TreeNode* n = p.root.get(); n; n = n->getChild(0)) ++depth;
    EXPECT_EQ(depth, 200000);
    EXPECT_EQ(p.root->searchForTag(nullptr, "b"), nullptr);
}

// ---- Lookups

TEST(TreeNodeLookup, FindChildByTagAndAttribute)
{
    Parsed p = parse("<r><a k='1'/><A/><a k='2'/></r>");
    ASSERT_TRUE(p.root);
    EXPECT_EQ(p.root->findChild("a"), p.root->getChild(0));
    EXPECT_EQ(p.root->findChild("A"), p.root->getChild(1));
    EXPECT_EQ(p.root->findChild("a", "k", "2"), p.root->getChild(2));
    EXPECT_EQ(p.root->findChild("a", "k", "3"), nullptr);
    EXPECT_EQ(p.root->findChild("b"), nullptr);
}

TEST(TreeNodeLookup, SearchIsBreadthFirstAndResumesAfterTheStart)
{
    Parsed p = parse("<r><x><t id='deep'/></x><t id='1'/><y><t id='2'/></y></r>");
    ASSERT_TRUE(p.root);
    TreeNode* first = p.root->searchForTag(nullptr, "t");
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->hasAttribute("id", "1"));
    TreeNode* second = p.root->searchForTag(first, "t");
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(second->hasAttribute("id", "deep"));
    TreeNode* third = p.root->searchForTag(second, "t");
    ASSERT_NE(third, nullptr);
    EXPECT_TRUE(third->hasAttribute("id", "2"));
    EXPECT_EQ(p.root->searchForTag(third, "t"), nullptr);
    EXPECT_EQ(p.root->searchForTag(nullptr, "r"), p.root.get());
}

// ---- Trees built in code

TEST(TreeNodeBuild, CreateAppendAndRetag)
{
    std::unique_ptr<TreeNode> root(TreeNode::createRoot("r"));
    TreeNode* a = root->appendChild("a");
    ASSERT_NE(a, nullptr);
    a->addAttribute("k", "v");
    ASSERT_TRUE(a->getContent().append("text"));
    a->setTag("b");
    EXPECT_STREQ(a->getTag(), "b");
    a->setTag("");
    EXPECT_STREQ(a->getTag(), "");
    EXPECT_EQ(a->getParent(), root.get());
    EXPECT_EQ(a->getInfo(), root->getInfo());
    EXPECT_EQ(root->getInfo()->root(), root.get());
}

TEST(TreeNodeBuild, AdoptedSubtreeJoinsTheDocument)
{
    std::unique_ptr<TreeNode> root(TreeNode::createRoot("r"));
    TreeNode* other = TreeNode::createRoot("o");
    TreeNode* inner = other->appendChild("i");
    const uint32_t before = other->getInfo()->treeSerial();
    EXPECT_NE(before, root->getInfo()->treeSerial());
    ASSERT_TRUE(root->appendChild(other));
    EXPECT_EQ(other->getInfo(), root->getInfo());
    EXPECT_EQ(inner->getInfo(), root->getInfo());
    // A node that has a parent, the node itself and its own root are refused.
    EXPECT_FALSE(root->appendChild(other));
    EXPECT_FALSE(inner->appendChild(inner));
    EXPECT_FALSE(inner->appendChild(root.get()));
    EXPECT_FALSE(root->appendChild(static_cast<TreeNode*>(nullptr)));
    EXPECT_EQ(root->numChildren(), 1);
}

}  // namespace
