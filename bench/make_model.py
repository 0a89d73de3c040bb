#!/usr/bin/python3
"""Writes a generated model file for measuring the command line on big trees.

  bench/make_model.py balanced N [--regression] > m.json   complete binary tree of N nodes (N odd)
  bench/make_model.py chain DEPTH [--regression] > m.json  a chain: every split has one leaf child

The trees are those of bench_export.cpp: node i splits x at i; classification trees have three
classes and a surrogate on z for every split.
"""

import sys


def header(cls):
    target = ('{"name": "y", "level": "nominal", "storage": "string", "categories": ['
              '{"code": 0, "values": ["low"]}, {"code": 1, "values": ["mid"]}, '
              '{"code": 2, "values": ["high"]}]}' if cls else
              '{"name": "y", "level": "continuous", "storage": "numeric"}')
    return ('{"format": "treexport-model", "version": 1, "function": "%s", "algorithm": 0, '
            '"risk": [{"sample": 0, "value": 1, "stdError": 0.1}], "fields": ['
            '{"name": "x", "level": "continuous", "storage": "numeric"}, '
            '{"name": "z", "level": "continuous", "storage": "numeric"}, %s], '
            '"predictors": ["x", "z"], "target": "y", "nodes": [\n'
            % ("classification" if cls else "regression", target))


def node(i, children, cls):
    text = '{"id": %d, "samples": [{"count": 60, ' % i
    if cls:
        text += ('"class": {"predicted": %d, "counts": [30, 20, 10], "proportions": [0.5, '
                 '0.3333333333333333, 0.16666666666666666], "probabilities": [0.5, '
                 '0.3333333333333333, 0.16666666666666666]}}]' % (i % 3))
    else:
        text += '"regression": {"mean": %d.5, "stdDev": 1}}]' % i
    if children:
        text += (', "children": [%d, %d], "split": {"predictor": "x", "children": [{"high": %d}, '
                 '{"low": %d, "lowOpen": true}], "statistics": [1.25], "kinds": ["improvement"]}'
                 % (children[0], children[1], i, i))
        if cls:
            text += (', "surrogates": [{"predictor": "z", "children": [{"low": %d, "lowOpen": '
                     'true}, {"high": %d}], "statistics": [0.5, 0.75], "kinds": ["improvement", '
                     '"association"]}]' % (i, i))
    return text + "}"


def main(argv):
    if len(argv) < 3 or argv[1] not in ("balanced", "chain"):
        sys.stderr.write(__doc__)
        return 1
    cls = "--regression" not in argv
    n = int(argv[2])
    out = sys.stdout
    out.write(header(cls))
    if argv[1] == "balanced":
        count = n
        kids = lambda i: [2 * i + 1, 2 * i + 2] if 2 * i + 2 < n else None
    else:
        # Node 2k splits into the leaf 2k+1 and the next split 2k+2, DEPTH splits in all.
        count = 2 * n + 1
        kids = lambda i: [i + 1, i + 2] if i % 2 == 0 and i < 2 * n else None
    for i in range(count):
        out.write((",\n" if i else "") + node(i, kids(i), cls))
    out.write("]}\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
