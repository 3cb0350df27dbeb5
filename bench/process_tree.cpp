#include "process_tree.hpp"

#include <filesystem>
#include <fstream>
#include <string>

#include "child.hpp"

namespace {

namespace fs = std::filesystem;

void add(pid_t pid, TreeMemory& tree) {
  try {
    tree.residentKiB += procStatusKiB(pid, "VmRSS");
    ++tree.processes;
  } catch (const std::exception&) {
    return;  // gone, or a zombie, which holds no memory any more
  }
  // Each thread lists the children it forked itself, so every task must be read.
  const fs::path tasks = "/proc/" + std::to_string(pid) + "/task";
  std::error_code error;
  for (fs::directory_iterator it(tasks, error), end; !error && it != end; it.increment(error)) {
    std::ifstream children(it->path() / "children");
    for (pid_t child; children >> child;) add(child, tree);
  }
}

}  // namespace

TreeMemory treeMemory(pid_t root) {
  TreeMemory tree;
  add(root, tree);
  return tree;
}
