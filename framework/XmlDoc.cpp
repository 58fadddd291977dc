#include "framework/XmlDoc.h"
#include <msxml2.h>
#include <oleauto.h>
#include <cstring>
#include <vector>

namespace krv {

std::string BstrToAnsi(BSTR s) { return s ? WideToAnsi(std::wstring(s, ::SysStringLen(s))) : std::string(); }

namespace {

// A VARIANT holding a string, or an array of bytes, cleared at the end of the scope.
class OwnedVariant {
public:
    explicit OwnedVariant(const std::string& s) {
        ::VariantInit(&v_);
        v_.vt = VT_BSTR;
        v_.bstrVal = ::SysAllocString(AnsiToWide(s).c_str());
    }
    explicit OwnedVariant(const std::vector<char>& bytes) {
        ::VariantInit(&v_);
        SAFEARRAY* array = ::SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
        void* data = nullptr;
        if (!array || FAILED(::SafeArrayAccessData(array, &data))) {
            if (array) ::SafeArrayDestroy(array);
            throw EXmlError("XML: no memory for the file's bytes");
        }
        if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
        ::SafeArrayUnaccessData(array);
        v_.vt = VT_ARRAY | VT_UI1;
        v_.parray = array;
    }
    OwnedVariant(const OwnedVariant&) = delete;
    OwnedVariant& operator=(const OwnedVariant&) = delete;
    ~OwnedVariant() { ::VariantClear(&v_); }
    const VARIANT& get() const { return v_; }
private:
    VARIANT v_;
};

// The whole file, opened sharing read, write and delete: a file that another
// program (an editor, a sync tool) holds open for writing is still read, where
// the engine's own open by path would be refused. 0, or the system's error.
DWORD ReadWholeFile(const std::string& fileName, std::vector<char>& bytes) {
    FileHandle f(CreateFileAny(fileName, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               OPEN_EXISTING));
    if (!f) return ::GetLastError();
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(f.get(), &size)) return ::GetLastError();
    if (size.QuadPart > 0x7FFFFFFF) return ERROR_FILE_TOO_LARGE;
    bytes.resize(static_cast<size_t>(size.QuadPart));
    // Another program may be cutting or growing it meanwhile: what is read is what counts.
    size_t done = 0;
    for (DWORD got = 1; done < bytes.size() && got != 0; done += got)
        if (!::ReadFile(f.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &got, nullptr))
            return ::GetLastError();
    bytes.resize(done);
    return 0;
}

} // namespace

BstrHandle AnsiToBstr(const std::string& s) { return BstrHandle(::SysAllocString(AnsiToWide(s).c_str())); }

namespace {

DOMNodeType TypeOf(IXMLDOMNode* node) {
    DOMNodeType type = NODE_INVALID;
    if (node) node->get_nodeType(&type);
    return type;
}

void Check(HRESULT hr, const char* what) {
    if (FAILED(hr)) throw EXmlError(Format("XML: %s failed (0x%08lX)", what, static_cast<unsigned long>(hr)));
}

// The document that makes new nodes for this one: its owner, or the node
// itself when it is the document.
ComPtr<IXMLDOMDocument> DocumentOf(const ComPtr<IXMLDOMNode>& node) {
    ComPtr<IXMLDOMDocument> doc;
    if (node) node->get_ownerDocument(doc.put());
    if (!doc) doc = node.As<IXMLDOMDocument>(IID_IXMLDOMDocument);
    if (!doc) throw EXmlError("XML: node has no document");
    return doc;
}

ComPtr<IXMLDOMNode> Next(IXMLDOMNode* node) {
    ComPtr<IXMLDOMNode> next;
    if (node) node->get_nextSibling(next.put());
    return next;
}

} // namespace

std::string TXmlNode::Name() const {
    BstrHandle name;
    if (!node_ || FAILED(node_->get_nodeName(name.put()))) return {};
    return BstrToAnsi(name.get());
}

bool TXmlNode::IsElement() const { return TypeOf(node_.get()) == NODE_ELEMENT; }
bool TXmlNode::IsComment() const { return TypeOf(node_.get()) == NODE_COMMENT; }

TXmlNode TXmlNode::FirstChild() const {
    ComPtr<IXMLDOMNode> child;
    if (node_) node_->get_firstChild(child.put());
    return TXmlNode(child);
}

TXmlNode TXmlNode::NextSibling() const { return TXmlNode(Next(node_.get())); }

TXmlNode TXmlNode::FirstElement() const {
    TXmlNode child = FirstChild();
    return child && !child.IsElement() ? child.NextElement() : child;
}

TXmlNode TXmlNode::Child(const std::string& name) const {
    for (TXmlNode child = FirstElement(); child; child = child.NextElement())
        if (child.Name() == name) return child;
    return {};
}

TXmlNode TXmlNode::NextElement() const {
    ComPtr<IXMLDOMNode> next = Next(node_.get());
    while (next && TypeOf(next.get()) != NODE_ELEMENT) next = Next(next.get());
    return TXmlNode(next);
}

std::optional<std::string> TXmlNode::Attribute(const std::string& name) const {
    if (!node_) return std::nullopt;
    ComPtr<IXMLDOMElement> element = node_.As<IXMLDOMElement>(IID_IXMLDOMElement);
    if (!element) return std::nullopt;
    ComPtr<IXMLDOMAttribute> attr;
    BstrHandle attrName = AnsiToBstr(name);
    if (element->getAttributeNode(attrName.get(), attr.put()) != S_OK || !attr) return std::nullopt;
    BstrHandle text;
    if (FAILED(attr->get_text(text.put()))) return std::nullopt;
    return BstrToAnsi(text.get());
}

std::string TXmlNode::Text() const {
    BstrHandle text;
    if (!node_ || FAILED(node_->get_text(text.put()))) return {};
    return BstrToAnsi(text.get());
}

void TXmlNode::SetAttribute(const std::string& name, const std::string& value) {
    ComPtr<IXMLDOMElement> element = node_.As<IXMLDOMElement>(IID_IXMLDOMElement);
    if (!element) throw EXmlError("XML: attribute set on a node that is not an element");
    BstrHandle attrName = AnsiToBstr(name);
    OwnedVariant v(value);
    Check(element->setAttribute(attrName.get(), v.get()), "setAttribute");
}

TXmlNode TXmlNode::AddElement(const std::string& name, const TXmlNode& before) {
    ComPtr<IXMLDOMDocument> doc = DocumentOf(node_);
    ComPtr<IXMLDOMElement> element;
    BstrHandle tag = AnsiToBstr(name);
    Check(doc->createElement(tag.get(), element.put()), "createElement");
    ComPtr<IXMLDOMNode> added;
    if (before) {
        VARIANT ref;
        ::VariantInit(&ref);
        ref.vt = VT_UNKNOWN;
        ref.punkVal = before.node_.get();
        Check(node_->insertBefore(element.get(), ref, added.put()), "insertBefore");
    } else {
        Check(node_->appendChild(element.get(), added.put()), "appendChild");
    }
    return TXmlNode(added);
}

TXmlNode TXmlNode::AddComment(const std::string& text) {
    ComPtr<IXMLDOMDocument> doc = DocumentOf(node_);
    ComPtr<IXMLDOMComment> comment;
    BstrHandle data = AnsiToBstr(text);
    Check(doc->createComment(data.get(), comment.put()), "createComment");
    ComPtr<IXMLDOMNode> added;
    Check(node_->appendChild(comment.get(), added.put()), "appendChild");
    return TXmlNode(added);
}

void TXmlNode::Remove() {
    if (!node_) return;
    ComPtr<IXMLDOMNode> parent;
    if (node_->get_parentNode(parent.put()) != S_OK || !parent) return;
    ComPtr<IXMLDOMNode> old;
    Check(parent->removeChild(node_.get(), old.put()), "removeChild");
}

TXmlDocument::TXmlDocument() {
    comInit_ = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    CLSID clsid;
    for (const wchar_t* progId : {L"Msxml2.DOMDocument.6.0", L"Msxml2.DOMDocument.3.0"}) {
        if (SUCCEEDED(::CLSIDFromProgID(progId, &clsid)) &&
            SUCCEEDED(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument, dom_.put_void())))
            break;
    }
    if (!dom_) throw EXmlError("The XML engine (MSXML) is not available");
    dom_->put_async(VARIANT_FALSE);
    dom_->put_preserveWhiteSpace(VARIANT_FALSE);
}

TXmlDocument::~TXmlDocument() {
    dom_.reset();
    if (comInit_) ::CoUninitialize();
}

bool TXmlDocument::Load(const std::string& fileName) {
    parseError_.clear();
    std::vector<char> bytes;
    if (const DWORD error = ReadWholeFile(fileName, bytes)) {
        parseError_ = SysErrorMessage(error);
        LoadXml("");   // empty, as after a failed parse
        return false;
    }
    // Handed over as bytes, not text: the engine reads the encoding from the
    // declaration (or a byte-order mark) exactly as from the file itself.
    OwnedVariant source(bytes);
    VARIANT_BOOL ok = VARIANT_FALSE;
    const HRESULT hr = dom_->load(source.get(), &ok);
    if (SUCCEEDED(hr) && ok == VARIANT_TRUE) return true;
    ComPtr<IXMLDOMParseError> err;
    if (SUCCEEDED(dom_->get_parseError(err.put())) && err) {
        BstrHandle reason;
        long line = 0;
        err->get_reason(reason.put());
        err->get_line(&line);
        parseError_ = Trim(BstrToAnsi(reason.get()));
        if (line > 0) parseError_ += Format(" (line %ld)", line);
    }
    if (parseError_.empty()) parseError_ = "The file cannot be read";
    return false;
}

bool TXmlDocument::LoadXml(const std::string& text) {
    BstrHandle xml = AnsiToBstr(text);
    VARIANT_BOOL ok = VARIANT_FALSE;
    return SUCCEEDED(dom_->loadXML(xml.get(), &ok)) && ok == VARIANT_TRUE;
}

namespace {

// Code page of an encoding name from an XML declaration; 0 for one we do not know.
UINT CodePageOf(const std::string& encoding) {
    std::string e = AnsiUpperCase(encoding);
    if (e == "ISO-8859-1" || e == "LATIN1" || e == "ISO_8859-1") return 28591;
    if (e == "WINDOWS-1252" || e == "CP1252") return 1252;
    if (e == "UTF-8" || e == "UTF8") return CP_UTF8;
    return 0;
}

// UTF-16 text as bytes of a code page; a character the code page cannot hold
// becomes a character reference, which every XML reader turns back into it.
std::string Encode(const std::wstring& text, UINT codePage) {
    if (codePage == CP_UTF8) return WideToAnsi(text, CP_UTF8);
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned cp = text[i];
        size_t units = 1;
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            units = 2;
        }
        if (codePage == 28591 && cp <= 0xFF) {
            out += static_cast<char>(cp);
        } else if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else {
            char buf[8];
            BOOL usedDefault = FALSE;
            int n = units == 1 ? ::WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, &text[i], 1, buf, sizeof buf,
                                                      nullptr, &usedDefault)
                               : 0;
            if (n > 0 && !usedDefault) out.append(buf, static_cast<size_t>(n));
            else out += Format("&#%u;", cp);
        }
        i += units - 1;
    }
    return out;
}

} // namespace

void TXmlDocument::Save(const std::string& fileName) const {
    // The engine's own save writes UTF-8 bytes on some systems whatever the
    // declaration says; the bytes are made here so they always match it.
    std::string encoding = Encoding();
    UINT codePage = CodePageOf(encoding);
    if (codePage == 0) {
        encoding = "UTF-8";
        codePage = CP_UTF8;
    }
    BstrHandle xml;
    Check(dom_->get_xml(xml.put()), "get_xml");
    std::wstring text(xml.get() ? xml.get() : L"", xml.get() ? ::SysStringLen(xml.get()) : 0);
    if (text.rfind(L"<?xml", 0) == 0) {
        size_t end = text.find(L"?>");
        text.erase(0, end == std::wstring::npos ? text.size() : end + 2);
        while (!text.empty() && (text[0] == L'\r' || text[0] == L'\n')) text.erase(0, 1);
    }
    std::string bytes = "<?xml version=\"1.0\" encoding=\"" + encoding + "\"?>\r\n" + Encode(text, codePage);

    std::string temp = fileName + ".tmp";
    {
        FileHandle f(::CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!f) {
            DWORD e = ::GetLastError();
            throw EXmlError(Format("Cannot save the file \"%s\". %s", fileName.c_str(), SysErrorMessage(e).c_str()));
        }
        DWORD written = 0;
        if (!::WriteFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
            written != bytes.size() || !::FlushFileBuffers(f.get())) {
            DWORD e = ::GetLastError();
            f.reset();
            ::DeleteFileA(temp.c_str());
            throw EXmlError(Format("Cannot save the file \"%s\". %s", fileName.c_str(), SysErrorMessage(e).c_str()));
        }
    }
    if (!::MoveFileExA(temp.c_str(), fileName.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DWORD e = ::GetLastError();
        ::DeleteFileA(temp.c_str());
        throw EXmlError(Format("Cannot save the file \"%s\". %s", fileName.c_str(), SysErrorMessage(e).c_str()));
    }
}

std::string TXmlDocument::Xml() const {
    BstrHandle xml;
    if (FAILED(dom_->get_xml(xml.put()))) return {};
    return BstrToAnsi(xml.get());
}

void TXmlDocument::Clear(const std::string& encoding) {
    std::string decl = "<?xml version=\"1.0\"";
    if (!encoding.empty()) decl += " encoding=\"" + encoding + "\"";
    decl += "?><_/>";
    if (!LoadXml(decl)) throw EXmlError("XML: cannot start an empty document");
    Root().Remove();
}

std::string TXmlDocument::Encoding() const {
    ComPtr<IXMLDOMNode> first;
    dom_->get_firstChild(first.put());
    if (!first || TypeOf(first.get()) != NODE_PROCESSING_INSTRUCTION) return {};
    std::string text = TXmlNode(first).Text();   // version="1.0" encoding="..."
    size_t p = text.find("encoding=");
    if (p == std::string::npos || p + 10 > text.size()) return {};
    char quote = text[p + 9];
    size_t end = text.find(quote, p + 10);
    return end == std::string::npos ? std::string() : text.substr(p + 10, end - p - 10);
}

TXmlNode TXmlDocument::Root() const {
    ComPtr<IXMLDOMElement> root;
    if (dom_->get_documentElement(root.put()) != S_OK || !root) return {};
    return TXmlNode(root.As<IXMLDOMNode>(IID_IXMLDOMNode));
}

TXmlNode TXmlDocument::CreateRoot(const std::string& name) {
    Root().Remove();
    TXmlNode doc(dom_.As<IXMLDOMNode>(IID_IXMLDOMNode));
    return doc.AddElement(name);
}

} // namespace krv
