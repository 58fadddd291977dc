#include "framework/XmlDoc.h"
#include <msxml2.h>
#include <oleauto.h>

namespace krv {

namespace {

std::wstring Widen(const std::string& s) {
    if (s.empty()) return {};
    int n = ::MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
    return out;
}

std::string Narrow(const wchar_t* s, int len) {
    if (!s || len <= 0) return {};
    int n = ::WideCharToMultiByte(CP_ACP, 0, s, len, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, s, len, out.data(), n, nullptr, nullptr);
    return out;
}

// A BSTR owned for one call.
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(const std::string& s) : b_(::SysAllocString(Widen(s).c_str())) {}
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { if (b_) ::SysFreeString(b_); }
    BSTR get() const { return b_; }
    BSTR* put() { if (b_) ::SysFreeString(b_); b_ = nullptr; return &b_; }
    std::string str() const { return Narrow(b_, b_ ? static_cast<int>(::SysStringLen(b_)) : 0); }
private:
    BSTR b_ = nullptr;
};

// A VARIANT holding a string for one call.
class VariantString {
public:
    explicit VariantString(const std::string& s) {
        ::VariantInit(&v_);
        v_.vt = VT_BSTR;
        v_.bstrVal = ::SysAllocString(Widen(s).c_str());
    }
    VariantString(const VariantString&) = delete;
    VariantString& operator=(const VariantString&) = delete;
    ~VariantString() { ::VariantClear(&v_); }
    const VARIANT& get() const { return v_; }
private:
    VARIANT v_;
};

DOMNodeType TypeOf(IXMLDOMNode* node) {
    DOMNodeType type = NODE_INVALID;
    if (node) node->get_nodeType(&type);
    return type;
}

void Check(HRESULT hr, const char* what) {
    if (FAILED(hr)) throw EXmlError(Format("%s failed (0x%08lX)", what, static_cast<unsigned long>(hr)));
}

ComPtr<IXMLDOMElement> AsElement(const ComPtr<IXMLDOMNode>& node) {
    return node.As<IXMLDOMElement>(IID_IXMLDOMElement);
}

ComPtr<IXMLDOMDocument> OwnerDocument(IXMLDOMNode* node) {
    ComPtr<IXMLDOMDocument> doc;
    if (node) node->get_ownerDocument(doc.put());
    return doc;
}

} // namespace

// ---------------------------------------------------------------- TXmlNode

std::string TXmlNode::NodeName() const {
    Bstr name;
    if (!node_ || FAILED(node_->get_nodeName(name.put()))) return {};
    return name.str();
}

bool TXmlNode::IsElement() const { return TypeOf(node_.get()) == NODE_ELEMENT; }
bool TXmlNode::IsComment() const { return TypeOf(node_.get()) == NODE_COMMENT; }

std::string TXmlNode::Text() const {
    Bstr text;
    if (!node_ || FAILED(node_->get_text(text.put()))) return {};
    return text.str();
}

void TXmlNode::SetText(const std::string& text) {
    if (!node_) throw EXmlError("No node to set text on");
    Bstr b(text);
    Check(node_->put_text(b.get()), "Setting a node's text");
}

std::optional<std::string> TXmlNode::Attribute(const std::string& name) const {
    auto element = AsElement(node_);
    if (!element) return std::nullopt;
    ComPtr<IXMLDOMAttribute> attribute;
    Bstr b(name);
    if (element->getAttributeNode(b.get(), attribute.put()) != S_OK || !attribute) return std::nullopt;
    VARIANT v;
    ::VariantInit(&v);
    if (FAILED(attribute->get_value(&v))) return std::nullopt;
    std::string out;
    if (v.vt == VT_BSTR) out = Narrow(v.bstrVal, static_cast<int>(::SysStringLen(v.bstrVal)));
    ::VariantClear(&v);
    return out;
}

std::string TXmlNode::AttributeDef(const std::string& name, const std::string& def) const {
    auto v = Attribute(name);
    return v ? *v : def;
}

void TXmlNode::SetAttribute(const std::string& name, const std::string& value) {
    auto element = AsElement(node_);
    if (!element) throw EXmlError("Attributes belong to elements only");
    Bstr b(name);
    VariantString v(value);
    Check(element->setAttribute(b.get(), v.get()), "Setting an attribute");
}

std::vector<TXmlNode> TXmlNode::ChildNodes() const {
    std::vector<TXmlNode> out;
    if (!node_) return out;
    ComPtr<IXMLDOMNode> child;
    node_->get_firstChild(child.put());
    while (child) {
        out.emplace_back(child);
        ComPtr<IXMLDOMNode> next;
        if (child->get_nextSibling(next.put()) != S_OK) break;
        child = next;
    }
    return out;
}

std::vector<TXmlNode> TXmlNode::ChildElements() const {
    std::vector<TXmlNode> out;
    for (auto& c : ChildNodes())
        if (c.IsElement()) out.push_back(c);
    return out;
}

TXmlNode TXmlNode::ChildNode(const std::string& name) const {
    for (auto& c : ChildNodes())
        if (c.IsElement() && c.NodeName() == name) return c;
    return {};
}

TXmlNode TXmlNode::AddChild(const std::string& name) {
    auto doc = OwnerDocument(node_.get());
    if (!doc) doc = node_.As<IXMLDOMDocument>(IID_IXMLDOMDocument);   // the document node itself
    if (!doc) throw EXmlError("Node has no document");
    ComPtr<IXMLDOMElement> element;
    Bstr b(name);
    Check(doc->createElement(b.get(), element.put()), "Creating an element");
    ComPtr<IXMLDOMNode> added;
    Check(node_->appendChild(element.get(), added.put()), "Adding an element");
    return TXmlNode(added);
}

TXmlNode TXmlNode::AddComment(const std::string& text) {
    auto doc = OwnerDocument(node_.get());
    if (!doc) doc = node_.As<IXMLDOMDocument>(IID_IXMLDOMDocument);
    if (!doc) throw EXmlError("Node has no document");
    ComPtr<IXMLDOMComment> comment;
    Bstr b(text);
    Check(doc->createComment(b.get(), comment.put()), "Creating a comment");
    ComPtr<IXMLDOMNode> added;
    Check(node_->appendChild(comment.get(), added.put()), "Adding a comment");
    return TXmlNode(added);
}

void TXmlNode::RemoveChild(const TXmlNode& child) {
    if (!node_ || !child) return;
    ComPtr<IXMLDOMNode> removed;
    Check(node_->removeChild(child.Raw(), removed.put()), "Removing a node");
}

// ------------------------------------------------------------ TXmlDocument

TXmlDocument::TXmlDocument() {
    // The toolchain has no class ids for the DOM document: look them up by name.
    for (const wchar_t* progId : {L"Msxml2.DOMDocument.6.0", L"Msxml2.DOMDocument.3.0"}) {
        CLSID clsid;
        if (FAILED(::CLSIDFromProgID(progId, &clsid))) continue;
        if (SUCCEEDED(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument, dom_.put_void())))
            break;
    }
    if (!dom_) throw EXmlError("The XML parser (MSXML) is not available");
    dom_->put_async(VARIANT_FALSE);
    dom_->put_validateOnParse(VARIANT_FALSE);
    dom_->put_resolveExternals(VARIANT_FALSE);
    dom_->put_preserveWhiteSpace(VARIANT_FALSE);
}

TXmlDocument::~TXmlDocument() { dom_.reset(); }

namespace {
std::string ParseErrorText(IXMLDOMDocument* dom) {
    ComPtr<IXMLDOMParseError> error;
    if (FAILED(dom->get_parseError(error.put())) || !error) return "unknown error";
    Bstr reason;
    error->get_reason(reason.put());
    long line = 0;
    error->get_line(&line);
    return Trim(reason.str()) + Format(" (line %ld)", line);
}
}

void TXmlDocument::LoadFromFile(const std::string& fileName) {
    VariantString name(fileName);
    VARIANT_BOOL ok = VARIANT_FALSE;
    HRESULT hr = dom_->load(name.get(), &ok);
    if (FAILED(hr) || ok != VARIANT_TRUE) {
        std::string why = ParseErrorText(dom_.get());
        Clear();
        throw EXmlError("Cannot load " + fileName + ": " + why);
    }
}

void TXmlDocument::LoadFromXml(const std::string& xml) {
    Bstr text(xml);
    VARIANT_BOOL ok = VARIANT_FALSE;
    HRESULT hr = dom_->loadXML(text.get(), &ok);
    if (FAILED(hr) || ok != VARIANT_TRUE) {
        std::string why = ParseErrorText(dom_.get());
        Clear();
        throw EXmlError("Cannot parse XML: " + why);
    }
}

void TXmlDocument::SetEncodingDeclaration() {
    ComPtr<IXMLDOMProcessingInstruction> pi;
    Bstr target("xml");
    Bstr data("version=\"1.0\" encoding=\"ISO-8859-1\"");
    Check(dom_->createProcessingInstruction(target.get(), data.get(), pi.put()), "Creating the XML declaration");
    ComPtr<IXMLDOMNode> first;
    dom_->get_firstChild(first.put());
    ComPtr<IXMLDOMNode> result;
    if (first && TypeOf(first.get()) == NODE_PROCESSING_INSTRUCTION && TXmlNode(first).NodeName() == "xml") {
        Check(dom_->replaceChild(pi.get(), first.get(), result.put()), "Replacing the XML declaration");
    } else {
        VARIANT before;
        ::VariantInit(&before);
        if (first) {
            before.vt = VT_UNKNOWN;
            before.punkVal = first.get();
        }
        Check(dom_->insertBefore(pi.get(), before, result.put()), "Adding the XML declaration");
    }
}

void TXmlDocument::SaveToFile(const std::string& fileName) {
    SetEncodingDeclaration();
    VariantString name(fileName);
    HRESULT hr = dom_->save(name.get());
    if (FAILED(hr)) throw EXmlError(Format("Cannot save %s (0x%08lX)", fileName.c_str(), static_cast<unsigned long>(hr)));
}

std::string TXmlDocument::Xml() const {
    Bstr xml;
    dom_->get_xml(xml.put());
    return xml.str();
}

TXmlNode TXmlDocument::DocumentElement() const {
    ComPtr<IXMLDOMElement> root;
    if (dom_->get_documentElement(root.put()) != S_OK || !root) return {};
    return TXmlNode(root.As<IXMLDOMNode>(IID_IXMLDOMNode));
}

TXmlNode TXmlDocument::CreateDocumentElement(const std::string& name) {
    ComPtr<IXMLDOMElement> element;
    Bstr b(name);
    Check(dom_->createElement(b.get(), element.put()), "Creating the root element");
    TXmlNode old = DocumentElement();
    ComPtr<IXMLDOMNode> result;
    if (old) Check(dom_->replaceChild(element.get(), old.Raw(), result.put()), "Replacing the root element");
    else Check(dom_->appendChild(element.get(), result.put()), "Adding the root element");
    return TXmlNode(result);
}

void TXmlDocument::Clear() {
    VARIANT_BOOL ok;
    Bstr empty("");
    dom_->loadXML(empty.get(), &ok);
}

} // namespace krv
