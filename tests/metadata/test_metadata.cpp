#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "imported/metadata/identity_encoder_imp.h"
#include "imported/metadata/map_encoder_imp.h"
#include "imported/metadata/missing_values_imp.h"
#include "imported/metadata/variable.h"

namespace {

mdt::EncodingSets Texts(std::vector<std::string> texts) {
  std::vector<mdt::EncodingItem> items;
  for (auto& text : texts) items.emplace_back(mdt::Variant(std::move(text)));
  mdt::EncodingSets sets;
  sets.Add(std::make_unique<mdt::DiscreteValues>(std::move(items)));
  return sets;
}

std::vector<std::string> TextsOf(const mdt::EncodingSets& sets) {
  std::vector<std::string> out;
  for (const mdt::Variant& value : sets.GetAllValues())
    out.emplace_back(static_cast<const char*>(value));
  return out;
}

TEST(MapEncoder, DecodesKnownCodesAndGivesNothingForOthers) {
  mdt::MapEncoderImp encoder;
  EXPECT_TRUE(encoder.Add(2, Texts({"high", "HIGH"})));
  EXPECT_TRUE(encoder.Add(0, Texts({"low"})));
  EXPECT_TRUE(encoder.Add(1, Texts({"mid"})));
  EXPECT_FALSE(encoder.Add(0, Texts({"again"})));

  EXPECT_EQ(encoder.EncodedValues(), (std::vector<int>{0, 1, 2}));  // added 2, 0, 1
  EXPECT_EQ(TextsOf(encoder.Decode(2.0)), (std::vector<std::string>{"high", "HIGH"}));
  EXPECT_EQ(TextsOf(encoder.Decode(0.0)), (std::vector<std::string>{"low"}));
  EXPECT_TRUE(encoder.Decode(7.0).GetEncodingSetList().empty());
  EXPECT_TRUE(encoder.Decode(0.5).GetEncodingSetList().empty());
  EXPECT_TRUE(encoder.Decode(1e300).GetEncodingSetList().empty());
}

TEST(IdentityEncoder, DecodesEveryCodeToItsOwnNumber) {
  auto missing = std::make_unique<mdt::MissingValuesImp>();
  missing->Add(std::make_unique<mdt::DiscreteValues>(
      std::vector<mdt::EncodingItem>{mdt::EncodingItem(mdt::Variant(99.0))}));
  mdt::IdentityEncoderImp encoder(std::move(missing));
  std::vector<mdt::Variant> values = encoder.Decode(3.5).GetAllValues();
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0].GetType(), mdt::Variant::NUMBER);
  EXPECT_STREQ(static_cast<const char*>(values[0]), "3.5");
}

TEST(Variable, ValueLabelsMatchTypeAndValue) {
  mdt::Variable field("grade", global::ORDINAL, global::NUMERIC_STORAGE);
  field.SetValueLabel(mdt::Variant(1.0), "first");
  field.SetValueLabel(mdt::Variant(std::string("2")), "second as text");
  field.SetValueLabel(mdt::Variant(1.0), "one");

  EXPECT_EQ(field.GetValueLabel(mdt::Variant(1.0)), "one");
  EXPECT_EQ(field.GetValueLabel(mdt::Variant(std::string("1"))), "");
  EXPECT_EQ(field.GetValueLabel(mdt::Variant(2.0)), "");
  EXPECT_EQ(field.GetValueLabel(mdt::Variant(std::string("2"))), "second as text");
  EXPECT_EQ(field.GetValueLabel(mdt::Variant()), "");
  ASSERT_EQ(field.GetValueLabels().size(), 2u);
  EXPECT_EQ(field.GetValueLabels()[0].second, "one");
}

}  // namespace
