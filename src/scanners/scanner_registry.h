// The scanners selected for a scan, keyed by their signatures.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "scanners/base_scanner.h"

namespace kavo {

// Order of two signatures: compared over the length of the shorter one, the one with the larger
// byte at the first difference comes first. Signatures of which one is a prefix of the other
// (equal ones included) are the same key. -1: `a` first, 1: `b` first, 0: the same key.
int CompareSignatures(const ScannerSignature& a, const ScannerSignature& b);

// Owns its scanners. A scan offers each sector to them in registry order.
class ScannerRegistry {
 public:
  ScannerRegistry() = default;
  ScannerRegistry(ScannerRegistry&&) = default;
  ScannerRegistry& operator=(ScannerRegistry&&) = default;

  // Inserts `scanner` under its signature and binds it to `source`. Refused (false, and the
  // scanner destroyed) when it has no signature or when a scanner is already registered under
  // the same key: the first one inserted keeps it.
  bool Insert(std::unique_ptr<CBaseScanner> scanner, CDisk* source);

  // Binds every scanner to `source`, for a scan of a source other than the one they were
  // registered with.
  void Bind(CDisk* source);

  size_t Size() const { return m_scanners.size(); }
  bool Empty() const { return m_scanners.empty(); }
  // The scanners in registry order.
  CBaseScanner* At(size_t i) const { return m_scanners[i].get(); }

 private:
  std::vector<std::unique_ptr<CBaseScanner>> m_scanners;  // kept in registry order
};

}  // namespace kavo
