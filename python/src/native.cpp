// treexport._native: the export library behind the Python package's to_pmml and to_tree_xml.
#include <pybind11/pybind11.h>

#include <sstream>
#include <string>
#include <utility>

#include "host/memtree/model_file.h"
#include "model/algorithm_name.h"
#include "pmml/pmml_output_adapter.h"
#include "treexml/xml_export_error.h"
#include "treexml/xml_output_adapter.h"

namespace py = pybind11;

namespace {

// The PMML document as `treexport pmml` writes it for the model file's text.
std::string Pmml(std::string modelText, const std::string& name, bool portable) {
  const memtree::Model model = memtree::ParseModel(std::move(modelText), name);
  TreeOut::PMMLOutputAdapter adapter;
  const char* algorithm = tree::AlgorithmName(model.tree->GetAlgorithmType());
  adapter.SetAlgorithmName(algorithm != nullptr ? algorithm : "");
  adapter.SetApplicationName("treexport");
  adapter.SetApplicationVersion(TREEXPORT_VERSION);
  adapter.SetPortableProfile(portable);
  std::ostringstream out;
  adapter.GeneratePMML(out, *model.tree, model.metadata.get(), tree::TRAINING_SAMPLE);
  return std::move(out).str();
}

std::string TreeXml(std::string modelText, const std::string& name) {
  const memtree::Model model = memtree::ParseModel(std::move(modelText), name);
  TreeOut::XMLOutputAdapter adapter;
  std::ostringstream out;
  adapter.GenerateXML(out, *model.tree, model.metadata.get());
  return std::move(out).str();
}

}  // namespace

PYBIND11_MODULE(_native, m) {
  m.doc() = "The treexport export library: model file text in, document text out.";
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const memtree::ModelError& e) {
      PyErr_SetString(PyExc_ValueError, e.what());
    } catch (const TreeOut::XMLExportError& e) {
      PyErr_SetString(PyExc_ValueError, e.what());
    }
  });
  // The export runs without the interpreter lock: other Python threads go on meanwhile.
  m.def("pmml", &Pmml, py::arg("model_text"), py::arg("name"), py::arg("portable") = false,
        py::call_guard<py::gil_scoped_release>(),
        "The PMML 4.3 document of a model file's text; name stands for the file in messages.");
  m.def("tree_xml", &TreeXml, py::arg("model_text"), py::arg("name"),
        py::call_guard<py::gil_scoped_release>(),
        "The tree XML document of a model file's text; name stands for the file in messages.");
}
