#!/bin/sh
# Instruction profile of one export: callgrind counts only what runs inside the exporter's
# Generate call (not loading the model file), then prints instructions per node and the ten
# functions with the most instructions of their own.
#   bench/profile_export.sh BUILD_DIR pmml|xml classification|regression [NODES]
# BUILD_DIR is a build of the bench preset (it has bench/generated_model and cli/treexport).
set -eu
build=$1
document=$2
kind=$3
nodes=${4:-10001}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bench/generated_model" "$kind" "$nodes" >"$work/model.json"
case $document in
  pmml) entry='TreeOut::PMMLOutputAdapter*::GeneratePMML*' ;;
  xml) entry='TreeOut::XMLOutputAdapter::GenerateXML*' ;;
  *) echo "document is pmml or xml" >&2; exit 1 ;;
esac
valgrind --tool=callgrind --callgrind-out-file="$work/callgrind.out" --toggle-collect="$entry" \
  "$build/cli/treexport" "$document" "$work/model.json" -o "$work/document" 2>"$work/valgrind.log"
bytes=$(wc -c <"$work/document")
callgrind_annotate "$work/callgrind.out" >"$work/annotated.txt"
total=$(awk '/PROGRAM TOTALS/ {gsub(",", "", $1); print $1; exit}' "$work/annotated.txt")
echo "$document $kind, $nodes nodes, $bytes bytes: $total instructions," \
  "$((total / nodes)) per node, $(awk "BEGIN {printf \"%.1f\", $total / $bytes}") per byte"
# The function table follows the second "Ir file:function" header; names lose their argument
# lists and library paths so that they fit on a line.
awk '/file:function/ {table = 1; getline; next} table && NF {print}' "$work/annotated.txt" |
  head -10 |
  sed -e 's/ \[[^]]*\]$//' -e 's/([^()]*)$//' -e 's/^\( *[0-9,]* ([ 0-9.]*%)\) *[^:]*:/\1 /'
