"""Checks the converter's mapping of missing_go_to_left, which scikit-learn 1.3 and later keep.

Usage: sklearn_missing.py PACKAGE_DIR OUT, where PACKAGE_DIR holds the treexport package. The
installed scikit-learn may predate the field, so a fitted tree's node records are given one here
(python/tests/newer_trees.py; the root's pointing to its bigger child, every other to its
smaller one) and the package's
to_model writes OUT.json. OUT.csv holds each inner node's expected missing-value child (its node
id) and the leaf a record with every feature missing reaches when each split sends it where
missing_go_to_left says.
"""

import csv
import os
import sys

from sklearn import datasets
from sklearn.tree import DecisionTreeClassifier


def main(package_dir, out):
    sys.path[:0] = [package_dir, os.path.join(package_dir, "tests")]
    import treexport
    from newer_trees import with_missing_routing

    iris = datasets.load_iris()
    est = DecisionTreeClassifier(max_depth=3, random_state=0).fit(iris.data, iris.target)
    t = est.tree_
    # Below the root every split sends missing values to its smaller child, so that a model file
    # that ignored the field (and used the bigger child) would route differently.
    n = t.n_node_samples
    go_left = n[t.children_left] < n[t.children_right]
    go_left[0] = not go_left[0]
    est.tree_ = with_missing_routing(t, go_left)

    with open(out + ".json", "w", encoding="utf-8") as f:
        f.write(treexport.to_model(est, target_name="class"))
    node = 0
    while t.children_left[node] != -1:
        node = t.children_left[node] if go_left[node] else t.children_right[node]
    with open(out + ".csv", "w", newline="") as f:
        w = csv.writer(f)
        w.writerow(["node", "missingChild"])
        for i in range(t.node_count):
            if t.children_left[i] != -1:
                w.writerow([i, t.children_left[i] if go_left[i] else t.children_right[i]])
        w.writerow(["leaf", node])


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
