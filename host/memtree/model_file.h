// JSON model files: a fitted tree with its field metadata (format: docs/model-format.md).
#pragma once

#include <iosfwd>
#include <memory>
#include <string>

#include "host/memtree/mem_tree.h"
#include "host/memtree/model_error.h"
#include "imported/metadata/model_metadata_imp.h"

namespace memtree {

/// A loaded model: the tree and the metadata its predictor indices refer to.
struct Model {
  std::unique_ptr<mdt::ModelMetadataImp> metadata;
  std::unique_ptr<MemTree> tree;
};

/// Reads a model file. Every problem throws ModelError naming path:line:column, the JSON path of
/// the value and what is wrong, e.g. "m.json:41:17: nodes[12].children[1]: no node with id 77".
Model LoadModel(const std::string& path);
/// Reads a model from a stream; name stands for the file in messages.
Model LoadModel(std::istream& in, const std::string& name);
/// Reads a model from its text; name stands for the file in messages.
Model ParseModel(std::string text, const std::string& name);

/// The model file text of a tree and its metadata; nodes in pre-order. Loading the text gives a
/// model that saves to the same bytes. Throws ModelError when the two do not fit together.
std::string ModelText(const MemTree& tree, const mdt::ModelMetadataImp& metadata);
/// Writes ModelText to a stream in one block.
void SaveModel(const MemTree& tree, const mdt::ModelMetadataImp& metadata, std::ostream& out);
/// Writes ModelText to a file; throws ModelError when the file cannot be written.
void SaveModel(const MemTree& tree, const mdt::ModelMetadataImp& metadata, const std::string& path);

}  // namespace memtree
