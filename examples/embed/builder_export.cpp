// Builds a small classification tree in code with the reference host's builder (memtree) and
// exports it as a PMML document and as a tree XML document.
//
//   builder_export TREE.pmml TREE.xml
#include <cstdio>
#include <exception>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/memtree/tree_builder.h"
#include "imported/metadata/map_encoder_imp.h"
#include "imported/metadata/model_metadata_imp.h"
#include "pmml/pmml_output_adapter.h"
#include "treexml/xml_output_adapter.h"

namespace {

// An encoder from the codes 0, 1, ... to the given texts.
std::unique_ptr<mdt::MapEncoderImp> Categories(const std::vector<std::string>& texts) {
  auto encoder = std::make_unique<mdt::MapEncoderImp>();
  for (std::size_t code = 0; code < texts.size(); ++code) {
    mdt::EncodingSets sources;
    sources.Add(std::make_unique<mdt::DiscreteValues>(
        std::vector<mdt::EncodingItem>{mdt::EncodingItem(mdt::Variant(texts[code]))}));
    encoder->Add(static_cast<int>(code), std::move(sources));
  }
  return encoder;
}

// The fields: predictors age (continuous) and region (nominal), target credit (nominal).
std::unique_ptr<mdt::ModelMetadataImp> Fields() {
  auto metadata = std::make_unique<mdt::ModelMetadataImp>();
  metadata->AddPredictor(mdt::Variable("age", global::CONTINUOUS, global::NUMERIC_STORAGE));
  mdt::Variable region("region", global::NOMINAL, global::STRING_STORAGE);
  region.SetEncoder(Categories({"north", "south", "east"}));
  metadata->AddPredictor(std::move(region));
  mdt::Variable credit("credit", global::NOMINAL, global::STRING_STORAGE);
  credit.SetLabel("Credit rating");
  credit.SetEncoder(Categories({"good", "bad"}));
  metadata->SetTarget(std::move(credit));
  return metadata;
}

// One sample of a classification node: the counts of good and bad, and the predicted code.
memtree::SampleStats Counts(double good, double bad) {
  memtree::SampleStats stats;
  stats.count = good + bad;
  stats.cls = memtree::ClassStats();
  stats.cls->predicted = good >= bad ? 0 : 1;
  stats.cls->counts = {good, bad};
  return stats;
}

// A C&RT tree: age <= 40 | > 40, then region {north} | {south, east} on the younger side.
std::unique_ptr<memtree::MemTree> Tree() {
  memtree::TreeShape shape;
  shape.classification = true;
  shape.algorithmType = 0;
  shape.predictorLevels = {2, 0};  // age continuous, region nominal
  shape.numberOfCategories = 2;
  memtree::TreeBuilder builder(shape);
  builder.SetRisk(0, memtree::RiskStats{0.2, 0.04});

  const auto root = builder.AddRoot(0);
  builder.SetSample(root, 0, Counts(60, 40));
  memtree::RuleSpec byAge;
  byAge.predictor = 0;
  byAge.children = {memtree::ChildValues::Interval({std::nullopt, 40.0, false, false}),
                    memtree::ChildValues::Interval({40.0, std::nullopt, true, false})};
  byAge.statistics[0] = 8.5;
  byAge.kinds = tree::stat::kImprovement;
  builder.SetSplit(root, byAge);

  const auto young = builder.AddChild(root, 1);
  builder.SetSample(young, 0, Counts(20, 30));
  memtree::RuleSpec byRegion;
  byRegion.predictor = 1;
  byRegion.children = {memtree::ChildValues::Codes({0}), memtree::ChildValues::Codes({1, 2})};
  byRegion.statistics[0] = 3.25;
  byRegion.kinds = tree::stat::kImprovement;
  builder.SetSplit(young, byRegion);
  builder.SetSample(builder.AddChild(young, 3), 0, Counts(15, 5));
  builder.SetSample(builder.AddChild(young, 4), 0, Counts(5, 25));

  builder.SetSample(builder.AddChild(root, 2), 0, Counts(40, 10));
  return builder.Build();  // checks the whole tree; throws memtree::ModelError
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: builder_export TREE.pmml TREE.xml\n");
    return 1;
  }
  try {
    const std::unique_ptr<mdt::ModelMetadataImp> metadata = Fields();
    const std::unique_ptr<memtree::MemTree> tree = Tree();

    std::ofstream pmml(argv[1], std::ios::binary);
    TreeOut::PMMLOutputAdapter pmmlAdapter;
    pmmlAdapter.SetApplicationName("builder_export");
    pmmlAdapter.GeneratePMML(pmml, *tree, metadata.get(), tree::TRAINING_SAMPLE);

    std::ofstream xml(argv[2], std::ios::binary);
    TreeOut::XMLOutputAdapter xmlAdapter;
    xmlAdapter.GenerateXML(xml, *tree, metadata.get());

    if (!pmml.flush() || !xml.flush()) {
      std::fprintf(stderr, "builder_export: cannot write the documents\n");
      return 3;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "builder_export: %s\n", e.what());
    return 2;
  }
  return 0;
}
