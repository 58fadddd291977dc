// The XML document wrapper over the platform's DOM engine (MSXML through COM):
// load files (their bytes read by us, handed to the engine) and save them (the
// encoding named in the declaration is honoured, so "ISO-8859-1" files keep
// their bytes), walk elements, read attributes that may be absent (absent and
// empty differ), and build or change elements, attributes and comments.
// Comments in a loaded file survive a save.
#pragma once
#include "framework/Handle.h"
#include "framework/SysUtils.h"
#include <optional>
#include <string>

struct IXMLDOMDocument;
struct IXMLDOMNode;

namespace krv {

class EXmlError : public Exception { public: using Exception::Exception; };

// ANSI text to and from the platform's counted wide strings.
BstrHandle AnsiToBstr(const std::string& s);
std::string BstrToAnsi(BSTR s);

class TXmlDocument;

class TXmlNode {
public:
    TXmlNode() = default;
    explicit TXmlNode(ComPtr<IXMLDOMNode> node) : node_(std::move(node)) {}
    explicit operator bool() const { return static_cast<bool>(node_); }
    std::string Name() const;
    bool IsElement() const;
    bool IsComment() const;
    // The first child element with that name.
    TXmlNode Child(const std::string& name) const;
    // The first child element of any name.
    TXmlNode FirstElement() const;
    // The next sibling that is an element (comments and text are passed over).
    TXmlNode NextElement() const;
    // The next sibling of any kind (elements, comments, text).
    TXmlNode NextSibling() const;
    TXmlNode FirstChild() const;
    std::optional<std::string> Attribute(const std::string& name) const;
    std::string AttributeOr(const std::string& name, const std::string& def) const {
        return Attribute(name).value_or(def);
    }
    // Text content (comments: the comment's text).
    std::string Text() const;

    // Changes; they raise EXmlError when the engine refuses.
    void SetAttribute(const std::string& name, const std::string& value);
    // Appends a new child element, or inserts it before `before` when given.
    TXmlNode AddElement(const std::string& name, const TXmlNode& before = TXmlNode());
    TXmlNode AddComment(const std::string& text);
    void Remove();

    IXMLDOMNode* Raw() const { return node_.get(); }

private:
    ComPtr<IXMLDOMNode> node_;
};

class TXmlDocument {
public:
    TXmlDocument();
    ~TXmlDocument();
    TXmlDocument(const TXmlDocument&) = delete;
    TXmlDocument& operator=(const TXmlDocument&) = delete;

    // False when the file cannot be read or parsed; the document is then empty.
    // The file is read by us, sharing read, write and delete, and its bytes
    // parsed: one that another program holds open for writing still loads.
    bool Load(const std::string& fileName);
    bool LoadXml(const std::string& text);
    // The last parse error's reason and line, after a failed load.
    const std::string& ParseError() const { return parseError_; }
    // Writes the document; raises EXmlError on failure (the file is written
    // to a temporary name first, so a failed save never leaves half a file).
    void Save(const std::string& fileName) const;
    std::string Xml() const;

    // Empties the document and gives it an XML declaration with this encoding.
    void Clear(const std::string& encoding = "ISO-8859-1");
    // The declaration's encoding ("" when there is none).
    std::string Encoding() const;
    TXmlNode Root() const;
    // Makes the root element (replacing any existing one).
    TXmlNode CreateRoot(const std::string& name);

private:
    ComPtr<IXMLDOMDocument> dom_;
    std::string parseError_;
    bool comInit_ = false;
    friend class TXmlNode;
};

} // namespace krv
