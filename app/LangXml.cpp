#include "app/LangXml.h"
#include "framework/SysUtils.h"
#include <msxml2.h>
#include <oleauto.h>

namespace krv {
namespace {

std::string FromBstr(BSTR s) {
    if (!s) return {};
    const int len = static_cast<int>(::SysStringLen(s));
    if (len == 0) return {};
    const int n = ::WideCharToMultiByte(CP_ACP, 0, s, len, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, s, len, out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring Widen(const std::string& s) {
    if (s.empty()) return {};
    const int n = ::MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
    return out;
}

// A BSTR owned for one call.
class Bstr {
public:
    explicit Bstr(const std::string& s) : b_(::SysAllocString(Widen(s).c_str())) {}
    Bstr() = default;
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { if (b_) ::SysFreeString(b_); }
    BSTR get() const { return b_; }
    BSTR* put() { if (b_) ::SysFreeString(b_); b_ = nullptr; return &b_; }
private:
    BSTR b_ = nullptr;
};

bool IsElement(IXMLDOMNode* node) {
    DOMNodeType type = NODE_INVALID;
    return node && SUCCEEDED(node->get_nodeType(&type)) && type == NODE_ELEMENT;
}

} // namespace

std::string LangXmlNode::Name() const {
    Bstr name;
    if (!node_ || FAILED(node_->get_nodeName(name.put()))) return {};
    return FromBstr(name.get());
}

LangXmlNode LangXmlNode::Child(const std::string& name) const {
    if (!node_) return {};
    ComPtr<IXMLDOMNode> child;
    node_->get_firstChild(child.put());
    while (child) {
        if (IsElement(child.get()) && LangXmlNode(child).Name() == name) return LangXmlNode(child);
        ComPtr<IXMLDOMNode> next;
        child->get_nextSibling(next.put());
        child = next;
    }
    return {};
}

LangXmlNode LangXmlNode::NextElement() const {
    if (!node_) return {};
    ComPtr<IXMLDOMNode> next;
    node_->get_nextSibling(next.put());
    while (next && !IsElement(next.get())) {
        ComPtr<IXMLDOMNode> after;
        next->get_nextSibling(after.put());
        next = after;
    }
    return next ? LangXmlNode(next) : LangXmlNode();
}

std::optional<std::string> LangXmlNode::Attribute(const std::string& name) const {
    if (!node_) return std::nullopt;
    ComPtr<IXMLDOMElement> element = node_.As<IXMLDOMElement>(IID_IXMLDOMElement);
    if (!element) return std::nullopt;
    ComPtr<IXMLDOMAttribute> attr;
    Bstr attrName(name);
    if (element->getAttributeNode(attrName.get(), attr.put()) != S_OK || !attr) return std::nullopt;
    Bstr text;
    if (FAILED(attr->get_text(text.put()))) return std::nullopt;
    return FromBstr(text.get());
}

LangXmlDocument::LangXmlDocument() {
    const HRESULT hr = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    comInit_ = SUCCEEDED(hr);
    CLSID clsid;
    for (const wchar_t* progId : {L"Msxml2.DOMDocument.6.0", L"Msxml2.DOMDocument.3.0"}) {
        if (SUCCEEDED(::CLSIDFromProgID(progId, &clsid)) &&
            SUCCEEDED(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument, dom_.put_void())))
            break;
    }
    if (!dom_) throw Exception("The XML engine (MSXML) is not available");
    dom_->put_async(VARIANT_FALSE);
}

LangXmlDocument::~LangXmlDocument() {
    dom_.reset();
    if (comInit_) ::CoUninitialize();
}

bool LangXmlDocument::Load(const std::string& fileName) {
    VARIANT source;
    ::VariantInit(&source);
    source.vt = VT_BSTR;
    source.bstrVal = ::SysAllocString(Widen(fileName).c_str());
    VARIANT_BOOL ok = VARIANT_FALSE;
    const HRESULT hr = dom_->load(source, &ok);
    ::VariantClear(&source);
    return SUCCEEDED(hr) && ok == VARIANT_TRUE;
}

LangXmlNode LangXmlDocument::Root() const {
    ComPtr<IXMLDOMElement> root;
    if (dom_->get_documentElement(root.put()) != S_OK || !root) return {};
    return LangXmlNode(root.As<IXMLDOMNode>(IID_IXMLDOMNode));
}

} // namespace krv
