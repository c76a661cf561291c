#include "dbengine/access/orv_component.h"

#include <algorithm>

namespace orv {

namespace {

void Erase(std::vector<TORVComponent*>& list, TORVComponent* item) {
  list.erase(std::remove(list.begin(), list.end(), item), list.end());
}

}  // namespace

TORVComponent::TORVComponent(TORVComponent* AOwner) : FOwner(AOwner) {
  if (FOwner) FOwner->FComponents.push_back(this);
}

TORVComponent::~TORVComponent() {
  FDestroying = true;
  // Those linked to this component learn that it goes; each link is cut before the call, so
  // that nothing calls back into a list being walked.
  while (!FFreeNotifies.empty()) {
    TORVComponent* other = FFreeNotifies.back();
    FFreeNotifies.pop_back();
    Erase(other->FFreeNotifies, this);
    other->Notification(this, opRemove);
  }
  while (!FComponents.empty()) {
    TORVComponent* owned = FComponents.back();
    // Deleting it takes it out of the list (RemoveComponent).
    delete owned;
  }
  if (FOwner) FOwner->RemoveComponent(this);
}

void TORVComponent::SetName(const std::string& Value) { FName = Value; }

void TORVComponent::FreeNotification(TORVComponent* AComponent) {
  if (!AComponent || AComponent == this) return;
  if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent) == FFreeNotifies.end())
    FFreeNotifies.push_back(AComponent);
  if (std::find(AComponent->FFreeNotifies.begin(), AComponent->FFreeNotifies.end(), this) ==
      AComponent->FFreeNotifies.end())
    AComponent->FFreeNotifies.push_back(this);
}

void TORVComponent::RemoveFreeNotification(TORVComponent* AComponent) {
  if (!AComponent) return;
  Erase(FFreeNotifies, AComponent);
  Erase(AComponent->FFreeNotifies, this);
}

void TORVComponent::Notification(TORVComponent* AComponent, TOperation Operation) {
  if (Operation == opRemove) RemoveFreeNotification(AComponent);
  // A copy: a receiver may free components of this owner.
  const std::vector<TORVComponent*> owned = FComponents;
  for (TORVComponent* c : owned)
    if (c != AComponent && std::find(FComponents.begin(), FComponents.end(), c) != FComponents.end())
      c->Notification(AComponent, Operation);
}

void TORVComponent::EndLoading() {
  FLoading = false;
  Loaded();
}

void TORVComponent::NotifyInserted() {
  if (FOwner) FOwner->Notification(this, opInsert);
}

void TORVComponent::RemoveComponent(TORVComponent* AComponent) {
  Erase(FComponents, AComponent);
  Notification(AComponent, opRemove);
}

}  // namespace orv
