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

}  // namespace

TEST(OValueSet, BoundFlagsFollowTheSetters) {
  tree::OValueSet set;
  EXPECT_FALSE(set.HasLow());
  EXPECT_FALSE(set.HasHigh());
  EXPECT_FALSE(set.IsNominal());
  EXPECT_TRUE(set.Contains(-1e300));

  set.SetLow(2.0);
  set.SetHigh(5.0);
  set.SetLowOpen(true);
  EXPECT_FALSE(set.IsHighOpen());
  EXPECT_FALSE(set.Contains(2.0));
  EXPECT_TRUE(set.Contains(5.0));
  EXPECT_FALSE(set.Contains(5.1));

  set.SetHasLow(false);  // the removed bound takes the other bound's value
  EXPECT_FALSE(set.HasLow());
  EXPECT_EQ(set.GetLow(), 5.0);
  EXPECT_TRUE(set.IsLowOpen());
  EXPECT_TRUE(set.Contains(-100.0));

  set.SetHasHigh(false);
  EXPECT_FALSE(set.HasHigh());
  EXPECT_EQ(set.GetHigh(), 5.0);

  set.SetHighOpen(true);
  set.SetEmpty();
  EXPECT_TRUE(set.HasLow());
  EXPECT_TRUE(set.HasHigh());
  EXPECT_TRUE(set.IsLowOpen());
  EXPECT_TRUE(set.IsHighOpen());  // left as it was
  EXPECT_EQ(set.GetLow(), 0.0);
  EXPECT_EQ(set.GetHigh(), 0.0);
  EXPECT_TRUE(set.IsEmpty());
  EXPECT_FALSE(set.Contains(0.0));
}

TEST(OValueSet, EmptinessAndMembershipUseTheTolerance) {
  tree::OValueSet closed = Range(true, 1.0, true, 1.0);
  EXPECT_FALSE(closed.IsEmpty());
  EXPECT_TRUE(closed.Contains(1.0 + 1e-13));
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
  for (auto& s : sets) s.SetHighOpen(true);
  std::sort(sets.begin(), sets.end(),
            [](const tree::OValueSet& a, const tree::OValueSet& b) { return a.LessThan(b); });
  EXPECT_FALSE(sets[0].HasLow());
  EXPECT_EQ(sets[0].GetHigh(), 2.0);
  EXPECT_EQ(sets[1].GetLow(), 2.0);
  EXPECT_EQ(sets[2].GetLow(), 5.0);

  EXPECT_FALSE(sets[0].LessThan(sets[0]));
  EXPECT_FALSE(sets[1].LessThan(sets[0]));
  EXPECT_TRUE(sets[0].LowEquals(Range(false, 9, false, 9)));
  EXPECT_TRUE(sets[1].LowEquals(Range(true, 2, false, 0)));
  EXPECT_FALSE(sets[1].LowEquals(sets[2]));
}
