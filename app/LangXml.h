// The few DOM reads a language file needs: the root element, a child element
// by name, the element siblings that follow, and an attribute that may be
// absent (absent and empty differ).
#pragma once
#include "framework/Handle.h"
#include <optional>
#include <string>

struct IXMLDOMDocument;
struct IXMLDOMNode;

namespace krv {

class LangXmlNode {
public:
    LangXmlNode() = default;
    explicit LangXmlNode(ComPtr<IXMLDOMNode> node) : node_(std::move(node)) {}
    explicit operator bool() const { return static_cast<bool>(node_); }
    std::string Name() const;
    // The first child element with that name.
    LangXmlNode Child(const std::string& name) const;
    // The next sibling that is an element (comments and text are passed over).
    LangXmlNode NextElement() const;
    std::optional<std::string> Attribute(const std::string& name) const;
private:
    ComPtr<IXMLDOMNode> node_;
};

class LangXmlDocument {
public:
    LangXmlDocument();
    ~LangXmlDocument();
    // False when the file cannot be parsed; the document is then empty.
    bool Load(const std::string& fileName);
    LangXmlNode Root() const;
private:
    ComPtr<IXMLDOMDocument> dom_;
    bool comInit_ = false;
};

} // namespace krv
