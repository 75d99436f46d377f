// The check of an EWF image against the MD5 stored in it.
#pragma once

#include <string>

#include "disk/container.h"

namespace kavo {

struct EwfVerification {
  bool matches = false;
  std::string stored;    // hex, empty when the image stores no MD5
  std::string computed;  // hex of the disk's bytes, empty when they could not all be read
  std::string error;     // why there is no verdict: not an EWF disk, no stored MD5, a read error
};

// Reads the whole virtual disk, computes its MD5 and compares it with the one the image stores.
EwfVerification VerifyEwfMd5(VirtualDisk& disk);

}  // namespace kavo
