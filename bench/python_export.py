"""Times treexport.to_pmml on a fitted tree of about 20,000 nodes in a running Python process.

Usage: python bench/python_export.py [NODES], with the package installed (pip install ./python).
Prints the tree's size and the best and median of seven calls, wall-clock and CPU time, for the
conversion alone (to_model) and for the whole export (to_pmml).
"""

import statistics
import sys
import time

import numpy as np
from sklearn.tree import DecisionTreeClassifier

import treexport


def timed(call, repeat=7):
    wall, cpu = [], []
    for _ in range(repeat):
        w, c = time.perf_counter(), time.process_time()
        result = call()
        wall.append(time.perf_counter() - w)
        cpu.append(time.process_time() - c)
    return result, wall, cpu


def main(nodes):
    rng = np.random.RandomState(0)
    rows = nodes * 2
    X = rng.rand(rows, 10)
    y = rng.randint(0, 3, rows)  # noise: the tree grows until its leaves are pure
    tree = DecisionTreeClassifier(max_leaf_nodes=(nodes + 1) // 2, random_state=0).fit(X, y)
    print("tree: %d nodes, %d classes" % (tree.tree_.node_count, len(tree.classes_)))
    for name, call in (("to_model", lambda: treexport.to_model(tree)),
                       ("to_pmml", lambda: treexport.to_pmml(tree))):
        text, wall, cpu = timed(call)
        print("%-8s %6.1f MB  wall best %.3f s median %.3f s  cpu best %.3f s median %.3f s"
              % (name, len(text) / 1e6, min(wall), statistics.median(wall), min(cpu),
                 statistics.median(cpu)))


if __name__ == "__main__":
    main(int(sys.argv[1]) if len(sys.argv) > 1 else 20001)
