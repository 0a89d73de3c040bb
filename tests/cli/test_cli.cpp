// The command as a user meets it: exit statuses, messages, and files left alone on failure.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/support/run_command.h"

namespace {

using testing_support::CommandResult;
using testing_support::ReadFile;
using testing_support::RunCommand;
using testing_support::TempDir;
using testing_support::WriteFile;

const std::string kExe = TREEXPORT_EXE;
const std::string kExamples = std::string(TREEXPORT_SOURCE_DIR) + "/examples/";

// The regression example with its root's second child pointing at a node that does not exist.
std::string BrokenModel() {
  std::string text = ReadFile(kExamples + "regression.json");
  const std::string from = "\"children\": [1, 2]";
  text.replace(text.find(from), from.size(), "\"children\": [1, 77]");
  return text;
}

TEST(Cli, InfoVersionAndUsageErrors) {
  const CommandResult info =
      RunCommand(kExe, {"info", "-"}, ReadFile(kExamples + "regression.json"));
  EXPECT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.out.find("Target:     price (continuous)"), std::string::npos);
  EXPECT_EQ(info.err, "");
  const CommandResult version = RunCommand(kExe, {"--version"});
  EXPECT_EQ(version.status, 0);
  // The command's own version first, then the library's record, named as such.
  EXPECT_EQ(version.out, "treexport " TREEXPORT_VERSION_TEXT
                         "\nexport library arbtrexm_legacyr, component version record 1.0.1.6 "
                         "(10/21/17 22:55:56)\n");

  EXPECT_EQ(RunCommand(kExe, {}).status, 1);
  EXPECT_EQ(RunCommand(kExe, {"info"}).status, 1);
  EXPECT_EQ(RunCommand(kExe, {"nonsense"}).status, 1);
  const CommandResult unknown =
      RunCommand(kExe, {"info", "--frobnicate", kExamples + "chaid.json"});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_NE(unknown.err.find("frobnicate"), std::string::npos) << unknown.err;
  const CommandResult help = RunCommand(kExe, {"info", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Example: treexport info"), std::string::npos);
}

TEST(Cli, UnreadableModelsExitWithTwoAndSayWhy) {
  TempDir dir;
  CommandResult missing = RunCommand(kExe, {"info", dir.File("absent.json")});
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.err, "treexport: " + dir.File("absent.json") +
                             ": cannot be opened (No such file or directory)\n");
  EXPECT_EQ(missing.out, "");

  CommandResult directory = RunCommand(kExe, {"info", dir.path()});
  EXPECT_EQ(directory.status, 2);
  EXPECT_EQ(directory.err, "treexport: " + dir.path() + ": is a directory, not a model file\n");

  WriteFile(dir.File("cut.json"), "{\n  \"format\": ");
  CommandResult malformed = RunCommand(kExe, {"info", dir.File("cut.json")});
  EXPECT_EQ(malformed.status, 2);
  EXPECT_EQ(malformed.err.rfind("treexport: " + dir.File("cut.json") + ":2:", 0), 0u)
      << malformed.err;
  EXPECT_NE(malformed.err.find("the text ends before its JSON value does"), std::string::npos)
      << malformed.err;

  WriteFile(dir.File("broken.json"), BrokenModel());
  CommandResult unchecked = RunCommand(kExe, {"info", dir.File("broken.json")});
  EXPECT_EQ(unchecked.status, 2);
  EXPECT_NE(unchecked.err.find("broken.json:17:"), std::string::npos) << unchecked.err;
  EXPECT_NE(unchecked.err.find("nodes[0].children[1]: no node with id 77"), std::string::npos)
      << unchecked.err;
}

TEST(CliOutput, AFileIsReplacedWholeOrNotAtAll) {
  TempDir dir;
  const std::string target = dir.File("model.pmml");
  const CommandResult file =
      RunCommand(kExe, {"pmml", kExamples + "regression.json", "-o", target, "--application-name",
                        "me", "--copyright", "(c) me"});
  EXPECT_EQ(file.status, 0) << file.err;
  EXPECT_EQ(file.out, "");
  const std::string written = ReadFile(target);
  EXPECT_NE(written.find("copyright=\"(c) me\""), std::string::npos);
  EXPECT_NE(written.find("name=\"me\""), std::string::npos);

  // A model that fails the loader's checks leaves the existing file as it was, and no
  // temporary file beside it.
  WriteFile(dir.File("broken.json"), BrokenModel());
  const CommandResult failed = RunCommand(kExe, {"pmml", dir.File("broken.json"), "-o", target});
  EXPECT_EQ(failed.status, 2);
  EXPECT_EQ(ReadFile(target), written);
  EXPECT_EQ(RunCommand("/bin/ls", {dir.path()}).out, "broken.json\nmodel.pmml\n");

  const CommandResult unwritable =
      RunCommand(kExe, {"pmml", kExamples + "regression.json", "-o", dir.File("no/such/x.pmml")});
  EXPECT_EQ(unwritable.status, 3);
  EXPECT_NE(unwritable.err.find(dir.File("no/such/x.pmml")), std::string::npos) << unwritable.err;
  const CommandResult directory =
      RunCommand(kExe, {"xml", kExamples + "regression.json", "-o", dir.path()});
  EXPECT_EQ(directory.status, 3);
  EXPECT_NE(directory.err.find("it is a directory"), std::string::npos) << directory.err;
  const CommandResult badSample =
      RunCommand(kExe, {"pmml", kExamples + "regression.json", "--sample", "1"});
  EXPECT_EQ(badSample.status, 1);
  EXPECT_NE(badSample.err.find("--sample 1"), std::string::npos) << badSample.err;

  // The tree XML command reads standard input and writes standard output as well.
  const CommandResult xml = RunCommand(kExe, {"xml", "-"}, ReadFile(kExamples + "chaid.json"));
  EXPECT_EQ(xml.status, 0) << xml.err;
  EXPECT_EQ(
      xml.out.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<!DOCTYPE Tree>\n\n<Tree", 0),
      0u);

  // --portable selects the portable profile; without it the format's own.
  const CommandResult portable = RunCommand(kExe, {"pmml", "--portable", kExamples + "chaid.json"});
  EXPECT_EQ(portable.status, 0) << portable.err;
  EXPECT_EQ(portable.out.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<PMML", 0), 0u);
  EXPECT_NE(portable.out.find("noTrueChildStrategy=\"returnLastPrediction\""), std::string::npos);
}

// --from runs the converter named after the kind from TREEXPORT_TOOLS_DIR and reads the model
// file it prints; stand-in converters show each way that can go.
TEST(CliFrom, ReadsTheConvertersOutputAndReportsItsFailures) {
  TempDir tools;
  WriteFile(tools.File("rpart2treexport"), "#!/bin/sh\ntest \"$1 $2\" = \"-- fit.rds\" && cat '" +
                                               kExamples + "regression.json'\n");
  WriteFile(tools.File("sklearn2treexport"),
            "#!/bin/sh\necho \"sklearn2treexport: $2: not a fitted tree\" >&2\nexit 2\n");
  ASSERT_EQ(RunCommand("/bin/chmod",
                       {"+x", tools.File("rpart2treexport"), tools.File("sklearn2treexport")})
                .status,
            0);
  setenv("TREEXPORT_TOOLS_DIR", tools.path().c_str(), 1);

  CommandResult converted = RunCommand(kExe, {"pmml", "--from", "rpart", "fit.rds"});
  EXPECT_EQ(converted.status, 0) << converted.err;
  EXPECT_EQ(converted.out, RunCommand(kExe, {"pmml", kExamples + "regression.json"}).out);

  CommandResult refused = RunCommand(kExe, {"xml", "--from", "sklearn", "x.pkl"});
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("x.pkl: not a fitted tree"), std::string::npos) << refused.err;
  EXPECT_NE(refused.err.find("sklearn2treexport could not convert x.pkl"), std::string::npos);

  // Output that is not a model file is the loader's to report, under the converter's name.
  WriteFile(tools.File("rpart2treexport"), "#!/bin/sh\necho '{\"format\": 1'\n");
  CommandResult garbage = RunCommand(kExe, {"info", "--from", "rpart", "fit.rds"});
  EXPECT_EQ(garbage.status, 2);
  EXPECT_NE(garbage.err.find("fit.rds (converted by rpart2treexport)"), std::string::npos)
      << garbage.err;

  setenv("TREEXPORT_TOOLS_DIR", tools.File("absent").c_str(), 1);
  CommandResult missing = RunCommand(kExe, {"pmml", "--from", "rpart", "fit.rds"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("TREEXPORT_TOOLS_DIR"), std::string::npos) << missing.err;
  unsetenv("TREEXPORT_TOOLS_DIR");
  EXPECT_EQ(RunCommand(kExe, {"pmml", "--from", "weka", "x"}).status, 1);
}

}  // namespace
