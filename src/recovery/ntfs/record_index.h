// The folders of an NTFS listing by MFT record number: a height-balanced (AVL) search tree of
// ScanEntry pointers. The index does not own the entries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "recovery/tree.h"

namespace kavo {

class RecordIndex {
 public:
  RecordIndex() = default;
  RecordIndex(const RecordIndex&) = delete;
  RecordIndex& operator=(const RecordIndex&) = delete;

  // The member with this id, or null.
  ScanEntry* Find(uint32_t id) const;
  // Inserts `entry` under its id unless a member already has that id; returns the member.
  ScanEntry* FindOrIndex(ScanEntry* entry);
  size_t Size() const { return m_nodes.size(); }
  // Height of the tree (0 when empty), for checks of its balance.
  int Height() const;

  // Calls visit(entry) for every member in increasing id order.
  template <typename Visit>
  void VisitInOrder(Visit visit) const {
    std::vector<const Node*> stack;
    const Node* node = m_root;
    while (node != nullptr || !stack.empty()) {
      while (node != nullptr) {
        stack.push_back(node);
        node = node->left;
      }
      node = stack.back();
      stack.pop_back();
      visit(node->entry);
      node = node->right;
    }
  }

 private:
  struct Node {
    Node* parent = nullptr;
    Node* left = nullptr;
    Node* right = nullptr;
    ScanEntry* entry = nullptr;
    int8_t balance = 0;  // height of right minus height of left: -1, 0, +1
  };

  Node* RotateLeft(Node* x);
  Node* RotateRight(Node* x);
  void Replace(Node* parent, Node* old, Node* now);
  void Rebalance(Node* inserted);

  std::deque<Node> m_nodes;  // stable addresses, allocated in blocks
  Node* m_root = nullptr;
};

}  // namespace kavo
