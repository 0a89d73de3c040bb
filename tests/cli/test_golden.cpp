// The documents `treexport pmml` writes for the bundled examples, kept byte for byte after they
// were checked by hand. A difference fails until it is reviewed and the files are regenerated.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/support/run_command.h"

namespace {

using testing_support::CommandResult;
using testing_support::ReadFile;
using testing_support::RunCommand;
using testing_support::WriteFile;

TEST(CliGolden, PmmlOfEveryBundledExampleIsByteForByteTheReviewedDocument) {
  const std::string source = TREEXPORT_SOURCE_DIR;
  const bool regenerate = std::getenv("TREEXPORT_REGENERATE_GOLDEN") != nullptr;
  for (const char* name : {"cart_classification", "chaid", "regression"}) {
    CommandResult r = RunCommand(TREEXPORT_EXE, {"pmml", source + "/examples/" + name + ".json"});
    ASSERT_EQ(r.status, 0) << name << ": " << r.err;
    const std::string golden = source + "/tests/cli/golden/" + name + ".pmml";
    if (regenerate) {
      WriteFile(golden, r.out);
      continue;
    }
    EXPECT_EQ(r.out, ReadFile(golden))
        << name << ": the document differs from " << golden
        << "; review the difference, then regenerate with: TREEXPORT_REGENERATE_GOLDEN=1 ctest "
           "--preset release -R Golden";
  }
}

}  // namespace
