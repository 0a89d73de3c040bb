// Where documents go: the size check before writing, files behind symbolic links, permission
// bits, signals during an export, and what the converters are handed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
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

using testing_support::CommandResult;
using testing_support::ReadFile;
using testing_support::RunCommand;
using testing_support::TempDir;
using testing_support::WriteFile;

const std::string kExe = TREEXPORT_EXE;
const std::string kExamples = std::string(TREEXPORT_SOURCE_DIR) + "/examples/";

std::vector<std::string> Listing(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

mode_t Mode(const std::string& path) {
  struct stat status;
  EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
  return status.st_mode & 07777;
}

// Sets the process's umask for a scope; commands run meanwhile inherit it.
class Umask {
 public:
  explicit Umask(mode_t mask) : saved_(::umask(mask)) {}
  ~Umask() { ::umask(saved_); }

 private:
  mode_t saved_;
};

std::uint64_t PmmlSize(const memtree::Model& model, bool portable = false) {
  TreeOut::PMMLOutputAdapter adapter;
  adapter.SetPortableProfile(portable);
  std::ostringstream out;
  adapter.GeneratePMML(out, *model.tree, model.metadata.get(), tree::TRAINING_SAMPLE);
  return out.str().size();
}

std::uint64_t TreeXmlSize(const memtree::Model& model) {
  TreeOut::XMLOutputAdapter adapter;
  std::ostringstream out;
  adapter.GenerateXML(out, *model.tree, model.metadata.get());
  return out.str().size();
}

TEST(SizeEstimate, NeverBelowTheDocumentAndCloseOnBigTrees) {
  for (const char* name : {"cart_classification.json", "chaid.json", "regression.json"}) {
    const memtree::Model model = memtree::LoadModel(kExamples + name);
    const cli::SizeEstimate estimate = cli::EstimateSize(model, 0);
    EXPECT_GE(estimate.pmml, PmmlSize(model)) << name;
    EXPECT_GE(estimate.treeXml, TreeXmlSize(model)) << name;
    EXPECT_GE(cli::EstimateSize(model, 0, true).pmml, PmmlSize(model, true)) << name;
  }
  // Long category labels, which every classification node repeats.
  {
    std::string text = ReadFile(kExamples + "cart_classification.json");
    for (const char* label : {"\"bad\"", "\"good\""}) {
      text = testing_support::With(text, label, "\"" + std::string(4000, label[1]) + "\"");
    }
    const memtree::Model model = memtree::ParseModel(text, "labels.json");
    const cli::SizeEstimate estimate = cli::EstimateSize(model, 0);
    EXPECT_GE(estimate.pmml, PmmlSize(model));
    EXPECT_GE(estimate.treeXml, TreeXmlSize(model));
    EXPECT_GE(cli::EstimateSize(model, 0, true).pmml, PmmlSize(model, true));
  }
  // Deep chains, where the indentation is nearly all of the text, of each algorithm.
  for (int algorithm : {0, 2, 4}) {
    const memtree::Model model =
        memtree::ParseModel(testing_support::ChainModel(400, algorithm), "chain");
    const cli::SizeEstimate estimate = cli::EstimateSize(model, 0);
    EXPECT_EQ(estimate.depth, 399u);
    EXPECT_EQ(estimate.nodes, 400u);
    const double pmml = static_cast<double>(PmmlSize(model));
    const double xml = static_cast<double>(TreeXmlSize(model));
    EXPECT_GE(static_cast<double>(estimate.pmml), pmml) << algorithm;
    EXPECT_LE(static_cast<double>(estimate.pmml), 1.25 * pmml) << algorithm;
    EXPECT_GE(static_cast<double>(estimate.treeXml), xml) << algorithm;
    EXPECT_LE(static_cast<double>(estimate.treeXml), 1.5 * xml) << algorithm;
    // The portable profile's predicates depend on what each rule leaves out: a wider margin.
    const double portable = static_cast<double>(PmmlSize(model, true));
    const double portableEstimate = static_cast<double>(cli::EstimateSize(model, 0, true).pmml);
    EXPECT_GE(portableEstimate, portable) << algorithm;
    EXPECT_LE(portableEstimate, 2 * portable) << algorithm;
  }
}

TEST(SizeEstimate, SizesAreReadAndShownInBinaryUnits) {
  EXPECT_EQ(cli::ParseSize("4096"), 4096u);
  EXPECT_EQ(cli::ParseSize("512M"), 512u << 20);
  EXPECT_EQ(cli::ParseSize("8G"), std::uint64_t{8} << 30);
  EXPECT_EQ(cli::ParseSize("8gib"), std::uint64_t{8} << 30);
  EXPECT_EQ(cli::ParseSize("1.5K"), 1536u);
  EXPECT_EQ(cli::ParseSize("2TB"), std::uint64_t{2} << 40);
  EXPECT_EQ(cli::ParseSize("0"), 0u);
  for (const char* bad : {"", "G", "8X", "-1G", "1..5G", "8 G", "iB", "99999999999T"}) {
    EXPECT_FALSE(cli::ParseSize(bad).has_value()) << bad;
  }
  EXPECT_EQ(cli::FormatSize(812), "812 bytes");
  EXPECT_EQ(cli::FormatSize(1536), "1.5 KiB");
  EXPECT_EQ(cli::FormatSize(std::uint64_t{9} << 30), "9.0 GiB");
}

TEST(CliOutput, ADocumentOverTheLimitIsRefusedBeforeAByteIsWritten) {
  TempDir dir;
  WriteFile(dir.File("deep.json"), testing_support::ChainModel(400));
  const std::string target = dir.File("deep.pmml");
  const CommandResult refused =
      RunCommand(kExe, {"pmml", dir.File("deep.json"), "-o", target, "--max-output-size", "1M"});
  EXPECT_EQ(refused.status, 2);
  for (const char* words :
       {"the PMML document would take about ", "MiB, more than the limit of 1.0 MiB",
        "399 levels deep", "--max-output-size", "tree XML (treexport xml"}) {
    EXPECT_NE(refused.err.find(words), std::string::npos) << words << "\n" << refused.err;
  }
  EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"deep.json"});
  const CommandResult xml =
      RunCommand(kExe, {"xml", dir.File("deep.json"), "--max-output-size", "100K"});
  EXPECT_EQ(xml.status, 2);
  EXPECT_EQ(xml.out, "");
  EXPECT_NE(xml.err.find("the tree XML document would take about"), std::string::npos) << xml.err;
  EXPECT_EQ(xml.err.find("or write"), std::string::npos) << xml.err;

  // Under the limit, or with none, the document is written; a size that is not one is a usage
  // error.
  EXPECT_EQ(
      RunCommand(kExe, {"pmml", dir.File("deep.json"), "-o", target, "--max-output-size", "0"})
          .status,
      0);
  EXPECT_EQ(RunCommand(kExe, {"pmml", dir.File("deep.json"), "--max-output-size", "1T"}).out,
            ReadFile(target));
  const CommandResult bad =
      RunCommand(kExe, {"xml", dir.File("deep.json"), "--max-output-size", "8Q"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("8Q"), std::string::npos) << bad.err;
}

TEST(CliOutput, ALinkedFileIsReplacedInItsFolderAndKeepsItsPermissions) {
  TempDir dir;
  const std::string expected = RunCommand(kExe, {"pmml", kExamples + "chaid.json"}).out;
  ASSERT_EQ(::mkdir(dir.File("real").c_str(), 0755), 0);
  const std::string real = dir.File("real/doc.pmml");
  WriteFile(real, "old\n");
  ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
  ASSERT_EQ(::symlink("real/doc.pmml", dir.File("link.pmml").c_str()), 0);

  const CommandResult linked =
      RunCommand(kExe, {"pmml", kExamples + "chaid.json", "-o", dir.File("link.pmml")});
  EXPECT_EQ(linked.status, 0) << linked.err;
  struct stat status;
  ASSERT_EQ(::lstat(dir.File("link.pmml").c_str(), &status), 0);
  EXPECT_TRUE(S_ISLNK(status.st_mode));
  EXPECT_EQ(ReadFile(real), expected);
  EXPECT_EQ(Mode(real), 0640u);
  EXPECT_EQ(Listing(dir.File("real")), std::vector<std::string>{"doc.pmml"});

  // A link to a file not there yet makes that file; new files get 0666 under the umask.
  ASSERT_EQ(::symlink(dir.File("real/new.xml").c_str(), dir.File("dangling.xml").c_str()), 0);
  {
    Umask mask(027);
    EXPECT_EQ(
        RunCommand(kExe, {"xml", kExamples + "chaid.json", "-o", dir.File("dangling.xml")}).status,
        0);
    EXPECT_EQ(Mode(dir.File("real/new.xml")), 0640u);
  }
  {
    Umask mask(022);
    EXPECT_EQ(
        RunCommand(kExe, {"xml", kExamples + "chaid.json", "-o", dir.File("plain.xml")}).status, 0);
    EXPECT_EQ(Mode(dir.File("plain.xml")), 0644u);
  }
  // A private file stays private when it is replaced.
  ASSERT_EQ(::chmod(dir.File("plain.xml").c_str(), 0600), 0);
  EXPECT_EQ(
      RunCommand(kExe, {"pmml", kExamples + "chaid.json", "-o", dir.File("plain.xml")}).status, 0);
  EXPECT_EQ(Mode(dir.File("plain.xml")), 0600u);
  EXPECT_EQ(ReadFile(dir.File("plain.xml")), expected);

  // What cannot be replaced is written directly: a device, or standard output by its name.
  EXPECT_EQ(RunCommand(kExe, {"pmml", kExamples + "chaid.json", "-o", "/dev/null"}).status, 0);
  const CommandResult named =
      RunCommand(kExe, {"pmml", kExamples + "chaid.json", "-o", "/dev/stdout"});
  EXPECT_EQ(named.status, 0) << named.err;
  EXPECT_EQ(named.out, expected);

  // A loop of links is a file that cannot be written.
  ASSERT_EQ(::symlink("loop.b", dir.File("loop.a").c_str()), 0);
  ASSERT_EQ(::symlink("loop.a", dir.File("loop.b").c_str()), 0);
  const CommandResult loop =
      RunCommand(kExe, {"pmml", kExamples + "chaid.json", "-o", dir.File("loop.a")});
  EXPECT_EQ(loop.status, 3);
  EXPECT_NE(loop.err.find("loop.a"), std::string::npos) << loop.err;
}

// Starts the command with its output thrown away; returns its process id.
pid_t Start(const std::vector<std::string>& args) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv{const_cast<char*>(kExe.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, kExe.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

TEST(CliOutput, ASignalDuringAnExportRemovesTheTemporaryFileAndLeavesTheOldOne) {
  TempDir dir;
  // 8,000 levels: a PMML document of over 600 MB, far longer to write than a signal takes to
  // arrive once its temporary file is there.
  WriteFile(dir.File("deep.json"), testing_support::ChainModel(8000));
  const std::string target = dir.File("out.pmml");
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    WriteFile(target, "the document of yesterday\n");
    const pid_t pid = Start({"pmml", dir.File("deep.json"), "-o", target});
    ASSERT_GT(pid, 0);
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
    EXPECT_EQ(Listing(dir.path()), (std::vector<std::string>{"deep.json", "out.pmml"}));
    EXPECT_EQ(ReadFile(target), "the document of yesterday\n");
  }
}

TEST(CliFrom, TheModelPathFollowsADoubleDashAndHelpSaysToTrustPickles) {
  TempDir tools;
  WriteFile(tools.File("sklearn2treexport"), "#!/bin/sh\necho \"args:$*\" >&2\nexit 2\n");
  ASSERT_EQ(RunCommand("/bin/chmod", {"+x", tools.File("sklearn2treexport")}).status, 0);
  setenv("TREEXPORT_TOOLS_DIR", tools.path().c_str(), 1);
  const CommandResult option = RunCommand(kExe, {"pmml", "--from", "sklearn", "--", "--fit"});
  unsetenv("TREEXPORT_TOOLS_DIR");
  EXPECT_EQ(option.status, 2);
  EXPECT_NE(option.err.find("args:-- --fit\n"), std::string::npos) << option.err;

  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--help"}, {"pmml", "--help"}, {"xml", "--help"}}) {
    const CommandResult help = RunCommand(kExe, args);
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("can run code when it is loaded"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("trust"), std::string::npos) << help.out;
  }
  EXPECT_NE(RunCommand(kExe, {"pmml", "--help"}).out.find("--max-output-size"), std::string::npos);
}

}  // namespace
