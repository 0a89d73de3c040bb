// Trees fitted by scikit-learn and rpart, exported through the Python and R packages installed as
// a user installs them, must send every row to the leaf the fitting software sends it to, with
// the same prediction, through the model file and through the portable PMML document read as
// standard PMML 4.3 only; the format profile's document must be what the command writes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/memtree/model_file.h"
#include "tests/support/pmml_evaluator.h"
#include "tests/support/run_command.h"
#include "tests/support/xml_check.h"
#include "treexml/xml_output_adapter.h"

namespace {

using testing_support::CommandResult;
using testing_support::ExpectFailure;
using testing_support::PmmlMode;
using testing_support::PmmlRecord;
using testing_support::PmmlTreeEvaluator;
using testing_support::ReadFile;
using testing_support::RunCommand;
using testing_support::TempDir;
using testing_support::XmlDoc;

const char* const kPython = "/usr/bin/python3";
const char* const kRscript = "/usr/bin/Rscript";
const std::string kScripts = TREEXPORT_E2E_DIR;
const std::string kSource = TREEXPORT_SOURCE_DIR;
const std::string kTreexport = TREEXPORT_EXE;

struct Table {
  std::vector<std::string> header;
  std::vector<std::vector<std::string>> rows;
};

// CSV as both scripts write it: fields optionally in double quotes, "" for a quote inside.
Table ParseCsv(const std::string& text) {
  Table table;
  std::vector<std::string> row;
  std::string field;
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted && c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
      field += text[++i];
    } else if (c == '"') {
      quoted = !quoted;
    } else if (quoted || (c != ',' && c != '\n' && c != '\r')) {
      field += c;
    } else if (c == ',') {
      row.push_back(std::move(field));
      field.clear();
    } else if (c == '\n') {
      row.push_back(std::move(field));
      field.clear();
      (table.header.empty() ? table.header : table.rows.emplace_back()) = std::move(row);
      row.clear();
    }
  }
  return table;
}

std::optional<double> Number(const std::string& text) {
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  return text.empty() || *end != '\0' ? std::nullopt : std::optional<double>(v);
}

bool Close(const std::optional<double>& a, const std::optional<double>& b) {
  return a && b &&
         (*a == *b || std::fabs(*a - *b) <= 1e-12 * std::max(std::fabs(*a), std::fabs(*b)));
}

// Class labels match as texts, or as numbers when both are ("0" and "0.0").
bool SameLabel(const std::string& a, const std::string& b) {
  const std::optional<double> x = Number(a), y = Number(b);
  return a == b || (x && y && *x == *y);
}

// Code -> first value text of a categorical field, read back through the field's own encoder.
std::map<int, std::string> CategoryTexts(const mdt::Variable& field) {
  std::map<int, std::string> texts;
  const auto* encoder = dynamic_cast<const mdt::MapEncoder*>(field.GetEncoding());
  if (encoder == nullptr) return texts;
  for (int code : encoder->EncodedValues()) {
    const std::vector<mdt::Variant> values = encoder->Decode(code).GetAllValues();
    if (values.empty()) continue;
    const mdt::Variant& v = values.front();
    char number[32];
    std::snprintf(number, sizeof number, "%.17g", static_cast<double>(v));
    texts[code] = v.GetType() == mdt::Variant::TEXT ? static_cast<const char*>(v) : number;
  }
  return texts;
}

std::string ExportTreeXml(const memtree::Model& model) {
  TreeOut::XMLOutputAdapter adapter;
  std::ostringstream out;
  adapter.GenerateXML(out, *model.tree, model.metadata.get());
  return out.str();
}

// Compares the rows of the source's table with a model file and its portable PMML document.
class RowComparer {
 public:
  RowComparer(const std::string& name, const memtree::Model& model, const Table& table,
              const std::string& portable)
      : name_(name),
        tree_(*model.tree),
        table_(table),
        predictors_(*model.metadata->GetPredictors()),
        labels_(CategoryTexts(*model.metadata->GetTarget())),
        portable_(portable, PmmlMode::kStandard) {
    for (const mdt::Variable& predictor : predictors_) {
      columns_.push_back(Column(predictor.GetName()));
      codes_.emplace_back();
      for (const auto& [code, text] : CategoryTexts(predictor)) codes_.back()[text] = code;
    }
    for (std::size_t i = 0; i < tree_.GetNumberOfNodes(); ++i) byId_[tree_.GetNode(i).GetId()] = i;
    leaf_ = Column("leaf");
    predicted_ = Column("predicted");
  }

  // The number of rows with a disagreement; the first five are reported.
  int CompareAll() {
    int disagreements = 0;
    for (std::size_t r = 0; r < table_.rows.size(); ++r) {
      std::vector<std::string> problems;
      Compare(table_.rows[r], problems);
      if (problems.empty() || ++disagreements > 5) continue;
      std::string all;
      for (const std::string& p : problems) all += "; " + p;
      ADD_FAILURE() << name_ << " row " << r + 1 << all;
    }
    return disagreements;
  }

 private:
  std::size_t Column(const std::string& name) const {
    const auto it = std::find(table_.header.begin(), table_.header.end(), name);
    if (it == table_.header.end()) throw std::runtime_error(name_ + ": no column " + name);
    return static_cast<std::size_t>(it - table_.header.begin());
  }

  void Compare(const std::vector<std::string>& row, std::vector<std::string>& problems) const {
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
      } else if (name_.find("unknown") == std::string::npos) {  // there: missing to the host
        problems.push_back(predictors_[p].GetName() + " value '" + cell + "' is no category");
      }
    }
    const std::string& leaf = row[leaf_];
    const memtree::MemNode& host =
        tree_.GetNode(byId_.at(static_cast<unsigned>(tree_.Route(record))));
    if (std::to_string(host.GetId()) != leaf) {
      problems.push_back("host leaf " + std::to_string(host.GetId()) + ", source " + leaf);
    }
    if (tree_.IsClassification()) {
      const memtree::MemClsInfo& info = *host.GetClsStats(0);
      const auto label = labels_.find(info.GetPredictedCategory());
      if (label == labels_.end() || !SameLabel(label->second, row[predicted_])) {
        problems.push_back("host class");
      }
      for (const auto& [code, name] : labels_) {
        if (!Close(info.GetCategoryProbability(code), Number(row[Column("p:" + name)]))) {
          problems.push_back("host p(" + name + ")");
        }
      }
    } else if (!Close(host.GetRegStats(0)->GetPrediction(), Number(row[predicted_]))) {
      problems.push_back("host prediction");
    }
    // The portable document, read as the standard says, with no exception of any kind: its
    // leaf, its predicted class and every class probability, or its value.
    const std::string pmmlLeaf = portable_.LeafId(text);
    if (pmmlLeaf != leaf) problems.push_back("PMML leaf " + pmmlLeaf + ", source " + leaf);
    const std::string score = portable_.Score(text);
    if (!tree_.IsClassification()) {
      if (!Close(Number(score), Number(row[predicted_]))) problems.push_back("PMML " + score);
      return;
    }
    if (!SameLabel(score, row[predicted_])) problems.push_back("PMML class " + score);
    const std::map<std::string, double> probabilities = portable_.Probabilities(text);
    for (const auto& [code, name] : labels_) {
      std::optional<double> p;
      for (const auto& [value, q] : probabilities) {
        if (SameLabel(value, name)) p = q;
      }
      if (!Close(p, Number(row[Column("p:" + name)]))) problems.push_back("PMML p(" + name + ")");
    }
  }

  std::string name_;
  const memtree::MemTree& tree_;
  const Table& table_;
  const std::vector<mdt::Variable>& predictors_;
  std::map<int, std::string> labels_;  // target code -> label
  PmmlTreeEvaluator portable_;
  std::vector<std::size_t> columns_;               // per predictor
  std::vector<std::map<std::string, int>> codes_;  // per predictor: level -> code
  std::map<unsigned, std::size_t> byId_;
  std::size_t leaf_ = 0, predicted_ = 0;
};

// Scores every case a script wrote into dir: the model file NAME.json, its documents (which
// must be what this build writes for it, valid against the schema and the DTD) and the
// source's table NAME.csv. Prints the rows and disagreements of each case.
void CompareAll(const std::string& source, const std::string& dir) {
  const Table cases = ParseCsv(ReadFile(dir + "/cases.csv"));
  ASSERT_GE(cases.rows.size(), 7u);
  for (const std::vector<std::string>& c : cases.rows) {
    const std::string name = c[0], stem = dir + "/" + name;
    const memtree::Model model = memtree::ParseModel(ReadFile(stem + ".json"), name + ".json");
    EXPECT_EQ(model.tree->IsClassification(), c[1] == "classification") << name;
    const std::string pmml = ReadFile(stem + ".pmml"), portable = ReadFile(stem + ".portable.pmml");
    // What the command writes for the model file (its Header names the command).
    const CommandResult command = RunCommand(kTreexport, {"pmml", stem + ".json"});
    const CommandResult portableCommand =
        RunCommand(kTreexport, {"pmml", "--portable", stem + ".json"});
    EXPECT_TRUE(command.status == 0 && command.out == pmml) << name << command.err;
    EXPECT_TRUE(portableCommand.status == 0 && portableCommand.out == portable) << name;
    EXPECT_TRUE(ReadFile(stem + ".xml") == ExportTreeXml(model)) << name;
    EXPECT_EQ(XmlDoc(pmml).PmmlSchemaErrors(), "") << name;
    EXPECT_EQ(XmlDoc(portable).PmmlSchemaErrors(), "") << name;
    const XmlDoc treeXml(ReadFile(stem + ".xml"));
    EXPECT_EQ(treeXml.DtdErrors(kSource + "/docs/Tree.dtd"), "") << name;
    EXPECT_EQ(treeXml.Number("count(//*[contains(name(), 'Node')])"),
              static_cast<double>(model.tree->GetNumberOfNodes()))
        << name;

    const Table table = ParseCsv(ReadFile(stem + ".csv"));
    const int disagreements = RowComparer(name, model, table, portable).CompareAll();
    std::cout << source << " " << name << ": " << table.rows.size() << " rows, " << disagreements
              << " with a disagreement\n";
    EXPECT_GT(table.rows.size(), 0u) << name;
    EXPECT_EQ(disagreements, 0) << name;
  }
}

bool Works(const char* program, const std::vector<std::string>& args) {
  return access(program, X_OK) == 0 && RunCommand(program, args).status == 0;
}

// The Python package, installed into a fresh virtual environment that sees the system's
// scikit-learn, with its cases exported once per test program; the tests share them.
class PythonPackage : public testing::Test {
 protected:
  struct Setup {
    TempDir dir;
    std::string python = dir.File("venv/bin/python");
    CommandResult made, install, cases;
  };

  void SetUp() override {
    if (!Works(kPython, {"-c", "import sklearn, pandas, ensurepip, setuptools"})) {
      GTEST_SKIP() << kPython << " with scikit-learn, pandas, venv and setuptools is not installed";
    }
    static const std::unique_ptr<Setup> setup = [] {
      auto s = std::make_unique<Setup>();
      s->made = RunCommand(kPython, {"-m", "venv", "--system-site-packages", s->dir.File("venv")});
      if (s->made.status == 0) {
        s->install = RunCommand(s->python, {"-m", "pip", "install", "--no-index",
                                            "--no-build-isolation", kSource + "/python"});
      }
      ::mkdir(s->dir.File("cases").c_str(), 0755);
      if (s->install.status == 0) {
        s->cases =
            RunCommand(s->python, {kScripts + "/python_package_cases.py", s->dir.File("cases")});
      }
      return s;
    }();
    ASSERT_EQ(setup->made.status, 0) << setup->made.err;
    ASSERT_EQ(setup->install.status, 0) << setup->install.out << setup->install.err;
    ASSERT_EQ(setup->cases.status, 0) << setup->cases.err;
    python_ = setup->python;
    cases_ = setup->dir.File("cases");
  }

  // Runs the treexport command with TREEXPORT_PYTHON naming python.
  static CommandResult Treexport(const std::string& python, const std::vector<std::string>& args,
                                 const std::string& input = "") {
    setenv("TREEXPORT_PYTHON", python.c_str(), 1);
    CommandResult result = RunCommand(kTreexport, args, input);
    unsetenv("TREEXPORT_PYTHON");
    return result;
  }

  std::string python_, cases_;
};

TEST_F(PythonPackage, PassesItsOwnTestsInstalled) {
  const bool pytest = Works(python_.c_str(), {"-c", "import pytest"});
  const CommandResult run =
      pytest ? RunCommand(python_, {"-m", "pytest", "-q", "-p", "no:cacheprovider",
                                    kSource + "/python/tests"})
             : RunCommand(python_, {"-m", "unittest", "discover", "-s", kSource + "/python/tests"});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  // The compiled module is the one that runs: no test of the documents was skipped.
  EXPECT_EQ(run.out.find("skipped"), std::string::npos) << run.out;
}

TEST_F(PythonPackage, EveryRowOfTreesAndPipelinesReachesScikitLearnsLeaf) {
  CompareAll("python", cases_);
  // A split's missing-value child (missing_go_to_left's, or the encoder's side for missing and
  // unknown categories) comes first, where a consumer that tries children in order gives it
  // the missing values.
  for (const char* name :
       {"iris_missing_go_to_left", "pipeline_mixed", "pipeline_missing_colour",
        "pipeline_unknown_ordinal", "pipeline_unknown_onehot"}) {
    const std::string path = cases_ + "/" + name + ".json";
    if (access(path.c_str(), R_OK) != 0) continue;  // before scikit-learn 1.1: no such case
    const memtree::Model model = memtree::LoadModel(path);
    int withMissingChild = 0;
    for (std::size_t i = 0; i < model.tree->GetNumberOfNodes(); ++i) {
      const std::optional<memtree::RuleView> split = model.tree->GetNode(i).GetSplitSpec();
      if (!split || split->missingChild < 0) continue;
      ++withMissingChild;
      EXPECT_EQ(split->missingChild, 0) << name << " node " << model.tree->GetNode(i).GetId();
    }
    EXPECT_GT(withMissingChild, 0) << name;
  }
}

// treexport --from sklearn runs the package through the interpreter TREEXPORT_PYTHON names.
TEST_F(PythonPackage, CommandReadsPicklesThroughThePackage) {
  const std::string c = cases_ + "/";
  for (const auto& [name, file, extra] :
       {std::make_tuple(
            "iris_names_given", "iris_names_given.pickle",
            std::vector<std::string>{"--feature-names", "a,b,c,d", "--target-name", "species"}),
        std::make_tuple("wine_entropy", "wine_entropy.joblib",
                        std::vector<std::string>{"--target-name=cultivar"})}) {
    std::vector<std::string> args{"pmml", "--from", "sklearn", c + file};
    args.insert(args.end(), extra.begin(), extra.end());
    const CommandResult plain = Treexport(python_, args);
    EXPECT_TRUE(plain.status == 0 && plain.out == ReadFile(c + name + ".pmml")) << plain.err;
    args.push_back("--portable");
    const CommandResult portable = Treexport(python_, args);
    EXPECT_TRUE(portable.status == 0 && portable.out == ReadFile(c + name + ".portable.pmml"))
        << portable.err;
  }
  const CommandResult piped =
      Treexport(python_, {"xml", "--from", "sklearn", "-", "--target-name", "level"},
                ReadFile(c + "pipeline_mixed.pickle"));
  EXPECT_TRUE(piped.status == 0 && piped.out == ReadFile(c + "pipeline_mixed.xml")) << piped.err;

  // A tree pickled with the node records of scikit-learn 1.3 and later: an older one cannot
  // read it, and the message names the interpreter and its version.
  const std::string newer = c + "iris_missing_go_to_left.pickle";
  const CommandResult version =
      RunCommand(python_, {"-c", "import sklearn; print(sklearn.__version__)"});
  const std::string sklearn = "scikit-learn " + version.out.substr(0, version.out.find('\n'));
  const CommandResult newerTree = Treexport(python_, {"pmml", "--from", "sklearn", newer});
  if (newerTree.status == 0) {
    std::cout << "this " << sklearn << " reads node records with missing_go_to_left\n";
  } else {
    ExpectFailure(newerTree, 2,
                  {"iris_missing_go_to_left.pickle: not a pickle or joblib file that " + python_,
                   sklearn + ") can read", "TREEXPORT_PYTHON"});
  }
  // A Python that sees no numpy or scikit-learn: the converter says which one it was.
  const std::string bare = c + "bare-python";
  testing_support::WriteFile(bare, "#!/bin/sh\nexec " + std::string(kPython) + " -I -S \"$@\"\n");
  ASSERT_EQ(::chmod(bare.c_str(), 0755), 0);
  const CommandResult noNumpy = Treexport(bare, {"pmml", "--from", "sklearn", newer});
  ExpectFailure(noNumpy, 2, {"cannot load the treexport package", "run by " + bare});
  EXPECT_EQ(noNumpy.err.find("Traceback"), std::string::npos) << noNumpy.err;
}

// The R package, installed into a temporary library as a user would install it, with its
// cases exported once per test program through the treexport command of this build.
class RPackage : public testing::Test {
 protected:
  struct Setup {
    TempDir dir;
    CommandResult install, cases;
  };

  void SetUp() override {
    if (!Works(kRscript, {"-e", "library(rpart)"})) {
      GTEST_SKIP() << kRscript << " with the rpart package is not installed";
    }
    static const std::unique_ptr<Setup> setup = [] {
      auto s = std::make_unique<Setup>();
      s->install = RunCommand("/usr/bin/R",
                              {"CMD", "INSTALL", "--no-html", "-l", s->dir.path(), kSource + "/R"});
      ::mkdir(s->dir.File("cases").c_str(), 0755);
      if (s->install.status == 0) {
        s->cases = Rscript(s->dir.path(), {kScripts + "/rpart_cases.R", s->dir.File("cases")});
      }
      return s;
    }();
    ASSERT_EQ(setup->install.status, 0) << setup->install.out << setup->install.err;
    ASSERT_EQ(setup->cases.status, 0) << setup->cases.err;
    library_ = setup->dir.path();
    cases_ = setup->dir.File("cases");
  }

  // Runs Rscript with the package's library and this build's treexport command.
  static CommandResult Rscript(const std::string& library, const std::vector<std::string>& args) {
    std::vector<std::string> all = {"R_LIBS=" + library, "TREEXPORT_COMMAND=" + kTreexport,
                                    kRscript};
    all.insert(all.end(), args.begin(), args.end());
    return RunCommand("/usr/bin/env", all);
  }

  std::string library_, cases_;
};

TEST_F(RPackage, EveryRowWithAndWithoutMissingValuesReachesRpartsNode) {
  CompareAll("rpart", cases_);
  // Priors and case weights are carried.
  const memtree::Model model = memtree::LoadModel(cases_ + "/kyphosis_prior_weights.json");
  ASSERT_TRUE(model.tree->GetPriors().has_value());
  EXPECT_EQ(*model.tree->GetPriors(), (std::vector<double>{0.6, 0.4}));
  ASSERT_NE(model.metadata->GetCaseWeight(), nullptr);
  EXPECT_EQ(model.metadata->GetCaseWeight()->GetName(), "w_kyph");
}

TEST_F(RPackage, PassesItsOwnTests) {
  if (!Works(kRscript, {"-e", "library(testthat)"})) {
    GTEST_SKIP() << kRscript << " with the testthat package is not installed";
  }
  const CommandResult run =
      Rscript(library_, {"-e", "testthat::test_dir('" + kSource +
                                   "/R/tests/testthat', package = 'treexport', load_package = "
                                   "'installed', reporter = 'summary', stop_on_failure = TRUE)"});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
}

// treexport --from rpart runs the converter of the sources beside it, not the installed package.
TEST_F(RPackage, CommandReadsSavedTreesThroughTheConverter) {
  const std::string rds = cases_ + "/kyphosis.rds";
  const std::string pmml = ReadFile(cases_ + "/kyphosis.pmml");
  const CommandResult file = RunCommand(kTreexport, {"pmml", "--from", "rpart", rds});
  EXPECT_TRUE(file.status == 0 && file.out == pmml) << file.err;
  const CommandResult piped =
      RunCommand(kTreexport, {"pmml", "--from", "rpart", "-"}, ReadFile(rds));
  EXPECT_TRUE(piped.status == 0 && piped.out == pmml) << piped.err;
  const CommandResult renamed =
      RunCommand(kTreexport, {"pmml", "--from", "rpart", "--feature-names", "age,number,start",
                              "--target-name=kyphosis", "--portable", rds});
  ASSERT_EQ(renamed.status, 0) << renamed.err;
  const XmlDoc doc(renamed.out);
  EXPECT_EQ(doc.Texts("//p:DataField/@name"),
            (std::vector<std::string>{"age", "number", "start", "kyphosis"}));
  EXPECT_EQ(doc.Text("//p:TreeModel/@missingValueStrategy"), "lastPrediction");  // portable
  ExpectFailure(RunCommand(kTreexport, {"pmml", "--from", "rpart", cases_ + "/kyphosis.csv"}), 2,
                {"kyphosis.csv: not a file written by saveRDS"});
  ExpectFailure(RunCommand(kTreexport, {"pmml", "--from", "rpart", "--feature-names", "a,b", rds}),
                2, {"gives 2 feature names for 3 predictors (Age, Number, Start)"});
  // The converter's own command line.
  const std::string tool = kSource + "/tools/rpart2treexport";
  ExpectFailure(RunCommand(tool, {}), 1, {"no MODEL given"});
  ExpectFailure(RunCommand(tool, {"--bogus", rds}), 1, {"unknown option --bogus"});
  ExpectFailure(RunCommand(tool, {"--", "--bogus"}), 2, {"--bogus: no such file"});
}

}  // namespace
