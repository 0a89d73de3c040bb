// libFuzzer target: any bytes through the model loader; a model that loads must export to
// well-formed PMML and tree XML, and save, load and save again to the same bytes.
#include <libxml/parser.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "host/memtree/detail/json_value.h"
#include "host/memtree/model_file.h"
#include "pmml/pmml_output_adapter.h"
#include "treexml/xml_export_error.h"
#include "treexml/xml_output_adapter.h"

namespace {

[[noreturn]] void Finding(const char* what, const std::string& detail) {
  std::fprintf(stderr, "fuzz_loader: %s\n%s\n", what, detail.c_str());
  std::abort();
}

// libxml2 in its strictest reading: no network, no entity loading, no recovery.
bool WellFormed(const std::string& text) {
  xmlDocPtr doc = xmlReadMemory(text.data(), static_cast<int>(text.size()), "export.xml", nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  if (doc == nullptr) return false;
  xmlFreeDoc(doc);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  xmlInitParser();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  memtree::Model model;
  try {
    model = memtree::ParseModel(text, "fuzz.json");
  } catch (const memtree::ModelError&) {
    return 0;  // refused with a message: what the loader is for
  }
  // The text loaded, so the scan that locates syntax errors must find none in it.
  const std::string json = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? text.substr(3) : text;
  if (auto problem = memtree::detail::FindSyntaxError(json)) {
    Finding("the parser took a text the syntax scan refuses", problem->what);
  }

  std::ostringstream pmml;
  TreeOut::PMMLOutputAdapter pmmlAdapter;
  pmmlAdapter.GeneratePMML(pmml, *model.tree, model.metadata.get(), tree::TRAINING_SAMPLE);
  if (!WellFormed(pmml.str())) Finding("PMML document not well-formed", pmml.str());

  std::ostringstream xml;
  TreeOut::XMLOutputAdapter xmlAdapter;
  try {
    xmlAdapter.GenerateXML(xml, *model.tree, model.metadata.get());
    if (!WellFormed(xml.str())) Finding("tree XML document not well-formed", xml.str());
  } catch (const TreeOut::XMLExportError&) {
    // A model the tree XML format cannot hold; the exporter says so and writes nothing.
    if (!xml.str().empty()) Finding("tree XML exporter wrote before failing", xml.str());
  }

  std::ostringstream saved;
  memtree::SaveModel(*model.tree, *model.metadata, saved);
  memtree::Model again = memtree::ParseModel(saved.str(), "saved.json");
  std::ostringstream savedAgain;
  memtree::SaveModel(*again.tree, *again.metadata, savedAgain);
  if (saved.str() != savedAgain.str()) Finding("save, load, save changed the bytes", saved.str());
  return 0;
}
