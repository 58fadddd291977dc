#include "framework/Classes.h"
#include "framework/SysUtils.h"
#include <algorithm>

namespace krv {

TComponent::TComponent(TComponent* owner) {
    if (owner) owner->InsertComponent(this);
}

TLifeWatch::TLifeWatch(const TLifetime& lifetime) {
    if (!lifetime.alive_) lifetime.alive_ = std::make_shared<bool>(!lifetime.ended_);
    alive_ = lifetime.alive_;
}

TLifeWatch::TLifeWatch(const TComponent* component) {
    if (component) *this = TLifeWatch(component->lifetime_);
}

TComponent::~TComponent() {
    lifetime_.End();
    state_ |= csDestroying;
    // Tell whoever asked, then free what we own (last made, first freed).
    auto notifies = freeNotifies_;
    freeNotifies_.clear();
    for (TComponent* c : notifies) {
        c->Notification(this, opRemove);
        c->freeNotifies_.erase(std::remove(c->freeNotifies_.begin(), c->freeNotifies_.end(), this), c->freeNotifies_.end());
    }
    while (!components_.empty()) {
        TComponent* c = components_.back();
        components_.pop_back();
        c->owner_ = nullptr;
        delete c;
    }
    if (owner_) owner_->RemoveComponent(this);
}

TComponent* TComponent::FindComponent(const std::string& name) const {
    if (name.empty()) return nullptr;
    for (TComponent* c : components_)
        if (SameText(c->name_, name)) return c;
    return nullptr;
}

void TComponent::FreeNotification(TComponent* other) {
    if (!other || other == this) return;
    if (std::find(freeNotifies_.begin(), freeNotifies_.end(), other) == freeNotifies_.end()) freeNotifies_.push_back(other);
    if (std::find(other->freeNotifies_.begin(), other->freeNotifies_.end(), this) == other->freeNotifies_.end())
        other->freeNotifies_.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* other) {
    if (!other) return;
    freeNotifies_.erase(std::remove(freeNotifies_.begin(), freeNotifies_.end(), other), freeNotifies_.end());
    other->freeNotifies_.erase(std::remove(other->freeNotifies_.begin(), other->freeNotifies_.end(), this),
                               other->freeNotifies_.end());
}

void TComponent::Notification(TComponent* component, TOperation operation) {
    if (operation == opRemove)
        for (TComponent* c : components_) if (c != component) c->Notification(component, operation);
}

void TComponent::InsertComponent(TComponent* c) {
    components_.push_back(c);
    c->owner_ = this;
    Notification(c, opInsert);
}

void TComponent::RemoveComponent(TComponent* c) {
    components_.erase(std::remove(components_.begin(), components_.end(), c), components_.end());
    c->owner_ = nullptr;
    if (!Destroying()) Notification(c, opRemove);
}

} // namespace krv
