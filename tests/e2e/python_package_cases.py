"""Exports trees and pipelines through the installed treexport package and writes what they predict.

Usage: python_package_cases.py DIR, run by the Python the package is installed in. For each case
writes DIR/NAME.json (to_model), DIR/NAME.pmml, DIR/NAME.portable.pmml, DIR/NAME.xml, the fitted
object (DIR/NAME.pickle, or .joblib) and DIR/NAME.csv: one row per input row with the original
columns (category text as given, an empty cell for a missing value), the leaf scikit-learn
reaches, the prediction and, for classifiers, the probability of each class. DIR/cases.csv lists
name, function and the fitted object's file.
"""

import csv
import os
import pickle
import sys

import joblib
import numpy as np
import pandas as pd
from sklearn import datasets
from sklearn.compose import ColumnTransformer
from sklearn.pipeline import Pipeline
from sklearn.preprocessing import OneHotEncoder, OrdinalEncoder
from sklearn.tree import DecisionTreeClassifier, DecisionTreeRegressor

import treexport
from treexport._thresholds import float32_thresholds



def text(v):
    if v is None or (isinstance(v, float) and np.isnan(v)):
        return ""
    return repr(float(v)) if isinstance(v, (float, np.floating)) else str(v)


def case(out, name, model, X, y, rows=None, weight=None, saver="pickle", walk=None, **names):
    """Fits model on X, y unless walk is given (then model is fitted and walk(tree, rows) gives
    the leaves); exports it; writes the predictions of rows (default X)."""
    pipeline = isinstance(model, Pipeline)
    if walk is None:
        model.fit(X, y, **({} if weight is None else {"sample_weight": weight}))
    rows = X if rows is None else rows
    tree = model[-1] if pipeline else model
    first = model[0] if pipeline else model
    data = rows if hasattr(first, "feature_names_in_") else np.asarray(rows)
    for ext, write in (("json", treexport.to_model), ("pmml", treexport.to_pmml),
                       ("xml", treexport.to_tree_xml)):
        write(model, os.path.join(out, "%s.%s" % (name, ext)), y=y, **names)
    treexport.to_pmml(model, os.path.join(out, name + ".portable.pmml"), portable=True, y=y,
                      **names)
    path = os.path.join(out, name + "." + saver)
    if saver == "joblib":
        joblib.dump(model, path)
    else:
        with open(path, "wb") as f:
            pickle.dump(model, f)
    classification = isinstance(tree, DecisionTreeClassifier)
    if walk is None:
        leaves = tree.apply(model[:-1].transform(data) if pipeline else data)
        predicted = model.predict(data)
        proba = model.predict_proba(data) if classification else None
    else:  # scikit-learn's rules by hand: before 1.3 it cannot predict a missing value
        leaves = walk(tree.tree_, np.asarray(rows, dtype=np.float64))
        value = tree.tree_.value[leaves, 0, :]
        proba = value / value.sum(axis=1, keepdims=True)
        predicted = tree.classes_[proba.argmax(axis=1)]
    header = list(rows.columns) + ["leaf", "predicted"]
    if classification:
        header += ["p:%s" % c for c in tree.classes_]
    frame = rows.reset_index(drop=True)
    with open(os.path.join(out, name + ".csv"), "w", newline="") as f:
        w = csv.writer(f)
        w.writerow(header)
        for i in range(len(frame)):
            row = [text(v) for v in frame.iloc[i].tolist()] + [str(int(leaves[i]))]
            row.append(str(predicted[i]) if classification else text(predicted[i]))
            if classification:
                row += [text(p) for p in proba[i]]
            w.writerow(row)
    return [name, "classification" if classification else "regression", path]


def colors(n, seed):
    rng = np.random.RandomState(seed)
    df = pd.DataFrame({
        "color": rng.choice(["red", "green", "blue", "amber", "violet", "teal"], n),
        "size": np.round(rng.rand(n) * 10, 3),
        "shape": rng.choice(["square", "circle", "triangle", "star"], n),
        "grade": rng.choice([1, 2, 3, 5, 8], n),
        "noise": rng.rand(n),
    })
    score = ((df.color.isin(["red", "violet"]) * 2 + (df["size"] > 5) + (df.shape == "star")
              + df.grade / 4 + rng.rand(n)))
    return df, score


def probes(est, X, seed):
    """Rows of X with one feature placed on, one float32 ulp and one double ulp around every
    threshold of est."""
    rng = np.random.RandomState(seed)
    t = est.tree_
    rows = []
    for i in np.flatnonzero(t.children_left != -1):
        thr = t.threshold[i]
        f32 = np.float32(thr)
        exact = float32_thresholds([thr])[0]
        for p in (thr, float(f32), exact, float(np.nextafter(f32, np.float32(np.inf))),
                  float(np.nextafter(f32, np.float32(-np.inf))), np.nextafter(thr, np.inf),
                  np.nextafter(thr, -np.inf), np.nextafter(exact, np.inf),
                  np.nextafter(exact, -np.inf)):
            row = X.iloc[rng.randint(len(X))].copy()
            row.iloc[t.feature[i]] = p
            rows.append(row)
    return pd.DataFrame(rows, columns=X.columns)


class TreeWithMissingRouting:
    """A fitted tree whose node records carry missing_go_to_left, as scikit-learn 1.3 and later
    keep it; the converter reads the records through __getstate__, and a pickle holds the real
    tree class with the newer records, as a newer version writes it."""

    def __init__(self, tree, go_left):
        self._tree = tree
        self._go_left = np.asarray(go_left, dtype=np.uint8)

    def __getattr__(self, name):
        return getattr(self._tree, name)

    def __getstate__(self):
        state = dict(self._tree.__getstate__())
        nodes = state["nodes"]
        if "missing_go_to_left" in nodes.dtype.names:
            extended = nodes.copy()
        else:
            extended = np.zeros(nodes.shape, dtype=np.dtype(
                nodes.dtype.descr + [("missing_go_to_left", "u1")]))
            for field in nodes.dtype.names:
                extended[field] = nodes[field]
        extended["missing_go_to_left"] = self._go_left
        state["nodes"] = extended
        return state

    def __reduce__(self):
        cls, args, _ = self._tree.__reduce__()
        return cls, args, self.__getstate__()


def missing_routing(est, X, seed):
    """est with node records carrying missing_go_to_left (the root's pointing to its bigger
    child, every other to its smaller, so that ignoring the field routes differently), rows of X
    with a fifth of the cells blanked, and the walk that finds their leaves."""
    t = est.tree_
    n = t.n_node_samples
    go_left = n[t.children_left] < n[t.children_right]
    go_left[0] = not go_left[0]
    est.tree_ = TreeWithMissingRouting(t, go_left)
    rows = X.mask(np.random.RandomState(seed).rand(*X.shape) < 0.2)

    def walk(tree, values):
        leaves = []
        for row in values.astype(np.float32):
            node = 0
            while t.children_left[node] != -1:
                v = row[t.feature[node]]
                left = go_left[node] if np.isnan(v) else v <= t.threshold[node]
                node = t.children_left[node] if left else t.children_right[node]
            leaves.append(node)
        return np.array(leaves)
    return rows, walk


def main(out):
    cases = []
    rng = np.random.RandomState(20261206)
    iris = datasets.load_iris(as_frame=True)
    iris_y = pd.Series(iris.target_names[iris.target], name="species")
    cases.append(case(out, "iris_frame", DecisionTreeClassifier(random_state=1), iris.data,
                      iris_y))
    wine = datasets.load_wine(as_frame=True)
    cases.append(case(out, "wine_entropy", DecisionTreeClassifier(criterion="entropy",
                                                                  random_state=2),
                      wine.data, pd.Series(wine.target, name="cultivar"),  # integer labels
                      saver="joblib"))
    cancer = datasets.load_breast_cancer(as_frame=True)
    cancer_y = pd.Series(cancer.target == 1, name="benign")  # boolean labels
    cases.append(case(out, "cancer_weighted",
                      DecisionTreeClassifier(class_weight="balanced", random_state=2),
                      cancer.data, cancer_y, weight=rng.uniform(0.5, 2.0, len(cancer_y))))
    diabetes = datasets.load_diabetes(as_frame=True)
    cases.append(case(out, "diabetes_weighted_friedman",
                      DecisionTreeRegressor(criterion="friedman_mse", min_samples_leaf=5,
                                            random_state=7),
                      diabetes.data, diabetes.target,
                      weight=rng.uniform(0.5, 2.0, len(diabetes.target))))
    # Rows on, one float32 step and one double step around every threshold, of small inputs
    # (diabetes) and of large ones.
    est = DecisionTreeRegressor(min_samples_leaf=3, random_state=3)
    cases.append(case(out, "diabetes_thresholds", est, diabetes.data, diabetes.target,
                      rows=probes(est.fit(diabetes.data, diabetes.target), diabetes.data, 4)))
    big = pd.DataFrame(rng.uniform(1e5, 1e6, (2000, 4)), columns=["u", "v", "w", "z"])
    target = pd.Series(big.u / 1e5 + np.sin(big.v / 1e5) + rng.rand(2000), name="y")
    est = DecisionTreeRegressor(min_samples_leaf=5, random_state=3)
    cases.append(case(out, "thresholds", est, big, target,
                      rows=probes(est.fit(big, target), big, 5)))
    est = DecisionTreeClassifier(max_depth=4, random_state=0).fit(iris.data, iris_y)
    rows, walk = missing_routing(est, iris.data, 6)
    cases.append(case(out, "iris_missing_go_to_left", est, iris.data, iris_y, rows=rows,
                      walk=walk))

    df, score = colors(800, 5)
    label = pd.Series(np.where(score > 3, "high", "low"), name="level")
    mixed = ColumnTransformer([
        ("ordinal", OrdinalEncoder(), ["color"]),
        ("onehot", OneHotEncoder(handle_unknown="ignore"), ["shape", "grade"]),
        ("keep", "passthrough", ["size"]),
    ], remainder="drop")
    pipe = Pipeline([("prep", mixed), ("tree", DecisionTreeClassifier(random_state=6))])
    cases.append(case(out, "pipeline_mixed", pipe, df, label))
    pipe = Pipeline([("prep", ColumnTransformer(
        [("onehot", OneHotEncoder(drop="first"), ["color", "shape"])],
        remainder="passthrough")), ("tree", DecisionTreeRegressor(max_depth=6, random_state=7))])
    cases.append(case(out, "pipeline_onehot_regression", pipe, df.drop(columns="noise"),
                      score.rename("score")))
    try:
        missing_as = OrdinalEncoder(encoded_missing_value=-1)
    except TypeError:  # before scikit-learn 1.1 missing values are a category
        missing_as = None
    if missing_as is not None:
        holes = df[["color", "size"]].copy()
        holes.loc[holes.index[::6], "color"] = np.nan
        pipe = Pipeline([("prep", ColumnTransformer([("ordinal", missing_as, ["color"])],
                                                    remainder="passthrough")),
                         ("tree", DecisionTreeClassifier(max_depth=5, random_state=8))])
        cases.append(case(out, "pipeline_missing_colour", pipe, holes, label))
        # Values the encoders never saw (a colour, a grade) and missing colours, scored by a
        # tree trained with missing colours: unknown values go where the encoders' codes send
        # them. The test reads an unknown value as missing, in cases named *unknown* only.
        train = df.copy()
        train.loc[train.index[::6], "color"] = np.nan
        unknown = df.head(120).copy()
        unknown.loc[unknown.index[::3], "grade"] = 7
        unknown.loc[unknown.index[::4], "shape"] = "hexagon"
        unknown.loc[unknown.index[::5], "color"] = np.nan
        purple = unknown.copy()
        purple.loc[purple.index[1::2], "color"] = "purple"
        ordinal = OrdinalEncoder(encoded_missing_value=-1, handle_unknown="use_encoded_value",
                                 unknown_value=-2)
        ignore = OneHotEncoder(handle_unknown="ignore")  # a missing colour is a category here
        # An unknown colour is not among the one-hot case's rows: the model file has one place
        # for missing and unknown values, and there a missing colour has a column of its own.
        for name, front, rows in (
                ("pipeline_unknown_ordinal", [("ordinal", ordinal, ["color"]),
                                              ("onehot", ignore, ["grade", "shape"])], purple),
                ("pipeline_unknown_onehot", [("onehot", ignore, ["color", "grade", "shape"])],
                 unknown)):
            pipe = Pipeline([("prep", ColumnTransformer(front, remainder="passthrough")),
                             ("tree", DecisionTreeClassifier(min_samples_leaf=3, random_state=9))])
            cases.append(case(out, name, pipe, train, label, rows=pd.concat([train, rows])))
    # A lone encoder in front of the tree, not in a ColumnTransformer.
    for name, encoder in (("lone_onehot", OneHotEncoder(drop="first")),
                          ("lone_ordinal", OrdinalEncoder())):
        pipe = Pipeline([("prep", encoder), ("tree", DecisionTreeRegressor(max_depth=6,
                                                                           random_state=10))])
        cases.append(case(out, name, pipe, df[["color", "shape"]], score.rename("score")))
    # Fitted on an array: the names come from feature_names.
    named = iris.data.set_axis(["a", "b", "c", "d"], axis=1)
    cases.append(case(out, "iris_names_given", DecisionTreeClassifier(max_depth=4,
                                                                      random_state=9),
                      iris.data.values, iris_y, rows=named, feature_names=["a", "b", "c", "d"]))
    with open(os.path.join(out, "cases.csv"), "w", newline="") as f:
        w = csv.writer(f)
        w.writerow(["name", "function", "model"])
        w.writerows(cases)


if __name__ == "__main__":
    main(sys.argv[1])
