// Where long routines send their progress and navigation messages: the Windows shell forwards
// them to a window with SendMessageW, kavo-cli draws a progress bar, tests record them.
#pragma once

#include <cstdint>

namespace kavo {

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  // Synchronous: returns once the receiver has handled the message.
  virtual intptr_t Send(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
};

// Drops every message; for routines run without anyone watching.
class NullSink final : public MessageSink {
 public:
  intptr_t Send(uint32_t, uintptr_t, intptr_t) override { return 0; }
};

}  // namespace kavo
