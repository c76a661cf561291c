#include "analysis/analyze_grid.h"

namespace analysis {

TSortedDotList* NewSortedDotList(bool isBlack) {
  auto* l = new TSortedDotList;
  l->isBlack = isBlack;
  return l;
}

void FreeSortedDotList(TSortedDotList* root) {
  while (root) {
    TSortedDotList* next = root->next;
    FreeDotListSimple(root->dots);
    delete root;
    root = next;
  }
}

}  // namespace analysis
