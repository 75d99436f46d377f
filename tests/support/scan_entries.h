// Looking up what a file-system reader listed, for the tests of the readers.
#pragma once

#include <string_view>

#include "recovery/tree.h"

namespace kavo::test {

// The entry of `folder` named `name`, or null.
inline ScanEntry* Child(const ScanEntry* folder, std::u16string_view name) {
  for (ScanEntry* c = folder->firstChild; c != nullptr; c = c->nextSibling) {
    if (c->name == name) return c;
  }
  return nullptr;
}

}  // namespace kavo::test
