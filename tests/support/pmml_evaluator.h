// A small PMML TreeModel scorer for the tests: it judges whether an exported document routes
// records the way the tree it came from does. Not a product feature.
#pragma once

#include <map>
#include <memory>
#include <string>

namespace testing_support {

/// Field name -> value text; a field that is absent is missing.
using PmmlRecord = std::map<std::string, std::string>;

/// Scores records through the TreeModel of one PMML document with PMML's three-valued logic:
/// a SimplePredicate on a missing field is unknown (except isMissing/isNotMissing), "and" is
/// false if any part is false, "or" true if any part is true, "surrogate" takes the first part
/// that is not unknown; a Node is entered when its predicate is true, children in order.
class PmmlTreeEvaluator {
 public:
  /// A document that cannot be parsed or has no TreeModel fails the current test.
  explicit PmmlTreeEvaluator(const std::string& document);
  ~PmmlTreeEvaluator();
  PmmlTreeEvaluator(const PmmlTreeEvaluator&) = delete;
  PmmlTreeEvaluator& operator=(const PmmlTreeEvaluator&) = delete;

  /// The id of the node where the record stops: the last node entered.
  std::string LeafId(const PmmlRecord& record) const;
  /// That node's score.
  std::string Score(const PmmlRecord& record) const;
  /// That node's class probabilities: ScoreDistribution value -> the value of its "probability"
  /// Extension; a distribution without one is left out, a text that is no number fails the test.
  std::map<std::string, double> Probabilities(const PmmlRecord& record) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace testing_support
