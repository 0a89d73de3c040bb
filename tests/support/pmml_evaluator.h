// A small PMML TreeModel scorer for the tests: it judges whether an exported document routes
// records the way the tree it came from does. Not a product feature.
#pragma once

#include <map>
#include <memory>
#include <string>

namespace testing_support {

/// Field name -> value text; a field that is absent is missing.
using PmmlRecord = std::map<std::string, std::string>;

/// What the evaluator reads of a document.
enum class PmmlMode {
  /// The format's own reading: every value valid, a record that no child takes stops at the node.
  kFormat,
  /// Only standard PMML 4.3: DataDictionary and MiningSchema prepare the values (a listed missing
  /// value is missing; an invalid one is missing under asMissing, else gives no prediction), and
  /// TreeModel's missingValueStrategy (none or lastPrediction) and noTrueChildStrategy apply.
  kStandard,
};

/// Scores records with PMML's three-valued logic: a SimplePredicate on a missing field is unknown
/// (except isMissing/isNotMissing); "and", "or" and "surrogate" as the standard defines them.
class PmmlTreeEvaluator {
 public:
  /// A document that cannot be parsed or has no TreeModel fails the current test.
  explicit PmmlTreeEvaluator(const std::string& document, PmmlMode mode = PmmlMode::kFormat);
  ~PmmlTreeEvaluator();

  /// Text of LeafId and Score when the document gives no prediction for a record.
  static constexpr const char* kNoPrediction = "<no prediction>";

  /// The id of the node where the record stops.
  std::string LeafId(const PmmlRecord& record) const;
  /// That node's score.
  std::string Score(const PmmlRecord& record) const;
  /// That node's class probabilities: ScoreDistribution value -> its probability, or its
  /// recordCount over the Node's; a text that is no number fails the test.
  std::map<std::string, double> Probabilities(const PmmlRecord& record) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace testing_support
