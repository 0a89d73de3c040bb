"""Unit tests of the treexport package: run with python3 -m pytest python/tests (or unittest).

Routing is proven end to end by the repository's tests/e2e, which scores every row of its cases,
pipelines with missing and unknown categories and lone encoders among them, through the model
file and PMML and compares them with scikit-learn's own leaves.
"""

import contextlib
import io
import json
import os
import pickle
import stat
import subprocess
import sys
import tempfile
import unittest

import numpy as np
import pandas as pd
from sklearn.compose import ColumnTransformer
from sklearn.datasets import load_diabetes, load_iris
from sklearn.ensemble import RandomForestClassifier
from sklearn.pipeline import Pipeline, make_pipeline
from sklearn.preprocessing import OneHotEncoder, OrdinalEncoder, StandardScaler
from sklearn.tree import DecisionTreeClassifier, DecisionTreeRegressor

import treexport
import treexport.__main__
from treexport._thresholds import float32_thresholds

try:
    from treexport import _native  # noqa: F401
    NATIVE = True
except ImportError:
    NATIVE = False

F32_MAX = float(np.finfo(np.float32).max)


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
            with np.errstate(over="ignore"):
                self.assertTrue(np.float32(tx) <= x, (x, tx))
                self.assertFalse(np.float32(np.nextafter(tx, np.inf)) <= x, (x, tx))

    def test_on_float32_midpoints_edges_and_ties(self):
        rng = np.random.RandomState(1)
        a = rng.standard_normal(2000).astype(np.float32)
        b = np.nextafter(a, np.float32(np.inf))
        self.check((a.astype(np.float64) + b.astype(np.float64)) / 2)
        self.check(a.astype(np.float64))
        self.check(rng.standard_normal(2000) * 10.0 ** rng.randint(-30, 30, 2000))
        tiny = 2.0 ** -149
        self.check([0.0, -0.0, tiny, -tiny, tiny / 2, 1.0, -1.0, 0.5, 1.5, F32_MAX, -F32_MAX,
                    F32_MAX * (1 - 2 ** -30), 1e-45, 2.5, -2.5])
        # 1.0 has an even significand: the midpoint to the next float32 rounds down to it; its
        # neighbour above is odd, so the midpoint above that rounds up.
        up = float(np.nextafter(np.float32(1), np.float32(2)))
        self.assertEqual(float32_thresholds([1.0])[0], (1.0 + up) / 2)
        up2 = float(np.nextafter(np.float32(up), np.float32(2)))
        self.assertEqual(float32_thresholds([up])[0], np.nextafter((up + up2) / 2, -np.inf))
        # The largest float32: the cast rounds to infinity from FLT_MAX + half an ulp on.
        self.assertEqual(float32_thresholds([F32_MAX])[0],
                         np.nextafter(F32_MAX + 2.0 ** 103, -np.inf))


class Pipelines(unittest.TestCase):
    def test_encoded_columns_become_nominal_fields_with_category_sets(self):
        df, y = colors_frame()
        ct = ColumnTransformer([
            ("o", OrdinalEncoder(handle_unknown="use_encoded_value", unknown_value=-1),
             ["color"]),
            ("h", OneHotEncoder(handle_unknown="ignore"), ["shape"]),
            ("p", "passthrough", ["size"])], remainder="drop")
        pipe = Pipeline([("prep", ct), ("tree", DecisionTreeClassifier(max_depth=6,
                                                                        random_state=0))])
        doc = json.loads(treexport.to_model(pipe.fit(df, y), y=y))
        fields = {f["name"]: f for f in doc["fields"]}
        self.assertEqual(doc["predictors"], ["color", "size", "shape"])  # noise is dropped
        self.assertEqual(doc["target"], "good")
        self.assertEqual([c["values"][0] for c in fields["color"]["categories"]],
                         ["amber", "blue", "green", "red", "violet"])
        self.assertEqual(fields["shape"]["level"], "nominal")
        self.assertEqual([c["values"] for c in fields["good"]["categories"]],
                         [["False"], ["True"]])

    def test_what_cannot_be_converted_is_refused_by_name(self):
        df, y = colors_frame()
        iris = load_iris()
        two = np.column_stack([iris.target, iris.target * 2])
        cases = [
            (make_pipeline(StandardScaler(), DecisionTreeClassifier()).fit(df[["size"]], y),
             "step 'standardscaler' is a StandardScaler"),
            (Pipeline([("prep", ColumnTransformer([("s", StandardScaler(), ["size"])])),
                       ("tree", DecisionTreeClassifier())]).fit(df[["size"]], y),
             "transformer 's' is a StandardScaler"),
            (Pipeline([("a", OrdinalEncoder()), ("b", OrdinalEncoder()),
                       ("tree", DecisionTreeClassifier())]).fit(df[["color"]], y),
             "steps 'a', 'b' in front of its tree"),
            (StandardScaler().fit(df[["size"]]), "not a DecisionTreeClassifier"),
            (RandomForestClassifier(n_estimators=2).fit(iris.data, iris.target),
             "RandomForestClassifier, an ensemble of trees"),
            (DecisionTreeRegressor(max_depth=2).fit(iris.data, two), "has 2 outputs"),
            ({"tree": "no"}, "holds a dict, not a DecisionTreeClassifier"),
        ]
        for k, (model, message) in enumerate(cases):
            with self.assertRaises(treexport.ConversionError) as caught:
                treexport.to_model(model)
            self.assertIn(message, str(caught.exception))
            if k < 3:  # a pipeline: what it may hold
                self.assertIn("OrdinalEncoder, OneHotEncoder", str(caught.exception))

    def test_names_labels_statistics_and_ranges(self):
        iris = load_iris()
        est = DecisionTreeClassifier(max_depth=2, random_state=0).fit(iris.data, iris.target)
        doc = json.loads(treexport.to_model(est, feature_names=list("abcd"),
                                            target_name="species", X=iris.data))
        self.assertEqual(doc["predictors"], list("abcd"))
        self.assertEqual(doc["fields"][-1]["storage"], "numeric")  # integer labels stay numbers
        root = doc["nodes"][0]
        # The Gini decrease 2/3 - 100/150 * 1/2 = 1/3: setosa alone on the left.
        self.assertAlmostEqual(root["split"]["statistics"][0], 1 / 3, places=12)
        self.assertEqual(root["samples"][0]["count"], 150)
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


@unittest.skipUnless(NATIVE, "the compiled export module is not built")
class Documents(unittest.TestCase):
    def test_files_are_replaced_whole_or_not_at_all(self):
        diabetes = load_diabetes(as_frame=True)
        est = DecisionTreeRegressor(max_depth=4, random_state=0).fit(diabetes.data,
                                                                     diabetes.target)
        pmml = treexport.to_pmml(est, y=diabetes.target)
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "tree.pmml")
            self.assertIsNone(treexport.to_pmml(est, path, y=diabetes.target))
            with open(path, encoding="utf-8") as f:
                self.assertEqual(f.read(), pmml)
            # A failed export leaves the earlier file as it was, and nothing beside it.
            with self.assertRaises(treexport.ConversionError):
                treexport.to_pmml(est, path, feature_names=["a"])
            with open(path, encoding="utf-8") as f:
                self.assertEqual(f.read(), pmml)
            self.assertEqual(os.listdir(d), ["tree.pmml"])
        text, raw = io.StringIO(), io.BytesIO()
        treexport.to_pmml(est, text, y=diabetes.target)
        treexport.to_pmml(est, raw, y=diabetes.target)
        self.assertEqual(text.getvalue(), pmml)
        self.assertEqual(raw.getvalue().decode("utf-8"), pmml)
        # Names beyond ASCII come back as the same characters in both documents.
        plain = DecisionTreeRegressor(max_depth=2).fit(diabetes.data.values, diabetes.target)
        names = ["größe_%d" % i for i in range(diabetes.data.shape[1])]
        for document in (treexport.to_pmml(plain, feature_names=names),
                         treexport.to_tree_xml(plain, feature_names=names)):
            self.assertIn('"größe_0"', document)

    def test_module_command_reads_files_and_standard_input(self):
        iris = load_iris()
        est = DecisionTreeClassifier(max_depth=2).fit(iris.data, iris.target_names[iris.target])
        cmd = [sys.executable, "-m", "treexport"]
        with tempfile.TemporaryDirectory() as d:
            pkl, out, bad = (os.path.join(d, n) for n in ("iris.pkl", "iris.pmml", "bad.pkl"))
            with open(pkl, "wb") as f:
                pickle.dump(est, f)
            with open(bad, "wb") as f:
                f.write(b"not a pickle")
            mask = os.umask(0o027)
            try:
                run = subprocess.run(cmd + ["pmml", pkl, "-o", out, "--target-name", "species"],
                                     capture_output=True, text=True)
            finally:
                os.umask(mask)
            self.assertEqual(run.returncode, 0, run.stderr)
            # Written through a temporary file, yet with the mode any new file gets.
            self.assertEqual(stat.S_IMODE(os.stat(out).st_mode), 0o640)
            with open(out, encoding="utf-8") as f:
                self.assertEqual(f.read(), treexport.to_pmml(est, target_name="species"))
            with open(pkl, "rb") as f:
                piped = subprocess.run(cmd + ["xml", "-"], stdin=f, capture_output=True)
            self.assertEqual(piped.stdout.decode("utf-8"), treexport.to_tree_xml(est))
            # Refusals, in this process: the same main() the command runs.
            for args, status, message in [
                    (["pmml", bad], 2, "bad.pkl: not a pickle or joblib file that "
                     + sys.executable),
                    (["pmml", os.path.join(d, "absent.pkl")], 2, "absent.pkl: no such file"),
                    (["pmml"], 1, "give either MODEL or --fit DATASET"),
                    (["pmml", "--fit", "mnist"], 1, "invalid choice: 'mnist'"),
                    (["pmml", "--fit", "iris", "--feature-names", "a,b"], 2,
                     "gives 2 names for 4 features")]:
                out, err = io.StringIO(), io.StringIO()
                with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
                    self.assertEqual(treexport.__main__.main(args), status, err.getvalue())
                self.assertEqual(out.getvalue(), "")
                self.assertIn(message, err.getvalue())

if __name__ == "__main__":
    unittest.main()
