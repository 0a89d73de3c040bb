// The interval value set's quirks that the exporters rely on: removed bounds, emptiness within
// the tolerance, and the order of intervals.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "model/ovalue_set.h"

namespace {

tree::OValueSet Range(bool hasLow, double low, bool hasHigh, double high) {
  tree::OValueSet set;
  if (hasLow) set.SetLow(low);
  if (hasHigh) set.SetHigh(high);
  return set;
}

TEST(OValueSet, RemovedBoundsAndEmptySets) {
  tree::OValueSet set = Range(true, 2.0, true, 5.0);
  EXPECT_TRUE(tree::OValueSet().Contains(-1e300));
  set.SetLowOpen(true);
  EXPECT_FALSE(set.Contains(2.0));
  EXPECT_TRUE(set.Contains(5.0));
  set.SetHasLow(false);  // the removed bound takes the other bound's value
  EXPECT_EQ(set.GetLow(), 5.0);
  EXPECT_TRUE(set.Contains(-100.0));
  set.SetHighOpen(true);
  set.SetEmpty();  // both bounds 0, both open: the open flags stay as they were
  EXPECT_TRUE(set.HasLow() && set.HasHigh() && set.IsLowOpen() && set.IsHighOpen());
  EXPECT_EQ(set.GetLow() + set.GetHigh(), 0.0);
  EXPECT_TRUE(set.IsEmpty());
  EXPECT_FALSE(set.Contains(0.0));

  tree::OValueSet closed = Range(true, 1.0, true, 1.0);
  EXPECT_FALSE(closed.IsEmpty());
  EXPECT_TRUE(closed.Contains(1.0 + 1e-13));  // within the tolerance
  closed.SetHighOpen(true);
  EXPECT_TRUE(closed.IsEmpty());
  tree::OValueSet nearly = Range(true, 1.0, true, 1.0 + 1e-13);
  nearly.SetLowOpen(true);
  EXPECT_TRUE(nearly.IsEmpty());
  EXPECT_FALSE(Range(false, 0, true, 0).IsEmpty());
}

TEST(OValueSet, SortsByLowerBoundWithUnboundedFirst) {
  std::vector<tree::OValueSet> sets{Range(true, 5, true, 7), Range(false, 0, true, 2),
                                    Range(true, 2, true, 5)};
  std::sort(sets.begin(), sets.end(),
            [](const tree::OValueSet& a, const tree::OValueSet& b) { return a.LessThan(b); });
  EXPECT_FALSE(sets[0].HasLow());
  EXPECT_EQ(sets[1].GetLow(), 2.0);
  EXPECT_EQ(sets[2].GetLow(), 5.0);
  EXPECT_FALSE(sets[0].LessThan(sets[0]));
  EXPECT_TRUE(sets[0].LowEquals(Range(false, 9, false, 9)));
  EXPECT_TRUE(sets[1].LowEquals(Range(true, 2, false, 0)));
  EXPECT_FALSE(sets[1].LowEquals(sets[2]));
}

}  // namespace
