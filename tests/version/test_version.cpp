#include <gtest/gtest.h>

#include <thread>

#include "version/library_version.h"

TEST(LibraryVersion, OneRecordEvenWhenFirstAskedOnTwoThreads) {
  const ArbTree::ArbVersion* seen[2] = {nullptr, nullptr};
  std::thread a([&] { seen[0] = &ArbTree::LibraryVersion(); });
  std::thread b([&] { seen[1] = &ArbTree::LibraryVersion(); });
  a.join();
  b.join();
  EXPECT_EQ(seen[0], seen[1]);
  EXPECT_EQ(seen[0], &ArbTree::LibraryVersion());
}
