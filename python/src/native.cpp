// treexport._native: the export library behind the Python package's to_pmml and to_tree_xml.
#include <pybind11/pybind11.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "host/memtree/model_file.h"
#include "model/algorithm_name.h"
#include "pmml/pmml_output_adapter.h"
#include "treexml/xml_export_error.h"
#include "treexml/xml_output_adapter.h"
#include "xmlu/text_sink.h"

namespace py = pybind11;

namespace {

// The document in the blocks the exporter hands on, kept as they come: nothing is copied until
// the Python string is made.
class Blocks : public xmlu::TextSink {
 public:
  void Write(const char* data, std::size_t size) override {
    blocks_.emplace_back(data, size);
    size_ += size;
  }

  // The text as a Python string, made with the interpreter lock held. A document is nearly
  // always ASCII, which goes into a one-byte string as it is; anything else is decoded.
  py::str ToStr() const {
    bool ascii = true;
    for (const std::string& block : blocks_) ascii = ascii && IsAscii(block);
    if (!ascii) {
      std::string text;
      text.reserve(size_);
      for (const std::string& block : blocks_) text += block;
      return py::str(text);
    }
    PyObject* str = PyUnicode_New(static_cast<Py_ssize_t>(size_), 127);
    if (str == nullptr) throw py::error_already_set();
    auto* to = static_cast<char*>(PyUnicode_DATA(str));
    for (const std::string& block : blocks_) {
      std::memcpy(to, block.data(), block.size());
      to += block.size();
    }
    return py::reinterpret_steal<py::str>(str);
  }

 private:
  static bool IsAscii(const std::string& text) {
    unsigned char any = 0;
    for (char c : text) any |= static_cast<unsigned char>(c);
    return any < 0x80;
  }

  std::vector<std::string> blocks_;
  std::size_t size_ = 0;
};

// The PMML document as `treexport pmml` writes it for the model file's text.
py::str Pmml(std::string modelText, const std::string& name, bool portable) {
  Blocks blocks;
  {
    // The export runs without the interpreter lock: other Python threads go on meanwhile.
    py::gil_scoped_release unlocked;
    const memtree::Model model = memtree::ParseModel(std::move(modelText), name);
    TreeOut::PMMLOutputAdapter adapter;
    const char* algorithm = tree::AlgorithmName(model.tree->GetAlgorithmType());
    adapter.SetAlgorithmName(algorithm != nullptr ? algorithm : "");
    adapter.SetApplicationName("treexport");
    adapter.SetApplicationVersion(TREEXPORT_VERSION);
    adapter.SetPortableProfile(portable);
    adapter.GeneratePMML(blocks, *model.tree, model.metadata.get(), tree::TRAINING_SAMPLE);
  }
  return blocks.ToStr();
}

py::str TreeXml(std::string modelText, const std::string& name) {
  Blocks blocks;
  {
    py::gil_scoped_release unlocked;
    const memtree::Model model = memtree::ParseModel(std::move(modelText), name);
    TreeOut::XMLOutputAdapter adapter;
    adapter.GenerateXML(blocks, *model.tree, model.metadata.get());
  }
  return blocks.ToStr();
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
  m.def("pmml", &Pmml, py::arg("model_text"), py::arg("name"), py::arg("portable") = false,
        "The PMML 4.3 document of a model file's text; name stands for the file in messages.");
  m.def("tree_xml", &TreeXml, py::arg("model_text"), py::arg("name"),
        "The tree XML document of a model file's text; name stands for the file in messages.");
}
