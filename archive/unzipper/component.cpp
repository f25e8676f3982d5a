#include "archive/unzipper/component.h"

#include <algorithm>

namespace velmora {

TComponent::~TComponent() {
  // Copy first: a receiver may call RemoveFreeNotification on us.
  const std::vector<TComponent*> receivers = free_notifies_;
  for (TComponent* receiver : receivers) {
    receiver->RemoveFreeNotification(this);
    receiver->Notification(this, opRemove);
  }
}

void TComponent::FreeNotification(TComponent* other) {
  if (other == nullptr || other == this) return;
  if (std::find(free_notifies_.begin(), free_notifies_.end(), other) == free_notifies_.end()) {
    free_notifies_.push_back(other);
    other->FreeNotification(this);  // both sides hear of the other's end
  }
}

void TComponent::RemoveFreeNotification(TComponent* other) {
  free_notifies_.erase(std::remove(free_notifies_.begin(), free_notifies_.end(), other),
                       free_notifies_.end());
}

}  // namespace velmora
