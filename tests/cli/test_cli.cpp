// The command as a user meets it: exit statuses and messages, where documents go (the size check
// before writing, links, permission bits, signals during an export), files left alone on
// failure, and what the converters are handed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/size_estimate.h"
#include "host/memtree/model_file.h"
#include "pmml/pmml_output_adapter.h"
#include "tests/support/model_text.h"
#include "tests/support/run_command.h"
#include "treexml/xml_output_adapter.h"

extern char** environ;

namespace {

using namespace testing_support;
using Args = std::vector<std::string>;

const std::string kExe = TREEXPORT_EXE;
const std::string kExamples = std::string(TREEXPORT_SOURCE_DIR) + "/examples/";
const std::string kRegression = kExamples + "regression.json";

CommandResult Treexport(const Args& args, const std::string& input = "") {
  return RunCommand(kExe, args, input);
}

mode_t Mode(const std::string& path) {
  struct stat status {};
  EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
  return status.st_mode & 07777;
}

TEST(Cli, StatusesAndMessages) {
  TempDir dir;
  const CommandResult info = Treexport({"info", "-"}, ReadFile(kRegression));
  EXPECT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.out.find("Target:     price (continuous)"), std::string::npos);
  EXPECT_EQ(info.err, "");
  // The command's own version first, then the library's record, named as such.
  EXPECT_EQ(Treexport({"--version"}).out, "treexport " TREEXPORT_VERSION_TEXT
                                          "\nexport library arbtrexm_legacyr, component version "
                                          "record 1.0.1.6 (10/21/17 22:55:56)\n");
  EXPECT_NE(Treexport({"info", "--help"}).out.find("Example: treexport info"), std::string::npos);
  const struct {
    Args args;
    int status;
    std::vector<std::string> texts;
  } cases[] = {
      {{}, 1, {}},
      {{"info"}, 1, {}},
      {{"nonsense"}, 1, {}},
      {{"info", "--frobnicate", kRegression}, 1, {"frobnicate"}},
      {{"pmml", kRegression, "--sample", "1"}, 1, {"--sample 1"}},
      {{"xml", kRegression, "--target-name", "y"}, 1, {}},
      {{"xml", kRegression, "--max-output-size", "8Q"}, 1, {"8Q"}},
      {{"pmml", "--from", "weka", "x"}, 1, {}},
      {{"info", dir.File("absent.json")},
       2,
       {"treexport: " + dir.File("absent.json") +
        ": cannot be opened (No such file or directory)\n"}},
      {{"info", dir.path()},
       2,
       {"treexport: " + dir.path() + ": is a directory, not a model file\n"}},
      {{"pmml", kRegression, "-o", dir.File("no/such/x.pmml")}, 3, {dir.File("no/such/x.pmml")}},
      {{"xml", kRegression, "-o", dir.path()}, 3, {"it is a directory"}},
  };
  for (const auto& c : cases) ExpectFailure(Treexport(c.args), c.status, c.texts);

  // Header texts go into the document as given: what XML 1.0 cannot hold is a usage error,
  // named without echoing it, and nothing is written.
  const std::string target = dir.File("out.pmml");
  for (const auto& [option, value, named] :
       {std::make_tuple("--copyright",
                        "a\x01"
                        "b",
                        "U+0001"),
        std::make_tuple("--algorithm-name", "\xEF\xBF\xBE", "U+FFFE"),
        std::make_tuple("--application-name", "caf\xE9", "not UTF-8"),
        std::make_tuple("--application-version", "1\x1B[2J", "U+001B")}) {
    const CommandResult r = Treexport({"pmml", kRegression, option, value, "-o", target});
    ExpectFailure(r, 1, {option, named});
    EXPECT_EQ(r.err.find('\x1B'), std::string::npos) << "the message echoes the raw text";
  }
  EXPECT_EQ(Listing(dir.path()), Args{});
}

TEST(CliOutput, HeaderTextsGoToTheFileAsGivenAndStandardInputToStandardOutput) {
  TempDir dir;
  const std::string target = dir.File("model.pmml");
  const CommandResult file = Treexport({"pmml", kRegression, "-o", target, "--application-name",
                                        "me", "--copyright", "\xC2\xA9 me\tA\nB"});
  EXPECT_EQ(file.status, 0) << file.err;
  EXPECT_EQ(file.out, "");
  const std::string written = ReadFile(target);
  EXPECT_NE(written.find("copyright=\"\xC2\xA9 me\tA\nB\""), std::string::npos);
  EXPECT_NE(written.find("name=\"me\""), std::string::npos);

  // Standard input to standard output; --portable selects the portable profile.
  const CommandResult xml = Treexport({"xml", "-"}, ReadFile(kExamples + "chaid.json"));
  EXPECT_EQ(
      xml.out.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<!DOCTYPE Tree>\n\n<Tree", 0), 0u)
      << xml.err;
  const CommandResult portable = Treexport({"pmml", "--portable", kExamples + "chaid.json"});
  EXPECT_EQ(portable.out.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<PMML", 0), 0u);
  EXPECT_NE(portable.out.find("noTrueChildStrategy=\"returnLastPrediction\""), std::string::npos);
}

TEST(CliOutput, ADocumentOverTheLimitIsRefusedBeforeAByteIsWritten) {
  TempDir dir;
  const std::string deep = dir.File("deep.json"), target = dir.File("deep.pmml");
  WriteFile(deep, ChainModel(400));
  ExpectFailure(Treexport({"pmml", deep, "-o", target, "--max-output-size", "1M"}), 2,
                {"the PMML document would take about ", "MiB, more than the limit of 1.0 MiB",
                 "399 levels deep", "--max-output-size", "tree XML (treexport xml"});
  EXPECT_EQ(Listing(dir.path()), Args{"deep.json"});
  const CommandResult xml = Treexport({"xml", deep, "--max-output-size", "100K"});
  ExpectFailure(xml, 2, {"the tree XML document would take about"});
  EXPECT_EQ(xml.err.find("or write"), std::string::npos) << xml.err;
  // Under the limit, or with none, the document is written.
  EXPECT_EQ(Treexport({"pmml", deep, "-o", target, "--max-output-size", "0"}).status, 0);
  EXPECT_EQ(Treexport({"pmml", deep, "--max-output-size", "1T"}).out, ReadFile(target));
}

TEST(CliOutput, ALinkedFileIsReplacedInItsFolderAndKeepsItsPermissions) {
  TempDir dir;
  const std::string chaid = kExamples + "chaid.json";
  const std::string expected = Treexport({"pmml", chaid}).out;
  ASSERT_EQ(::mkdir(dir.File("real").c_str(), 0755), 0);
  const std::string real = dir.File("real/doc.pmml");
  WriteFile(real, "old\n");
  ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
  ASSERT_EQ(::symlink("real/doc.pmml", dir.File("link.pmml").c_str()), 0);
  EXPECT_EQ(Treexport({"pmml", chaid, "-o", dir.File("link.pmml")}).status, 0);
  struct stat status {};
  ASSERT_EQ(::lstat(dir.File("link.pmml").c_str(), &status), 0);
  EXPECT_TRUE(S_ISLNK(status.st_mode));
  EXPECT_EQ(ReadFile(real), expected);
  EXPECT_EQ(Mode(real), 0640u);
  EXPECT_EQ(Listing(dir.File("real")), Args{"doc.pmml"});

  // A link to a file not there yet makes that file; new files get 0666 under the umask, and a
  // private file stays private when it is replaced.
  ASSERT_EQ(::symlink(dir.File("real/new.xml").c_str(), dir.File("dangling.xml").c_str()), 0);
  for (const auto& [mask, file, mode] :
       {std::make_tuple(027, "dangling.xml", 0640), std::make_tuple(022, "plain.xml", 0644)}) {
    const mode_t saved = ::umask(mask);
    EXPECT_EQ(Treexport({"xml", chaid, "-o", dir.File(file)}).status, 0);
    ::umask(saved);
    EXPECT_EQ(Mode(dir.File(file)), static_cast<mode_t>(mode)) << file;
  }
  ASSERT_EQ(::chmod(dir.File("plain.xml").c_str(), 0600), 0);
  EXPECT_EQ(Treexport({"pmml", chaid, "-o", dir.File("plain.xml")}).status, 0);
  EXPECT_EQ(Mode(dir.File("plain.xml")), 0600u);
  EXPECT_EQ(ReadFile(dir.File("plain.xml")), expected);

  // What cannot be replaced is written directly: a device, or standard output by its name.
  EXPECT_EQ(Treexport({"pmml", chaid, "-o", "/dev/null"}).status, 0);
  EXPECT_EQ(Treexport({"pmml", chaid, "-o", "/dev/stdout"}).out, expected);
  // A loop of links is a file that cannot be written.
  ASSERT_EQ(::symlink("loop.b", dir.File("loop.a").c_str()), 0);
  ASSERT_EQ(::symlink("loop.a", dir.File("loop.b").c_str()), 0);
  ExpectFailure(Treexport({"pmml", chaid, "-o", dir.File("loop.a")}), 3, {"loop.a"});
}

TEST(CliOutput, ASignalDuringAnExportRemovesTheTemporaryFileAndLeavesTheOldOne) {
  TempDir dir;
  // 8,000 levels: a PMML document of over 600 MB, far longer to write than a signal takes to
  // arrive once its temporary file is there.
  WriteFile(dir.File("deep.json"), ChainModel(8000));
  const std::string target = dir.File("out.pmml");
  std::vector<std::string> args{kExe, "pmml", dir.File("deep.json"), "-o", target};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    WriteFile(target, "the document of yesterday\n");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, kExe.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    bool started = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!started && std::chrono::steady_clock::now() < deadline) {
      started = Listing(dir.path()).size() == 3;  // deep.json, out.pmml and out.pmml.XXXXXX
      if (!started) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ::kill(pid, signal);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(started) << "no temporary file appeared";
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 128 + signal);
    EXPECT_EQ(Listing(dir.path()), (Args{"deep.json", "out.pmml"}));
    EXPECT_EQ(ReadFile(target), "the document of yesterday\n");
  }
}

std::uint64_t Size(const memtree::Model& model, int kind) {  // 0 PMML, 1 portable, 2 tree XML
  std::ostringstream out;
  if (kind == 2) {
    TreeOut::XMLOutputAdapter().GenerateXML(out, *model.tree, model.metadata.get());
  } else {
    TreeOut::PMMLOutputAdapter adapter;
    adapter.SetPortableProfile(kind == 1);
    adapter.GeneratePMML(out, *model.tree, model.metadata.get(), tree::TRAINING_SAMPLE);
  }
  return out.str().size();
}

TEST(SizeEstimate, NeverBelowTheDocumentAndCloseOnBigTrees) {
  std::vector<std::pair<std::string, std::string>> models;
  for (const char* name : {"cart_classification.json", "chaid.json", "regression.json"}) {
    models.emplace_back(name, ReadFile(kExamples + name));
  }
  // Long category labels, which every classification node repeats.
  std::string labels = models[0].second;
  for (const char* label : {"\"bad\"", "\"good\""}) {
    labels = With(labels, label, "\"" + std::string(4000, label[1]) + "\"");
  }
  models.emplace_back("labels", labels);
  for (const auto& [name, text] : models) {
    const memtree::Model model = memtree::ParseModel(text, name);
    EXPECT_GE(cli::EstimateSize(model, 0).pmml, Size(model, 0)) << name;
    EXPECT_GE(cli::EstimateSize(model, 0, true).pmml, Size(model, 1)) << name;
    EXPECT_GE(cli::EstimateSize(model, 0).treeXml, Size(model, 2)) << name;
  }
  // Deep chains, where the indentation is nearly all of the text, of each algorithm; the
  // portable profile's predicates depend on what each rule leaves out: a wider margin.
  for (int algorithm : {0, 2, 4}) {
    const memtree::Model model = memtree::ParseModel(ChainModel(400, algorithm), "chain");
    const cli::SizeEstimate estimate = cli::EstimateSize(model, 0);
    EXPECT_EQ(estimate.depth, 399u);
    EXPECT_EQ(estimate.nodes, 400u);
    const std::uint64_t estimates[] = {estimate.pmml, cli::EstimateSize(model, 0, true).pmml,
                                       estimate.treeXml};
    const double margins[] = {1.25, 2, 1.5};
    for (int kind = 0; kind < 3; ++kind) {
      const double size = static_cast<double>(Size(model, kind));
      EXPECT_GE(static_cast<double>(estimates[kind]), size) << algorithm << " " << kind;
      EXPECT_LE(static_cast<double>(estimates[kind]), margins[kind] * size) << algorithm << kind;
    }
  }
}

TEST(SizeEstimate, SizesAreReadAndShownInBinaryUnits) {
  for (const auto& [text, bytes] :
       {std::make_pair("4096", std::uint64_t{4096}),
        std::make_pair("512M", std::uint64_t{512} << 20),
        std::make_pair("8gib", std::uint64_t{8} << 30), std::make_pair("1.5K", std::uint64_t{1536}),
        std::make_pair("2TB", std::uint64_t{2} << 40), std::make_pair("0", std::uint64_t{0})}) {
    EXPECT_EQ(cli::ParseSize(text), bytes) << text;
  }
  for (const char* bad : {"", "G", "8X", "-1G", "1..5G", "8 G", "iB", "99999999999T"}) {
    EXPECT_FALSE(cli::ParseSize(bad).has_value()) << bad;
  }
  EXPECT_EQ(cli::FormatSize(812), "812 bytes");
  EXPECT_EQ(cli::FormatSize(1536), "1.5 KiB");
  EXPECT_EQ(cli::FormatSize(std::uint64_t{9} << 30), "9.0 GiB");
}

// --from runs the converter named after the kind from TREEXPORT_TOOLS_DIR with the interpreter
// TREEXPORT_PYTHON or TREEXPORT_RSCRIPT names and reads the model file it prints; stand-in
// converters (shell scripts run by /bin/sh) show each way that can go.
TEST(CliFrom, ReadsTheConvertersOutputAndReportsItsFailures) {
  TempDir tools;
  WriteFile(tools.File("rpart2treexport"), "if [ \"$1 $2\" = \"-- fit.rds\" ]; then cat '" +
                                               kRegression + "'; " +
                                               "elif [ \"$1 $2\" = \"-- -\" ]; then cat; fi\n");
  WriteFile(tools.File("sklearn2treexport"),
            "echo \"sklearn2treexport: $*: not a tree\" >&2\nexit 2\n");
  setenv("TREEXPORT_TOOLS_DIR", tools.path().c_str(), 1);
  setenv("TREEXPORT_PYTHON", "/bin/sh", 1);
  setenv("TREEXPORT_RSCRIPT", "sh", 1);  // a name without a slash is looked up on PATH

  const std::string regression = Treexport({"pmml", kRegression}).out;
  EXPECT_EQ(Treexport({"pmml", "--from", "rpart", "fit.rds"}).out, regression);
  // "-" is standard input, handed on to the converter.
  EXPECT_EQ(Treexport({"pmml", "--from", "rpart", "-"}, ReadFile(kRegression)).out, regression);
  // Names are passed on, the model path after a double dash; a failure names the converter
  // and the interpreter that ran it.
  ExpectFailure(Treexport({"xml", "--from", "sklearn", "x.pkl", "--feature-names", "a,b",
                           "--target-name", "y"}),
                2,
                {"--feature-names a,b --target-name y -- x.pkl: not a tree",
                 "sklearn2treexport, run by /bin/sh, could not convert x.pkl"});
  ExpectFailure(Treexport({"pmml", "--from", "sklearn", "--", "--fit"}), 2,
                {"-- --fit: not a tree"});
  setenv("TREEXPORT_PYTHON", tools.File("no-python").c_str(), 1);
  ExpectFailure(Treexport({"xml", "--from", "sklearn", "x.pkl"}), 2,
                {"cannot run " + tools.File("no-python"), "TREEXPORT_PYTHON"});
  unsetenv("TREEXPORT_PYTHON");
  // Output that is not a model file is the loader's to report, under the converter's name.
  WriteFile(tools.File("rpart2treexport"), "#!/bin/sh\necho '{\"format\": 1'\n");
  ExpectFailure(Treexport({"info", "--from", "rpart", "fit.rds"}), 2,
                {"fit.rds (converted by rpart2treexport)"});
  setenv("TREEXPORT_TOOLS_DIR", tools.File("absent").c_str(), 1);
  ExpectFailure(Treexport({"pmml", "--from", "rpart", "fit.rds"}), 2, {"TREEXPORT_TOOLS_DIR"});
  unsetenv("TREEXPORT_TOOLS_DIR");
  unsetenv("TREEXPORT_RSCRIPT");

  // Every help says that a pickle can run code when it is loaded.
  for (const Args& args : {Args{"--help"}, Args{"pmml", "--help"}, Args{"xml", "--help"}}) {
    const std::string help = Treexport(args).out;
    EXPECT_NE(help.find("can run code when it is loaded"), std::string::npos) << help;
    EXPECT_NE(help.find("trust"), std::string::npos) << help;
  }
}

}  // namespace
