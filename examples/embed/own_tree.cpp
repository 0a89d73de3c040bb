// A host that keeps its own tree and implements the tree:: and mdt:: interfaces for it: a
// regression tree of three nodes on two predictors, exported as PMML (through a transcoder)
// and as tree XML.
//
//   own_tree TREE.pmml TREE.xml
#include <cfloat>
#include <cstdio>
#include <exception>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "arbtree/tree_algorithm_base.h"
#include "imported/metadata/model_metadata.h"
#include "model/ovalue_set.h"
#include "pmml/pmml_output_adapter.h"
#include "treexml/xml_output_adapter.h"

namespace {

// A split "predictor <= cut" to child 0, "predictor > cut" to child 1. The library asks for
// rules and value sets as new objects and deletes them itself.
class Rule final : public tree::SplitRule {
 public:
  Rule(int predictor, double cut, double improvement)
      : predictor_(predictor), cut_(cut), improvement_(improvement) {}
  bool HasBody() const override { return true; }
  int GetPredictorIndex() const override { return predictor_; }
  int GetNumberOfChildValueSets() const override { return 2; }
  tree::ValueSet* GetChildValueSet(int child) const override {
    auto* values = new tree::OValueSet();  // unbounded; released by the library
    if (child == 0) {
      values->SetHigh(cut_);  // x <= cut
    } else {
      values->SetLow(cut_);  // x > cut
      values->SetLowOpen(true);
    }
    return values;
  }
  int GetMissingValueChild() const override { return -1; }
  double GetStatistic(int k) const override { return k == 0 ? improvement_ : 0.0; }
  uint32_t GetStatisticFlags() const override {
    return tree::stat::kImprovement | tree::stat::kEntry0;
  }

 private:
  int predictor_;
  double cut_;
  double improvement_;
};

// The regression statistics of one node.
class Stats final : public tree::RegInfo {
 public:
  Stats(double mean, double stdDev) : mean_(mean), stdDev_(stdDev) {}
  double GetMean() const override { return mean_; }
  double GetStdDeviation() const override { return stdDev_; }
  double GetPrediction() const override { return mean_; }
  int GetDistributionSize() const override { return 0; }
  double GetDistributionCount(int) const override { return 0.0; }

 private:
  double mean_;
  double stdDev_;
};

// A node owns its children and its split; ids are the host's own.
class Node final : public tree::Node {
 public:
  Node(unsigned id, double count, double mean, double stdDev)
      : id_(id), count_(count), stats_(mean, stdDev) {}
  Node* Split(std::unique_ptr<Rule> rule, std::unique_ptr<Node> low, std::unique_ptr<Node> high) {
    split_ = std::move(rule);
    low->parent_ = high->parent_ = this;
    children_.push_back(std::move(low));
    children_.push_back(std::move(high));
    return this;
  }

  const tree::Node* GetParent() const override { return parent_; }
  int GetNumberOfChildren() const override { return static_cast<int>(children_.size()); }
  const tree::Node* GetChild(int i) const override { return children_.at(i).get(); }
  int GetNumberOfSplits() const override { return split_ ? 1 : 0; }
  int GetBiggestChild() const override {
    return children_.empty() ? -1 : children_[0]->count_ >= children_[1]->count_ ? 0 : 1;
  }
  tree::SplitRule* GetSplit(int) const override { return new Rule(*split_); }
  int GetNumberOfSurrogates() const override { return 0; }
  tree::SplitRule* GetSurrogate(int) const override { return nullptr; }
  unsigned GetId() const override { return id_; }
  double GetCount(tree::DataSample) const override { return count_; }
  double GetTotalCount(tree::DataSample) const override { return count_; }
  void GetPredictorRange(int predictor, double& min, double& max) const override {
    min = predictor == 0 ? 18 : 0;  // the same ranges at every node, for brevity
    max = predictor == 0 ? 90 : 250000;
  }
  const tree::ClsInfo* GetClsInfo(tree::DataSample) const override { return nullptr; }
  const tree::RegInfo* GetRegInfo(tree::DataSample) const override { return &stats_; }

 private:
  unsigned id_;
  double count_;
  Stats stats_;
  const Node* parent_ = nullptr;
  std::unique_ptr<Rule> split_;
  std::vector<std::unique_ptr<Node>> children_;
};

// Every predictor is continuous.
class Continuous final : public tree::PredictorDescriptor {
 public:
  int GetMeasurementLevel() const override { return 2; }
};

// The algorithm settings: C&RT without priors; risk on the training sample.
class Settings final : public tree::CCartSettings,
                       public tree::PredictorInfo,
                       public tree::RiskEstimation {
 public:
  int GetAlgorithmType() const override { return 0; }
  const tree::PredictorInfo& GetPredictorInfo() const override { return *this; }
  const tree::RiskEstimation& GetRiskEstimation() const override { return *this; }
  const tree::Priors* GetPriors() const override { return nullptr; }
  const tree::PredictorDescriptor& GetPredictor(int) const override { return continuous_; }
  tree::DataSample GetDataSample() const override { return tree::TRAINING_SAMPLE; }

 private:
  Continuous continuous_;
};

// The tree's risk, handed to the library's statistics holder, which deletes it.
class Risk final : public tree::TreeStatisticsBody {
 public:
  double GetRisk() const override { return 1.75; }
  double GetRiskStdError() const override { return 0.25; }
};

// The fitted model: owns the nodes.
class Model final : public tree::TreeAlgorithmBase {
 public:
  Model()
      : root_((new Node(0, 100, 52000, 9000))
                  ->Split(std::make_unique<Rule>(0, 30, 4.5e7),
                          std::make_unique<Node>(1, 45, 41000, 6000),
                          std::make_unique<Node>(2, 55, 61000, 7500))) {}
  const tree::Node* GetRoot() const override { return root_.get(); }
  bool IsClassification() const override { return false; }
  tree::AlgSettings* CreateSettings() const override { return new Settings(); }
  ArbTree::ArbStatus ComputeTreeStatistics(tree::DataSample,
                                           tree::TreeStatistics& stats) const override {
    stats.SetBody(new Risk());
    return ArbTree::ArbStatus();
  }
  const ArbTree::ArbVersion& GetVersion() const override { return version_; }

 private:
  std::unique_ptr<Node> root_;
  ArbTree::ArbVersionImp version_{2, 3, 0, 0, "2026-01-15 09:00:00"};
};

// The fields: mdt::Variable is the metadata library's own value type; the list is the host's.
class Metadata final : public mdt::ModelMetadata {
 public:
  Metadata()
      : predictors_{mdt::Variable("age", global::CONTINUOUS, global::NUMERIC_STORAGE),
                    mdt::Variable("debt", global::CONTINUOUS, global::NUMERIC_STORAGE)},
        target_("salary", global::CONTINUOUS, global::NUMERIC_STORAGE) {
    target_.SetLabel(
        "Salary in \xE9"
        "cus");  // Latin-1 text: the transcoder below turns it into UTF-8
  }
  const mdt::Variable* GetTarget() const override { return &target_; }
  const std::vector<mdt::Variable>* GetPredictors() const override { return &predictors_; }
  const mdt::Variable* GetFrequencyWeight() const override { return nullptr; }
  const mdt::Variable* GetCaseWeight() const override { return nullptr; }
  const ArbTree::ArbVersion& GetVersion() const override { return version_; }

 private:
  std::vector<mdt::Variable> predictors_;
  mdt::Variable target_;
  ArbTree::ArbVersionImp version_{2, 3, 0, 0, "2026-01-15 09:00:00"};
};

// The host's texts are Latin-1 whatever the process locale: every byte is one character.
class Latin1ToUtf8 final : public ArbTree::Transcoder {
 public:
  int Transcode(const std::string& in, std::string& out) const override {
    out.clear();
    for (unsigned char c : in) {
      if (c < 0x80) {
        out += static_cast<char>(c);
      } else {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
      }
    }
    return 0;
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: own_tree TREE.pmml TREE.xml\n");
    return 1;
  }
  try {
    const Model model;
    const Metadata metadata;

    Latin1ToUtf8 latin1;
    TreeOut::PMMLOutputAdapter pmmlAdapter;
    pmmlAdapter.SetApplicationName("own_tree");
    pmmlAdapter.UseTranscoder(&latin1);  // not owned: it must outlive the export calls
    std::ofstream pmml(argv[1], std::ios::binary);
    pmmlAdapter.GeneratePMML(pmml, model, &metadata, tree::TRAINING_SAMPLE);

    TreeOut::XMLOutputAdapter xmlAdapter;
    std::ofstream xml(argv[2], std::ios::binary);
    xmlAdapter.GenerateXML(xml, model, &metadata);
    const ArbTree::ArbVersion& version = xmlAdapter.GetVersion();
    std::printf("written with the export library's component record %d.%d.%d\n", version.GetMajor(),
                version.GetMinor(), version.GetPatch());

    if (!pmml.flush() || !xml.flush()) {
      std::fprintf(stderr, "own_tree: cannot write the documents\n");
      return 3;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "own_tree: %s\n", e.what());
    return 2;
  }
  return 0;
}
