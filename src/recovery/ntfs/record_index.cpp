#include "recovery/ntfs/record_index.h"

#include <algorithm>
#include <utility>

namespace kavo {

ScanEntry* RecordIndex::Find(uint32_t id) const {
  const Node* node = m_root;
  while (node != nullptr) {
    if (id == node->entry->id) return node->entry;
    node = id < node->entry->id ? node->left : node->right;
  }
  return nullptr;
}

ScanEntry* RecordIndex::FindOrIndex(ScanEntry* entry) {
  const uint32_t id = entry->id;
  Node* parent = nullptr;
  Node* node = m_root;
  while (node != nullptr) {
    if (id == node->entry->id) return node->entry;
    parent = node;
    node = id < node->entry->id ? node->left : node->right;
  }
  Node& added = m_nodes.emplace_back();
  added.entry = entry;
  added.parent = parent;
  if (parent == nullptr) {
    m_root = &added;
  } else if (id < parent->entry->id) {
    parent->left = &added;
  } else {
    parent->right = &added;
  }
  Rebalance(&added);
  return entry;
}

int RecordIndex::Height() const {
  int height = 0;
  std::vector<std::pair<const Node*, int>> stack;
  if (m_root != nullptr) stack.emplace_back(m_root, 1);
  while (!stack.empty()) {
    auto [node, depth] = stack.back();
    stack.pop_back();
    height = std::max(height, depth);
    if (node->left != nullptr) stack.emplace_back(node->left, depth + 1);
    if (node->right != nullptr) stack.emplace_back(node->right, depth + 1);
  }
  return height;
}

void RecordIndex::Replace(Node* parent, Node* old, Node* now) {
  now->parent = parent;
  if (parent == nullptr) {
    m_root = now;
  } else if (parent->left == old) {
    parent->left = now;
  } else {
    parent->right = now;
  }
}

// Lifts x's right child into x's place; returns the child.
RecordIndex::Node* RecordIndex::RotateLeft(Node* x) {
  Node* z = x->right;
  Replace(x->parent, x, z);
  x->right = z->left;
  if (z->left != nullptr) z->left->parent = x;
  z->left = x;
  x->parent = z;
  return z;
}

RecordIndex::Node* RecordIndex::RotateRight(Node* x) {
  Node* z = x->left;
  Replace(x->parent, x, z);
  x->left = z->right;
  if (z->right != nullptr) z->right->parent = x;
  z->right = x;
  x->parent = z;
  return z;
}

// Walks up from a new leaf, updating balances, and rotates once where a subtree got two levels
// out of balance; after that rotation the subtree has its old height again.
void RecordIndex::Rebalance(Node* child) {
  for (Node* x = child->parent; x != nullptr; child = x, x = x->parent) {
    if (child == x->right) {
      if (x->balance < 0) {
        x->balance = 0;
        return;
      }
      if (x->balance == 0) {
        x->balance = 1;
        continue;
      }
      // x is right-heavy by two.
      if (child->balance >= 0) {
        RotateLeft(x);
        x->balance = 0;
        child->balance = 0;
      } else {
        Node* grand = child->left;
        RotateRight(child);
        RotateLeft(x);
        x->balance = grand->balance > 0 ? -1 : 0;
        child->balance = grand->balance < 0 ? 1 : 0;
        grand->balance = 0;
      }
      return;
    }
    if (x->balance > 0) {
      x->balance = 0;
      return;
    }
    if (x->balance == 0) {
      x->balance = -1;
      continue;
    }
    // x is left-heavy by two.
    if (child->balance <= 0) {
      RotateRight(x);
      x->balance = 0;
      child->balance = 0;
    } else {
      Node* grand = child->right;
      RotateLeft(child);
      RotateRight(x);
      x->balance = grand->balance < 0 ? 1 : 0;
      child->balance = grand->balance > 0 ? -1 : 0;
      grand->balance = 0;
    }
    return;
  }
}

}  // namespace kavo
