// Export speed and memory on generated trees: whole exports, side by side with libxml2 and
// memcpy; number text.
//
// Peak memory is the high-water mark of heap bytes in use during one export, above what was in
// use before it (the model's own memory), counted by this program's operator new and delete.
// maxrss_MB is the process's maximum resident set size and model_rss_MB its resident size once
// the model is loaded: run one benchmark per process (--benchmark_filter) to read them.
#include <benchmark/benchmark.h>
#include <libxml/xmlreader.h>
#include <libxml/xmlwriter.h>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <ostream>
#include <streambuf>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "bench/generated_model.h"
#include "bench/heap_count.h"
#include "host/memtree/model_file.h"
#include "pmml/pmml_output_adapter.h"
#include "tests/support/double_sample.h"
#include "treexml/xml_output_adapter.h"
#include "xmlu/number_text.h"
#include "xmlu/text_sink.h"

using bench::Kind;
using bench::Model;

namespace {

// A memory stream that keeps one exactly sized copy of what it is given, as an application
// collecting the document for a database or a network reply would; std::ostringstream would
// measure its own growth policy instead.
class MemoryBuffer : public std::streambuf {
 public:
  std::size_t size() const { return text_.size(); }
  std::string Release() { return std::move(text_); }

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

enum class Document { kPmml, kTreeXml };

// The text in pieces to a sink that only counts them, as the command line's file output takes
// it: the exporter holds one block and the open path of the tree, whatever the document's size.
class CountingSink : public xmlu::TextSink {
 public:
  void Write(const char*, std::size_t size) override { size_ += size; }
  std::size_t size() const { return size_; }

 private:
  std::size_t size_ = 0;
};

// One export of the model: into a stream that keeps Buffer's copy of the document (all of it,
// or only its size), or with Buffer = CountingSink in pieces. Returns the document's size.
template <class Buffer>
std::size_t Export(Document document, const memtree::Model& model, Buffer& buffer) {
  const tree::TreeAlgorithmBase& tree = *model.tree;
  if constexpr (std::is_base_of_v<xmlu::TextSink, Buffer>) {
    if (document == Document::kPmml) {
      TreeOut::PMMLOutputAdapter().GeneratePMML(buffer, tree, model.metadata.get(),
                                                tree::TRAINING_SAMPLE);
    } else {
      TreeOut::XMLOutputAdapter().GenerateXML(buffer, tree, model.metadata.get());
    }
  } else {
    std::ostream out(&buffer);
    if (document == Document::kPmml) {
      TreeOut::PMMLOutputAdapter().GeneratePMML(out, tree, model.metadata.get(),
                                                tree::TRAINING_SAMPLE);
    } else {
      TreeOut::XMLOutputAdapter().GenerateXML(out, tree, model.metadata.get());
    }
  }
  return buffer.size();
}

// Whole exports of generated trees, into a memory stream (the document held once more, as an
// application collecting it would) or in pieces: time, heap peak above the model's own memory,
// allocations per node and resident sizes.
template <class Buffer>
void WholeExport(benchmark::State& state, Document document, Kind kind) {
  const int nodes = static_cast<int>(state.range(0));
  const memtree::Model model = memtree::ParseModel(Model(kind, nodes), "bench.json");
  malloc_trim(0);
  const double modelResident = ResidentMB();
  std::size_t bytes = 0;
  std::size_t peakAbove = 0;
  double perNode = 0;
  for (auto _ : state) {
    malloc_trim(0);
    const std::size_t before = heap_count::inUse;
    const std::size_t allocationsBefore = heap_count::allocations;
    heap_count::peak = before;
    {
      Buffer buffer;
      bytes = Export(document, model, buffer);
      benchmark::DoNotOptimize(bytes);
    }
    peakAbove = std::max(peakAbove, heap_count::peak - before);
    perNode = static_cast<double>(heap_count::allocations - allocationsBefore) / nodes;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  state.counters["nodes/s"] =
      benchmark::Counter(static_cast<double>(nodes), benchmark::Counter::kIsIterationInvariantRate);
  state.counters["doc_MB"] = static_cast<double>(bytes) / 1e6;
  state.counters["peak_MB"] = static_cast<double>(peakAbove) / 1e6;
  state.counters["allocs/node"] = perNode;
  state.counters["model_rss_MB"] = modelResident;
  state.counters["maxrss_MB"] = MaxResidentMB();
}

void Classification(benchmark::State& state) {
  WholeExport<MemoryBuffer>(state, Document::kPmml, Kind::kClassification);
}
void ClassificationPieces(benchmark::State& state) {
  WholeExport<CountingSink>(state, Document::kPmml, Kind::kClassification);
}
BENCHMARK(Classification)->Arg(10001)->Arg(100001)->Arg(1000001)->Unit(benchmark::kMillisecond);
BENCHMARK(ClassificationPieces)->Arg(100001)->Arg(1000001)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------------------------
// Side by side in one process and one run: the exporter, libxml2's xmlTextWriter writing the
// same document into memory, and memcpy of the same bytes. The document's elements, attributes
// and character data are read back from the exporter's own output (not timed) and replayed into
// the xmlTextWriter, which therefore gets its texts ready-made: it formats no numbers and asks
// no model, so the ratios flatter libxml2 rather than the exporter.

// The document as a list of writer calls; texts live in one arena, NUL-terminated.
struct Replay {
  enum Kind : unsigned char { kStart, kAttribute, kText, kEnd };
  struct Event {
    Kind kind;
    std::size_t name;   // arena offset (element or attribute name)
    std::size_t value;  // arena offset (attribute value or character data)
  };
  std::vector<Event> events;
  std::string arena;
  std::string docType;  // the root named in a DOCTYPE, if the document has one
  std::size_t Add(const xmlChar* text) {
    const std::size_t at = arena.size();
    arena.append(reinterpret_cast<const char*>(text));
    arena.push_back('\0');
    return at;
  }
  const xmlChar* At(std::size_t offset) const {
    return reinterpret_cast<const xmlChar*>(arena.data() + offset);
  }
};

Replay ReadBack(const std::string& document) {
  Replay replay;
  replay.arena.reserve(document.size());
  xmlTextReaderPtr reader = xmlReaderForMemory(document.data(), static_cast<int>(document.size()),
                                               nullptr, nullptr, XML_PARSE_HUGE);
  while (xmlTextReaderRead(reader) == 1) {
    switch (xmlTextReaderNodeType(reader)) {
      case XML_READER_TYPE_ELEMENT: {
        const bool empty = xmlTextReaderIsEmptyElement(reader) == 1;
        replay.events.push_back({Replay::kStart, replay.Add(xmlTextReaderConstName(reader)), 0});
        while (xmlTextReaderMoveToNextAttribute(reader) == 1) {
          const std::size_t name = replay.Add(xmlTextReaderConstName(reader));
          replay.events.push_back(
              {Replay::kAttribute, name, replay.Add(xmlTextReaderConstValue(reader))});
        }
        if (empty) replay.events.push_back({Replay::kEnd, 0, 0});
        break;
      }
      case XML_READER_TYPE_TEXT:
        replay.events.push_back({Replay::kText, 0, replay.Add(xmlTextReaderConstValue(reader))});
        break;
      case XML_READER_TYPE_END_ELEMENT:
        replay.events.push_back({Replay::kEnd, 0, 0});
        break;
      case XML_READER_TYPE_DOCUMENT_TYPE:
        replay.docType = reinterpret_cast<const char*>(xmlTextReaderConstName(reader));
        break;
      default:  // the layout's line breaks and tabs: the xmlTextWriter indents by itself
        break;
    }
  }
  xmlFreeTextReader(reader);
  return replay;
}

// Writes the replayed document with tab indentation, as the exporter lays it out, into a buffer
// sized for it from the start; returns its size.
std::size_t WriteWithLibxml2(const Replay& replay, std::size_t expectedSize) {
  xmlBufferPtr buffer = xmlBufferCreateSize(expectedSize + expectedSize / 4);
  xmlTextWriterPtr writer = xmlNewTextWriterMemory(buffer, 0);
  xmlTextWriterSetIndent(writer, 1);
  xmlTextWriterSetIndentString(writer, BAD_CAST "\t");
  if (!replay.docType.empty()) {
    xmlTextWriterStartDocument(writer, "1.0", "UTF-8", nullptr);
    xmlTextWriterWriteDTD(writer, BAD_CAST replay.docType.c_str(), nullptr, nullptr, nullptr);
  }
  for (const Replay::Event& e : replay.events) {
    switch (e.kind) {
      case Replay::kStart:
        xmlTextWriterStartElement(writer, replay.At(e.name));
        break;
      case Replay::kAttribute:
        xmlTextWriterWriteAttribute(writer, replay.At(e.name), replay.At(e.value));
        break;
      case Replay::kText:
        xmlTextWriterWriteString(writer, replay.At(e.value));
        break;
      case Replay::kEnd:
        xmlTextWriterEndElement(writer);
    }
  }
  xmlTextWriterEndDocument(writer);
  xmlFreeTextWriter(writer);  // flushes into the buffer
  const std::size_t size = static_cast<std::size_t>(xmlBufferLength(buffer));
  xmlBufferFree(buffer);
  return size;
}

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Interleaved rounds of the three; CPU time of the process, medians; the ratios are what the
// performance page records. Each writes the document once into memory of its own: the exporter
// its text (handed to a stream that keeps no copy), libxml2 its buffer, memcpy a copy. The
// exporter's pieces form (a sink that keeps nothing, as the command's file output) is timed in
// the same rounds: it reuses one block instead of gathering the whole text.
void SideBySide(benchmark::State& state, Document document, Kind kind) {
  const int nodes = static_cast<int>(state.range(0));
  const memtree::Model model = memtree::ParseModel(Model(kind, nodes), "bench.json");
  MemoryBuffer kept;
  Export(document, model, kept);
  const std::string reference = kept.Release();
  const Replay replay = ReadBack(reference);
  std::string copy(reference.size(), '\0');
  constexpr int kRounds = 5;
  std::vector<double> ours, pieces, libxml2, memcpyTime;
  std::size_t libxml2Size = 0;
  double allocationsPerNode = 0;
  for (auto _ : state) {
    for (int round = 0; round < kRounds; ++round) {
      const std::size_t allocationsBefore = heap_count::allocations;
      double t = CpuSeconds();
      CountingBuffer counted;
      const std::size_t size = Export(document, model, counted);
      ours.push_back(CpuSeconds() - t);
      allocationsPerNode = static_cast<double>(heap_count::allocations - allocationsBefore) / nodes;
      if (size != reference.size())
        state.SkipWithError("the export changed from one run to the next");
      t = CpuSeconds();
      CountingSink sink;
      Export(document, model, sink);
      pieces.push_back(CpuSeconds() - t);
      t = CpuSeconds();
      libxml2Size = WriteWithLibxml2(replay, reference.size());
      libxml2.push_back(CpuSeconds() - t);
      t = CpuSeconds();
      std::memcpy(copy.data(), reference.data(), reference.size());
      benchmark::DoNotOptimize(copy.data());
      benchmark::ClobberMemory();
      memcpyTime.push_back(CpuSeconds() - t);
    }
  }
  const double mb = static_cast<double>(reference.size()) / 1e6;
  state.counters["doc_MB"] = mb;
  state.counters["libxml2_doc_MB"] = static_cast<double>(libxml2Size) / 1e6;
  state.counters["ours_s"] = Median(ours);
  state.counters["libxml2_s"] = Median(libxml2);
  state.counters["memcpy_s"] = Median(memcpyTime);
  state.counters["ours_MB/s"] = mb / Median(ours);
  state.counters["x_libxml2"] = Median(libxml2) / Median(ours);
  state.counters["pct_memcpy"] = 100 * Median(memcpyTime) / Median(ours);
  state.counters["pieces_s"] = Median(pieces);
  state.counters["pieces_x_libxml2"] = Median(libxml2) / Median(pieces);
  state.counters["pieces_pct_memcpy"] = 100 * Median(memcpyTime) / Median(pieces);
  state.counters["allocs/node"] = allocationsPerNode;
}

void VsLibxml2Classification(benchmark::State& state) {
  SideBySide(state, Document::kPmml, Kind::kClassification);
}
void VsLibxml2Regression(benchmark::State& state) {
  SideBySide(state, Document::kPmml, Kind::kRegression);
}
void VsLibxml2TreeXmlClassification(benchmark::State& state) {
  SideBySide(state, Document::kTreeXml, Kind::kClassification);
}
void VsLibxml2TreeXmlRegression(benchmark::State& state) {
  SideBySide(state, Document::kTreeXml, Kind::kRegression);
}
BENCHMARK(VsLibxml2Classification)->Arg(100001)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(VsLibxml2Regression)->Arg(100001)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(VsLibxml2TreeXmlClassification)
    ->Arg(100001)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(VsLibxml2TreeXmlRegression)->Arg(100001)->Iterations(1)->Unit(benchmark::kMillisecond);

// FormatNumber against the C library's "%.15g" on ten million doubles of every kind: the
// number of differences must be 0 (the unit test runs a sample of the same sequence).
void FormatNumberMatchesSnprintf(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  std::size_t differences = 0;
  for (auto _ : state) {
    testing_support::DoubleSample sample(7);
    char expected[40];
    char actual[xmlu::kNumberTextSize];
    for (int i = 0; i < count; ++i) {
      const double value = sample.Next();
      const int n = std::snprintf(expected, sizeof expected, "%.15g", value);
      const char* end = xmlu::FormatNumberTo(actual, value);
      if (end - actual != n || std::memcmp(actual, expected, static_cast<std::size_t>(n)) != 0) {
        if (differences++ < 5) {
          std::fprintf(stderr, "%.17g: %.*s, snprintf %s\n", value, static_cast<int>(end - actual),
                       actual, expected);
        }
      }
    }
  }
  state.counters["values"] = count;
  state.counters["differences"] = static_cast<double>(differences);
  if (differences != 0) state.SkipWithError("FormatNumber differs from snprintf(\"%.15g\")");
}
BENCHMARK(FormatNumberMatchesSnprintf)->Arg(10000000)->Iterations(1)->Unit(benchmark::kSecond);

// Speed of number text on the numbers a tree holds (counts, ids, codes, halves) and on doubles
// of every kind: FormatNumberTo (arg 1) against snprintf (arg 0).
void NumberText(benchmark::State& state) {
  std::vector<double> values;
  if (state.range(1) == 0) {
    for (int i = 0; i < 4096; ++i) values.push_back(i % 4 == 3 ? i + 0.5 : i * 7);
  } else {
    testing_support::DoubleSample sample(3);
    for (int i = 0; i < 4096; ++i) values.push_back(sample.Next());
  }
  char text[40];
  for (auto _ : state) {
    for (double v : values) {
      if (state.range(0) != 0) {
        benchmark::DoNotOptimize(xmlu::FormatNumberTo(text, v));
      } else {
        benchmark::DoNotOptimize(std::snprintf(text, sizeof text, "%.15g", v));
      }
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * values.size()));
}
BENCHMARK(NumberText)->ArgNames({"ours", "any_double"})->ArgsProduct({{0, 1}, {0, 1}});

}  // namespace
