// Trees fitted by scikit-learn and rpart, converted into model files, must send every row to the
// leaf the fitting software sends it to, with the same prediction, both through the in-memory
// tree and through the PMML document exported from it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/memtree/model_file.h"
#include "pmml/pmml_output_adapter.h"
#include "tests/support/pmml_evaluator.h"
#include "tests/support/run_command.h"
#include "tests/support/xml_check.h"
#include "treexml/xml_output_adapter.h"
#include "xmlu/number_text.h"

namespace {

using testing_support::CommandResult;
using testing_support::PmmlMode;
using testing_support::PmmlRecord;
using testing_support::PmmlTreeEvaluator;
using testing_support::ReadFile;
using testing_support::RunCommand;
using testing_support::TempDir;

const char* const kPython = "/usr/bin/python3";
const char* const kRscript = "/usr/bin/Rscript";
const std::string kTools = TREEXPORT_TOOLS_DIR;
const std::string kScripts = TREEXPORT_E2E_DIR;
const std::string kPackage = TREEXPORT_SOURCE_DIR;
const std::string kTreexport = TREEXPORT_EXE;
const std::string kRPackage = TREEXPORT_R_PACKAGE_DIR;

struct Table {
  std::vector<std::string> header;
  std::vector<std::vector<std::string>> rows;
  int Column(const std::string& name) const {
    auto it = std::find(header.begin(), header.end(), name);
    return it == header.end() ? -1 : static_cast<int>(it - header.begin());
  }
};

// CSV as both scripts write it: fields optionally in double quotes, "" for a quote inside.
Table ParseCsv(const std::string& text) {
  Table table;
  std::vector<std::string> row;
  std::string field;
  bool quoted = false, any = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      quoted = true;
      any = true;
    } else if (c == ',') {
      row.push_back(field);
      field.clear();
    } else if (c == '\n' || c == '\r') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      if (any || !field.empty() || !row.empty()) {
        row.push_back(field);
        (table.header.empty() ? table.header : table.rows.emplace_back()) = row;
      }
      row.clear();
      field.clear();
      any = false;
    } else {
      field += c;
      any = true;
    }
  }
  return table;
}

std::optional<double> Number(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (*end != '\0') return std::nullopt;
  return v;
}

bool Close(double a, double b) {
  return a == b || std::fabs(a - b) <= 1e-12 * std::max(std::fabs(a), std::fabs(b));
}

// Class labels match as texts, or as numbers when both are ("0" and "0.0").
bool SameLabel(const std::string& a, const std::string& b) {
  if (a == b) return true;
  const std::optional<double> x = Number(a), y = Number(b);
  return x && y && *x == *y;
}

std::string ValueText(const mdt::Variant& v) {
  if (v.GetType() == mdt::Variant::TEXT) return static_cast<const char*>(v);
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.17g", static_cast<double>(v));
  return buffer;
}

// Code -> first value text of a categorical field, read back through the field's own encoder.
std::map<int, std::string> CategoryTexts(const mdt::Variable& field) {
  std::map<int, std::string> texts;
  const auto* encoder = dynamic_cast<const mdt::MapEncoder*>(field.GetEncoding());
  if (encoder == nullptr) return texts;
  for (int code : encoder->EncodedValues()) {
    const mdt::EncodingSets sets = encoder->Decode(code);
    const std::vector<mdt::Variant> values = sets.GetAllValues();
    if (!values.empty()) texts[code] = ValueText(values.front());
  }
  return texts;
}

std::string ExportPmml(const memtree::Model& model, bool portable = false) {
  TreeOut::PMMLOutputAdapter adapter;
  adapter.SetPortableProfile(portable);
  std::ostringstream out;
  adapter.GeneratePMML(out, *model.tree, model.metadata.get(), tree::TRAINING_SAMPLE);
  return out.str();
}

std::string ExportTreeXml(const memtree::Model& model) {
  TreeOut::XMLOutputAdapter adapter;
  std::ostringstream out;
  adapter.GenerateXML(out, *model.tree, model.metadata.get());
  return out.str();
}

const std::string kTreeDtd = std::string(TREEXPORT_SOURCE_DIR) + "/docs/Tree.dtd";

struct Tally {
  int rows = 0;                   // compared through the model file and the format's own PMML
  int disagreements = 0;          // of those
  int pmmlUnsetLevelStops = 0;    // rows the format's PMML stops at a level no child holds
  int pmmlRoundedThresholds = 0;  // rows the format's 15-digit thresholds put on another side
  int portableRows = 0;           // compared through the portable PMML, read as the standard says
  int portableDisagreements = 0;
  int innerStops = 0;  // rows the source stops at a node with children
  // For comparison only: the format's own document read as standard PMML.
  int formatAsStandardDisagreements = 0;
};

// A nominal rule that holds the record's code in no child leaves the decision to the next rule,
// in rpart and in the model file. The format's own PMML predicates of such a rule are false, not
// unknown, for every child, so that document stops the record at the node. True when that
// explains why the document stopped at node `stop`.
bool StopsOnUnsetLevel(const memtree::MemTree& tree, std::size_t stop,
                       const std::vector<std::optional<double>>& record) {
  const memtree::RuleSpec* rule = tree.GetNode(stop).GetSplitSpec();
  if (rule == nullptr) return false;
  const std::optional<double>& value = record[static_cast<std::size_t>(rule->predictor)];
  if (!value) return false;
  for (const memtree::ChildValues& child : rule->children) {
    if (child.kind != memtree::ChildValues::Kind::kCodes) return false;
    const std::vector<int>& codes = child.codes;
    if (std::find(codes.begin(), codes.end(), static_cast<int>(*value)) != codes.end()) {
      return false;
    }
  }
  return true;
}

// The documents of one converted model: exported here from the model, or by someone else.
struct Documents {
  std::string pmml;
  std::string portablePmml;
  std::string treeXml;
};

Documents ExportDocuments(const memtree::Model& model) {
  return {ExportPmml(model), ExportPmml(model, true), ExportTreeXml(model)};
}

// Compares rows of the source's table with a converted model and with its PMML document.
class RowComparer {
 public:
  RowComparer(const std::string& name, const memtree::Model& model, const Table& table,
              const Documents& documents)
      : name_(name),
        tree_(*model.tree),
        table_(table),
        predictors_(*model.metadata->GetPredictors()),
        labels_(CategoryTexts(*model.metadata->GetTarget())),
        document_(documents.pmml),
        pmml_(document_),
        portableDocument_(documents.portablePmml),
        portable_(portableDocument_, PmmlMode::kStandard),
        formatAsStandard_(document_, PmmlMode::kStandard) {
    EXPECT_EQ(testing_support::XmlDoc(document_).PmmlSchemaErrors(), "") << name;
    EXPECT_EQ(testing_support::XmlDoc(portableDocument_).PmmlSchemaErrors(), "") << name;
    // The same tree as tree XML: valid, and holding every node once.
    const testing_support::XmlDoc treeXml(documents.treeXml);
    EXPECT_EQ(treeXml.DtdErrors(kTreeDtd), "") << name;
    const char* const nodeKinds = tree_.IsClassification() ? "count(//ClsNode | //ClsTerminalNode)"
                                                           : "count(//RegNode | //RegTerminalNode)";
    EXPECT_EQ(treeXml.Number(nodeKinds), static_cast<double>(tree_.GetNumberOfNodes())) << name;
    for (const mdt::Variable& predictor : predictors_) {
      columns_.push_back(Column(predictor.GetName()));
      codes_.emplace_back();
      for (const auto& [code, text] : CategoryTexts(predictor)) codes_.back()[text] = code;
    }
    thresholds_.resize(predictors_.size());
    for (std::size_t i = 0; i < tree_.GetNumberOfNodes(); ++i) {
      const memtree::MemNode& node = tree_.GetNode(i);
      byId_[node.GetId()] = i;
      std::vector<const memtree::RuleSpec*> rules;
      if (node.GetSplitSpec() != nullptr) rules.push_back(node.GetSplitSpec());
      for (const memtree::RuleSpec& rule : node.GetSurrogateSpecs()) rules.push_back(&rule);
      for (const memtree::RuleSpec* rule : rules) {
        for (const memtree::ChildValues& child : rule->children) {
          std::vector<double>& cuts = thresholds_[static_cast<std::size_t>(rule->predictor)];
          if (child.bounds.low) cuts.push_back(*child.bounds.low);
          if (child.bounds.high) cuts.push_back(*child.bounds.high);
        }
      }
    }
    leaf_ = Column("leaf");
    predicted_ = Column("predicted");
  }

  Tally CompareAll() {
    Tally tally;
    for (std::size_t r = 0; r < table_.rows.size(); ++r) {
      std::vector<std::string> portableProblems;
      std::vector<std::string> problems = Compare(table_.rows[r], tally, portableProblems);
      ++tally.portableRows;
      if (!portableProblems.empty()) ++tally.portableDisagreements;
      if (!problems.empty()) ++tally.disagreements;
      if (!problems.empty() && tally.disagreements <= 5) {
        std::string all;
        for (const std::string& p : problems) all += "; " + p;
        ADD_FAILURE() << name_ << " row " << r + 1 << all;
      }
      if (!portableProblems.empty() && tally.portableDisagreements <= 5) {
        std::string all;
        for (const std::string& p : portableProblems) all += "; " + p;
        ADD_FAILURE() << name_ << " row " << r + 1 << " (portable PMML)" << all;
      }
    }
    return tally;
  }

 private:
  std::size_t Column(const std::string& name) const {
    const int column = table_.Column(name);
    if (column < 0) throw std::runtime_error(name_ + ": the table has no column " + name);
    return static_cast<std::size_t>(column);
  }

  // Whether a threshold, read back from the format profile's 15-digit text, lies on the other
  // side of one of the record's values (or on it) than the threshold itself.
  bool RoundingMoves(const std::vector<std::optional<double>>& record) const {
    for (std::size_t p = 0; p < record.size(); ++p) {
      if (!record[p]) continue;
      const double v = *record[p];
      for (double t : thresholds_[p]) {
        const double r = std::strtod(xmlu::FormatNumber(t).c_str(), nullptr);
        if ((v < t) != (v < r) || (v > t) != (v > r)) return true;
      }
    }
    return false;
  }

  // Index of the node whose id is the text, if there is one.
  std::optional<std::size_t> Node(const std::string& id) const {
    const std::optional<double> number = Number(id);
    if (!number) return std::nullopt;
    auto it = byId_.find(static_cast<unsigned>(*number));
    return it == byId_.end() ? std::nullopt : std::optional<std::size_t>(it->second);
  }

  std::vector<std::string> Compare(const std::vector<std::string>& row, Tally& tally,
                                   std::vector<std::string>& portableProblems) const {
    std::vector<std::string> problems;
    std::vector<std::optional<double>> record(predictors_.size());
    PmmlRecord text;
    for (std::size_t p = 0; p < predictors_.size(); ++p) {
      const std::string& cell = row[columns_[p]];
      if (cell.empty()) continue;
      text[predictors_[p].GetName()] = cell;
      if (codes_[p].empty()) {
        record[p] = Number(cell);
      } else if (codes_[p].count(cell) != 0) {
        record[p] = codes_[p].at(cell);
      } else {
        problems.push_back(predictors_[p].GetName() + " value '" + cell + "' is no category");
      }
    }
    const std::string& leaf = row[leaf_];
    const std::size_t host = byId_.at(static_cast<unsigned>(tree_.Route(record)));
    const std::string hostLeaf = std::to_string(tree_.GetNode(host).GetId());
    if (hostLeaf != leaf) problems.push_back("host leaf " + hostLeaf + ", source " + leaf);
    if (tree_.IsClassification()) {
      CheckHostClass(row, tree_.GetNode(host), problems);
    } else {
      CheckHostValue(row, tree_.GetNode(host), problems);
    }

    // The portable document, read as the standard says: no exception of any kind.
    const std::string portableLeaf = portable_.LeafId(text);
    if (portableLeaf != leaf) {
      portableProblems.push_back("portable PMML leaf " + portableLeaf + ", source " + leaf);
    }
    CheckPmml(row, portable_, text, portableProblems);
    std::vector<std::string> formatAsStandard;
    if (formatAsStandard_.LeafId(text) != leaf) formatAsStandard.push_back("leaf");
    CheckPmml(row, formatAsStandard_, text, formatAsStandard);
    if (!formatAsStandard.empty()) ++tally.formatAsStandardDisagreements;
    const std::optional<std::size_t> source = Node(leaf);
    if (source && !tree_.GetNode(*source).GetChildIndices().empty()) ++tally.innerStops;

    // The format's own document: when the model file agrees with the source but the document
    // cannot say what both do, only the model file is compared.
    const std::string pmmlLeaf = pmml_.LeafId(text);
    const std::optional<std::size_t> pmmlStop = Node(pmmlLeaf);
    const bool checkPmml = pmmlLeaf == leaf || !problems.empty() || !pmmlStop ||
                           !StopsOnUnsetLevel(tree_, *pmmlStop, record);
    if (!checkPmml) {
      ++tally.pmmlUnsetLevelStops;
      return problems;
    }
    if (pmmlLeaf != leaf && problems.empty() && RoundingMoves(record)) {
      ++tally.pmmlRoundedThresholds;
      return problems;
    }
    if (pmmlLeaf != leaf) problems.push_back("PMML leaf " + pmmlLeaf + ", source " + leaf);
    CheckPmml(row, pmml_, text, problems);
    ++tally.rows;
    return problems;
  }

  // The host's leaf: its predicted class and every class probability.
  void CheckHostClass(const std::vector<std::string>& row, const memtree::MemNode& node,
                      std::vector<std::string>& problems) const {
    const memtree::MemClsInfo& info = *node.GetClsStats(0);
    auto label = labels_.find(info.GetPredictedCategory());
    if (label == labels_.end() || !SameLabel(label->second, row[predicted_])) {
      problems.push_back("host class");
    }
    for (const auto& [code, name] : labels_) {
      const std::optional<double> expected = Number(row[Column("p:" + name)]);
      if (!expected || !Close(info.GetCategoryProbability(code), *expected)) {
        problems.push_back("host p(" + name + ")");
      }
    }
  }

  void CheckHostValue(const std::vector<std::string>& row, const memtree::MemNode& node,
                      std::vector<std::string>& problems) const {
    if (!Close(node.GetRegStats(0)->GetPrediction(), Number(row[predicted_]).value_or(NAN))) {
      problems.push_back("host prediction");
    }
  }

  // What a document gives for the record: the predicted class and every class probability, or
  // the predicted value.
  void CheckPmml(const std::vector<std::string>& row, const PmmlTreeEvaluator& pmml,
                 const PmmlRecord& text, std::vector<std::string>& problems) const {
    const std::string score = pmml.Score(text);
    const std::string& predicted = row[predicted_];
    if (!tree_.IsClassification()) {
      if (!Close(Number(score).value_or(NAN), Number(predicted).value_or(NAN))) {
        problems.push_back("PMML score " + score);
      }
      return;
    }
    if (!SameLabel(score, predicted)) problems.push_back("PMML class " + score);
    std::map<std::string, double> fromPmml;
    for (const auto& [value, p] : pmml.Probabilities(text)) {
      for (const auto& [code, name] : labels_) {
        if (SameLabel(value, name)) fromPmml[name] = p;
      }
    }
    for (const auto& [code, name] : labels_) {
      const std::optional<double> expected = Number(row[Column("p:" + name)]);
      if (!expected || fromPmml.count(name) == 0 || !Close(fromPmml.at(name), *expected)) {
        problems.push_back("PMML p(" + name + ")");
      }
    }
  }

  std::string name_;
  const memtree::MemTree& tree_;
  const Table& table_;
  const std::vector<mdt::Variable>& predictors_;
  std::map<int, std::string> labels_;  // target code -> label
  std::string document_;
  PmmlTreeEvaluator pmml_;
  std::string portableDocument_;
  PmmlTreeEvaluator portable_;
  PmmlTreeEvaluator formatAsStandard_;
  std::vector<std::size_t> columns_;               // per predictor
  std::vector<std::map<std::string, int>> codes_;  // per predictor: level -> code
  std::map<unsigned, std::size_t> byId_;
  std::vector<std::vector<double>> thresholds_;  // per predictor: the bounds of its rules
  std::size_t leaf_ = 0, predicted_ = 0;
};

bool Works(const char* program, const std::vector<std::string>& args) {
  return access(program, X_OK) == 0 && RunCommand(program, args).status == 0;
}

// Runs a case script once per test program; every test of one source shares its files.
struct Cases {
  std::unique_ptr<TempDir> dir;
  CommandResult run;
  Table list;
};

const Cases& Fitted(const char* program, const std::string& script) {
  static std::map<std::string, Cases> made;
  Cases& cases = made[script];
  if (!cases.dir) {
    cases.dir = std::make_unique<TempDir>();
    cases.run = RunCommand(program, {kScripts + "/" + script, cases.dir->path()});
    if (cases.run.status == 0) cases.list = ParseCsv(ReadFile(cases.dir->File("cases.csv")));
  }
  return cases;
}

// A case's model file and documents, from the case list's row (name, function, fitted file).
struct Converted {
  std::string modelText;
  Documents documents;  // empty: exported here from the model
};

// Compares every case the script fitted, converted by `convert` (which fails the test and gives
// nothing when it cannot convert); prints rows and disagreements per case.
void CompareAll(
    const std::string& source, const Cases& cases,
    const std::function<std::optional<Converted>(const std::vector<std::string>&)>& convert) {
  ASSERT_EQ(cases.run.status, 0) << cases.run.err;
  ASSERT_FALSE(cases.list.rows.empty());
  int total = 0;
  for (const std::vector<std::string>& c : cases.list.rows) {
    const std::string& name = c[0];
    const std::optional<Converted> converted = convert(c);
    if (!converted) return;
    memtree::Model model = memtree::ParseModel(converted->modelText, name + ".json");
    EXPECT_EQ(model.tree->IsClassification(), c[1] == "classification") << name;
    const Table table = ParseCsv(ReadFile(cases.dir->File(name + ".csv")));
    const Documents documents =
        converted->documents.pmml.empty() ? ExportDocuments(model) : converted->documents;
    const Tally tally = RowComparer(name, model, table, documents).CompareAll();
    std::cout << source << " " << name << ": portable PMML (standard reading) "
              << tally.portableRows << " rows, " << tally.portableDisagreements
              << " disagreements; model file and format PMML " << tally.rows << " rows, "
              << tally.disagreements << " disagreements";
    if (tally.pmmlUnsetLevelStops > 0) {
      std::cout << "; " << tally.pmmlUnsetLevelStops << " more reach the source's leaf in the "
                << "model file but stop in the format's PMML at a factor level absent from the "
                << "node (format PMML not compared)";
    }
    if (tally.pmmlRoundedThresholds > 0) {
      std::cout << "; " << tally.pmmlRoundedThresholds << " more reach the source's leaf in the "
                << "model file but lie between a threshold and its 15-digit text in the format's "
                << "PMML (format PMML not compared)";
    }
    std::cout << "; " << tally.innerStops << " rows stop at an inner node; the format's document "
              << "read as standard PMML would disagree on " << tally.formatAsStandardDisagreements
              << " rows\n";
    EXPECT_GT(tally.rows, 0) << name;
    EXPECT_EQ(tally.disagreements, 0) << name;
    EXPECT_EQ(tally.portableRows, static_cast<int>(table.rows.size())) << name;
    EXPECT_EQ(tally.portableDisagreements, 0) << name;
    total += tally.portableRows;
  }
  std::cout << source << ": " << total << " rows compared in all\n";
}

// Converts every case with a converter script of tools/ and exports the documents here.
void ConvertAndCompareAll(const std::string& source, const Cases& cases,
                          const std::string& converter) {
  CompareAll(source, cases, [&](const std::vector<std::string>& c) -> std::optional<Converted> {
    const CommandResult converted = RunCommand(kTools + "/" + converter, {c[2]});
    if (converted.status != 0) {
      ADD_FAILURE() << c[0] << ": " << converted.err;
      return std::nullopt;
    }
    return Converted{converted.out, {}};
  });
}

// Arguments a converter must refuse, with the exit status and a part of the message it gives.
struct Refusal {
  std::vector<std::string> args;
  int status;
  std::string message;
};

void ExpectRefused(const std::string& tool, const std::vector<Refusal>& refused) {
  for (const Refusal& r : refused) {
    const CommandResult result = RunCommand(tool, r.args);
    EXPECT_EQ(result.status, r.status) << r.message << ": " << result.err;
    EXPECT_NE(result.err.find(r.message), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "") << r.message;
  }
}

// Each converter's tests run only where its interpreter and package are, and say so otherwise.
class SklearnConverter : public testing::Test {
 protected:
  void SetUp() override {
    if (!Works(kPython, {"-c", "import sklearn, joblib"})) {
      GTEST_SKIP() << kPython << " with scikit-learn and joblib is not installed";
    }
  }
};

class RpartConverter : public testing::Test {
 protected:
  void SetUp() override {
    if (!Works(kRscript, {"-e", "library(rpart)"})) {
      GTEST_SKIP() << kRscript << " with the rpart package is not installed";
    }
  }
};

TEST_F(SklearnConverter, EveryRowReachesTheSourcesLeafWithItsPrediction) {
  ConvertAndCompareAll("sklearn", Fitted(kPython, "sklearn_cases.py"), "sklearn2treexport");
}

TEST_F(SklearnConverter, WritesTheFileGivenAndRefusesWhatItCannotConvert) {
  const Cases& cases = Fitted(kPython, "sklearn_cases.py");
  ASSERT_EQ(cases.run.status, 0) << cases.run.err;
  const std::string tool = kTools + "/sklearn2treexport";
  const std::string model = cases.dir->File("iris_shallow.pickle");
  const CommandResult toStdout = RunCommand(tool, {model});
  const std::string path = cases.dir->File("iris_shallow.json");
  const CommandResult toFile = RunCommand(tool, {"-o", path, model});
  EXPECT_EQ(toFile.status, 0) << toFile.err;
  EXPECT_EQ(toFile.out, "");
  EXPECT_EQ(ReadFile(path), toStdout.out);
  // Written through a temporary file, yet with the mode any file the user creates gets.
  struct stat written {};
  ASSERT_EQ(::stat(path.c_str(), &written), 0);
  const mode_t mask = ::umask(0);
  ::umask(mask);
  EXPECT_EQ(written.st_mode & 0777, 0666 & ~mask);
  // The shallow iris tree: one split, the root's improvement is the Gini decrease
  // 2/3 - 100/150 * 1/2 = 1/3, setosa alone on the left.
  memtree::Model loaded = memtree::ParseModel(toStdout.out, "iris_shallow.json");
  EXPECT_EQ(loaded.tree->GetAlgorithmType(), 0);
  const memtree::MemNode& root = loaded.tree->GetNode(0);
  ASSERT_NE(root.GetSplitSpec(), nullptr);
  EXPECT_TRUE(Close(root.GetSplitSpec()->statistics[0].value_or(NAN), 1.0 / 3.0));
  EXPECT_EQ(root.GetCount(tree::TRAINING_SAMPLE), 150);

  const std::vector<Refusal> refused = {
      {{cases.dir->File("forest.joblib")}, 2, "RandomForestClassifier, an ensemble of trees"},
      {{cases.dir->File("two_outputs.joblib")}, 2, "has 2 outputs"},
      {{cases.dir->File("dict.pickle")}, 2, "holds a dict, not a DecisionTreeClassifier"},
      {{cases.dir->File("iris_deep.csv")}, 2, "iris_deep.csv: not a pickle or joblib file"},
      {{cases.dir->File("absent.pickle")}, 2, "absent.pickle: no such file"},
      {{}, 1, "give either MODEL or --fit DATASET"},
      {{"--fit", "mnist"}, 1, "invalid choice: 'mnist'"},
      {{"--fit", "iris", "--feature-names", "a,b"}, 2, "gives 2 names for 4 features"},
  };
  ExpectRefused(tool, refused);
}

TEST_F(SklearnConverter, MissingGoToLeftBecomesEachSplitsMissingValueChild) {
  TempDir dir;
  const CommandResult run =
      RunCommand(kPython, {kScripts + "/sklearn_missing.py", kPackage + "/python", dir.File("m")});
  ASSERT_EQ(run.status, 0) << run.err;
  memtree::Model model = memtree::LoadModel(dir.File("m.json"));
  const Table expected = ParseCsv(ReadFile(dir.File("m.csv")));
  ASSERT_GE(expected.rows.size(), 2u);
  std::map<unsigned, std::size_t> byId;
  for (std::size_t i = 0; i < model.tree->GetNumberOfNodes(); ++i) {
    byId[model.tree->GetNode(i).GetId()] = i;
  }
  for (std::size_t r = 0; r + 1 < expected.rows.size(); ++r) {
    const unsigned id = static_cast<unsigned>(std::stoul(expected.rows[r][0]));
    ASSERT_EQ(byId.count(id), 1u) << id;
    const memtree::MemNode& node = model.tree->GetNode(byId.at(id));
    const memtree::RuleSpec* split = node.GetSplitSpec();
    ASSERT_NE(split, nullptr) << id;
    // The missing-value child comes first, where the PMML document's order lets it take them.
    ASSERT_EQ(split->missingChild, 0) << "node " << id;
    const std::size_t child = static_cast<std::size_t>(node.GetChildIndices()[0]);
    EXPECT_EQ(std::to_string(model.tree->GetNode(child).GetId()), expected.rows[r][1])
        << "node " << id;
  }
  const std::string leaf = expected.rows.back()[1];
  const std::vector<std::optional<double>> allMissing(4);
  EXPECT_EQ(std::to_string(model.tree->Route(allMissing)), leaf);
  EXPECT_EQ(PmmlTreeEvaluator(ExportPmml(model)).LeafId({}), leaf);
  EXPECT_EQ(PmmlTreeEvaluator(ExportPmml(model, true), PmmlMode::kStandard).LeafId({}), leaf);
}

TEST_F(RpartConverter, EveryRowWithAndWithoutMissingValuesReachesRpartsNode) {
  ConvertAndCompareAll("rpart", Fitted(kRscript, "rpart_cases.R"), "rpart2treexport");
}

TEST_F(RpartConverter, CarriesPriorsWeightsAndSurrogatesAndRefusesWhatItCannotConvert) {
  const Cases& cases = Fitted(kRscript, "rpart_cases.R");
  ASSERT_EQ(cases.run.status, 0) << cases.run.err;
  const std::string tool = kTools + "/rpart2treexport";
  const CommandResult priors = RunCommand(tool, {cases.dir->File("kyphosis_prior_weights.rds")});
  ASSERT_EQ(priors.status, 0) << priors.err;
  memtree::Model model = memtree::ParseModel(priors.out, "kyphosis_prior_weights.json");
  EXPECT_EQ(model.tree->GetAlgorithmType(), 1);
  ASSERT_TRUE(model.tree->GetPriors().has_value());
  EXPECT_EQ(*model.tree->GetPriors(), (std::vector<double>{0.6, 0.4}));
  ASSERT_NE(model.metadata->GetCaseWeight(), nullptr);
  EXPECT_EQ(model.metadata->GetCaseWeight()->GetName(), "w_kyph");
  // rpart numbers its nodes 1, 2, 3, ...: the root is 1 and has surrogates.
  EXPECT_EQ(model.tree->GetNode(0).GetId(), 1u);
  EXPECT_FALSE(model.tree->GetNode(0).GetSurrogateSpecs().empty());

  const CommandResult plain = RunCommand(tool, {cases.dir->File("kyphosis.rds")});
  ASSERT_EQ(plain.status, 0) << plain.err;
  EXPECT_EQ(memtree::ParseModel(plain.out, "kyphosis.json").tree->GetAlgorithmType(), 0);
  // The same file after "--", and from standard input.
  EXPECT_EQ(RunCommand(tool, {"--", cases.dir->File("kyphosis.rds")}).out, plain.out);
  EXPECT_EQ(RunCommand(tool, {"-"}, ReadFile(cases.dir->File("kyphosis.rds"))).out, plain.out);
  // What treexport --from passes on: new names, and --portable, which changes nothing here.
  const CommandResult renamed =
      RunCommand(tool, {"--feature-names", "age,number,start", "--target-name=kyphosis",
                        "--portable", cases.dir->File("kyphosis.rds")});
  ASSERT_EQ(renamed.status, 0) << renamed.err;
  memtree::Model named = memtree::ParseModel(renamed.out, "renamed.json");
  std::vector<std::string> names;
  for (const mdt::Variable& p : *named.metadata->GetPredictors()) names.push_back(p.GetName());
  EXPECT_EQ(names, (std::vector<std::string>{"age", "number", "start"}));
  EXPECT_EQ(named.metadata->GetTarget()->GetName(), "kyphosis");

  const std::vector<Refusal> refused = {
      {{cases.dir->File("poisson.rds")}, 2, "method \"poisson\""},
      {{cases.dir->File("lm.rds")}, 2, "holds an object of class lm, not an rpart tree"},
      {{cases.dir->File("usesurrogate1.rds")}, 2, "usesurrogate = 1"},
      {{cases.dir->File("transformed.rds")},
       2,
       "the formula term log(Temp) is a transformation, which a scoring document cannot compute; "
       "compute the column first"},
      {{cases.dir->File("kyphosis.csv")}, 2, "kyphosis.csv: not a file written by saveRDS"},
      {{cases.dir->File("absent.rds")}, 2, "absent.rds: no such file"},
      {{}, 1, "no MODEL given"},
      {{"--bogus", "x.rds"}, 1, "unknown option --bogus"},
      {{"--", "--bogus"}, 2, "--bogus: no such file"},
      {{"--feature-names", "a,b", cases.dir->File("kyphosis.rds")},
       2,
       "gives 2 feature names for 3 predictors (Age, Number, Start)"},
  };
  ExpectRefused(tool, refused);
}

// The Python package, installed into a fresh virtual environment that sees the system's
// scikit-learn, once per test program; its tests share it.
struct Venv {
  std::unique_ptr<TempDir> dir;
  CommandResult made;     // python3 -m venv
  CommandResult install;  // pip install ./python
  std::string python;
};

const Venv& InstalledPackage() {
  static Venv venv;
  if (!venv.dir) {
    venv.dir = std::make_unique<TempDir>();
    venv.python = venv.dir->File("venv/bin/python");
    venv.made =
        RunCommand(kPython, {"-m", "venv", "--system-site-packages", venv.dir->File("venv")});
    if (venv.made.status == 0) {
      venv.install = RunCommand(venv.python, {"-m", "pip", "install", "--no-index",
                                              "--no-build-isolation", kPackage + "/python"});
    }
  }
  return venv;
}

class PythonPackage : public testing::Test {
 protected:
  void SetUp() override {
    if (!Works(kPython, {"-c", "import sklearn, pandas, ensurepip, setuptools"})) {
      GTEST_SKIP() << kPython << " with scikit-learn, pandas, venv and setuptools is not installed";
    }
    const Venv& venv = InstalledPackage();
    ASSERT_EQ(venv.made.status, 0) << venv.made.err;
    ASSERT_EQ(venv.install.status, 0) << venv.install.out << venv.install.err;
    python_ = venv.python;
  }

  // Runs the treexport command with TREEXPORT_PYTHON naming python.
  static CommandResult Treexport(const std::string& python, const std::vector<std::string>& args,
                                 const std::string& input = "") {
    setenv("TREEXPORT_PYTHON", python.c_str(), 1);
    CommandResult result = RunCommand(kTreexport, args, input);
    unsetenv("TREEXPORT_PYTHON");
    return result;
  }

  std::string python_;
};

TEST_F(PythonPackage, PassesItsOwnTestsInstalled) {
  const bool pytest = Works(python_.c_str(), {"-c", "import pytest"});
  const CommandResult run =
      pytest
          ? RunCommand(python_,
                       {"-m", "pytest", "-q", "-p", "no:cacheprovider", kPackage + "/python/tests"})
          : RunCommand(python_, {"-m", "unittest", "discover", "-s", kPackage + "/python/tests"});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  std::cout << (pytest ? run.out.substr(run.out.rfind('\n', run.out.size() - 2) + 1) : run.err);
  // The compiled module is the one that runs: no test of the documents was skipped.
  EXPECT_EQ(run.out.find("skipped"), std::string::npos) << run.out;
}

TEST_F(PythonPackage, EveryRowOfTreesAndPipelinesReachesScikitLearnsLeaf) {
  TempDir dir;
  const CommandResult run =
      RunCommand(python_, {kScripts + "/python_package_cases.py", dir.path()});
  ASSERT_EQ(run.status, 0) << run.err;
  const Table list = ParseCsv(ReadFile(dir.File("cases.csv")));
  ASSERT_GE(list.rows.size(), 7u);
  int total = 0;
  for (const std::vector<std::string>& c : list.rows) {
    const std::string& name = c[0];
    memtree::Model model = memtree::LoadModel(dir.File(name + ".json"));
    EXPECT_EQ(model.tree->IsClassification(), c[1] == "classification") << name;
    // to_pmml and to_tree_xml write what the command writes for the model file to_model wrote.
    const std::string pmml = ReadFile(dir.File(name + ".pmml"));
    const CommandResult fromJson = RunCommand(kTreexport, {"pmml", dir.File(name + ".json")});
    EXPECT_TRUE(fromJson.status == 0 && fromJson.out == pmml) << name << ": " << fromJson.err;
    EXPECT_TRUE(ReadFile(dir.File(name + ".xml")) == ExportTreeXml(model)) << name;
    const Table table = ParseCsv(ReadFile(dir.File(name + ".csv")));
    const Tally tally = RowComparer(name, model, table, ExportDocuments(model)).CompareAll();
    std::cout << "python " << name << ": portable PMML (standard reading) " << tally.portableRows
              << " rows, " << tally.portableDisagreements << " disagreements; model file and "
              << "format PMML " << tally.rows << " rows, " << tally.disagreements
              << " disagreements, " << tally.pmmlRoundedThresholds
              << " more on thresholds the format's 15 digits move\n";
    EXPECT_EQ(tally.rows + tally.pmmlRoundedThresholds, static_cast<int>(table.rows.size()))
        << name;
    EXPECT_EQ(tally.disagreements, 0) << name;
    EXPECT_EQ(tally.portableRows, static_cast<int>(table.rows.size())) << name;
    EXPECT_EQ(tally.portableDisagreements, 0) << name;
    const CommandResult portable =
        RunCommand(kTreexport, {"pmml", "--portable", dir.File(name + ".json")});
    EXPECT_TRUE(portable.status == 0 && portable.out == ReadFile(dir.File(name + ".portable.pmml")))
        << name << ": " << portable.err;
    total += tally.rows;

    // The command reads the same pickle through the package: the same document.
    std::vector<std::string> args{"pmml", "--from",        "sklearn",
                                  c[2],   "--target-name", model.metadata->GetTarget()->GetName()};
    if (name == "iris_names_given") args.insert(args.end(), {"--feature-names", "a,b,c,d"});
    const CommandResult command = Treexport(python_, args);
    EXPECT_EQ(command.status, 0) << name << ": " << command.err;
    EXPECT_TRUE(command.out == pmml) << name;
    args.push_back("--portable");  // passed on to the converter, and the profile written
    const CommandResult portableCommand = Treexport(python_, args);
    EXPECT_EQ(portableCommand.status, 0) << name << ": " << portableCommand.err;
    EXPECT_TRUE(portableCommand.out == ReadFile(dir.File(name + ".portable.pmml"))) << name;
  }
  std::cout << "python: " << total << " rows compared in all\n";

  // Standard input, through python -m treexport and through the command.
  const std::string pickle = ReadFile(dir.File("pipeline_mixed.pickle"));
  const std::string expected = ReadFile(dir.File("pipeline_mixed.xml"));
  const CommandResult module =
      RunCommand(python_, {"-m", "treexport", "xml", "-", "--target-name", "level"}, pickle);
  EXPECT_EQ(module.status, 0) << module.err;
  EXPECT_TRUE(module.out == expected);
  const CommandResult command =
      Treexport(python_, {"xml", "--from", "sklearn", "-", "--target-name", "level"}, pickle);
  EXPECT_EQ(command.status, 0) << command.err;
  EXPECT_TRUE(command.out == expected);
}

TEST_F(PythonPackage, CommandNamesTheInterpreterThatCannotReadATree) {
  TempDir dir;
  // A tree pickled with node records of scikit-learn 1.3 and later (missing_go_to_left).
  const std::string newer = dir.File("newer.pickle");
  const CommandResult made = RunCommand(
      python_, {"-c",
                "import pickle, sys; sys.path.insert(0, sys.argv[1]);"
                "from newer_trees import with_missing_routing;"
                "from sklearn.datasets import load_iris;"
                "from sklearn.tree import DecisionTreeClassifier;"
                "d = load_iris(); t = DecisionTreeClassifier(max_depth=2).fit(d.data, d.target);"
                "t.tree_ = with_missing_routing(t.tree_, t.tree_.children_left >= 0);"
                "pickle.dump(t, open(sys.argv[2], 'wb'))",
                kPackage + "/python/tests", newer});
  ASSERT_EQ(made.status, 0) << made.err;
  const CommandResult version =
      RunCommand(python_, {"-c", "import sklearn; print(sklearn.__version__)"});
  const std::string sklearn = "scikit-learn " + version.out.substr(0, version.out.find('\n'));
  const CommandResult newerTree = Treexport(python_, {"pmml", "--from", "sklearn", newer});
  if (newerTree.status == 0) {
    std::cout << "this " << sklearn << " reads node records with missing_go_to_left\n";
  } else {
    EXPECT_EQ(newerTree.status, 2);
    EXPECT_NE(newerTree.err.find("newer.pickle: not a pickle or joblib file that " + python_),
              std::string::npos)
        << newerTree.err;
    EXPECT_NE(newerTree.err.find(sklearn + ") can read"), std::string::npos) << newerTree.err;
    EXPECT_NE(newerTree.err.find("TREEXPORT_PYTHON"), std::string::npos) << newerTree.err;
  }
  // A Python that sees no numpy or scikit-learn: the converter says which one it was.
  const std::string bare = dir.File("bare-python");
  testing_support::WriteFile(bare, "#!/bin/sh\nexec " + std::string(kPython) + " -I -S \"$@\"\n");
  ASSERT_EQ(::chmod(bare.c_str(), 0755), 0);
  const CommandResult noNumpy = Treexport(bare, {"pmml", "--from", "sklearn", newer});
  EXPECT_EQ(noNumpy.status, 2);
  EXPECT_NE(noNumpy.err.find("cannot load the treexport package"), std::string::npos)
      << noNumpy.err;
  EXPECT_NE(noNumpy.err.find("run by " + bare), std::string::npos) << noNumpy.err;
  EXPECT_EQ(noNumpy.err.find("Traceback"), std::string::npos) << noNumpy.err;
  // An interpreter that is not there.
  const CommandResult absent =
      Treexport(dir.File("no-python"), {"info", "--from", "sklearn", newer});
  EXPECT_EQ(absent.status, 2);
  EXPECT_NE(absent.err.find("cannot run " + dir.File("no-python") + " for sklearn2treexport"),
            std::string::npos)
      << absent.err;
}

// The R package, installed into a temporary library once per test program, as a user would
// install it; its functions export through the treexport command of this build.
class RPackage : public RpartConverter {
 protected:
  struct Library {
    TempDir dir;
    CommandResult install;
  };

  void SetUp() override {
    RpartConverter::SetUp();
    if (IsSkipped()) return;
    static const std::unique_ptr<Library> library = [] {
      auto made = std::make_unique<Library>();
      made->install = RunCommand(
          "/usr/bin/R", {"CMD", "INSTALL", "--no-html", "-l", made->dir.path(), kRPackage});
      return made;
    }();
    ASSERT_EQ(library->install.status, 0) << library->install.out << library->install.err;
    library_ = library->dir.path();
  }

  // Runs Rscript with the package's library and this build's treexport command.
  CommandResult Rscript(const std::vector<std::string>& args) const {
    std::vector<std::string> all = {"R_LIBS=" + library_, "TREEXPORT_COMMAND=" + kTreexport,
                                    kRscript};
    all.insert(all.end(), args.begin(), args.end());
    return RunCommand("/usr/bin/env", all);
  }

  std::string library_;
};

TEST_F(RPackage, WritesDocumentsThatSendEveryRowToRpartsNode) {
  const Cases& cases = Fitted(kRscript, "rpart_cases.R");
  ASSERT_EQ(cases.run.status, 0) << cases.run.err;
  const CommandResult exported = Rscript({kScripts + "/rpart_package.R", cases.dir->path()});
  ASSERT_EQ(exported.status, 0) << exported.err;
  CompareAll("rpart package", cases, [&](const std::vector<std::string>& c) {
    const std::string stem = cases.dir->File(c[0] + ".package");
    return std::optional<Converted>(Converted{
        ReadFile(stem + ".json"),
        {ReadFile(stem + ".pmml"), ReadFile(stem + ".portable.pmml"), ReadFile(stem + ".xml")}});
  });
}

TEST_F(RPackage, PassesItsOwnTests) {
  if (!Works(kRscript, {"-e", "library(testthat)"})) {
    GTEST_SKIP() << kRscript << " with the testthat package is not installed";
  }
  const CommandResult run = Rscript(
      {"-e", "testthat::test_dir('" + kRPackage +
                 "/tests/testthat', package = 'treexport', "
                 "load_package = 'installed', reporter = 'summary', stop_on_failure = TRUE)"});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  std::cout << run.out;
}

}  // namespace
