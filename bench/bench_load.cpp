// Loading model files: speed in MB/s of model file and the memory the load takes.
//
// Each case writes a generated model file (bench/generated_model.h) to a temporary file and then
// loads it with memtree::LoadModel, as the command line does. Counters:
//   bytes_per_second  file bytes over the CPU time of one load
//   file_MB         size of the model file
//   heap_peak_x     high-water mark of heap bytes in use during the load, above what was in use
//                   before it, over the file size (counted by this program's operator new)
//   maxrss_x        the process's maximum resident set size over the file size; run one case
//                   per process (--benchmark_filter='^LoadClassification/100001$') to read it
//   model_x         heap bytes the loaded model keeps, over the file size
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/generated_model.h"
#include "bench/heap_count.h"
#include "host/memtree/model_file.h"

namespace {

double MaxResidentBytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) * 1024;
}

// The model file, written once per case and removed afterwards.
std::string WriteModel(bench::Kind kind, int nodes, std::size_t& size) {
  char name[] = "/tmp/bench_load_XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0) return std::string();
  {
    const std::string text = bench::Model(kind, nodes);
    size = text.size();
    for (std::size_t done = 0; done < text.size();) {
      const ssize_t n = write(fd, text.data() + done, text.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
  }
  close(fd);
  return name;
}

void Load(benchmark::State& state, bench::Kind kind) {
  std::size_t size = 0;
  const std::string path = WriteModel(kind, static_cast<int>(state.range(0)), size);
  if (path.empty()) {
    state.SkipWithError("cannot write the model file");
    return;
  }
  malloc_trim(0);
  double peakAbove = 0;
  double kept = 0;
  for (auto _ : state) {
    const std::size_t before = heap_count::inUse.load();
    heap_count::peak.store(before);
    memtree::Model model = memtree::LoadModel(path);
    peakAbove = static_cast<double>(heap_count::peak.load() - before);
    kept = static_cast<double>(heap_count::inUse.load() - before);
    benchmark::DoNotOptimize(model.tree.get());
  }
  std::remove(path.c_str());
  const double bytes = static_cast<double>(size);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
  state.counters["file_MB"] = bytes / 1e6;
  state.counters["heap_peak_x"] = peakAbove / bytes;
  state.counters["model_x"] = kept / bytes;
  state.counters["maxrss_x"] = MaxResidentBytes() / bytes;
}

void LoadClassification(benchmark::State& state) { Load(state, bench::Kind::kClassification); }
void LoadRegression(benchmark::State& state) { Load(state, bench::Kind::kRegression); }

}  // namespace

BENCHMARK(LoadClassification)->Arg(100001)->Arg(1000001)->Unit(benchmark::kMillisecond);
BENCHMARK(LoadRegression)->Arg(100001)->Unit(benchmark::kMillisecond);
