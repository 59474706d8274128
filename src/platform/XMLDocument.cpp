#include "platform/XMLDocument.h"

#include <cstring>

namespace zephyrine::platform {

namespace {

constexpr unsigned kParseOptions = pugi::parse_default;  // no whitespace-only text, no comments

void ThrowIfFailed(const pugi::xml_parse_result& result, const std::string& what) {
    if (!result) {
        throw EXMLDocError(what + ": " + result.description() + " at offset " +
                           std::to_string(result.offset));
    }
}

}  // namespace

const char* TXMLValue::CStr() const {
    if (text_ == nullptr) throw EXMLDocError("A null value cannot be taken as text");
    return text_;
}

std::string TXMLValue::Text() const {
    return std::string(CStr());
}

std::string_view TXMLNode::LocalNameOf(TXMLNodeRaw node) {
    const char* name = node.name();
    const char* colon = std::strchr(name, ':');
    return colon != nullptr ? std::string_view(colon + 1) : std::string_view(name);
}

TXMLValue TXMLNode::AttributeValueOf(TXMLNodeRaw node, const char* name) {
    pugi::xml_attribute attribute = node.attribute(name);
    return attribute ? TXMLValue(attribute.value()) : TXMLValue();
}

TXMLNodeList TXMLNode::ChildNodes() const {
    if (!node_) throw EXMLDocError("A null node has no child nodes");
    return TXMLNodeList(doc_, node_);
}

TXMLNodeList::TXMLNodeList(std::shared_ptr<const pugi::xml_document> doc, TXMLNodeRaw parent)
    : doc_(std::move(doc)) {
    for (TXMLNodeRaw child = parent.first_child(); child; child = child.next_sibling()) {
        nodes_.push_back(child);
    }
}

TXMLNode TXMLNodeList::Item(int index) const {
    return TXMLNode(doc_, RawItem(index));
}

TXMLNodeRaw TXMLNodeList::RawItem(int index) const {
    if (index < 0 || index >= Count()) {
        throw EXMLDocError("List index out of bounds (" + std::to_string(index) + ")");
    }
    return nodes_[static_cast<std::size_t>(index)];
}

void TXMLDocument::Activate() {
    doc_.reset();
    auto doc = std::make_shared<pugi::xml_document>();
    ThrowIfFailed(doc->load_file(fileName_.c_str(), kParseOptions), fileName_);
    doc_ = std::move(doc);
}

void TXMLDocument::LoadFromString(std::string_view text) {
    doc_.reset();
    auto doc = std::make_shared<pugi::xml_document>();
    ThrowIfFailed(doc->load_buffer(text.data(), text.size(), kParseOptions), "XML text");
    doc_ = std::move(doc);
}

TXMLNode TXMLDocument::DocumentElement() const {
    if (!doc_) throw EXMLDocError("The XML document is not active");
    return TXMLNode(doc_, doc_->document_element());
}

}  // namespace zephyrine::platform
