"""Exports trees and pipelines through the installed treexport package and writes what they predict.

Usage: python_package_cases.py DIR, run by the Python the package is installed in. For each case
writes DIR/NAME.json (to_model), DIR/NAME.pmml (to_pmml), DIR/NAME.portable.pmml (to_pmml with
portable=True), DIR/NAME.xml (to_tree_xml), DIR/NAME.pickle (the fitted object) and
DIR/NAME.csv: one row per input row with the original columns (category text as given, an empty
cell for a missing value), the leaf apply() reaches, the prediction and, for classifiers,
predict_proba per class. DIR/cases.csv lists name, function and the pickle.
"""

import csv
import os
import pickle
import sys

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
    if isinstance(v, (float, np.floating)):
        return repr(float(v))
    return str(v)


def case(out, name, model, X, y, rows=None, **names):
    """Fits model on X, y; exports it; writes the predictions of rows (default X)."""
    model.fit(X, y)
    rows = X if rows is None else rows
    tree = model[-1] if isinstance(model, Pipeline) else model
    first = model[0] if isinstance(model, Pipeline) else model
    data = rows if hasattr(first, "feature_names_in_") else np.asarray(rows)
    Xt = model[:-1].transform(data) if isinstance(model, Pipeline) else data
    for ext, write in (("json", treexport.to_model), ("pmml", treexport.to_pmml),
                       ("xml", treexport.to_tree_xml)):
        write(model, os.path.join(out, "%s.%s" % (name, ext)), y=y, **names)
    treexport.to_pmml(model, os.path.join(out, name + ".portable.pmml"), portable=True, y=y,
                      **names)
    with open(os.path.join(out, name + ".pickle"), "wb") as f:
        pickle.dump(model, f)
    classification = isinstance(tree, DecisionTreeClassifier)
    leaves = tree.apply(Xt)
    predicted = model.predict(data)
    columns = list(rows.columns)
    header = columns + ["leaf", "predicted"]
    if classification:
        proba = model.predict_proba(data)
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
    return [name, "classification" if classification else "regression",
            os.path.join(out, name + ".pickle")]


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


def main(out):
    cases = []
    iris = datasets.load_iris(as_frame=True)
    iris_y = pd.Series(iris.target_names[iris.target], name="species")
    cases.append(case(out, "iris_frame", DecisionTreeClassifier(random_state=1), iris.data,
                      iris_y))
    cancer = datasets.load_breast_cancer(as_frame=True)
    cancer_y = pd.Series(cancer.target == 1, name="benign")  # boolean labels
    cases.append(case(out, "cancer_boolean", DecisionTreeClassifier(max_depth=5, random_state=2),
                      cancer.data, cancer_y))
    diabetes = datasets.load_diabetes(as_frame=True)
    est = DecisionTreeRegressor(min_samples_leaf=3, random_state=3)
    cases.append(case(out, "diabetes_frame", est, diabetes.data, diabetes.target))
    cases.append(case(out, "diabetes_thresholds", DecisionTreeRegressor(min_samples_leaf=3,
                                                                        random_state=3),
                      diabetes.data, diabetes.target, rows=probes(est, diabetes.data, 4)))
    # Rows on, one float32 step and one double step around every threshold, of large inputs
    # here and of small ones (diabetes) above.
    rng = np.random.RandomState(4)
    big = pd.DataFrame(rng.uniform(1e5, 1e6, (2000, 4)), columns=["u", "v", "w", "z"])
    target = pd.Series(big.u / 1e5 + np.sin(big.v / 1e5) + rng.rand(2000), name="y")
    est = DecisionTreeRegressor(min_samples_leaf=5, random_state=3).fit(big, target)
    cases.append(case(out, "thresholds", DecisionTreeRegressor(min_samples_leaf=5,
                                                               random_state=3),
                      big, target, rows=probes(est, big, 5)))

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
