#pragma once
// The small component model the access components stand on: an owner that frees what it owns,
// a name, and notifications when components come and go. The database and session components
// find each other through it (a session gives its generated name to the components placed
// beside it; a database leaves a session that goes away).
//
// Ownership: a component made with an owner is freed by that owner when the owner goes,
// unless it was deleted before (deleting it takes it out of its owner's list). Such a
// component is made with new and never held by a smart pointer. A component without an owner
// belongs to whoever made it.
#include <cstdint>
#include <string>
#include <vector>

namespace orv {

enum TOperation : uint8_t { opInsert, opRemove };

class TORVComponent {
 public:
  explicit TORVComponent(TORVComponent* AOwner);
  // Tells the components that asked for it (FreeNotification) and the owner's components that
  // this one goes, frees the components it owns (last first) and leaves its owner.
  virtual ~TORVComponent();
  TORVComponent(const TORVComponent&) = delete;
  TORVComponent& operator=(const TORVComponent&) = delete;

  TORVComponent* Owner() const { return FOwner; }
  const std::string& Name() const { return FName; }
  virtual void SetName(const std::string& Value);

  int32_t ComponentCount() const { return static_cast<int32_t>(FComponents.size()); }
  TORVComponent* Components(int32_t Index) const { return FComponents.at(static_cast<size_t>(Index)); }

  // AComponent is told (opRemove) when this component goes; the two are linked both ways, so
  // whichever goes first unlinks the other.
  void FreeNotification(TORVComponent* AComponent);
  void RemoveFreeNotification(TORVComponent* AComponent);

  // Called on an owner for what happens to its components (and passed on to all of them),
  // and on the components that asked for a free notification. A component overriding it calls
  // this base first.
  virtual void Notification(TORVComponent* AComponent, TOperation Operation);

  // Loading: the state while a component's properties are set from a stored description;
  // some setters only remember their value then, and Loaded applies them.
  bool Loading() const { return FLoading; }
  void BeginLoading() { FLoading = true; }
  // Ends loading and runs Loaded.
  void EndLoading();
  bool Destroying() const { return FDestroying; }
  // Design state never occurs in this program: there is no form designer.
  bool Designing() const { return false; }

 protected:
  // A component announces itself to its owner's components at the end of its own constructor,
  // once it is whole, so that the receivers can tell what it is.
  void NotifyInserted();
  virtual void Loaded() {}
  // Set first thing by the destructors of components whose clean-up asks for it.
  void MarkDestroying() { FDestroying = true; }

 private:
  void RemoveComponent(TORVComponent* AComponent);

  TORVComponent* FOwner;
  std::string FName;
  std::vector<TORVComponent*> FComponents;     // owned
  std::vector<TORVComponent*> FFreeNotifies;   // borrowed, linked both ways
  bool FLoading = false;
  bool FDestroying = false;
};

}  // namespace orv
