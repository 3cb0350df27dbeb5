#include "process_tree.hpp"

#include <exception>

#include "platform.hpp"

namespace {

void add(pid_t pid, TreeMemory& tree) {
  try {
    tree.residentKiB += processMemory(pid).residentKiB;
    ++tree.processes;
  } catch (const std::exception&) {
    return;  // gone, or a zombie, which holds no memory any more
  }
  for (pid_t child : childrenOf(pid)) add(child, tree);
}

}  // namespace

TreeMemory treeMemory(pid_t root) {
  TreeMemory tree;
  add(root, tree);
  return tree;
}
