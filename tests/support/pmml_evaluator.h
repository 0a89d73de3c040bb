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
  /// The format's own reading: every value valid, a record that no child takes stops at the
  /// node.
  kFormat,
  /// Only what the PMML 4.3 standard defines; Extensions and anything not in the standard are
  /// ignored. Field values are prepared by MiningSchema and DataDictionary: a value listed as
  /// missing is missing, a value that is not valid (not among a categorical or ordinal field's
  /// valid Values, or not a number for a numeric field) is treated by the MiningField's
  /// invalidValueTreatment (returnInvalid, the default, gives no prediction; asMissing; asIs).
  /// TreeModel's missingValueStrategy applies when a Node's predicate is unknown ("none", the
  /// default, takes it as false; lastPrediction stops at the current node; the others fail the
  /// test) and noTrueChildStrategy when no child is true (returnNullPrediction, the default, or
  /// returnLastPrediction).
  kStandard,
};

/// Scores records through the TreeModel of one PMML document with PMML's three-valued logic:
/// a SimplePredicate on a missing field is unknown (except isMissing/isNotMissing), "and" is
/// false if any part is false, "or" true if any part is true, "surrogate" takes the first part
/// that is not unknown ("xor" is not scored); a Node is entered when its predicate is true,
/// children in order.
class PmmlTreeEvaluator {
 public:
  /// A document that cannot be parsed or has no TreeModel fails the current test.
  explicit PmmlTreeEvaluator(const std::string& document, PmmlMode mode = PmmlMode::kFormat);
  ~PmmlTreeEvaluator();
  PmmlTreeEvaluator(const PmmlTreeEvaluator&) = delete;
  PmmlTreeEvaluator& operator=(const PmmlTreeEvaluator&) = delete;

  /// Text of LeafId and Score when the document gives no prediction for a record.
  static constexpr const char* kNoPrediction = "<no prediction>";

  /// The id of the node where the record stops: the last node entered.
  std::string LeafId(const PmmlRecord& record) const;
  /// That node's score.
  std::string Score(const PmmlRecord& record) const;
  /// That node's class probabilities as the standard defines them: ScoreDistribution value ->
  /// its probability, or its recordCount over the Node's; a text that is no number fails the test.
  std::map<std::string, double> Probabilities(const PmmlRecord& record) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace testing_support
