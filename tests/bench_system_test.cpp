// The benchmark's view of processes, on the system these tests run on: memory in the right
// units, a child that inherits nothing but its standard streams, a process tree without its
// zombies.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "bench/child.hpp"
#include "bench/platform.hpp"
#include "bench/process_tree.hpp"

namespace {

constexpr long kMiB = 1024;  // in KiB

Child shell(const std::string& script) { return spawnChild({"/bin/sh", "-c", script}); }

std::string firstLine(Child& child) {
  pump(child, "", 1, after(10));
  return takeLine(child);
}

}  // namespace

TEST(BenchSystem, MemoryIsCountedInKiBAndThePeakOutlivesIt) {
  constexpr std::size_t bytes = 64u << 20;
  const Memory before = processMemory(getpid());
  // Mapped and unmapped directly, so that no allocator keeps the pages once they are freed.
  void* block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANON, -1, 0);
  ASSERT_NE(block, MAP_FAILED);
  std::memset(block, 'x', bytes);
  const Memory touched = processMemory(getpid());
  ASSERT_EQ(munmap(block, bytes), 0);
  const Memory freed = processMemory(getpid());
  EXPECT_GE(touched.residentKiB - before.residentKiB, 60 * kMiB);
  EXPECT_LE(touched.residentKiB - before.residentKiB, 72 * kMiB);
  EXPECT_GE(touched.peakKiB - before.peakKiB, 60 * kMiB);
  EXPECT_LE(touched.peakKiB - before.peakKiB, 72 * kMiB);
  EXPECT_LE(freed.residentKiB, touched.residentKiB - 60 * kMiB);
  EXPECT_GE(freed.peakKiB, before.peakKiB + 60 * kMiB);
}

TEST(BenchSystem, ChildKeepsItsStandardStreamsAndNothingElse) {
  // Descriptor 9 is open here without close-on-exec, as a library's socket may be.
  ASSERT_EQ(fcntl(9, F_GETFD), -1) << "descriptor 9 is taken before the test";
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ASSERT_EQ(dup2(fds[1], 9), 9);
  Child child = shell("true >&2 && printf 'stderr '; { true >&9; } 2>/dev/null && printf 'leaked '; echo end");
  close(9);
  close(fds[0]);
  close(fds[1]);
  EXPECT_EQ(firstLine(child), "stderr end");
}

TEST(BenchSystem, TreeHoldsEveryLiveProcessAndTheirMemory) {
  Child child = shell("sleep 30 & sleep 30 & echo ready; wait");
  ASSERT_EQ(firstLine(child), "ready");
  EXPECT_EQ(childrenOf(child.pid).size(), 2u);
  const TreeMemory tree = treeMemory(child.pid);
  EXPECT_EQ(tree.processes, 3u);
  EXPECT_GT(tree.residentKiB, processMemory(child.pid).residentKiB);
}

TEST(BenchSystem, ZombieCountsForNothing) {
  // The short sleep ends and stays a zombie: the long one that replaces its parent never waits
  // for it.
  Child child = shell("sleep 0.1 & echo ready; exec sleep 30");
  ASSERT_EQ(firstLine(child), "ready");
  TreeMemory tree = treeMemory(child.pid);
  for (int i = 0; i < 500 && tree.processes != 1; ++i) {
    usleep(10000);
    tree = treeMemory(child.pid);
  }
  EXPECT_EQ(tree.processes, 1u);
}
