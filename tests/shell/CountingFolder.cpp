#include "CountingFolder.h"
#include "shell/base/ShellUtils.h"
#include "shell/base/WideFileUtils.h"
#include "shell/base/WideStrUtils.h"
#include <atomic>
#include <cstring>

using krv::ComPtr;

namespace shelltest {

namespace {
// Reference counting and interface lookup shared by the small objects below.
template <class Self> class TUnknown {
public:
    virtual ~TUnknown() = default;
    ULONG AddRefImpl() { return ++refs_; }
    ULONG ReleaseImpl() {
        ULONG n = --refs_;
        if (n == 0) delete static_cast<Self*>(this);
        return n;
    }
private:
    std::atomic<ULONG> refs_{1};
};

#define SHELLTEST_UNKNOWN                                                  \
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }     \
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

class TTestDetails : public IShellDetails, public TUnknown<TTestDetails> {
public:
    TTestDetails(std::shared_ptr<TCallCounts> c, int columns) : counts_(std::move(c)), columns_(columns) {}
    SHELLTEST_UNKNOWN
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IShellDetails) {
            *out = static_cast<IShellDetails*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE GetDetailsOf(PCUITEMID_CHILD pidl, UINT column, SHELLDETAILS* d) override {
        ++(*counts_)["Details.GetDetailsOf"];
        if (static_cast<int>(column) >= columns_) return E_INVALIDARG;
        d->fmt = LVCFMT_LEFT;
        d->cxChar = 10;
        d->str.uType = STRRET_CSTR;
        std::string text = (pidl ? "value " : "title ") + std::to_string(column);
        std::strcpy(d->str.cStr, text.c_str());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ColumnClick(UINT) override { return S_FALSE; }
private:
    std::shared_ptr<TCallCounts> counts_;
    int columns_;
};

class TTestQueryInfo : public IQueryInfo, public TUnknown<TTestQueryInfo> {
public:
    TTestQueryInfo(std::shared_ptr<TCallCounts> c, std::wstring tip) : counts_(std::move(c)), tip_(std::move(tip)) {}
    SHELLTEST_UNKNOWN
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IQueryInfo) {
            *out = static_cast<IQueryInfo*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE GetInfoTip(DWORD, PWSTR* tip) override {
        ++(*counts_)["GetInfoTip"];
        size_t bytes = (tip_.size() + 1) * sizeof(wchar_t);
        *tip = static_cast<PWSTR>(::CoTaskMemAlloc(bytes));
        std::memcpy(*tip, tip_.c_str(), bytes);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetInfoFlags(DWORD* flags) override {
        *flags = 0;
        return S_OK;
    }
private:
    std::shared_ptr<TCallCounts> counts_;
    std::wstring tip_;
};

// Hands out one damaged list first when asked to, then the inner enumerator's.
class TTestEnum : public IEnumIDList, public TUnknown<TTestEnum> {
public:
    TTestEnum(ComPtr<IEnumIDList> inner, std::shared_ptr<TCallCounts> c, bool damaged)
        : inner_(std::move(inner)), counts_(std::move(c)), damaged_(damaged) {}
    SHELLTEST_UNKNOWN
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IEnumIDList) {
            *out = static_cast<IEnumIDList*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG n, LPITEMIDLIST* items, ULONG* fetched) override {
        ++(*counts_)["Next"];
        if (damaged_ && n == 1) {
            damaged_ = false;
            // An identifier claiming 200 bytes in a block of 6.
            auto* p = static_cast<uint8_t*>(::CoTaskMemAlloc(6));
            uint16_t cb = 200;
            std::memcpy(p, &cb, 2);
            std::memset(p + 2, 0, 4);
            items[0] = reinterpret_cast<LPITEMIDLIST>(p);
            if (fetched) *fetched = 1;
            return S_OK;
        }
        return inner_->Next(n, items, fetched);
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG n) override { return inner_->Skip(n); }
    HRESULT STDMETHODCALLTYPE Reset() override { return inner_->Reset(); }
    HRESULT STDMETHODCALLTYPE Clone(IEnumIDList** out) override { return inner_->Clone(out); }
private:
    ComPtr<IEnumIDList> inner_;
    std::shared_ptr<TCallCounts> counts_;
    bool damaged_;
};

class TCountingFolder : public IShellFolder2,
                        public IShellIcon,
                        public IShellIconOverlay,
                        public TUnknown<TCountingFolder> {
public:
    TCountingFolder(ComPtr<IShellFolder> inner, std::shared_ptr<TCallCounts> c, std::shared_ptr<TFolderOptions> o)
        : inner_(std::move(inner)), counts_(std::move(c)), options_(std::move(o)) {
        inner2_ = inner_.As<IShellFolder2>(IID_IShellFolder2);
    }
    SHELLTEST_UNKNOWN

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IShellFolder) *out = static_cast<IShellFolder2*>(this);
        else if (iid == IID_IShellFolder2 && inner2_ && !options_->HideFolder2) *out = static_cast<IShellFolder2*>(this);
        else if (iid == IID_IShellIcon && options_->ShellIcon) *out = static_cast<IShellIcon*>(this);
        else if (iid == IID_IShellIconOverlay && options_->IconOverlay) *out = static_cast<IShellIconOverlay*>(this);
        if (!*out) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE ParseDisplayName(HWND w, IBindCtx* b, LPWSTR name, ULONG* eaten, PIDLIST_RELATIVE* pidl,
                                               ULONG* attributes) override {
        Count("ParseDisplayName");
        return inner_->ParseDisplayName(w, b, name, eaten, pidl, attributes);
    }
    HRESULT STDMETHODCALLTYPE EnumObjects(HWND w, SHCONTF flags, IEnumIDList** out) override {
        Count("EnumObjects");
        ComPtr<IEnumIDList> items;
        HRESULT hr = inner_->EnumObjects(w, flags, items.put());
        if (hr != S_OK || !items) {
            *out = nullptr;
            return hr;
        }
        *out = new TTestEnum(items, counts_, options_->DamagedFirstChild);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE BindToObject(PCUIDLIST_RELATIVE pidl, IBindCtx* b, REFIID iid, void** out) override {
        Count("BindToObject");
        *out = nullptr;
        if (options_->FailBinds) return E_FAIL;
        ComPtr<IShellFolder> bound;
        HRESULT hr = inner_->BindToObject(pidl, b, IID_IShellFolder, bound.put_void());
        if (FAILED(hr) || !bound) return FAILED(hr) ? hr : E_FAIL;
        ComPtr<IShellFolder> wrapped = MakeCountingFolder(bound, counts_, options_);
        return wrapped->QueryInterface(iid, out);
    }
    HRESULT STDMETHODCALLTYPE BindToStorage(PCUIDLIST_RELATIVE pidl, IBindCtx* b, REFIID iid, void** out) override {
        return inner_->BindToStorage(pidl, b, iid, out);
    }
    HRESULT STDMETHODCALLTYPE CompareIDs(LPARAM column, PCUIDLIST_RELATIVE a, PCUIDLIST_RELATIVE b) override {
        Count("CompareIDs");
        if (options_->Compare) return options_->Compare(inner_.get(), column, a, b);
        if (options_->ScriptedCompare) return options_->CompareResult;
        return inner_->CompareIDs(column, a, b);
    }
    HRESULT STDMETHODCALLTYPE CreateViewObject(HWND w, REFIID iid, void** out) override {
        Count("CreateViewObject");
        *out = nullptr;
        if (iid == IID_IShellDetails && options_->ShellDetails) {
            *out = static_cast<IShellDetails*>(new TTestDetails(counts_, options_->DetailColumns));
            return S_OK;
        }
        if (iid == IID_IShellDetails || iid == IID_IQueryInfo) return E_NOINTERFACE;
        return inner_->CreateViewObject(w, iid, out);
    }
    HRESULT STDMETHODCALLTYPE GetAttributesOf(UINT n, PCUITEMID_CHILD_ARRAY items, SFGAOF* flags) override {
        Count("GetAttributesOf");
        return inner_->GetAttributesOf(n, items, flags);
    }
    HRESULT STDMETHODCALLTYPE GetUIObjectOf(HWND w, UINT n, PCUITEMID_CHILD_ARRAY items, REFIID iid, UINT* reserved,
                                            void** out) override {
        Count("GetUIObjectOf");
        *out = nullptr;
        if (iid == IID_IQueryInfo) {
            if (!options_->QueryInfo) return E_NOINTERFACE;
            *out = static_cast<IQueryInfo*>(new TTestQueryInfo(counts_, options_->InfoTip));
            return S_OK;
        }
        if (iid == IID_IShellDetails) return E_NOINTERFACE;
        return inner_->GetUIObjectOf(w, n, items, iid, reserved, out);
    }
    HRESULT STDMETHODCALLTYPE GetDisplayNameOf(PCUITEMID_CHILD pidl, SHGDNF flags, STRRET* name) override {
        Count("GetDisplayNameOf");
        if (flags & SHGDN_FORPARSING) return inner_->GetDisplayNameOf(pidl, flags, name);
        Count("GetDisplayNameOf.Shown");
        if (!options_->ScriptedShownNames) return inner_->GetDisplayNameOf(pidl, flags, name);
        STRRET parse{};
        HRESULT hr = inner_->GetDisplayNameOf(pidl, SHGDN_INFOLDER | SHGDN_FORPARSING, &parse);
        if (FAILED(hr)) return hr;
        std::wstring shown = krv::StrRetToStr(parse, pidl);
        SFGAOF attributes = SFGAO_FOLDER;
        inner_->GetAttributesOf(1, &pidl, &attributes);
        size_t dot = shown.rfind(L'.');
        if (!(attributes & SFGAO_FOLDER) && dot != std::wstring::npos && dot > 0 &&
            options_->CutExtensions.count(shown.substr(dot)))
            shown.resize(dot);
        size_t bytes = (shown.size() + 1) * sizeof(wchar_t);
        name->uType = STRRET_WSTR;
        name->pOleStr = static_cast<LPWSTR>(::CoTaskMemAlloc(bytes));
        std::memcpy(name->pOleStr, shown.c_str(), bytes);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetNameOf(HWND w, PCUITEMID_CHILD pidl, LPCWSTR name, SHGDNF flags,
                                        PITEMID_CHILD* out) override {
        Count("SetNameOf");
        if (!options_->TwoStepRenames) return inner_->SetNameOf(w, pidl, name, flags, out);
        krv::PIDLPtr passing;
        HRESULT hr = inner_->SetNameOf(w, pidl, (std::wstring(name) + L"~").c_str(), flags, passing.put());
        return FAILED(hr) ? hr : inner_->SetNameOf(w, passing.get(), name, flags, out);
    }

    // IShellFolder2: passed on.
    HRESULT STDMETHODCALLTYPE GetDefaultSearchGUID(GUID* g) override { return inner2_->GetDefaultSearchGUID(g); }
    HRESULT STDMETHODCALLTYPE EnumSearches(IEnumExtraSearch** e) override { return inner2_->EnumSearches(e); }
    HRESULT STDMETHODCALLTYPE GetDefaultColumn(DWORD r, ULONG* s, ULONG* d) override {
        return inner2_->GetDefaultColumn(r, s, d);
    }
    HRESULT STDMETHODCALLTYPE GetDefaultColumnState(UINT c, SHCOLSTATEF* s) override {
        Count("GetDefaultColumnState");
        auto scripted = options_->ColumnStates.find(c);
        if (scripted != options_->ColumnStates.end() && s) {
            *s = scripted->second;
            return S_OK;
        }
        return inner2_->GetDefaultColumnState(c, s);
    }
    HRESULT STDMETHODCALLTYPE GetDetailsEx(PCUITEMID_CHILD p, const SHCOLUMNID* id, VARIANT* v) override {
        return inner2_->GetDetailsEx(p, id, v);
    }
    HRESULT STDMETHODCALLTYPE GetDetailsOf(PCUITEMID_CHILD p, UINT c, SHELLDETAILS* d) override {
        Count("Folder2.GetDetailsOf");
        if (p && options_->Folder2DetailsFail) return E_FAIL;
        return inner2_->GetDetailsOf(p, c, d);
    }
    HRESULT STDMETHODCALLTYPE MapColumnToSCID(UINT c, SHCOLUMNID* id) override {
        return inner2_->MapColumnToSCID(c, id);
    }

    // IShellIcon, IShellIconOverlay.
    HRESULT STDMETHODCALLTYPE GetIconOf(PCUITEMID_CHILD, UINT, int* index) override {
        Count("GetIconOf");
        *index = options_->IconIndex;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetOverlayIndex(PCUITEMID_CHILD, int* index) override {
        Count("GetOverlayIndex");
        *index = options_->OverlayIndex;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetOverlayIconIndex(PCUITEMID_CHILD, int* index) override {
        *index = options_->OverlayIndex;
        return S_OK;
    }

private:
    void Count(const char* name) { ++(*counts_)[name]; }
    ComPtr<IShellFolder> inner_;
    ComPtr<IShellFolder2> inner2_;
    std::shared_ptr<TCallCounts> counts_;
    std::shared_ptr<TFolderOptions> options_;
};
} // namespace

ComPtr<IShellFolder> MakeCountingFolder(ComPtr<IShellFolder> inner, std::shared_ptr<TCallCounts> counts,
                                        std::shared_ptr<TFolderOptions> options) {
    return ComPtr<IShellFolder>::Attach(
        static_cast<IShellFolder2*>(new TCountingFolder(std::move(inner), std::move(counts), std::move(options))));
}

ComPtr<IShellFolder> BindFolder(const std::wstring& path) {
    krv::PIDLPtr pidl(krv::PathToPIDL(path));
    return pidl ? krv::BindFolderOfPIDL(pidl.get()) : nullptr;
}

TSeamFolder::TSeamFolder(const std::wstring& path, std::shared_ptr<TFolderOptions> options)
    : TNamespace(krv::PathToPIDL(path), nullptr),
      parent_(MakeCountingFolder(BindFolder(krv::ExtractFileDirW(path)), counts,
                                 options ? std::move(options) : std::make_shared<TFolderOptions>())) {}

} // namespace shelltest
