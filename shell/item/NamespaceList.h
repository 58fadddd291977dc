// An owning list of shell items with a hook that hears of every addition and
// removal before the list acts on it.
#pragma once
#include "shell/item/Namespace.h"
#include <functional>
#include <vector>

namespace krv {

enum TListNotification { lnAdded, lnExtracted, lnDeleted };

template <class T> class TLazyObjectList {
public:
    using TNotify = std::function<void(TLazyObjectList& list, T* item, TListNotification action)>;

    explicit TLazyObjectList(bool ownsObjects = true) : OwnsObjects(ownsObjects) {}
    TLazyObjectList(const TLazyObjectList&) = delete;
    TLazyObjectList& operator=(const TLazyObjectList&) = delete;
    virtual ~TLazyObjectList() { Clear(); }

    bool OwnsObjects;
    TNotify OnNotify;

    int Count() const { return static_cast<int>(items_.size()); }
    T* Items(int index) const { return items_.at(static_cast<size_t>(index)); }
    T* operator[](int index) const { return Items(index); }
    int IndexOf(const T* item) const {
        for (size_t i = 0; i < items_.size(); ++i)
            if (items_[i] == item) return static_cast<int>(i);
        return -1;
    }
    int Add(T* item) {
        items_.push_back(item);
        Notify(item, lnAdded);
        return Count() - 1;
    }
    void Delete(int index) {
        T* item = items_.at(static_cast<size_t>(index));
        items_.erase(items_.begin() + index);
        Notify(item, lnDeleted);
    }
    // Removes the item without freeing it.
    T* Extract(T* item) {
        int i = IndexOf(item);
        if (i < 0) return nullptr;
        items_.erase(items_.begin() + i);
        Notify(item, lnExtracted);
        return item;
    }
    void Clear() {
        while (!items_.empty()) Delete(Count() - 1);
    }

protected:
    // The hook hears first; then an owning list frees a deleted item.
    virtual void Notify(T* item, TListNotification action) {
        if (OnNotify) OnNotify(*this, item, action);
        if (action == lnDeleted && OwnsObjects) delete item;
    }

private:
    std::vector<T*> items_;
};

// The list of shell items; usable once the shell-item class is complete.
using TLazyNameSpaceList = TLazyObjectList<TNamespace>;

} // namespace krv
