"""Unit tests of the treexport package: run with python3 -m pytest python/tests (or unittest)."""

import io
import json
import math
import os
import pickle
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

import numpy as np
import pandas as pd
from sklearn.compose import ColumnTransformer
from sklearn.datasets import load_diabetes, load_iris
from sklearn.pipeline import Pipeline, make_pipeline
from sklearn.preprocessing import OneHotEncoder, OrdinalEncoder, StandardScaler
from sklearn.tree import DecisionTreeClassifier, DecisionTreeRegressor

import treexport
from treexport._thresholds import float32_thresholds

try:
    from treexport import _native  # noqa: F401
    NATIVE = True
except ImportError:
    NATIVE = False

F32_MAX = float(np.finfo(np.float32).max)


def route(doc, record):
    """The id of the leaf a record reaches in a model file, by the format's rules.

    record maps field names to values (numbers, category values or None for missing). A value
    set takes a value when its interval holds it or its codes hold the value's category code;
    a missing value (or one no child takes) goes to missingChild, else to the biggest child.
    """
    nodes = {n["id"]: n for n in doc["nodes"]}
    codes = {f["name"]: {c["values"][0]: c["code"] for c in f.get("categories", [])}
             for f in doc["fields"]}
    node = doc["nodes"][0]
    while "children" in node:
        rule = node["split"]
        value = record.get(rule["predictor"])
        chosen = None
        if value is not None and not (isinstance(value, float) and math.isnan(value)):
            for k, s in enumerate(rule["children"]):
                if s is None:
                    continue
                if "codes" in s:
                    code = codes[rule["predictor"]].get(value)
                    if code is not None and code in s["codes"]:
                        chosen = k
                else:
                    if "low" in s and (value < s["low"] or (s.get("lowOpen") and
                                                            value == s["low"])):
                        continue
                    if "high" in s and (value > s["high"] or (s.get("highOpen") and
                                                              value == s["high"])):
                        continue
                    chosen = k
                if chosen is not None:
                    break
        if chosen is None:
            chosen = rule.get("missingChild")
        if chosen is None:
            counts = [nodes[c]["samples"][0]["count"] for c in node["children"]]
            chosen = counts.index(max(counts))
        node = nodes[node["children"][chosen]]
    return node["id"]


def records(frame):
    """Rows of a data frame as dictionaries, NaN as None."""
    out = []
    for row in frame.to_dict("records"):
        out.append({k: (None if isinstance(v, float) and math.isnan(v) else v)
                    for k, v in row.items()})
    return out


def colors_frame(n=600, seed=0):
    rng = np.random.RandomState(seed)
    df = pd.DataFrame({
        "color": rng.choice(["red", "green", "blue", "amber", "violet"], n),
        "size": rng.rand(n) * 10,
        "shape": rng.choice(["square", "circle", "triangle"], n),
        "noise": rng.rand(n),
    })
    y = ((df.color.isin(["red", "violet"]) ^ (df["size"] > 5)) | (df.shape == "triangle"))
    return df, pd.Series(y.values, name="good")


class Thresholds(unittest.TestCase):
    def check(self, thr):
        """t is the largest double with float32(d) <= thr for every d <= t."""
        t = float32_thresholds(np.array(thr, dtype=np.float64))
        for x, tx in zip(np.atleast_1d(thr), np.atleast_1d(t)):
            above = np.nextafter(tx, np.inf)
            with np.errstate(over="ignore"):
                self.assertTrue(np.float32(tx) <= x, (x, tx))
                self.assertFalse(np.float32(above) <= x, (x, tx, above))
                # Below t everything stays below: casting is monotonic, so the largest is enough.
                self.assertTrue(np.float32(np.nextafter(tx, -np.inf)) <= x)

    def test_on_float32_midpoints_and_edges(self):
        rng = np.random.RandomState(1)
        a = rng.standard_normal(2000).astype(np.float32)
        b = np.nextafter(a, np.float32(np.inf))
        midpoints = (a.astype(np.float64) + b.astype(np.float64)) / 2
        self.check(midpoints)
        self.check(a.astype(np.float64))
        self.check(rng.standard_normal(2000) * 10.0 ** rng.randint(-30, 30, 2000))
        tiny = float(np.finfo(np.float32).smallest_subnormal) if hasattr(
            np.finfo(np.float32), "smallest_subnormal") else 2.0 ** -149
        self.check([0.0, -0.0, tiny, -tiny, tiny / 2, 1.0, -1.0, 0.5, 1.5, F32_MAX, -F32_MAX,
                    F32_MAX * (1 - 2 ** -30), 1e-45, 2.5, -2.5])

    def test_ties_round_to_even(self):
        # 1.0 has an even significand: the midpoint to the next float32 rounds down to it.
        up = float(np.nextafter(np.float32(1), np.float32(2)))
        self.assertEqual(float32_thresholds([1.0])[0], (1.0 + up) / 2)
        # Its neighbour above is odd: the midpoint above it rounds up, so t is just below it.
        up2 = float(np.nextafter(np.float32(up), np.float32(2)))
        self.assertEqual(float32_thresholds([up])[0], np.nextafter((up + up2) / 2, -np.inf))
        # The largest float32: the cast rounds to infinity from FLT_MAX + half an ulp on.
        self.assertEqual(float32_thresholds([F32_MAX])[0],
                         np.nextafter(F32_MAX + 2.0 ** 103, -np.inf))

    def test_every_threshold_of_a_fitted_tree_routes_like_apply(self):
        rng = np.random.RandomState(7)
        X = rng.standard_normal((3000, 3)) * [1, 1e-3, 1e4]
        y = X[:, 0] + X[:, 1] * 1e3 + X[:, 2] * 1e-4 + rng.standard_normal(3000) * 0.1
        est = DecisionTreeRegressor(max_leaf_nodes=200, random_state=0).fit(X, y)
        doc = treexport._convert.convert(est).doc
        t = est.tree_
        rows = []
        for i in np.flatnonzero(t.children_left != -1):
            thr = t.threshold[i]
            f32 = np.float32(thr)
            exact = float32_thresholds([thr])[0]
            probes = [thr, float(f32), exact,
                      float(np.nextafter(f32, np.float32(np.inf))),
                      float(np.nextafter(f32, np.float32(-np.inf))),
                      np.nextafter(thr, np.inf), np.nextafter(thr, -np.inf),
                      np.nextafter(exact, np.inf), np.nextafter(exact, -np.inf)]
            for p in probes:
                row = X[rng.randint(len(X))].copy()
                row[t.feature[i]] = p
                rows.append(row)
        rows = np.array(rows)
        expected = est.apply(rows)
        names = ["x0", "x1", "x2"]
        got = [route(doc, dict(zip(names, r.tolist()))) for r in rows]
        self.assertEqual(list(expected), got)
        # The plain threshold disagrees on some of these rows: the test can see a wrong one.
        plain = json.loads(json.dumps(doc))
        for node in plain["nodes"]:
            if "split" in node:
                node["split"]["children"][0]["high"] = float(t.threshold[node["id"]])
                node["split"]["children"][1]["low"] = float(t.threshold[node["id"]])
        self.assertNotEqual(list(expected),
                            [route(plain, dict(zip(names, r.tolist()))) for r in rows])


class Pipelines(unittest.TestCase):
    def fit(self, front, df, y, **tree):
        steps = ([("prep", front)] if front is not None else [])
        pipe = Pipeline(steps + [("tree", DecisionTreeClassifier(random_state=0, **tree))])
        return pipe.fit(df, y)

    def assert_routes(self, pipe, df, doc):
        leaves = pipe[-1].apply(pipe[:-1].transform(df)) if len(pipe) > 1 else pipe.apply(df)
        self.assertEqual(list(leaves), [route(doc, r) for r in records(df)])

    def test_encoded_columns_become_nominal_fields_with_category_sets(self):
        df, y = colors_frame()
        ct = ColumnTransformer([
            ("o", OrdinalEncoder(handle_unknown="use_encoded_value", unknown_value=-1),
             ["color"]),
            ("h", OneHotEncoder(handle_unknown="ignore"), ["shape"]),
            ("p", "passthrough", ["size"])], remainder="drop")
        pipe = self.fit(ct, df, y, max_depth=6)
        doc = treexport.to_model(pipe, y=y)
        doc = json.loads(doc)
        fields = {f["name"]: f for f in doc["fields"]}
        self.assertEqual(doc["predictors"], ["color", "size", "shape"])  # noise is dropped
        self.assertEqual(doc["target"], "good")
        self.assertEqual([c["values"][0] for c in fields["color"]["categories"]],
                         ["amber", "blue", "green", "red", "violet"])
        self.assertEqual(fields["shape"]["level"], "nominal")
        self.assertEqual([c["values"] for c in fields["good"]["categories"]],
                         [["False"], ["True"]])
        t = pipe[-1].tree_
        names = ["color", "circle", "square", "triangle", "size"]
        for node in doc["nodes"]:
            if "split" not in node:
                continue
            i = node["id"]
            split = node["split"]
            column = names[t.feature[i]]
            children = [c.get("codes") for c in split["children"]]
            if column == "color":
                low = [c for c in range(5) if c <= t.threshold[i]]
                self.assertEqual(children, [low, [c for c in range(5) if c not in low]])
                # An unknown colour is code -1: the lower side, taken as a missing value.
                self.assertEqual(split["missingChild"], 0)
            elif column in ("circle", "square", "triangle"):
                flag = ["circle", "square", "triangle"].index(column)
                self.assertEqual(children, [[c for c in range(3) if c != flag], [flag]])
                self.assertEqual(split["missingChild"], 0)  # all zeros: not this category
            else:
                self.assertEqual(split["predictor"], "size")
        # Every row, and rows with unseen categories, reach apply()'s leaf.
        self.assert_routes(pipe, df, doc)
        odd = df.head(50).copy()
        odd.loc[odd.index[::2], "color"] = "purple"
        odd.loc[odd.index[::3], "shape"] = "hexagon"
        self.assert_routes(pipe, odd, doc)

    def test_one_hot_of_several_columns_with_drop_and_a_lone_encoder(self):
        df, y = colors_frame(seed=3)
        enc = OneHotEncoder(drop="first")
        pipe = self.fit(enc, df[["color", "shape"]], y)
        doc = json.loads(treexport.to_model(pipe))
        self.assertEqual(doc["predictors"], ["color", "shape"])
        self.assert_routes(pipe, df[["color", "shape"]], doc)
        ordinal = self.fit(OrdinalEncoder(), df[["color", "shape"]], y)
        self.assert_routes(ordinal, df[["color", "shape"]],
                           json.loads(treexport.to_model(ordinal)))

    def test_missing_values_through_an_ordinal_encoder(self):
        df, y = colors_frame(seed=4)
        df.loc[df.index[::7], "color"] = np.nan
        try:
            enc = OrdinalEncoder(encoded_missing_value=-1)
        except TypeError:
            self.skipTest("this scikit-learn encodes a missing value as a category")
        pipe = self.fit(ColumnTransformer([("o", enc, ["color"])], remainder="passthrough"),
                        df[["color", "size"]], y)
        doc = json.loads(treexport.to_model(pipe))
        cats = [c["values"][0] for c in doc["fields"][0]["categories"]]
        self.assertEqual(cats, ["amber", "blue", "green", "red", "violet"])
        # A missing colour is code -1, which every split sends to its lower side.
        splits = [n["split"] for n in doc["nodes"] if n.get("split", {}).get("predictor") ==
                  "color"]
        self.assertTrue(splits)
        for split in splits:
            self.assertEqual(split["missingChild"], 0)
            low = (split["children"][0] or {"codes": []})["codes"]  # null: no category
            self.assertEqual(low, list(range(len(low))))
        self.assert_routes(pipe, df[["color", "size"]], doc)

    def test_missing_and_unknown_categories_route_like_apply(self):
        rng = np.random.RandomState(1)
        n = 700
        df = pd.DataFrame({"c": rng.choice(["a", "b", "c", "d"], n).astype(object),
                           "g": rng.choice([1, 2, 3], n), "x": rng.rand(n)})
        df.loc[df.index[::9], "c"] = np.nan  # a category of the one-hot encoder
        y = (df.c.isin(["a", "d"]) ^ (df.x > .5)) | (df.g == 3)
        unknown = df.head(60).copy()
        unknown.loc[unknown.index[::2], "c"] = "zzz"
        unknown.loc[unknown.index[::3], "g"] = 7
        fronts = [ColumnTransformer([("h", OneHotEncoder(handle_unknown="ignore"), ["c", "g"])],
                                    remainder="passthrough")]
        try:
            fronts.append(ColumnTransformer([("o", OrdinalEncoder(
                encoded_missing_value=-1, handle_unknown="use_encoded_value",
                unknown_value=-2), ["c", "g"])], remainder="passthrough"))
        except TypeError:
            pass  # before scikit-learn 1.1
        for front in fronts:
            for tree in (DecisionTreeClassifier, DecisionTreeRegressor):
                pipe = Pipeline([("prep", front), ("tree", tree(random_state=0,
                                                                min_samples_leaf=3))])
                pipe.fit(df, y)
                doc = json.loads(treexport.to_model(pipe))
                self.assert_routes(pipe, df, doc)
                self.assert_routes(pipe, unknown, doc)

    def test_other_steps_are_refused_by_name(self):
        df, y = colors_frame()
        cases = [
            (make_pipeline(StandardScaler(), DecisionTreeClassifier()),
             df[["size"]], "step 'standardscaler' is a StandardScaler"),
            (Pipeline([("prep", ColumnTransformer([("s", StandardScaler(), ["size"])])),
                       ("tree", DecisionTreeClassifier())]), df[["size"]],
             "transformer 's' is a StandardScaler"),
            (Pipeline([("a", OrdinalEncoder()), ("b", OrdinalEncoder()),
                       ("tree", DecisionTreeClassifier())]), df[["color"]],
             "steps 'a', 'b' in front of its tree"),
        ]
        for pipe, X, message in cases:
            pipe.fit(X, y)
            with self.assertRaises(treexport.ConversionError) as caught:
                treexport.to_model(pipe)
            self.assertIn(message, str(caught.exception))
            self.assertIn("OrdinalEncoder, OneHotEncoder", str(caught.exception))
        with self.assertRaisesRegex(treexport.ConversionError, "not a DecisionTreeClassifier"):
            treexport.to_model(StandardScaler().fit(df[["size"]]))

    def test_names_labels_and_ranges(self):
        iris = load_iris()
        est = DecisionTreeClassifier(max_depth=2, random_state=0).fit(iris.data, iris.target)
        doc = json.loads(treexport.to_model(est, feature_names=list("abcd"),
                                            target_name="species", X=iris.data))
        self.assertEqual(doc["predictors"], list("abcd"))
        self.assertEqual(doc["fields"][-1]["storage"], "numeric")  # integer labels stay numbers
        root = doc["nodes"][0]
        self.assertEqual(root["ranges"], [{"predictor": n, "min": float(lo), "max": float(hi)}
                                          for n, lo, hi in zip("abcd", iris.data.min(0),
                                                               iris.data.max(0))])
        leaf = next(n for n in doc["nodes"] if n["id"] == 1)
        rows = iris.data[est.apply(iris.data) == 1]
        self.assertEqual(leaf["ranges"][2]["max"], float(rows[:, 2].max()))
        with self.assertRaisesRegex(treexport.ConversionError, "gives 2 names for 4"):
            treexport.to_model(est, feature_names=["a", "b"])
        with self.assertRaisesRegex(treexport.ConversionError, "also a feature name"):
            treexport.to_model(est, feature_names=list("abcd"), target_name="a")
        floats = DecisionTreeClassifier(max_depth=1).fit(iris.data, iris.target * 1.0)
        labels = json.loads(treexport.to_model(floats))["fields"][-1]["categories"]
        self.assertEqual([c["values"][0] for c in labels], ["0.0", "1.0", "2.0"])


class MissingGoToLeft(unittest.TestCase):
    def test_the_missing_value_child_comes_first(self):
        sys.path.insert(0, os.path.join(os.path.dirname(__file__)))
        from newer_trees import with_missing_routing
        iris = load_iris()
        est = DecisionTreeClassifier(max_depth=3, random_state=0).fit(iris.data, iris.target)
        tree = est.tree_
        go_left = tree.n_node_samples[tree.children_left] < tree.n_node_samples[
            tree.children_right]
        est.tree_ = with_missing_routing(tree, go_left)
        doc = json.loads(treexport.to_model(est))
        for node in doc["nodes"]:
            if "split" in node:
                i = node["id"]
                self.assertEqual(node["split"]["missingChild"], 0)
                want = tree.children_left[i] if go_left[i] else tree.children_right[i]
                self.assertEqual(node["children"][0], want)
        # A record with every value missing follows missing_go_to_left all the way down.
        i = 0
        while tree.children_left[i] != -1:
            i = tree.children_left[i] if go_left[i] else tree.children_right[i]
        self.assertEqual(route(doc, {}), i)
        # Present values still route by the thresholds, whichever child comes first.
        names = ["x%d" % k for k in range(4)]
        self.assertEqual(list(tree.apply(iris.data.astype(np.float32))),
                         [route(doc, dict(zip(names, r))) for r in iris.data.tolist()])


@unittest.skipUnless(NATIVE, "the compiled export module is not built")
class Documents(unittest.TestCase):
    def test_pmml_and_tree_xml_hold_every_node_and_write_atomically(self):
        diabetes = load_diabetes(as_frame=True)
        est = DecisionTreeRegressor(max_depth=4, random_state=0).fit(diabetes.data,
                                                                     diabetes.target)
        pmml = treexport.to_pmml(est, y=diabetes.target)
        root = ET.fromstring(pmml)
        ns = {"p": "http://www.dmg.org/PMML-4_3"}
        self.assertEqual(len(root.findall(".//p:Node", ns)), est.tree_.node_count)
        self.assertEqual([f.get("name") for f in root.findall(".//p:DataField", ns)][-1],
                         "target")
        xml = treexport.to_tree_xml(est)
        self.assertTrue(xml.lstrip().startswith("<?xml"))
        ET.fromstring(xml.split("\n", 2)[2] if "<!DOCTYPE" in xml else xml)
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "tree.pmml")
            self.assertIsNone(treexport.to_pmml(est, path))
            with open(path, encoding="utf-8") as f:
                self.assertEqual(f.read(), pmml)
            # A failed export leaves the earlier file as it was.
            with self.assertRaises(treexport.ConversionError):
                treexport.to_pmml(est, path, feature_names=["a"])
            with open(path, encoding="utf-8") as f:
                self.assertEqual(f.read(), pmml)
            self.assertEqual(os.listdir(d), ["tree.pmml"])
        text, raw = io.StringIO(), io.BytesIO()
        treexport.to_pmml(est, text)
        treexport.to_pmml(est, raw)
        self.assertEqual(text.getvalue(), pmml)
        self.assertEqual(raw.getvalue().decode("utf-8"), pmml)

    def test_portable_profile(self):
        iris = load_iris()
        est = DecisionTreeClassifier(max_depth=2).fit(iris.data, iris.target)
        portable = treexport.to_pmml(est, portable=True)
        self.assertTrue(portable.startswith("<?xml"))
        root = ET.fromstring(portable.split("\n", 1)[1])
        ns = {"p": "http://www.dmg.org/PMML-4_3"}
        self.assertEqual(len(root.findall(".//p:Node", ns)), est.tree_.node_count)
        self.assertIsNotNone(root.find(".//p:Output", ns))

    def test_module_command_reads_files_and_standard_input(self):
        iris = load_iris()
        est = DecisionTreeClassifier(max_depth=2).fit(iris.data, iris.target_names[iris.target])
        with tempfile.TemporaryDirectory() as d:
            pkl = os.path.join(d, "iris.pkl")
            with open(pkl, "wb") as f:
                pickle.dump(est, f)
            out = os.path.join(d, "iris.pmml")
            cmd = [sys.executable, "-m", "treexport"]
            run = subprocess.run(cmd + ["pmml", pkl, "-o", out, "--target-name", "species"],
                                 capture_output=True, text=True)
            self.assertEqual(run.returncode, 0, run.stderr)
            with open(out, encoding="utf-8") as f:
                self.assertEqual(f.read(), treexport.to_pmml(est, target_name="species"))
            with open(pkl, "rb") as f:
                piped = subprocess.run(cmd + ["xml", "-"], stdin=f, capture_output=True)
            self.assertEqual(piped.stdout.decode("utf-8"), treexport.to_tree_xml(est))
            bad = os.path.join(d, "bad.pkl")
            with open(bad, "wb") as f:
                f.write(b"not a pickle")
            run = subprocess.run(cmd + ["pmml", bad], capture_output=True, text=True)
            self.assertEqual(run.returncode, 2)
            self.assertIn("bad.pkl: not a pickle or joblib file that " + sys.executable, run.stderr)
            self.assertIn("scikit-learn ", run.stderr)
            run = subprocess.run(cmd + ["pmml"], capture_output=True, text=True)
            self.assertEqual(run.returncode, 1)


if __name__ == "__main__":
    unittest.main()
