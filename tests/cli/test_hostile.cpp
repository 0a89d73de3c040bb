// Hostile model files through the command: every one ends in a status from the README's table
// and a message naming file:line:column and the JSON path, never in a signal, and no output file
// is created or touched. The files and their expected outcomes: tests/data/hostile/manifest.tsv.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/run_command.h"

namespace {

using namespace testing_support;

const std::string kExe = TREEXPORT_EXE;
const std::string kHostile = std::string(TREEXPORT_TEST_DATA) + "/hostile/";

struct Case {
  std::string file;
  int status = 0;
  std::string prefix;
  std::vector<std::string> keywords;
};

std::vector<std::string> Split(const std::string& line, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(line);
  while (std::getline(in, part, separator)) parts.push_back(part);
  if (!line.empty() && line.back() == separator) parts.emplace_back();
  return parts;
}

std::vector<Case> Manifest() {
  std::vector<Case> cases;
  std::ifstream in(kHostile + "manifest.tsv");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> columns = Split(line, '\t');
    columns.resize(4);
    Case c{columns[0], std::stoi(columns[1]), columns[2], {}};
    for (const std::string& word : Split(columns[3], '|')) {
      if (!word.empty()) c.keywords.push_back(word);
    }
    cases.push_back(std::move(c));
  }
  return cases;
}

// Runs one model through both exporters: to a new file, and over an existing one.
void Check(const Case& c) {
  SCOPED_TRACE(c.file);
  TempDir dir;
  const std::string fresh = dir.File("fresh.pmml"), existing = dir.File("existing.xml");
  const CommandResult pmml = RunCommand(kExe, {"pmml", kHostile + c.file, "-o", fresh});
  WriteFile(existing, "keep me\n");
  const CommandResult xml = RunCommand(kExe, {"xml", kHostile + c.file, "-o", existing});
  EXPECT_EQ(xml.status, c.status) << xml.err;
  if (c.status == 0) {
    EXPECT_EQ(pmml.status, 0) << pmml.err;
    EXPECT_NE(ReadFile(fresh).find("</PMML>"), std::string::npos);
    return;
  }
  ExpectFailure(pmml, c.status, c.keywords);  // a signal would be status -1
  EXPECT_EQ(pmml.err.rfind("treexport: " + kHostile + c.prefix, 0), 0u) << pmml.err;
  EXPECT_EQ(pmml.err, xml.err);
  // No raw control character reaches the terminal: the message and its excerpt are printable.
  for (char ch : pmml.err) {
    EXPECT_TRUE(static_cast<unsigned char>(ch) >= 0x20 || ch == '\n') << pmml.err;
  }
  EXPECT_EQ(ReadFile(existing), "keep me\n");
  EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"existing.xml"});  // nothing left over
}

TEST(HostileInput, EveryFileOfTheCorpusEndsInItsStatusAndMessage) {
  const std::vector<Case> cases = Manifest();
  ASSERT_GE(cases.size(), 60u);
  // Every file of the folder is in the table, and only those.
  std::size_t files = 0;
  for (const std::string& name : Listing(kHostile)) {
    if (name.size() > 5 && name.compare(name.size() - 5, 5, ".json") == 0) ++files;
  }
  EXPECT_EQ(files, cases.size());
  for (const Case& c : cases) Check(c);
}

// The regression example's text with extra members in its first field, for large inputs.
std::string WithFieldMembers(const std::string& members) {
  std::string text = ReadFile(std::string(TREEXPORT_SOURCE_DIR) + "/examples/regression.json");
  const std::string storage = "\"storage\": \"numeric\"";
  text.insert(text.find(storage) + storage.size(), ", " + members);
  return text;
}

// Loads through the info command only: exporting a million labels is not what is tested here.
void CheckInfo(const std::string& path, int status, const std::string& prefix,
               const std::vector<std::string>& keywords) {
  SCOPED_TRACE(path);
  const CommandResult info = RunCommand(kExe, {"info", path});
  if (status == 0) {
    EXPECT_EQ(info.status, 0) << info.err;
    return;
  }
  ExpectFailure(info, status, keywords);
  EXPECT_EQ(info.err.rfind("treexport: " + prefix, 0), 0u) << info.err;
}

TEST(HostileInput, MillionElementArraysAndDeepTextsStayLinear) {
  TempDir dir;
  constexpr int kMillion = 1000000;
  std::string values = "\"missing\": {\"values\": [";
  for (int i = 0; i < kMillion; ++i) values += (i ? ", " : "") + std::to_string(i) + ".5";
  WriteFile(dir.File("missing_values.json"), WithFieldMembers(values + "]}"));
  CheckInfo(dir.File("missing_values.json"), 0, "", {});

  // 200,000 value labels, the last repeating the first: a pairwise check would take minutes.
  constexpr int kLabels = 200000;
  std::string labels = "\"valueLabels\": [";
  for (int i = 0; i < kLabels; ++i) {
    labels += "{\"value\": " + std::to_string(i == kLabels - 1 ? 0 : i) + ", \"label\": \"v\"}, ";
  }
  labels.resize(labels.size() - 2);
  WriteFile(dir.File("labels_twice.json"), WithFieldMembers(labels + "]"));
  CheckInfo(dir.File("labels_twice.json"), 2, dir.File("labels_twice.json:8:"),
            {"fields[0].valueLabels[199999].value", "labelled twice"});

  // A member name repeated after 100,000 others.
  std::string members;
  for (int i = 0; i < 100000; ++i) members += "\"m" + std::to_string(i) + "\": 0, ";
  WriteFile(dir.File("members.json"), "{" + members + "\"m0\": 1}");
  CheckInfo(dir.File("members.json"), 2, dir.File("members.json:1:1288892: m0:"),
            {"appears twice", "first at 1:2"});

  WriteFile(dir.File("deep.json"), std::string(100000, '[') + std::string(100000, ']'));
  CheckInfo(dir.File("deep.json"), 2, dir.File("deep.json:1:65: "), {"nested deeper than 64"});

  // A cycle of 100,000 nodes with a tail: found and named in linear time, the list shortened.
  std::string nodes = "\"nodes\": [";
  const std::string sample = "\"samples\": [{\"count\": 1, \"regression\": {\"mean\": 0}}]";
  nodes += "{\"id\": 0, " + sample + "}";
  constexpr int kCycle = 100000;
  for (int i = 1; i <= kCycle; ++i) {
    nodes += ",\n{\"id\": " + std::to_string(i) + ", \"children\": [" +
             std::to_string(i % kCycle + 1) + (i == 1 ? ", 100001" : "") + "], " + sample + "}";
  }
  nodes += ",\n{\"id\": 100001, " + sample + "}]";
  std::string text = ReadFile(std::string(TREEXPORT_SOURCE_DIR) + "/examples/regression.json");
  text.replace(text.find("\"nodes\": ["), std::string::npos, nodes + "\n}\n");
  WriteFile(dir.File("cycle.json"), text);
  CheckInfo(dir.File("cycle.json"), 2, dir.File("cycle.json:"),
            {"nodes 1 -> 2 -> 3", "(100000 nodes) -> 1", "does not reach"});
}

}  // namespace
