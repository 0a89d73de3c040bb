#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "host/metadata/identity_encoder_imp.h"
#include "host/metadata/map_encoder_imp.h"
#include "host/metadata/missing_values_imp.h"
#include "host/metadata/model_metadata_imp.h"
#include "host/metadata/variable_imp.h"

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
  EXPECT_EQ(encoder.Size(), 3u);
  EXPECT_EQ(encoder.GetMissingValues(), nullptr);
}

TEST(MapEncoder, CodeMayStandForIntervalsAndValues) {
  mdt::EncodingSets sources = Texts({"none"});
  sources.Add(std::make_unique<mdt::Interval>(mdt::EncodingItem(mdt::Variant(10.0), true),
                                              mdt::EncodingItem(mdt::Variant(20.0), false)));
  mdt::MapEncoderImp encoder;
  encoder.Add(0, std::move(sources));
  mdt::EncodingSets decoded = encoder.Decode(0.0);
  ASSERT_EQ(decoded.GetEncodingSetList().size(), 2u);
  std::vector<mdt::Interval> intervals = decoded.GetAllIntervals();
  ASSERT_EQ(intervals.size(), 1u);
  EXPECT_EQ(static_cast<double>(intervals[0].GetLeftEnd().GetValue()), 10.0);
  EXPECT_TRUE(intervals[0].GetLeftEnd().IsInclusive());
  EXPECT_FALSE(intervals[0].GetRightEnd().IsInclusive());
}

TEST(MissingValues, KeepValuesAndRangesInTheirOrder) {
  auto missing = std::make_unique<mdt::MissingValuesImp>();
  missing->Add(std::make_unique<mdt::Interval>(mdt::EncodingItem(mdt::Variant(990.0)),
                                               mdt::EncodingItem(mdt::Variant(999.0))));
  missing->Add(std::make_unique<mdt::DiscreteValues>(std::vector<mdt::EncodingItem>{
      mdt::EncodingItem(mdt::Variant(-1.0)), mdt::EncodingItem(mdt::Variant())}));
  const mdt::MissingValuesImp* view = missing.get();
  mdt::MapEncoderImp encoder;
  encoder.SetMissingValues(std::move(missing));
  ASSERT_EQ(encoder.GetMissingValues(), view);

  const mdt::EncodingSets& sets = view->GetEncodingSets();
  ASSERT_EQ(sets.GetEncodingSetList().size(), 2u);
  EXPECT_NE(dynamic_cast<const mdt::Interval*>(sets.GetEncodingSetList()[0]), nullptr);
  std::vector<mdt::Variant> values = sets.GetAllValues();
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(static_cast<double>(values[0]), -1.0);
  EXPECT_EQ(values[1].GetType(), mdt::Variant::NONE);
  EXPECT_EQ(static_cast<double>(sets.GetAllIntervals()[0].GetRightEnd().GetValue()), 999.0);
}

TEST(IdentityEncoder, DecodesEveryCodeToItsNumberAndCarriesMissingValues) {
  auto missing = std::make_unique<mdt::MissingValuesImp>();
  missing->Add(std::make_unique<mdt::DiscreteValues>(
      std::vector<mdt::EncodingItem>{mdt::EncodingItem(mdt::Variant(99.0))}));
  mdt::IdentityEncoderImp encoder(std::move(missing));
  mdt::EncodingSets decoded = encoder.Decode(3.5);
  ASSERT_EQ(decoded.GetEncodingSetList().size(), 1u);
  ASSERT_NE(dynamic_cast<const mdt::DiscreteValues*>(decoded.GetEncodingSetList()[0]), nullptr);
  std::vector<mdt::Variant> values = decoded.GetAllValues();
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0].GetType(), mdt::Variant::NUMBER);
  EXPECT_STREQ(static_cast<const char*>(values[0]), "3.5");
  ASSERT_NE(encoder.GetMissingValues(), nullptr);
  EXPECT_EQ(encoder.GetMissingValues()->GetEncodingSets().GetAllValues().size(), 1u);
}

TEST(Variable, ValueLabelsMatchTypeAndValue) {
  mdt::VariableImp field("grade", global::ORDINAL, global::NUMERIC_STORAGE);
  EXPECT_EQ(field.GetName(), "grade");
  EXPECT_EQ(field.GetLabel(), "");
  EXPECT_EQ(field.GetEncoding(), nullptr);
  EXPECT_FALSE(field.IsDate());
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

  field.SetLabel("School grade");
  field.SetDate(true);
  auto encoder = std::make_unique<mdt::MapEncoderImp>();
  const mdt::Encoder* view = encoder.get();
  field.SetEncoder(std::move(encoder));
  EXPECT_EQ(field.GetLabel(), "School grade");
  EXPECT_TRUE(field.IsDate());
  EXPECT_EQ(field.GetEncoding(), view);
  EXPECT_NE(dynamic_cast<const mdt::MapEncoder*>(field.GetEncoding()), nullptr);
}

TEST(ModelMetadata, HoldsRolesAndPredictorOrder) {
  mdt::ModelMetadataImp metadata;
  EXPECT_EQ(metadata.GetTarget(), nullptr);
  EXPECT_EQ(metadata.GetFrequencyWeight(), nullptr);
  EXPECT_EQ(metadata.GetCaseWeight(), nullptr);
  EXPECT_TRUE(metadata.GetPredictors()->empty());
  EXPECT_EQ(metadata.GetVersion().GetMajor(), 1);
  EXPECT_STREQ(metadata.GetVersion().GetDateTime(), mdt::MetadataLibraryVersion().GetDateTime());

  for (const char* name : {"b", "a", "c"}) {
    metadata.AddPredictor(
        std::make_unique<mdt::VariableImp>(name, global::CONTINUOUS, global::NUMERIC_STORAGE));
  }
  metadata.SetTarget(
      std::make_unique<mdt::VariableImp>("y", global::NOMINAL, global::STRING_STORAGE));
  metadata.SetFrequencyWeight(
      std::make_unique<mdt::VariableImp>("w", global::CONTINUOUS, global::NUMERIC_STORAGE));
  metadata.SetVersion(ArbTree::ArbVersionImp(3, 4, 5, 6, "then"));

  const std::vector<const mdt::Variable*>& predictors = *metadata.GetPredictors();
  ASSERT_EQ(predictors.size(), 3u);
  EXPECT_EQ(predictors[0]->GetName(), "b");
  EXPECT_EQ(predictors[2]->GetName(), "c");
  EXPECT_EQ(predictors[1], &metadata.GetPredictorImp(1));
  EXPECT_EQ(metadata.GetTarget()->GetName(), "y");
  EXPECT_EQ(metadata.GetFrequencyWeight()->GetName(), "w");
  EXPECT_EQ(metadata.GetCaseWeight(), nullptr);
  EXPECT_EQ(metadata.GetVersion().GetBuild(), 6);
  EXPECT_STREQ(metadata.GetVersion().GetDateTime(), "then");
}

}  // namespace
