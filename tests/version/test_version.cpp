#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>

#include "version/arb_version.h"

TEST(LibraryVersion, OneRecordWithFixedNumbersEvenWhenFirstAskedOnTwoThreads) {
  const ArbTree::ArbVersion* seen[2] = {nullptr, nullptr};
  std::thread a([&] { seen[0] = &ArbTree::LibraryVersion(); });
  std::thread b([&] { seen[1] = &ArbTree::LibraryVersion(); });
  a.join();
  b.join();
  EXPECT_EQ(seen[0], seen[1]);
  EXPECT_EQ(seen[0], &ArbTree::LibraryVersion());

  const ArbTree::ArbVersion& v = ArbTree::LibraryVersion();
  char text[32];
  std::snprintf(text, sizeof text, "%d.%d.%d", v.GetMajor(), v.GetMinor(), v.GetPatch());
  EXPECT_STREQ(text, "1.0.1");
  EXPECT_EQ(v.GetBuild(), 6);
  EXPECT_STREQ(v.GetDateTime(), "10/21/17 22:55:56");
}

TEST(ArbVersionImp, AnswersItsOwnFieldsThroughTheBase) {
  ArbTree::ArbVersionImp imp(3, 14, 15, 92, "01/02/26 03:04:05");
  const ArbTree::ArbVersion& base = imp;
  EXPECT_EQ(base.GetMajor(), 3);
  EXPECT_EQ(base.GetMinor(), 14);
  EXPECT_EQ(base.GetPatch(), 15);
  EXPECT_EQ(base.GetBuild(), 92);
  EXPECT_EQ(std::string(base.GetDateTime()), "01/02/26 03:04:05");
}
