// A host that names only the export library at link time, linked with -Wl,--as-needed: the
// export library brings the importance library itself, and the importance list is complete.
#include <gtest/gtest.h>
#include <link.h>

#include <sstream>
#include <string>
#include <vector>

#include "host/memtree/model_file.h"
#include "pmml/pmml_output_adapter.h"
#include "tests/support/run_command.h"
#include "tests/support/xml_check.h"

namespace {

using testing_support::XmlDoc;

// Whether a shared object of this name is loaded into this process.
bool Loaded(const std::string& library) {
  std::vector<std::string> names;
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) {
        static_cast<std::vector<std::string>*>(data)->push_back(info->dlpi_name);
        return 0;
      },
      &names);
  for (const std::string& name : names) {
    if (name.find("/" + library + ".so") != std::string::npos) return true;
  }
  return false;
}

TEST(Linkage, ImportanceListIsCompleteWithoutNamingTheImportanceLibrary) {
  const std::string examples = std::string(TREEXPORT_SOURCE_DIR) + "/examples/";
  for (const char* name : {"cart_classification", "regression"}) {
    const memtree::Model model = memtree::LoadModel(examples + name + ".json");
    TreeOut::PMMLOutputAdapter adapter;
    std::ostringstream out;
    adapter.GeneratePMML(out, *model.tree, model.metadata.get(), tree::TRAINING_SAMPLE);
    const XmlDoc mine(out.str());
    const XmlDoc golden(testing_support::ReadFile(std::string(TREEXPORT_SOURCE_DIR) +
                                                  "/tests/cli/golden/" + name + ".pmml"));
    const std::string entries = "//p:X-PredictorImportance/@*";
    ASSERT_GT(golden.Number("//p:X-PredictorImportance"), 0) << name;
    EXPECT_EQ(mine.Texts(entries), golden.Texts(entries)) << name;
  }
  EXPECT_TRUE(Loaded("libarbtrepi_legacyr")) << "the export library did not bring it";
}

}  // namespace
