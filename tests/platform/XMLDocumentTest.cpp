#include "platform/XMLDocument.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

using namespace zephyrine::platform;

namespace {

std::string TempFile(const std::string& name, const std::string& text) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("zephyrine-xml-" + std::to_string(getpid()) + "-" + name);
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
}

}  // namespace

TEST(XMLDocument, InactiveUntilActivated) {
    TXMLDocument doc;
    EXPECT_FALSE(doc.Active());
    EXPECT_THROW(doc.DocumentElement(), EXMLDocError);
}

TEST(XMLDocument, ActivateParsesTheFile) {
    const std::string path = TempFile("ok.xml",
                                      "<?xml version=\"1.0\"?>\n<Root>\n  <pfx:Cat a=\"1\">\n"
                                      "    <Item WinkName=\"x\" Empty=\"\"/>\n  </pfx:Cat>\n"
                                      "  <Plain/>\n</Root>\n");
    TXMLDocument doc;
    doc.SetFileName(path);
    EXPECT_EQ(doc.FileName(), path);
    doc.Activate();
    ASSERT_TRUE(doc.Active());
    const TXMLNode root = doc.DocumentElement();
    EXPECT_EQ(root.LocalName(), "Root");
    const TXMLNodeList cats = root.ChildNodes();
    ASSERT_EQ(cats.Count(), 2);  // white space between elements is not a node
    EXPECT_EQ(cats.Item(0).LocalName(), "Cat");
    EXPECT_EQ(cats.Item(1).LocalName(), "Plain");
    EXPECT_THROW(cats.Item(2), EXMLDocError);
    EXPECT_THROW(cats.Item(-1), EXMLDocError);
    const TXMLNode item = cats.Item(0).ChildNodes().Item(0);
    EXPECT_EQ(item.AttributeValue("WinkName").Text(), "x");
    EXPECT_FALSE(item.AttributeValue("Empty").IsNull());
    EXPECT_EQ(item.AttributeValue("Empty").Text(), "");
    EXPECT_TRUE(item.AttributeValue("SwfUrl").IsNull());
    EXPECT_THROW(item.AttributeValue("SwfUrl").Text(), EXMLDocError);
    EXPECT_THROW(item.AttributeValue("SwfUrl").CStr(), EXMLDocError);
    EXPECT_EQ(cats.Item(1).ChildNodes().Count(), 0);
    std::remove(path.c_str());
}

TEST(XMLDocument, FailuresThrowAndLeaveTheDocumentInactive) {
    TXMLDocument doc;
    doc.SetFileName("/no/such/file.xml");
    EXPECT_THROW(doc.Activate(), EXMLDocError);
    EXPECT_FALSE(doc.Active());
    EXPECT_THROW(doc.LoadFromString("<a><b></a>"), EXMLDocError);
    EXPECT_THROW(doc.LoadFromString(""), EXMLDocError);
    EXPECT_THROW(doc.LoadFromString("just text"), EXMLDocError);
    doc.LoadFromString("<a/>");
    EXPECT_TRUE(doc.Active());
    EXPECT_THROW(doc.LoadFromString("<a>"), EXMLDocError);
    EXPECT_FALSE(doc.Active());
}

TEST(XMLDocument, NodesAreCountedReferences) {
    TXMLDocument doc;
    doc.LoadFromString("<r><c><i WinkName=\"kept\"/></c></r>");
    TXMLNode item = doc.DocumentElement().ChildNodes().Item(0).ChildNodes().Item(0);
    doc.Deactivate();
    doc.LoadFromString("<other/>");
    // The old document stays alive while a node refers to it.
    EXPECT_EQ(item.AttributeValue("WinkName").Text(), "kept");
    EXPECT_EQ(doc.DocumentElement().LocalName(), "other");
}

TEST(XMLDocument, LocalNameDropsOnlyThePrefix) {
    TXMLDocument doc;
    doc.LoadFromString("<a:b:c><x:y/>text</a:b:c>");
    const TXMLNode root = doc.DocumentElement();
    EXPECT_EQ(root.LocalName(), "b:c");  // the first colon ends the prefix
    EXPECT_EQ(root.ChildNodes().Item(0).LocalName(), "y");
    EXPECT_EQ(root.ChildNodes().Count(), 2);  // non-blank text is a node too
    EXPECT_EQ(root.ChildNodes().Item(1).LocalName(), "");
    EXPECT_TRUE(root.ChildNodes().Item(1).AttributeValue("WinkName").IsNull());
    EXPECT_THROW(TXMLNode().ChildNodes(), EXMLDocError);
}
