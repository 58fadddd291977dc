// An XML document over the system's DOM (MSXML through COM): load, save with
// ISO-8859-1 encoding, elements, attributes and comments (kept on load and
// save). Texts are ANSI strings converted through the ANSI code page.
#pragma once
#include "framework/Handle.h"
#include "framework/SysUtils.h"
#include <optional>
#include <string>
#include <vector>

struct IXMLDOMDocument;
struct IXMLDOMNode;

namespace krv {

class EXmlError : public Exception {
public:
    using Exception::Exception;
};

class TXmlNode {
public:
    TXmlNode() = default;
    explicit TXmlNode(ComPtr<IXMLDOMNode> node) : node_(std::move(node)) {}
    explicit operator bool() const { return static_cast<bool>(node_); }
    IXMLDOMNode* Raw() const { return node_.get(); }

    std::string NodeName() const;
    bool IsElement() const;
    bool IsComment() const;
    // The concatenated text inside the node.
    std::string Text() const;
    void SetText(const std::string& text);

    // nullopt when absent (absent and empty differ).
    std::optional<std::string> Attribute(const std::string& name) const;
    std::string AttributeDef(const std::string& name, const std::string& def) const;
    void SetAttribute(const std::string& name, const std::string& value);

    // The first child element with that name (null when none).
    TXmlNode ChildNode(const std::string& name) const;
    // Child elements in order (comments and text left out).
    std::vector<TXmlNode> ChildElements() const;
    // Every child node, comments included.
    std::vector<TXmlNode> ChildNodes() const;
    TXmlNode AddChild(const std::string& name);
    TXmlNode AddComment(const std::string& text);
    void RemoveChild(const TXmlNode& child);

private:
    ComPtr<IXMLDOMNode> node_;
};

class TXmlDocument {
public:
    // Creates the DOM object (version 6, else 3); raises EXmlError when neither exists.
    TXmlDocument();
    ~TXmlDocument();
    TXmlDocument(const TXmlDocument&) = delete;
    TXmlDocument& operator=(const TXmlDocument&) = delete;

    // Raise EXmlError with the parser's reason on failure; the document is then empty.
    void LoadFromFile(const std::string& fileName);
    void LoadFromXml(const std::string& xml);
    // Writes with an ISO-8859-1 declaration; raises EXmlError on failure.
    void SaveToFile(const std::string& fileName);
    std::string Xml() const;

    TXmlNode DocumentElement() const;
    // Replaces the document's root element with a new one.
    TXmlNode CreateDocumentElement(const std::string& name);
    void Clear();
    IXMLDOMDocument* Raw() const { return dom_.get(); }

private:
    void SetEncodingDeclaration();
    ComInit com_;
    ComPtr<IXMLDOMDocument> dom_;
};

} // namespace krv
