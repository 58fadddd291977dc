// The explorer tree's data object: the tree's own formats first, then the
// shell's data object of the dragged items ("Shell IDList Array" and its
// companions), so that whatever takes the drop sees the items as the shell
// itself would hand them out.
#pragma once
#include "tree/transfer/LazyTreeDataObject.h"

namespace krv {

class TCustomLazyExplorerTree;

class TLETDataObject final : public TLTDataObject {
public:
    // Takes the shell data object the tree holds at this moment (its formats
    // are already among the tree's native ones).
    TLETDataObject(TCustomLazyExplorerTree* owner, bool forClipboard);

    HRESULT STDMETHODCALLTYPE GetData(FORMATETC* formatEtcIn, STGMEDIUM* medium) override;
    HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC* formatEtc, STGMEDIUM* medium) override;
    HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* formatEtc) override;

    IDataObject* ShellDataObject() const { return shell_.get(); }

protected:
    ~TLETDataObject() override;

private:
    ComPtr<IDataObject> shell_;
};

} // namespace krv
