// The component base the unzipper derives from: a named object with an
// owner, told when a component it refers to goes away, and told when its
// stored properties have been read from a window layout. Only what the
// archive components need of a toolkit's component model.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmora {

enum TOperation : uint8_t { opInsert = 0, opRemove = 1 };

// Bits of TComponent::ComponentState.
using TComponentState = uint8_t;
constexpr TComponentState csLoading = 1;    // properties are being read from a layout
constexpr TComponentState csDesigning = 2;  // edited in a layout designer

class TComponent {
 public:
  explicit TComponent(TComponent* owner = nullptr) : owner_(owner) {}
  // Tells every component that asked for it (FreeNotification) that this
  // one goes away, so none keeps a dangling reference.
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return owner_; }
  std::string Name;
  TComponentState ComponentState = 0;

  // After the stored properties were read from a layout.
  virtual void Loaded() { ComponentState &= static_cast<TComponentState>(~csLoading); }
  // A component this one refers to is inserted or removed.
  virtual void Notification(TComponent* /*component*/, TOperation /*operation*/) {}

  // Asks for a Notification (this, opRemove) to reach other when this
  // component is destroyed; undone by RemoveFreeNotification.
  void FreeNotification(TComponent* other);
  void RemoveFreeNotification(TComponent* other);

 private:
  TComponent* owner_;
  std::vector<TComponent*> free_notifies_;
};

}  // namespace velmora
