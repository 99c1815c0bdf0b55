#include "framework.h"

#include <algorithm>

TObject::~TObject() = default;

TComponent::TComponent(TComponent* owner) : owner_(owner) {
    if (owner_) owner_->Insert(this);
}

TComponent::~TComponent() {
    // Each owned component removes itself from components_ in its own destructor.
    while (!components_.empty())
        delete components_.back();
    if (owner_) owner_->Remove(this);
}

void TComponent::Insert(TComponent* component) {
    components_.push_back(component);
}

void TComponent::Remove(TComponent* component) {
    auto it = std::find(components_.begin(), components_.end(), component);
    if (it != components_.end()) components_.erase(it);
}

void TPersistent::Assign(const TPersistent* source) {
    if (source) {
        source->AssignTo(this);
        return;
    }
    throw Exception(std::string("Cannot assign a nil to a ") + ClassName());
}

void TPersistent::AssignTo(TPersistent* dest) const {
    throw Exception(std::string("Cannot assign a ") + ClassName() + " to a " + dest->ClassName());
}
