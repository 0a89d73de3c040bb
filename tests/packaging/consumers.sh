#!/usr/bin/env bash
# Installs the build into a temporary prefix and uses it as a host program would:
#   1. the installed tree holds what it should (versioned libraries, public headers only,
#      the command with a RUNPATH relative to itself, converters, manual page, completion);
#   2. every installed header compiles on its own;
#   3. examples/embed builds as a separate CMake project with find_package(treexport CONFIG),
#      both programs run, their PMML is valid against the schema and their tree XML against
#      the DTD;
#   4. examples/embed/own_tree.cpp builds with `pkg-config --cflags --libs treexport` alone;
#   5. the installed command, run from /, exports a bundled example and finds its converters
#      without TREEXPORT_TOOLS_DIR; with R and rpart, it converts an rpart tree through the
#      installed rpart2treexport and the R package's sources beside it.
# Usage: consumers.sh BUILD_DIR SOURCE_DIR [CXXFLAGS]
# The consumers are compiled with the build's own CXXFLAGS (a sanitizer build needs its runtime).
set -euo pipefail
build=$1
source=$2
cxxflags=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
# The libraries' folder as the build chose it (lib/<triplet> on a Debian system).
lib=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:[A-Z]*=//p' "$build/CMakeCache.txt")
[ -n "$lib" ] || fail "the build's cache has no CMAKE_INSTALL_LIBDIR"

# 1. Layout.
for name in arbtrexm_legacyr arbtremd_legacyr arbtrepi_legacyr; do
  [ -f "$prefix/$lib/lib$name.so.0.1.0" ] || fail "$lib/lib$name.so.0.1.0 is not installed"
  [ "$(readlink "$prefix/$lib/lib$name.so.0")" = "lib$name.so.0.1.0" ] || fail "lib$name.so.0 link"
  [ "$(readlink "$prefix/$lib/lib$name.so")" = "lib$name.so.0" ] || fail "lib$name.so link"
  readelf -d "$prefix/$lib/lib$name.so.0.1.0" | grep -q "SONAME.*\[lib$name\.so\.0\]" ||
    fail "lib$name has no SONAME lib$name.so.0"
done
for f in $lib/cmake/treexport/treexportConfig.cmake $lib/cmake/treexport/treexportConfigVersion.cmake \
  $lib/pkgconfig/treexport.pc share/man/man1/treexport.1.gz \
  share/bash-completion/completions/treexport share/doc/treexport/copyright \
  libexec/treexport/sklearn2treexport libexec/treexport/rpart2treexport \
  libexec/treexport/R/convert.R \
  include/treexport/pmml/pmml_output_adapter.h include/treexport/treexml/xml_output_adapter.h \
  include/treexport/arbtree/tree_algorithm_base.h include/treexport/imported/metadata/model_metadata.h \
  include/treexport/host/memtree/tree_builder.h; do
  [ -e "$prefix/$f" ] || fail "$f is not installed"
done
private=$(cd "$prefix/include" && find . -path '*/detail/*' -o -name pmml_texts.h -o -name '*.cpp')
[ -z "$private" ] || fail "private files installed: $private"
readelf -d "$prefix/bin/treexport" | grep -qF "Library runpath: [\$ORIGIN/../$lib]" ||
  fail "the command's RUNPATH is not \$ORIGIN/../$lib: $(readelf -d "$prefix/bin/treexport" | grep PATH)"
! readelf -d "$prefix/bin/treexport" "$prefix/$lib"/*.so.0.1.0 | grep -q "$build" ||
  fail "an installed binary still points into the build tree"

# 2. Every public header on its own.
cxx=${CXX:-c++}
while IFS= read -r header; do
  echo "#include \"${header#./}\"" >"$work/one.cpp"
  # shellcheck disable=SC2086 # the flags are words
  "$cxx" -std=c++17 -fsyntax-only -Wall -Wextra -Werror $cxxflags -I"$prefix/include/treexport" \
    "$work/one.cpp" ||
    fail "installed header ${header#./} does not compile on its own"
done < <(cd "$prefix/include/treexport" && find . -name '*.h' | sort)

# 3. The examples through the CMake package.
cmake -S "$source/examples/embed" -B "$work/embed" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS="-Wall -Wextra -Werror $cxxflags" \
  >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; fail "configure"; }
cmake --build "$work/embed" -j2 >"$work/build.log" 2>&1 || { cat "$work/build.log"; fail "build"; }
check_documents() {  # name: validates $work/name.pmml and $work/name.xml
  xmllint --noout --schema "$source/tests/data/pmml-4-3.xsd" "$work/$1.pmml" ||
    fail "$1: PMML not valid against the schema"
  xmllint --noout --dtdvalid "$source/docs/Tree.dtd" "$work/$1.xml" ||
    fail "$1: tree XML not valid against docs/Tree.dtd"
  local entries
  entries=$(xmllint --xpath 'count(//*[local-name()="X-PredictorImportance"])' "$work/$1.pmml")
  [ "$entries" -ge 1 ] || fail "$1: the importance list is empty"
}
(cd / && "$work/embed/builder_export" "$work/builder.pmml" "$work/builder.xml") || fail "builder_export"
check_documents builder
(cd / && "$work/embed/own_tree" "$work/own.pmml" "$work/own.xml") || fail "own_tree"
check_documents own
grep -q 'displayName="Salary in écus"' "$work/own.pmml" || fail "own_tree: the transcoder was not used"

# 4. The same host through pkg-config alone.
export PKG_CONFIG_PATH=$prefix/$lib/pkgconfig
flags=$(pkg-config --cflags --libs treexport) || fail "pkg-config does not know treexport"
libdir=$(pkg-config --variable=libdir treexport)
# shellcheck disable=SC2086 # the flags are words
"$cxx" -std=c++17 $cxxflags -o "$work/own_tree_pc" "$source/examples/embed/own_tree.cpp" $flags \
  -Wl,--as-needed -Wl,-rpath,"$libdir" || fail "own_tree does not build with pkg-config's flags"
(cd / && "$work/own_tree_pc" "$work/pc.pmml" "$work/pc.xml") || fail "own_tree (pkg-config)"
check_documents pc
cmp -s "$work/own.pmml" "$work/pc.pmml" || fail "the two builds of own_tree write different PMML"

# 5. The installed command, away from the sources.
(cd / && env -u TREEXPORT_TOOLS_DIR "$prefix/bin/treexport" pmml \
  "$source/examples/cart_classification.json" -o "$work/cmd.pmml") || fail "installed command"
xmllint --noout --schema "$source/tests/data/pmml-4-3.xsd" "$work/cmd.pmml" || fail "command's PMML"
cmp -s "$work/cmd.pmml" "$source/tests/cli/golden/cart_classification.pmml" ||
  fail "the installed command's PMML differs from the reviewed document"
set +e
message=$(cd / && env -u TREEXPORT_TOOLS_DIR "$prefix/bin/treexport" pmml --from sklearn \
  "$work/no-such-tree.pkl" 2>&1)
status=$?
set -e
[ "$status" -eq 2 ] || fail "--from with a missing file: exit status $status, expected 2"
case $message in
  *"sklearn2treexport: "*"no-such-tree.pkl"*) ;;  # the converter itself ran and answered
  *) fail "the installed command did not run its converter: $message" ;;
esac
# The installed rpart converter runs the R package's sources installed beside it.
if Rscript -e 'library(rpart)' >/dev/null 2>&1; then
  Rscript -e 'library(rpart); saveRDS(rpart(Kyphosis ~ ., kyphosis), commandArgs(TRUE)[1])' \
    "$work/kyphosis.rds"
  (cd / && env -u TREEXPORT_TOOLS_DIR "$prefix/bin/treexport" pmml --from rpart \
    "$work/kyphosis.rds" -o "$work/rpart.pmml") || fail "installed command --from rpart"
  xmllint --noout --schema "$source/tests/data/pmml-4-3.xsd" "$work/rpart.pmml" ||
    fail "the installed command's PMML of an rpart tree"
fi
echo "installed tree, CMake and pkg-config consumers and installed command: all fine"
