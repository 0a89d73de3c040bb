// treexport: exports a fitted decision tree read from a model file.
#include <CLI/CLI.hpp>
#include <cstdint>
#include <exception>
#include <iostream>
#include <new>
#include <string>

#include "arbtree/alg_settings.h"
#include "cli/converter.h"
#include "cli/output_file.h"
#include "cli/progress.h"
#include "cli/size_estimate.h"
#include "host/memtree/model_file.h"
#include "host/memtree/summary.h"
#include "model/algorithm_name.h"
#include "pmml/pmml_output_adapter.h"
#include "treexml/xml_export_error.h"
#include "treexml/xml_output_adapter.h"
#include "version/library_version.h"

namespace {

// Exit statuses a script can tell apart.
constexpr int kOk = 0;
constexpr int kUsage = 1;
constexpr int kBadModel = 2;
constexpr int kCannotWrite = 3;

std::string VersionText() {
  const ArbTree::ArbVersion& v = ArbTree::LibraryVersion();
  // The command's release number comes first; the export library keeps the component version
  // record of the tree family (the one the tree XML documents carry), which counts on its own.
  return std::string("treexport ") + TREEXPORT_VERSION +
         "\nexport library arbtrexm_legacyr, component version record " +
         std::to_string(v.GetMajor()) + "." + std::to_string(v.GetMinor()) + "." +
         std::to_string(v.GetPatch()) + "." + std::to_string(v.GetBuild()) + " (" +
         v.GetDateTime() + ")";
}

// Where the model comes from: a model file, standard input, or another program's tree file
// read through its converter.
struct Input {
  std::string path;
  std::string from;
  cli::ConverterOptions converter;
};

memtree::Model Load(const Input& input) {
  if (!input.from.empty()) {
    return memtree::ParseModel(
        cli::Convert(input.from, input.path, input.converter),
        input.path + " (converted by " + cli::ConverterName(input.from) + ")");
  }
  if (input.path == "-") return memtree::LoadModel(std::cin, "<stdin>");
  return memtree::LoadModel(input.path);
}

// The name the model goes by in messages.
std::string InputName(const Input& input) { return input.path == "-" ? "<stdin>" : input.path; }

// Text that goes into the document as it is given must be something XML 1.0 can hold.
void CheckDocumentText(const std::string& option, const std::string& value) {
  const std::string problem = memtree::XmlTextProblem(value);
  if (!problem.empty()) throw CLI::ValidationError(option, problem);
}

// TreeModel's algorithmName unless the user gives one: empty for codes without a usual name.
std::string AlgorithmNameOrEmpty(int type) {
  const char* name = tree::AlgorithmName(type);
  return name != nullptr ? name : "";
}

struct PmmlOptions {
  std::string output;
  int sample = 0;
  std::string algorithmName;
  bool algorithmNameGiven = false;
  std::string applicationName = "treexport";
  std::string applicationVersion = TREEXPORT_VERSION;
  std::string copyright;
  bool copyrightGiven = false;
  bool portable = false;
};

void Pmml(const memtree::Model& model, const PmmlOptions& options, xmlu::TextSink& out) {
  TreeOut::PMMLOutputAdapter adapter;
  adapter.SetAlgorithmName(options.algorithmNameGiven
                               ? options.algorithmName
                               : AlgorithmNameOrEmpty(model.tree->GetAlgorithmType()));
  adapter.SetApplicationName(options.applicationName);
  adapter.SetApplicationVersion(options.applicationVersion);
  if (options.copyrightGiven) adapter.SetCopyRight(options.copyright);
  adapter.SetPortableProfile(options.portable);
  adapter.GeneratePMML(out, *model.tree, model.metadata.get(),
                       static_cast<tree::DataSample>(options.sample));
}

void TreeXml(const memtree::Model& model, xmlu::TextSink& out) {
  TreeOut::XMLOutputAdapter adapter;
  adapter.GenerateXML(out, *model.tree, model.metadata.get());
}

// Whether the document fits under the limit; if not, says why and what to do instead.
bool WithinLimit(const cli::SizeEstimate& estimate, bool pmml, std::uint64_t limit) {
  const std::uint64_t size = pmml ? estimate.pmml : estimate.treeXml;
  if (limit == 0 || size <= limit) return true;
  std::cerr << "treexport: the " << (pmml ? "PMML" : "tree XML") << " document would take about "
            << cli::FormatSize(size) << ", more than the limit of " << cli::FormatSize(limit)
            << ": the tree has " << estimate.nodes << " nodes and is " << estimate.depth
            << " levels deep, and every line is indented by its depth. Raise the limit with "
               "--max-output-size (e.g. --max-output-size "
            << (size >> 30) + 1 << "G, or 0 for none)";
  if (pmml && estimate.treeXml < size) {
    std::cerr << ", or write the smaller tree XML (treexport xml, about "
              << cli::FormatSize(estimate.treeXml) << ")";
  }
  std::cerr << ".\n";
  return false;
}

// Writes one document to path (standard output when empty or "-") as it is produced.
template <class Export>
void WriteDocument(const std::string& path, std::uint64_t estimate, Export&& write) {
  cli::OutputFile file(path);
  {
    cli::ProgressSink progress(file, file.Name(), estimate, path.empty() || path == "-");
    write(progress);
  }
  file.Commit();
}

void AddInputOptions(CLI::App& command, Input& input) {
  command
      .add_option("MODEL", input.path,
                  "model file (docs/model-format.md), or - for standard input; with --from, the "
                  "other program's saved tree")
      ->required();
  command
      .add_option("--from", input.from,
                  "read a tree saved by scikit-learn (pickle or joblib file of a "
                  "DecisionTreeClassifier/Regressor, or of a Pipeline ending in one) or by R's "
                  "rpart (.rds file), through tools/sklearn2treexport or tools/rpart2treexport")
      ->check(CLI::IsMember({"sklearn", "rpart"}));
  command.add_option("--feature-names", input.converter.featureNames,
                     "with --from: names of the input columns, comma-separated (default: those "
                     "the saved tree keeps)");
  command.add_option("--target-name", input.converter.targetName,
                     "with --from: name of the target field");
}

void AddOutputOptions(CLI::App& command, std::string& output, std::string& maxSize) {
  command
      .add_option("-o,--output", output,
                  "write to FILE (replaced only once the whole document is written; a symbolic "
                  "link's file is replaced and keeps its permissions); default: standard output")
      ->option_text("FILE");
  command
      .add_option("--max-output-size", maxSize,
                  "refuse a document estimated larger than SIZE (e.g. 512M, 8G; 0 for no limit)")
      ->option_text("SIZE")
      ->capture_default_str()
      ->check([](const std::string& text) {
        return cli::ParseSize(text) ? std::string() : "not a size like 512M or 8G: " + text;
      });
}

const char kTrustNote[] =
    "A pickle, joblib or RDS file read with --from can run code when it is loaded: give only "
    "files you trust as you would a program.";

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Exports a fitted decision tree read from a JSON model file.", "treexport"};
  app.set_version_flag("--version", VersionText(), "print the tool's and the library's version");
  app.require_subcommand(1);
  app.footer(
      "Exit status: 0 done, 1 usage error, 2 the model cannot be read or converted or its "
      "document would exceed --max-output-size, 3 the output cannot be written, 128 + N when "
      "signal N (SIGINT, SIGTERM, SIGHUP) ends an export.\nRun 'treexport COMMAND --help' for a "
      "command's options.\n" +
      std::string(kTrustNote));

  Input input;
  CLI::App* info = app.add_subcommand("info", "print a one-screen summary of a model");
  AddInputOptions(*info, input);
  info->footer("Example: treexport info examples/cart_classification.json");

  PmmlOptions pmmlOptions;
  CLI::App* pmml = app.add_subcommand("pmml", "export a model as a PMML 4.3 document");
  AddInputOptions(*pmml, input);
  // The most a document may take unless the user says otherwise: a deep tree's document grows
  // with the square of its depth, and a mistaken export should not fill a disk.
  std::string maxOutputSize = "8G";
  AddOutputOptions(*pmml, pmmlOptions.output, maxOutputSize);
  pmml->add_option("--sample", pmmlOptions.sample,
                   "data sample whose counts and statistics the nodes carry: 0 training "
                   "(default), 1 test")
      ->check(CLI::Range(0, 63));
  CLI::Option* algorithmOption =
      pmml->add_option("--algorithm-name", pmmlOptions.algorithmName,
                       "TreeModel algorithmName (default: C&RT, CHAID or QUEST, from the model)");
  CLI::Option* applicationNameOption =
      pmml->add_option("--application-name", pmmlOptions.applicationName, "Header Application name")
          ->capture_default_str();
  CLI::Option* applicationVersionOption =
      pmml->add_option("--application-version", pmmlOptions.applicationVersion,
                       "Header Application version")
          ->capture_default_str();
  CLI::Option* copyrightOption = pmml->add_option(
      "--copyright", pmmlOptions.copyright, "Header copyright (default: treexport's own notice)");
  pmml->add_flag("--portable", pmmlOptions.portable,
                 "write the portable profile: standard PMML 4.3 that any consumer scores like "
                 "the tree (docs/pmml-profiles.md); passed on to the converter with --from");
  pmml->footer(
      "Examples:\n"
      "  treexport pmml examples/cart_classification.json\n"
      "  treexport pmml examples/regression.json -o regression.pmml\n"
      "  treexport pmml --sample 1 examples/cart_classification.json | xmllint --noout -\n"
      "  treexport pmml --portable examples/chaid.json -o chaid.pmml\n"
      "  treexport pmml --from sklearn tree.pkl -o tree.pmml\n"
      "  TREEXPORT_PYTHON=~/venv/bin/python treexport pmml --from sklearn - < tree.pkl\n"
      "--from runs the converter with the interpreter TREEXPORT_PYTHON or TREEXPORT_RSCRIPT "
      "names (default: python3 or Rscript on PATH, else /usr/bin's).\n" +
      std::string(kTrustNote));

  std::string xmlOutput;
  CLI::App* xml =
      app.add_subcommand("xml", "export a model as a tree XML document (docs/Tree.dtd)");
  AddInputOptions(*xml, input);
  AddOutputOptions(*xml, xmlOutput, maxOutputSize);
  xml->footer(
      "Examples:\n"
      "  treexport xml examples/chaid.json\n"
      "  treexport xml examples/regression.json -o regression.xml\n"
      "  treexport xml --from rpart fit.rds | xmllint --noout --dtdvalid docs/Tree.dtd -\n" +
      std::string(kTrustNote));

  try {
    app.parse(argc, argv);
    for (CLI::Option* option :
         {algorithmOption, applicationNameOption, applicationVersionOption, copyrightOption}) {
      if (option->count() > 0) CheckDocumentText(option->get_name(), option->as<std::string>());
    }
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? kOk : kUsage;
  }

  if (input.from.empty() && (input.converter.featureNames || input.converter.targetName)) {
    std::cerr << "treexport: --feature-names and --target-name go with --from\n";
    return kUsage;
  }
  input.converter.portable = pmmlOptions.portable;
  try {
    memtree::Model model = Load(input);
    if (info->parsed()) {
      cli::WriteOutput("-", memtree::Summarize(*model.tree, *model.metadata));
    } else if (pmml->parsed()) {
      pmmlOptions.algorithmNameGiven = algorithmOption->count() > 0;
      pmmlOptions.copyrightGiven = copyrightOption->count() > 0;
      if (pmmlOptions.sample >= model.tree->GetNumberOfSamples()) {
        std::cerr << "treexport: --sample " << pmmlOptions.sample << ": the model has "
                  << model.tree->GetNumberOfSamples() << " sample(s)\n";
        return kUsage;
      }
      const cli::SizeEstimate estimate =
          cli::EstimateSize(model, pmmlOptions.sample, pmmlOptions.portable);
      if (!WithinLimit(estimate, true, *cli::ParseSize(maxOutputSize))) return kBadModel;
      WriteDocument(pmmlOptions.output, estimate.pmml,
                    [&](xmlu::TextSink& out) { Pmml(model, pmmlOptions, out); });
    } else if (xml->parsed()) {
      const cli::SizeEstimate estimate = cli::EstimateSize(model, 0);
      if (!WithinLimit(estimate, false, *cli::ParseSize(maxOutputSize))) return kBadModel;
      WriteDocument(xmlOutput, estimate.treeXml, [&](xmlu::TextSink& out) { TreeXml(model, out); });
    }
  } catch (const memtree::ModelError& e) {
    std::cerr << "treexport: " << e.what() << '\n';
    return kBadModel;
  } catch (const cli::ConverterError& e) {
    std::cerr << "treexport: " << e.what() << '\n';
    return kBadModel;
  } catch (const TreeOut::XMLExportError& e) {
    // The loader accepts what the tree XML format cannot hold only in ways it names.
    std::cerr << "treexport: " << InputName(input) << ": " << e.what() << '\n';
    return kBadModel;
  } catch (const cli::OutputError& e) {
    std::cerr << "treexport: " << e.what() << '\n';
    return kCannotWrite;
  } catch (const std::bad_alloc&) {
    std::cerr << "treexport: " << InputName(input)
              << ": not enough memory to read and export this model\n";
    return kBadModel;
  } catch (const std::exception& e) {
    // Nothing else is expected; whatever it is, it ends in a message and a status, never an
    // abort.
    std::cerr << "treexport: " << InputName(input) << ": cannot be exported: " << e.what() << '\n';
    return kBadModel;
  } catch (...) {
    std::cerr << "treexport: " << InputName(input) << ": cannot be exported (unknown error)\n";
    return kBadModel;
  }
  return kOk;
}
