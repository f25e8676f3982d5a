// Events are std::function values: an empty one is "not assigned" and is
// never called.
#pragma once

#include <functional>

namespace velmora {

template <typename... Args>
using TEvent = std::function<void(Args...)>;

using TNotifyEvent = std::function<void(void* sender)>;

}  // namespace velmora
