#include "scanners/scanner_registry.h"

#include <algorithm>

namespace kavo {

int CompareSignatures(const ScannerSignature& a, const ScannerSignature& b) {
  const size_t n = std::min(a.Length(), b.Length());
  for (size_t i = 0; i < n; ++i) {
    if (a.Bytes()[i] != b.Bytes()[i]) return a.Bytes()[i] > b.Bytes()[i] ? -1 : 1;
  }
  return 0;
}

bool ScannerRegistry::Insert(std::unique_ptr<CBaseScanner> scanner, CDisk* source) {
  if (!scanner || !scanner->m_pSignature || scanner->m_pSignature->Length() == 0) return false;
  // The "same key" relation is not transitive, so every key is checked, not only the neighbours
  // of the insertion point.
  const ScannerSignature& key = *scanner->m_pSignature;
  auto place = m_scanners.end();
  for (auto it = m_scanners.begin(); it != m_scanners.end(); ++it) {
    const int order = CompareSignatures(key, *(*it)->m_pSignature);
    if (order == 0) return false;
    if (order < 0 && place == m_scanners.end()) place = it;
  }
  scanner->m_pDisk = source;
  m_scanners.insert(place, std::move(scanner));
  return true;
}

void ScannerRegistry::Bind(CDisk* source) {
  for (auto& scanner : m_scanners) scanner->m_pDisk = source;
}

}  // namespace kavo
