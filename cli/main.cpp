// treexport: exports a fitted decision tree read from a model file.
#include <CLI/CLI.hpp>
#include <iostream>
#include <string>

#include "cli/output_file.h"
#include "host/memtree/model_file.h"
#include "host/memtree/summary.h"
#include "version/arb_version.h"

namespace {

// Exit statuses a script can tell apart.
constexpr int kOk = 0;
constexpr int kUsage = 1;
constexpr int kBadModel = 2;
constexpr int kCannotWrite = 3;

std::string VersionText() {
  const ArbTree::ArbVersion& v = ArbTree::LibraryVersion();
  return std::string("treexport ") + TREEXPORT_VERSION + "\narbtrexm_legacyr " +
         std::to_string(v.GetMajor()) + "." + std::to_string(v.GetMinor()) + "." +
         std::to_string(v.GetPatch()) + "." + std::to_string(v.GetBuild()) + " (" +
         v.GetDateTime() + ")";
}

memtree::Model Load(const std::string& path) {
  if (path == "-") return memtree::LoadModel(std::cin, "<stdin>");
  return memtree::LoadModel(path);
}

void AddModelArgument(CLI::App& command, std::string& path) {
  command.add_option("MODEL", path, "model file (docs/model-format.md), or - for standard input")
      ->required();
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Exports a fitted decision tree read from a JSON model file.", "treexport"};
  app.set_version_flag("--version", VersionText(), "print the tool's and the library's version");
  app.require_subcommand(1);
  app.footer(
      "Exit status: 0 done, 1 usage error, 2 the model cannot be read, 3 the output cannot be "
      "written.\nRun 'treexport COMMAND --help' for a command's options.");

  std::string modelPath;
  CLI::App* info = app.add_subcommand("info", "print a one-screen summary of a model");
  AddModelArgument(*info, modelPath);
  info->footer("Example: treexport info examples/cart_classification.json");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? kOk : kUsage;
  }

  try {
    memtree::Model model = Load(modelPath);
    if (info->parsed()) {
      cli::WriteOutput("-", memtree::Summarize(*model.tree, *model.metadata));
    }
  } catch (const memtree::ModelError& e) {
    std::cerr << "treexport: " << e.what() << '\n';
    return kBadModel;
  } catch (const cli::OutputError& e) {
    std::cerr << "treexport: " << e.what() << '\n';
    return kCannotWrite;
  }
  return kOk;
}
