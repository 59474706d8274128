// The XML DOM over pugixml: a document that is deactivated, given a file name and
// activated (parsed), and the few node operations the catalogue needs. Nodes are counted
// references: a TXMLNode keeps the parsed document it came from alive, so a node held across a
// reload (the main window's FCurrentItem) never dangles. TXMLNodeRaw is the uncounted handle the
// catalogue tree keeps per item; it is valid while its document stays loaded.
#pragma once

#include <pugixml.hpp>

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace zephyrine::platform {

// Every failure of the DOM: parse errors, an inactive document, a null value taken as text.
class EXMLDocError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// An attribute's value: a missing attribute is a null value; taking a null value as text throws.
class TXMLValue {
  public:
    TXMLValue() = default;
    explicit TXMLValue(const char* text) : text_(text) {}
    bool IsNull() const { return text_ == nullptr; }
    const char* CStr() const;  // the text inside the document (no copy); throws when null
    std::string Text() const;  // a copy of the text; throws when null

  private:
    const char* text_ = nullptr;
};

using TXMLNodeRaw = pugi::xml_node;

class TXMLNodeList;

class TXMLNode {
  public:
    TXMLNode() = default;
    TXMLNode(std::shared_ptr<const pugi::xml_document> doc, TXMLNodeRaw node)
        : doc_(std::move(doc)), node_(node) {}

    bool IsNull() const { return !node_; }
    explicit operator bool() const { return !IsNull(); }
    TXMLNodeRaw Raw() const { return node_; }
    const std::shared_ptr<const pugi::xml_document>& Document() const { return doc_; }

    // The element name without a namespace prefix ("pfx:Animals" gives "Animals"); points into
    // the document. Nodes without a name (text) give "".
    std::string_view LocalName() const { return LocalNameOf(node_); }
    static std::string_view LocalNameOf(TXMLNodeRaw node);

    // The value of the attribute called name, a null value when the node has no such attribute.
    TXMLValue AttributeValue(const char* name) const { return AttributeValueOf(node_, name); }
    static TXMLValue AttributeValueOf(TXMLNodeRaw node, const char* name);

    TXMLNodeList ChildNodes() const;

    friend bool operator==(const TXMLNode& a, const TXMLNode& b) { return a.node_ == b.node_; }

  private:
    std::shared_ptr<const pugi::xml_document> doc_;
    TXMLNodeRaw node_;
};

// A node's children in document order, with a count and item by index.
class TXMLNodeList {
  public:
    TXMLNodeList() = default;
    TXMLNodeList(std::shared_ptr<const pugi::xml_document> doc, TXMLNodeRaw parent);
    int Count() const { return static_cast<int>(nodes_.size()); }
    TXMLNode Item(int index) const;        // throws when out of range
    TXMLNodeRaw RawItem(int index) const;  // the same without a counted reference

  private:
    std::shared_ptr<const pugi::xml_document> doc_;
    std::vector<TXMLNodeRaw> nodes_;
};

class TXMLDocument {
  public:
    bool Active() const { return doc_ != nullptr; }
    // Releases the parsed document (nodes still held elsewhere keep their copy alive).
    void Deactivate() { doc_.reset(); }
    void SetFileName(std::string fileName) { fileName_ = std::move(fileName); }
    const std::string& FileName() const { return fileName_; }
    // Parses FileName; throws EXMLDocError when the file is missing or not well-formed, leaving
    // the document inactive.
    void Activate();
    // Parses text instead of a file (tests, fixtures); same failure rule.
    void LoadFromString(std::string_view text);
    // The document element; throws when the document is not active.
    TXMLNode DocumentElement() const;

  private:
    std::shared_ptr<const pugi::xml_document> doc_;
    std::string fileName_;
};

}  // namespace zephyrine::platform
