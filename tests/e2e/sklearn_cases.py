"""Fits the scikit-learn trees of the end-to-end tests and writes what they predict.

Usage: sklearn_cases.py DIR. For each case writes DIR/NAME.pickle or DIR/NAME.joblib (the fitted
estimator) and DIR/NAME.csv: one row per dataset row (for the threshold cases, three rows per
threshold: on it and one double step either side) with the features (x0, x1, ... as the
converter names them), the leaf apply() reaches, the predicted label or value and, for
classifiers, predict_proba per class. DIR/cases.csv lists name, function and estimator file.
"""

import csv
import os
import pickle
import sys

import joblib
import numpy as np
from sklearn import datasets
from sklearn.tree import DecisionTreeClassifier, DecisionTreeRegressor


def text(v):
    return repr(float(v))


def threshold_rows(est, X):
    """Rows on, one double step below and one above every threshold of the fitted tree.

    Each starts from a training row that reaches the split's node, so that the split decides.
    """
    t = est.tree_
    paths = est.decision_path(X).tocsc()
    rows = []
    for node in range(t.node_count):
        if t.children_left[node] == -1:
            continue
        reaching = paths[:, node].nonzero()[0]
        base = X[reaching[0]]
        thr = float(t.threshold[node])
        for v in (np.nextafter(thr, -np.inf), thr, np.nextafter(thr, np.inf)):
            row = np.array(base, dtype=np.float64)
            row[t.feature[node]] = v
            rows.append(row)
    return np.array(rows)


def case(out, name, est, X, y, saver, sample_weight=None, rows=None):
    """Fits est on X and y and writes what it predicts for rows (default X)."""
    est.fit(X, y, sample_weight=sample_weight)
    if rows is not None:
        X = rows(est, X)
    path = os.path.join(out, name + (".pickle" if saver == "pickle" else ".joblib"))
    if saver == "pickle":
        with open(path, "wb") as f:
            pickle.dump(est, f)
    else:
        joblib.dump(est, path)
    classification = isinstance(est, DecisionTreeClassifier)
    leaves = est.apply(X)
    predicted = est.predict(X)
    header = ["x%d" % i for i in range(X.shape[1])] + ["leaf", "predicted"]
    if classification:
        proba = est.predict_proba(X)
        header += ["p:%s" % c for c in est.classes_]
    with open(os.path.join(out, name + ".csv"), "w", newline="") as f:
        w = csv.writer(f)
        w.writerow(header)
        for i in range(X.shape[0]):
            row = [text(v) for v in X[i]] + [str(int(leaves[i]))]
            row.append(str(predicted[i]) if classification else text(predicted[i]))
            if classification:
                row += [text(p) for p in proba[i]]
            w.writerow(row)
    return [name, "classification" if classification else "regression", path]


def main(out):
    rng = np.random.RandomState(20261206)
    iris = datasets.load_iris()
    iris_y = iris.target_names[iris.target]  # text labels
    wine = datasets.load_wine()
    wine_y = wine.target_names[wine.target]
    cancer = datasets.load_breast_cancer()  # integer labels 0 and 1
    diabetes = datasets.load_diabetes()
    cases = [
        case(out, "iris_shallow", DecisionTreeClassifier(max_depth=2, random_state=1),
             iris.data, iris_y, "pickle"),
        case(out, "iris_deep", DecisionTreeClassifier(random_state=1), iris.data, iris_y,
             "joblib"),
        case(out, "wine_entropy", DecisionTreeClassifier(criterion="entropy", random_state=2),
             wine.data, wine_y, "joblib"),
        case(out, "breast_cancer_shallow", DecisionTreeClassifier(max_depth=3, random_state=3),
             cancer.data, cancer.target, "pickle"),
        case(out, "breast_cancer_weighted",
             DecisionTreeClassifier(class_weight="balanced", random_state=4), cancer.data,
             cancer.target, "joblib", sample_weight=rng.uniform(0.5, 2.0, cancer.data.shape[0])),
        case(out, "diabetes_shallow", DecisionTreeRegressor(max_depth=3, random_state=5),
             diabetes.data, diabetes.target, "pickle"),
        case(out, "diabetes_deep", DecisionTreeRegressor(random_state=6), diabetes.data,
             diabetes.target, "joblib"),
        case(out, "breast_cancer_thresholds",
             DecisionTreeClassifier(min_samples_leaf=2, random_state=9), cancer.data,
             cancer.target, "joblib", rows=threshold_rows),
        case(out, "diabetes_thresholds", DecisionTreeRegressor(max_depth=8, random_state=10),
             diabetes.data, diabetes.target, "pickle", rows=threshold_rows),
        case(out, "diabetes_weighted_friedman",
             DecisionTreeRegressor(criterion="friedman_mse", min_samples_leaf=5, random_state=7),
             diabetes.data, diabetes.target, "joblib",
             sample_weight=rng.uniform(0.5, 2.0, diabetes.data.shape[0])),
    ]
    # Inputs the converter must refuse.
    from sklearn.ensemble import RandomForestClassifier
    joblib.dump(RandomForestClassifier(n_estimators=2, random_state=8).fit(iris.data, iris_y),
                os.path.join(out, "forest.joblib"))
    two = np.column_stack([diabetes.target, diabetes.target * 2])
    joblib.dump(DecisionTreeRegressor(max_depth=2).fit(diabetes.data, two),
                os.path.join(out, "two_outputs.joblib"))
    with open(os.path.join(out, "dict.pickle"), "wb") as f:
        pickle.dump({"tree": "no"}, f)
    with open(os.path.join(out, "cases.csv"), "w", newline="") as f:
        w = csv.writer(f)
        w.writerow(["name", "function", "model"])
        w.writerows(cases)


if __name__ == "__main__":
    main(sys.argv[1])
