#!/usr/bin/env python3
"""Writes the hostile model files of this folder, one fault each, from two small valid models.

Run from this folder: python3 make_corpus.py. The expected outcomes live in manifest.tsv,
written by hand from the format's rules; the files that would take megabytes are made by the
test itself (tests/cli/test_hostile.cpp).
"""

REG = """{
  "format": "treexport-model", "version": 1, "function": "regression", "algorithm": 0,
  "fields": [
    {"name": "x", "level": "continuous", "storage": "numeric"},
    {"name": "c", "level": "nominal", "storage": "string", "categories": [{"code": 0, "values": ["a"]}, {"code": 1, "values": ["b"]}], "valueLabels": [{"value": "a", "label": "Alpha"}]},
    {"name": "y", "level": "continuous", "storage": "numeric"}
  ],
  "predictors": ["x", "c"], "target": "y",
  "nodes": [
    {"id": 0, "children": [1, 2], "samples": [{"count": 10, "regression": {"mean": 1}}], "split": {"predictor": "x", "children": [{"high": 3.5}, {"low": 3.5, "lowOpen": true}]}, "surrogates": [{"predictor": "c", "children": [{"codes": [0]}, {"codes": [1]}], "missingChild": 1}]},
    {"id": 1, "samples": [{"count": 6, "regression": {"mean": 0}}], "ranges": [{"predictor": "x", "min": 0, "max": 3}]},
    {"id": 2, "samples": [{"count": 4, "regression": {"mean": 2}}]}
  ]
}
"""

CLS = """{
  "format": "treexport-model", "version": 1, "function": "classification", "algorithm": 2,
  "fields": [
    {"name": "c", "level": "nominal", "storage": "string", "categories": [{"code": 0, "values": ["a"]}, {"code": 1, "values": ["b"]}]},
    {"name": "y", "level": "nominal", "storage": "numeric", "categories": [{"code": 0, "values": [0]}, {"code": 1, "values": [1]}]}
  ],
  "predictors": ["c"], "target": "y",
  "nodes": [
    {"id": 0, "children": [1, 2], "samples": [{"count": 10, "class": {"predicted": 0, "counts": [6, 4]}}], "split": {"predictor": "c", "children": [{"codes": [0]}, {"codes": [1]}]}},
    {"id": 1, "samples": [{"count": 6, "class": {"predicted": 0, "counts": [5, 1]}}]},
    {"id": 2, "samples": [{"count": 4, "class": {"predicted": 1, "counts": [1, 3]}}]}
  ]
}
"""


def leaf(i, children=None):
    kids = f'"children": [{", ".join(map(str, children))}], ' if children else ""
    split = ""
    if children:
        sets = ", ".join(["{\"high\": 1}"] + ["{\"low\": 1, \"lowOpen\": true}"] * (len(children) - 1))
        split = f', "split": {{"predictor": "x", "children": [{sets}]}}'
    return f'    {{"id": {i}, {kids}"samples": [{{"count": 1, "regression": {{"mean": 0}}}}]{split}}}'


def with_nodes(nodes):
    head = REG[:REG.index('  "nodes": [')]
    return head + '  "nodes": [\n' + ",\n".join(nodes) + "\n  ]\n}\n"


def sub(base, old, new):
    assert base.count(old) >= 1, old
    return base.replace(old, new, 1)


files = {}


def add(name, text):
    files[name] = text.encode("utf-8", "surrogatepass") if isinstance(text, str) else text


# Encodings, bytes and the shape of the text.
add("empty.json", b"")
add("white_space_only.json", b"  \n\t\n")
add("cut_off.json", REG[: len(REG) // 2])
add("trailing_garbage.json", REG + "x\n")
add("two_objects.json", REG + REG)
add("pmml_document.json", '<?xml version="1.0" encoding="UTF-8"?>\n<PMML version="4.3" xmlns="http://www.dmg.org/PMML-4_3">\n</PMML>\n')
add("bom_then_model.json", b"\xef\xbb\xbf" + REG.encode())
add("bom_then_garbage.json", b"\xef\xbb\xbfx\n")
add("utf16le_with_bom.json", b"\xff\xfe" + REG.encode("utf-16-le"))
add("utf16be_without_bom.json", REG.encode("utf-16-be"))
add("latin1_name.json", sub(REG, '"label": "Alpha"', '"label": "Caf\xe9"').encode("latin-1"))
add("overlong_utf8.json", sub(REG, '"Alpha"', '"Al@pha"').encode().replace(b"@", b"\xc0\xaf"))
add("encoded_surrogate.json", sub(REG, '"Alpha"', '"Al@pha"').encode().replace(b"@", b"\xed\xa0\x80"))
add("raw_control_in_string.json", sub(REG, '"Alpha"', '"Al\x01pha"'))
add("raw_newline_in_string.json", sub(REG, '"Alpha"', '"Al\npha"'))
add("first_byte_not_json.json", "x\n")
add("nul_byte_outside_string.json", sub(REG, '"version": 1,', '"version": 1,\x00'))

# Characters XML 1.0 cannot hold, written as escapes.
add("escaped_u0001_label.json", sub(REG, '"Alpha"', '"a\\u0001b"'))
add("escaped_u001f_category.json", sub(REG, '"values": ["a"]', '"values": ["\\u001f"]'))
add("escaped_nul_field_name.json", sub(sub(REG, '{"name": "x"', '{"name": "x\\u0000"'), '"predictors": ["x"', '"predictors": ["x\\u0000"'))
add("escaped_backspace.json", sub(REG, '"Alpha"', '"Al\\bpha"'))
add("escaped_formfeed.json", sub(REG, '"Alpha"', '"Al\\fpha"'))
add("escaped_ufffe.json", sub(REG, '"Alpha"', '"Al\\uFFFEpha"'))
add("escaped_uffff.json", sub(REG, '"Alpha"', '"Al\\uffffpha"'))
add("raw_ufffe.json", sub(REG, '"Alpha"', '"Al\ufffepha"'))
add("lone_high_surrogate.json", sub(REG, '"Alpha"', '"Al\\ud800pha"'))
add("lone_low_surrogate.json", sub(REG, '"Alpha"', '"Al\\udc00pha"'))
add("surrogates_reversed.json", sub(REG, '"Alpha"', '"\\udc00\\ud800"'))
add("bad_escape.json", sub(REG, '"Alpha"', '"Al\\x41pha"'))
add("escape_in_member_name.json", sub(REG, '"algorithm": 0,', '"algorithm": 0, "\\u001b[2J\\u0007\\n": 1,'))
add("bad_xml_in_unused_string.json", sub(REG, '"algorithm": 0,', '"algorithm": 0, "treeVersion": {"major": 1, "minor": 0, "patch": 0, "build": 0, "date": "\\u0002"},'))

# Numbers.
add("zeros_350.json", sub(REG, '"mean": 0}', '"mean": 0.' + "0" * 350 + "}"))
add("zero_e308.json", sub(REG, '"max": 3}', '"min": 1, "max": 0e308}'.replace('"min": 1, ', '')).replace('"min": 0', '"min": 1'))
add("zero_point_zero_e308.json", sub(REG, '"max": 3}', '"max": 0.0e308}').replace('"min": 0', '"min": 1'))
add("nan_e8.json", sub(REG, '"mean": 0}', '"mean": NaNe8}'))
add("infinity_e2.json", sub(REG, '"mean": 0}', '"mean": Infinitye2}'))
add("inf_e_minus_90.json", sub(REG, '"mean": 0}', '"mean": Infe-90}'))
add("nan_mean.json", sub(REG, '"mean": 0}', '"mean": NaN}'))
add("infinity_count.json", sub(REG, '"count": 6', '"count": Infinity'))
add("overflow_1e400.json", sub(REG, '"mean": 0}', '"mean": 1e400}'))
add("overflow_negative.json", sub(REG, '"mean": 0}', '"mean": -1.5e309}'))
add("integer_30_digits.json", sub(REG, '"id": 2,', '"id": 123456789012345678901234567890,'))
add("id_above_uint32.json", sub(REG, '"id": 2,', '"id": 4294967296,'))
add("version_fraction.json", sub(REG, '"version": 1,', '"version": 1.0,'))
add("leading_zero.json", sub(REG, '"count": 6', '"count": 06'))
add("minus_alone.json", sub(REG, '"count": 6', '"count": -'))
add("point_without_digits.json", sub(REG, '"count": 6', '"count": 6.'))

# JSON structure.
add("depth_65.json", sub(REG, '"algorithm": 0,', '"algorithm": 0, "treeVersion": ' + "[" * 64 + "]" * 64 + ","))
add("duplicate_member.json", sub(REG, '"version": 1,', '"version": 1, "version": 1,'))
add("missing_comma.json", sub(REG, '"predictors": ["x", "c"]', '"predictors": ["x" "c"]'))
add("trailing_comma.json", sub(REG, '"predictors": ["x", "c"]', '"predictors": ["x", "c",]'))
add("root_is_array.json", "[" + REG + "]")
add("unclosed_string.json", REG[: REG.index('"Alpha"') + 4])

# The format's rules.
add("unknown_member.json", sub(REG, '"algorithm": 0,', '"algorithm": 0, "colour": "red",'))
add("missing_target.json", sub(REG, ', "target": "y"', ""))
add("count_is_string.json", sub(REG, '"count": 6', '"count": "6"'))
add("wrong_format_name.json", sub(REG, '"treexport-model"', '"treexport-modell"'))
add("version_2.json", sub(REG, '"version": 1,', '"version": 2,'))
add("unknown_function.json", sub(REG, '"regression", "algorithm"', '"clustering", "algorithm"'))
add("samples_65.json", sub(REG, '"algorithm": 0,', '"algorithm": 0, "samples": 65,'))
add("risk_sample_too_big.json", sub(REG, '"algorithm": 0,', '"algorithm": 0, "riskSample": 1,'))
add("priors_for_regression.json", sub(REG, '"algorithm": 0,', '"algorithm": 0, "priors": [0.5, 0.5],'))
add("priors_missing.json", sub(CLS, '"algorithm": 2,', '"algorithm": 3,'))
add("empty_field_name.json", sub(sub(REG, '{"name": "x"', '{"name": ""'), '"predictors": ["x"', '"predictors": [""'))
add("field_name_twice.json", sub(REG, '{"name": "c"', '{"name": "x"'))
add("role_without_field.json", sub(REG, '"target": "y"', '"target": "z"'))
add("field_in_two_roles.json", sub(REG, '"target": "y"', '"target": "y", "caseWeight": "x"'))
add("field_in_no_role.json", sub(REG, '"predictors": ["x", "c"]', '"predictors": ["x"]'))
add("unknown_level.json", sub(REG, '"level": "continuous", "storage": "numeric"}', '"level": "interval", "storage": "numeric"}'))
add("string_for_numeric_field.json", sub(REG, '{"name": "y", "level": "continuous", "storage": "numeric"}', '{"name": "y", "level": "continuous", "storage": "numeric", "missing": {"values": ["n/a"]}}'))
add("category_code_twice.json", sub(REG, '{"code": 1, "values": ["b"]}', '{"code": 0, "values": ["b"]}'))
add("value_labelled_twice.json", sub(REG, '[{"value": "a", "label": "Alpha"}]', '[{"value": "a", "label": "Alpha"}, {"value": "a", "label": "A"}]'))
add("range_low_above_high.json", sub(REG, '{"name": "y", "level": "continuous", "storage": "numeric"}', '{"name": "y", "level": "continuous", "storage": "numeric", "missing": {"ranges": [{"low": 5, "high": 1}]}}'))
add("nodes_empty.json", with_nodes([]))
add("node_id_twice.json", sub(REG, '"id": 2,', '"id": 1,'))
add("child_id_unknown.json", sub(REG, '"children": [1, 2]', '"children": [1, 77]'))
add("child_of_two_nodes.json", sub(REG, '{"id": 1, "samples"', '{"id": 1, "children": [2], "samples"'))
add("root_as_child.json", sub(REG, '{"id": 1, "samples"', '{"id": 1, "children": [0], "samples"'))
add("node_its_own_child.json", sub(REG, '{"id": 1, "samples"', '{"id": 1, "children": [1], "samples"'))
add("unreachable_node.json", with_nodes([leaf(0, [1, 2]), leaf(1), leaf(2), leaf(3)]))
add("cycle_unreachable.json", with_nodes([leaf(0, [1, 2]), leaf(1), leaf(2), leaf(3, [4]), leaf(4, [3])]))
add("cycle_with_tail.json", with_nodes([leaf(0, [1, 2]), leaf(1), leaf(2), leaf(8), leaf(7), leaf(5, [6, 7]), leaf(6, [5, 8])]))
add("chain_to_parentless_node.json", with_nodes([leaf(0, [1, 2]), leaf(1), leaf(2), leaf(6), leaf(5, [6])]))
add("class_outside_categories.json", sub(CLS, '"predicted": 1', '"predicted": 2'))
add("counts_wrong_length.json", sub(CLS, '"counts": [5, 1]', '"counts": [5, 1, 0]'))
add("proportion_above_one.json", sub(CLS, '"counts": [5, 1]', '"counts": [5, 1], "proportions": [1.5, -0.5]'))
add("negative_count.json", sub(REG, '"count": 6', '"count": -6'))
add("interval_for_nominal.json", sub(REG, '"children": [{"codes": [0]}, {"codes": [1]}]', '"children": [{"high": 1}, {"codes": [1]}]'))
add("code_not_a_category.json", sub(REG, '{"codes": [1]}', '{"codes": [5]}'))
add("code_to_two_children.json", sub(REG, '{"codes": [1]}', '{"codes": [0]}'))
add("interval_low_above_high.json", sub(REG, '{"low": 3.5, "lowOpen": true}', '{"low": 3.5, "high": 1}'))
add("low_open_without_low.json", sub(REG, '{"high": 3.5}', '{"high": 3.5, "lowOpen": true}'))
add("leaf_with_split.json", sub(REG, '"regression": {"mean": 2}}]}', '"regression": {"mean": 2}}], "split": {"predictor": "x", "children": []}}'))
add("children_without_split.json", with_nodes([leaf(0, [1, 2]).replace(', "split": {"predictor": "x", "children": [{"high": 1}, {"low": 1, "lowOpen": true}]}', ''), leaf(1), leaf(2)]))
add("samples_count_wrong.json", sub(REG, '"samples": [{"count": 6, "regression": {"mean": 0}}]', '"samples": [{"count": 6, "regression": {"mean": 0}}, {"count": 6, "regression": {"mean": 0}}]'))
add("missing_child_out_of_range.json", sub(REG, '"missingChild": 1', '"missingChild": 2'))
add("statistics_five.json", sub(REG, '"missingChild": 1', '"missingChild": 1, "statistics": [1, 2, 3, 4, 5]'))
add("kind_twice.json", sub(REG, '"missingChild": 1', '"missingChild": 1, "kinds": ["f", "f"]'))
add("predictor_range_twice.json", sub(REG, '"ranges": [{"predictor": "x", "min": 0, "max": 3}]', '"ranges": [{"predictor": "x", "min": 0, "max": 3}, {"predictor": "x", "min": 0, "max": 2}]'))
add("class_info_in_regression.json", sub(REG, '"regression": {"mean": 0}', '"class": {"predicted": 0, "counts": [1]}'))
add("target_codes_not_from_zero.json", sub(CLS, '{"code": 0, "values": [0]}, {"code": 1, "values": [1]}', '{"code": 1, "values": [0]}, {"code": 2, "values": [1]}'))

for name, data in sorted(files.items()):
    with open(name, "wb") as f:
        f.write(data)
print(len(files), "files")
