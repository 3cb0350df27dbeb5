#pragma once
// What a process and everything it started hold in memory, from the kernel's own accounting.

#include <sys/types.h>

#include <cstddef>

struct TreeMemory {
  long residentKiB = 0;       // the resident sets of the tree, summed
  std::size_t processes = 0;  // live ones, the root included
};

// The tree under `root` as it stands now. A process that ends while it is read counts for
// nothing, and so does a zombie; a root that has already ended gives an empty tree.
TreeMemory treeMemory(pid_t root);
