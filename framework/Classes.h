// Components: objects owned by another component (a form owns its controls),
// found by name, told when they are loaded and when a component they refer to
// goes away. Events are std::function members named On..., fired from one
// virtual Do... operation of the component.
#pragma once
#include <memory>
#include <string>
#include <vector>

namespace krv {

class TObject {
public:
    virtual ~TObject() = default;
};

// A handler may destroy the object that fired it. The object holds a
// TLifetime (every component does); code that touches it again after firing
// takes a TLifeWatch before and asks Gone() after. This is the framework's
// one way of learning that.
class TLifetime {
public:
    TLifetime() = default;
    ~TLifetime() { End(); }
    TLifetime(const TLifetime&) = delete;
    TLifetime& operator=(const TLifetime&) = delete;
    // A destructor that still runs code (window messages) ends it first.
    void End() {
        ended_ = true;
        if (alive_) *alive_ = false;
    }
private:
    friend class TLifeWatch;
    mutable std::shared_ptr<bool> alive_;   // made by the first watch
    bool ended_ = false;
};

class TComponent;

class TLifeWatch {
public:
    TLifeWatch() = default;   // watches nothing: gone
    explicit TLifeWatch(const TLifetime& lifetime);
    // A null component counts as gone.
    explicit TLifeWatch(const TComponent* component);
    bool Gone() const { return !alive_ || !*alive_; }
private:
    std::shared_ptr<const bool> alive_;
};

enum TOperation { opInsert, opRemove };

enum TComponentStateFlag : unsigned {
    csLoading = 1u << 0,
    csDestroying = 1u << 1,
    csDesigning = 1u << 2,
};

class TComponent : public TObject {
public:
    // The owner (if any) takes ownership: it deletes this component when it goes.
    explicit TComponent(TComponent* owner = nullptr);
    ~TComponent() override;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const { return owner_; }
    const std::string& Name() const { return name_; }
    void SetName(const std::string& name) { name_ = name; }
    int ComponentCount() const { return static_cast<int>(components_.size()); }
    TComponent* Components(int i) const { return components_.at(static_cast<size_t>(i)); }
    // Case-insensitive search among the owned components.
    TComponent* FindComponent(const std::string& name) const;

    unsigned ComponentState() const { return state_; }
    bool Destroying() const { return (state_ & csDestroying) != 0; }

    // Called once the component's properties are all set.
    virtual void Loaded() { state_ &= ~csLoading; }
    // Asks to be told (Notification with opRemove) when another component goes.
    void FreeNotification(TComponent* other);
    void RemoveFreeNotification(TComponent* other);

    // Pointer-sized spare value for the owner's use.
    intptr_t Tag = 0;

protected:
    virtual void Notification(TComponent* component, TOperation operation);
    void SetLoading() { state_ |= csLoading; }
    // Watches see the component gone from here on (the base's destructor
    // calls it in any case).
    void EndLifetime() { lifetime_.End(); }

private:
    void InsertComponent(TComponent* c);
    void RemoveComponent(TComponent* c);

    TComponent* owner_ = nullptr;
    std::string name_;
    std::vector<TComponent*> components_;
    std::vector<TComponent*> freeNotifies_;
    unsigned state_ = 0;
    friend class TLifeWatch;
    TLifetime lifetime_;
};

} // namespace krv
