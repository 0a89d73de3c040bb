// Export speed on generated trees: GeneratePMML end to end, and the writer alone.
#include <benchmark/benchmark.h>

#include <memory>
#include <sstream>
#include <string>

#include "host/importance/predictor_rank.h"
#include "host/memtree/model_file.h"
#include "pmml/pmml_output_adapter.h"
#include "xmlu/xml_item.h"

namespace {

// A complete binary regression tree with n nodes (n odd); node i splits x at i.
std::string Model(int n) {
  std::string text =
      "{\"format\": \"treexport-model\", \"version\": 1, \"function\": \"regression\", "
      "\"algorithm\": 0, \"risk\": [{\"sample\": 0, \"value\": 1, \"stdError\": 0.1}], "
      "\"fields\": [{\"name\": \"x\", \"level\": \"continuous\", \"storage\": \"numeric\"}, "
      "{\"name\": \"y\", \"level\": \"continuous\", \"storage\": \"numeric\"}], "
      "\"predictors\": [\"x\"], \"target\": \"y\", \"nodes\": [\n";
  for (int i = 0; i < n; ++i) {
    const std::string id = std::to_string(i);
    text += i ? ",\n" : "";
    text += "{\"id\": " + id + ", \"samples\": [{\"count\": 10, \"regression\": {\"mean\": " + id +
            ".5, \"stdDev\": 1}}]";
    if (2 * i + 2 < n) {
      text += ", \"children\": [" + std::to_string(2 * i + 1) + ", " + std::to_string(2 * i + 2) +
              "], \"split\": {\"predictor\": \"x\", \"children\": [{\"high\": " + id +
              "}, {\"low\": " + id +
              ", \"lowOpen\": true}], \"statistics\": [1.25], "
              "\"kinds\": [\"improvement\"]}";
    }
    text += "}";
  }
  return text + "]}\n";
}

void GeneratePmml(benchmark::State& state) {
  TreeOut::InstallPredictorRank();
  const int nodes = static_cast<int>(state.range(0));
  memtree::Model model = memtree::ParseModel(Model(nodes), "bench.json");
  std::size_t bytes = 0;
  for (auto _ : state) {
    TreeOut::PMMLOutputAdapter adapter;
    std::ostringstream out;
    adapter.GeneratePMML(out, *model.tree, model.metadata.get(), tree::TRAINING_SAMPLE);
    bytes = out.str().size();
    benchmark::DoNotOptimize(bytes);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  state.counters["nodes/s"] =
      benchmark::Counter(static_cast<double>(nodes), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(GeneratePmml)->Arg(10001)->Arg(100001)->Unit(benchmark::kMillisecond);

// Serialising a prepared item tree: a wide, shallow document of small attribute elements.
void WriteItemTree(benchmark::State& state) {
  std::unique_ptr<xmlu::XMLElement> root(xmlu::NewElement("Root"));
  for (int i = 0; i < state.range(0); ++i) {
    xmlu::XMLElement* node = xmlu::NewElement("Node");
    node->AddAttribute("score", 1.5 + i);
    node->AddAttribute("name", "a & b < c");
    xmlu::XMLElement* child = xmlu::NewElement("SimplePredicate");
    child->AddAttribute("field", "x");
    child->AddAttribute("operator", "lessOrEqual");
    node->AddChild(child);
    root->AddChild(node);
  }
  std::size_t bytes = 0;
  for (auto _ : state) {
    std::string out;
    xmlu::XMLWriteState s;
    root->Write(out, s);
    bytes = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(WriteItemTree)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
