// Export speed and memory on generated trees: GeneratePMML end to end into a memory stream, and
// the writer alone.
//
// Peak memory is the high-water mark of heap bytes in use during one export, above what was in
// use before it (the model's own memory), counted by this program's operator new and delete.
// maxrss_MB is the process's maximum resident set size and model_rss_MB its resident size once
// the model is loaded: run one benchmark per process (--benchmark_filter) to read them.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <ostream>
#include <streambuf>
#include <string>

#include "host/memtree/model_file.h"
#include "pmml/pmml_output_adapter.h"
#include "treexml/xml_output_adapter.h"
#include "xmlu/xml_item.h"

namespace {

std::atomic<std::size_t> heapInUse{0};
std::atomic<std::size_t> heapPeak{0};
std::atomic<std::size_t> allocations{0};

void* Allocate(std::size_t size) {
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  ++allocations;
  const std::size_t now = heapInUse += malloc_usable_size(p);
  std::size_t peak = heapPeak.load(std::memory_order_relaxed);
  while (now > peak && !heapPeak.compare_exchange_weak(peak, now)) {
  }
  return p;
}

void Release(void* p) {
  if (p == nullptr) return;
  heapInUse -= malloc_usable_size(p);
  std::free(p);
}

}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, std::size_t) noexcept { Release(p); }
void operator delete[](void* p, std::size_t) noexcept { Release(p); }

namespace {

// A memory stream that keeps one exactly sized copy of what it is given, as an application
// collecting the document for a database or a network reply would; std::ostringstream would
// measure its own growth policy instead.
class MemoryBuffer : public std::streambuf {
 public:
  const std::string& text() const { return text_; }

 protected:
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    text_.append(s, static_cast<std::size_t>(n));
    return n;
  }
  int_type overflow(int_type c) override {
    if (!traits_type::eq_int_type(c, traits_type::eof())) text_.push_back(static_cast<char>(c));
    return traits_type::not_eof(c);
  }

 private:
  std::string text_;
};

// A stream that only counts what it is given: the exporter's own cost, without an
// application's copy of the document.
class CountingBuffer : public std::streambuf {
 public:
  std::size_t size() const { return size_; }

 protected:
  std::streamsize xsputn(const char*, std::streamsize n) override {
    size_ += static_cast<std::size_t>(n);
    return n;
  }
  int_type overflow(int_type c) override {
    if (!traits_type::eq_int_type(c, traits_type::eof())) ++size_;
    return traits_type::not_eof(c);
  }

 private:
  std::size_t size_ = 0;
};

double ResidentMB() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1e6;
}

double MaxResidentMB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) * 1024 / 1e6;
}

enum class Kind { kRegression, kClassification };

// A complete binary tree with n nodes (n odd); node i splits x at i. Classification trees have
// three classes and a surrogate on z for every split.
std::string Model(Kind kind, int n) {
  const bool cls = kind == Kind::kClassification;
  std::string text =
      "{\"format\": \"treexport-model\", \"version\": 1, \"function\": \"" +
      std::string(cls ? "classification" : "regression") +
      "\", \"algorithm\": 0, \"risk\": [{\"sample\": 0, \"value\": 1, \"stdError\": 0.1}], "
      "\"fields\": [{\"name\": \"x\", \"level\": \"continuous\", \"storage\": \"numeric\"}, "
      "{\"name\": \"z\", \"level\": \"continuous\", \"storage\": \"numeric\"}, ";
  text += cls ? "{\"name\": \"y\", \"level\": \"nominal\", \"storage\": \"string\", "
                "\"categories\": [{\"code\": 0, \"values\": [\"low\"]}, {\"code\": 1, \"values\": "
                "[\"mid\"]}, {\"code\": 2, \"values\": [\"high\"]}]}"
              : "{\"name\": \"y\", \"level\": \"continuous\", \"storage\": \"numeric\"}";
  text += "], \"predictors\": [\"x\", \"z\"], \"target\": \"y\", \"nodes\": [\n";
  for (int i = 0; i < n; ++i) {
    const std::string id = std::to_string(i);
    text += i ? ",\n" : "";
    text += "{\"id\": " + id + ", \"samples\": [{\"count\": 60, ";
    text += cls ? "\"class\": {\"predicted\": " + std::to_string(i % 3) +
                      ", \"counts\": [30, 20, 10], \"proportions\": [0.5, 0.3333333333333333, "
                      "0.16666666666666666], \"probabilities\": [0.5, 0.3333333333333333, "
                      "0.16666666666666666]}}]"
                : "\"regression\": {\"mean\": " + id + ".5, \"stdDev\": 1}}]";
    if (2 * i + 2 < n) {
      text += ", \"children\": [" + std::to_string(2 * i + 1) + ", " + std::to_string(2 * i + 2) +
              "], \"split\": {\"predictor\": \"x\", \"children\": [{\"high\": " + id +
              "}, {\"low\": " + id +
              ", \"lowOpen\": true}], \"statistics\": [1.25], \"kinds\": [\"improvement\"]}";
      if (cls) {
        text += ", \"surrogates\": [{\"predictor\": \"z\", \"children\": [{\"low\": " + id +
                ", \"lowOpen\": true}, {\"high\": " + id +
                "}], \"statistics\": [0.5, 0.75], \"kinds\": [\"improvement\", "
                "\"association\"]}]";
      }
    }
    text += "}";
  }
  return text + "]}\n";
}

template <class Buffer>
std::size_t Size(const Buffer& buffer);
template <>
std::size_t Size(const MemoryBuffer& buffer) {
  return buffer.text().size();
}
template <>
std::size_t Size(const CountingBuffer& buffer) {
  return buffer.size();
}

template <class Buffer>
void GeneratePmml(benchmark::State& state, Kind kind) {
  const int nodes = static_cast<int>(state.range(0));
  memtree::Model model = memtree::ParseModel(Model(kind, nodes), "bench.json");
  malloc_trim(0);
  const double modelResident = ResidentMB();
  std::size_t bytes = 0;
  std::size_t peakAbove = 0;
  double perNode = 0;
  for (auto _ : state) {
    malloc_trim(0);
    const std::size_t before = heapInUse;
    const std::size_t allocationsBefore = allocations;
    heapPeak = before;
    {
      TreeOut::PMMLOutputAdapter adapter;
      Buffer buffer;
      std::ostream out(&buffer);
      adapter.GeneratePMML(out, *model.tree, model.metadata.get(), tree::TRAINING_SAMPLE);
      bytes = Size(buffer);
      benchmark::DoNotOptimize(bytes);
    }
    peakAbove = std::max(peakAbove, heapPeak - before);
    perNode = static_cast<double>(allocations - allocationsBefore) / nodes;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  state.counters["nodes/s"] =
      benchmark::Counter(static_cast<double>(nodes), benchmark::Counter::kIsIterationInvariantRate);
  state.counters["doc_MB"] = static_cast<double>(bytes) / 1e6;
  state.counters["peak_MB"] = static_cast<double>(peakAbove) / 1e6;
  state.counters["allocs/node"] = perNode;
  state.counters["model_rss_MB"] = modelResident;
  state.counters["maxrss_MB"] = MaxResidentMB();
  state.counters["peak/doc"] = static_cast<double>(peakAbove) / static_cast<double>(bytes);
}

void Classification(benchmark::State& state) {
  GeneratePmml<MemoryBuffer>(state, Kind::kClassification);
}
void Regression(benchmark::State& state) { GeneratePmml<MemoryBuffer>(state, Kind::kRegression); }
BENCHMARK(Classification)->Arg(10001)->Arg(100001)->Arg(1000001)->Unit(benchmark::kMillisecond);
BENCHMARK(Regression)->Arg(10001)->Arg(100001)->Arg(1000001)->Unit(benchmark::kMillisecond);

// The same exports into a stream that keeps nothing.
void ClassificationNoCopy(benchmark::State& state) {
  GeneratePmml<CountingBuffer>(state, Kind::kClassification);
}
void RegressionNoCopy(benchmark::State& state) {
  GeneratePmml<CountingBuffer>(state, Kind::kRegression);
}
BENCHMARK(ClassificationNoCopy)->Arg(100001)->Arg(1000001)->Unit(benchmark::kMillisecond);
BENCHMARK(RegressionNoCopy)->Arg(100001)->Arg(1000001)->Unit(benchmark::kMillisecond);

// The machine, not the exporter: writing memory the process has never touched, in 4 KB pages
// (huge = 0) or in transparent huge pages (huge = 1). On a virtual machine whose page faults are
// costly this bounds what any export of a document that size can reach.
void FreshPages(benchmark::State& state) {
  const std::size_t size = static_cast<std::size_t>(state.range(0)) << 20;
  for (auto _ : state) {
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) {
      state.SkipWithError("mmap failed");
      break;
    }
    if (state.range(1) != 0) madvise(p, size, MADV_HUGEPAGE);
    std::memset(p, 1, size);
    benchmark::ClobberMemory();
    munmap(p, size);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}
BENCHMARK(FreshPages)->Args({188, 0})->Args({188, 1})->Unit(benchmark::kMillisecond);

// The tree XML document of the same trees, written while it is built as the PMML is.
void GenerateTreeXml(benchmark::State& state, Kind kind) {
  const int nodes = static_cast<int>(state.range(0));
  const memtree::Model model = memtree::ParseModel(Model(kind, nodes), "bench.json");
  std::size_t bytes = 0;
  std::size_t peakAbove = 0;
  for (auto _ : state) {
    malloc_trim(0);
    const std::size_t before = heapInUse;
    heapPeak = before;
    {
      TreeOut::XMLOutputAdapter adapter;
      MemoryBuffer buffer;
      std::ostream out(&buffer);
      adapter.GenerateXML(out, *model.tree, model.metadata.get());
      bytes = buffer.text().size();
    }
    peakAbove = std::max(peakAbove, heapPeak - before);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  state.counters["nodes/s"] =
      benchmark::Counter(static_cast<double>(nodes), benchmark::Counter::kIsIterationInvariantRate);
  state.counters["doc_MB"] = static_cast<double>(bytes) / 1e6;
  state.counters["peak/doc"] = static_cast<double>(peakAbove) / static_cast<double>(bytes);
}

void TreeXmlClassification(benchmark::State& state) {
  GenerateTreeXml(state, Kind::kClassification);
}
void TreeXmlRegression(benchmark::State& state) { GenerateTreeXml(state, Kind::kRegression); }
BENCHMARK(TreeXmlClassification)->Arg(10001)->Arg(100001)->Unit(benchmark::kMillisecond);
BENCHMARK(TreeXmlRegression)->Arg(10001)->Arg(100001)->Unit(benchmark::kMillisecond);

// A regression tree whose root splits a nominal predictor of `categories` categories: into one
// leaf per category (`wide`), or into two leaves taking the even and the odd codes.
std::string NominalModel(int categories, bool wide) {
  std::string text =
      "{\"format\": \"treexport-model\", \"version\": 1, \"function\": \"regression\", "
      "\"algorithm\": 0, \"risk\": [{\"sample\": 0, \"value\": 1, \"stdError\": 0.1}], "
      "\"fields\": [{\"name\": \"c\", \"level\": \"nominal\", \"storage\": \"string\", "
      "\"categories\": [";
  for (int i = 0; i < categories; ++i) {
    text += (i ? ", " : "") + std::string("{\"code\": ") + std::to_string(i) +
            ", \"values\": [\"v" + std::to_string(i) + "\"]}";
  }
  text +=
      "]}, {\"name\": \"y\", \"level\": \"continuous\", \"storage\": \"numeric\"}], "
      "\"predictors\": [\"c\"], \"target\": \"y\", \"nodes\": [";
  const int leaves = wide ? categories : 2;
  std::string children, rules, even, odd;
  for (int i = 0; i < leaves; ++i) {
    children += (i ? ", " : "") + std::to_string(i + 1);
    if (wide) rules += (i ? ", " : "") + std::string("{\"codes\": [") + std::to_string(i) + "]}";
  }
  for (int i = 0; i < categories; ++i) {
    std::string& list = i % 2 ? odd : even;
    list += (list.empty() ? "" : ", ") + std::to_string(i);
  }
  if (!wide) rules = "{\"codes\": [" + even + "]}, {\"codes\": [" + odd + "]}";
  const std::string sample =
      "\"samples\": [{\"count\": 10, \"regression\": {\"mean\": 1.5, "
      "\"stdDev\": 1}}]";
  text += "{\"id\": 0, " + sample + ", \"children\": [" + children +
          "], \"split\": {\"predictor\": \"c\", \"children\": [" + rules + "]}}";
  for (int i = 0; i < leaves; ++i)
    text += ", {\"id\": " + std::to_string(i + 1) + ", " + sample + "}";
  return text + "]}\n";
}

void ExportNominal(benchmark::State& state, bool wide) {
  const memtree::Model model =
      memtree::ParseModel(NominalModel(static_cast<int>(state.range(0)), wide), "bench.json");
  std::size_t bytes = 0;
  for (auto _ : state) {
    TreeOut::PMMLOutputAdapter adapter;
    MemoryBuffer buffer;
    std::ostream out(&buffer);
    adapter.GeneratePMML(out, *model.tree, model.metadata.get(), tree::TRAINING_SAMPLE);
    bytes = buffer.text().size();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

// Linear cost in the width of a node and in the categories of a split: time per argument
// should double with each doubling of the argument.
void WideNode(benchmark::State& state) { ExportNominal(state, true); }
void ManyCategories(benchmark::State& state) { ExportNominal(state, false); }
BENCHMARK(WideNode)->Arg(10000)->Arg(20000)->Arg(40000)->Unit(benchmark::kMillisecond);
BENCHMARK(ManyCategories)->Arg(10000)->Arg(20000)->Arg(40000)->Unit(benchmark::kMillisecond);

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
