// A message sink that keeps every message sent to it, for tests of the routines that report
// progress; it can also act on a given UM_PROGRESS, to stop a run part way.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "base/message_sink.h"
#include "base/messages.h"

namespace kavo::test {

class RecordingSink final : public MessageSink {
 public:
  struct Message {
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
  };

  intptr_t Send(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
    messages.push_back({message, wParam, lParam});
    if (message == UM_PROGRESS && onProgress) onProgress(Count(UM_PROGRESS));
    return 0;
  }

  // How many times `message` was sent.
  size_t Count(uint32_t message) const {
    return static_cast<size_t>(std::count_if(
        messages.begin(), messages.end(), [&](const Message& m) { return m.message == message; }));
  }

  std::vector<Message> messages;
  // Run on every UM_PROGRESS with the number of them sent so far.
  std::function<void(size_t progressCount)> onProgress;
};

}  // namespace kavo::test
