"""A fitted scikit-learn tree or pipeline as a treexport model file (docs/model-format.md)."""

import itertools
import json
import math
import numbers

import numpy as np

from ._thresholds import float32_thresholds


class ConversionError(ValueError):
    """The object cannot be written as a model file; the message says why and what would do."""


SUPPORTED = ("a fitted DecisionTreeClassifier or DecisionTreeRegressor, or a Pipeline whose last "
             "step is one, optionally after a ColumnTransformer (or a single OrdinalEncoder or "
             "OneHotEncoder) whose transformers are OrdinalEncoder, OneHotEncoder, "
             "'passthrough' or 'drop'")


def sklearn_version():
    """scikit-learn's (major, minor) version."""
    import sklearn
    parts = []
    for piece in sklearn.__version__.split(".")[:2]:
        digits = ""
        for ch in piece:
            if not ch.isdigit():
                break
            digits += ch
        parts.append(int(digits or 0))
    return tuple(parts)


def _is_missing(v):
    return v is None or (isinstance(v, (float, np.floating)) and math.isnan(v))


def _label_text(v):
    """A class label as scikit-learn prints it ("True", "setosa", "1.5")."""
    return str(v.item() if isinstance(v, np.generic) else v)


# --- the tree ------------------------------------------------------------------------------------


def check_tree(est, what):
    """Refuses what is not a fitted single-output tree whose nodes carry means."""
    from sklearn.tree import DecisionTreeClassifier, DecisionTreeRegressor
    kind = type(est).__name__
    if not isinstance(est, (DecisionTreeClassifier, DecisionTreeRegressor)):
        if hasattr(est, "estimators_"):
            raise ConversionError("%s: holds a %s, an ensemble of trees; convert one of its "
                                  "estimators_ instead" % (what, kind))
        raise ConversionError("%s: holds a %s, not a DecisionTreeClassifier or "
                              "DecisionTreeRegressor (supported: %s)" % (what, kind, SUPPORTED))
    if not hasattr(est, "tree_"):
        raise ConversionError("%s: the %s has not been fitted" % (what, kind))
    if est.n_outputs_ != 1:
        raise ConversionError("%s: the %s has %d outputs; only single-output trees can be "
                              "converted" % (what, kind, est.n_outputs_))
    if isinstance(est, DecisionTreeRegressor) and est.criterion in ("absolute_error", "mae"):
        raise ConversionError("%s: the %s was fitted with criterion 'absolute_error'; its nodes "
                              "keep medians, and the model file needs node means" % (what, kind))


def _missing_go_to_left(tree):
    """The node records' missing_go_to_left (scikit-learn 1.3 and later), else None."""
    nodes = tree.__getstate__()["nodes"]
    if "missing_go_to_left" in (nodes.dtype.names or ()):
        return np.asarray(nodes["missing_go_to_left"]).astype(bool)
    return None


# --- what the tree's input columns are -----------------------------------------------------------


class _Field:
    """One field of the model file: an original input column."""

    def __init__(self, name, index):
        self.name = name
        self.index = index        # position among the pipeline's input columns
        self.categories = None    # category values, code = position, for a nominal field
        self.storage = "numeric"
        self.encoder = None       # "ordinal" or "onehot"
        self.missing_code = None  # ordinal: the code a missing value becomes (nan: missing)
        self.missing_category = None  # one-hot: the category index a missing value is
        self.unknown_code = None  # ordinal: the code an unknown category becomes
        self.unknown_zero = False  # one-hot: an unknown category becomes all zeros


class _Column:
    """One input column of the tree: a field, and for a one-hot column the category it flags."""

    def __init__(self, field, category=None):
        self.field = field
        self.category = category


def _category_values(cats, what):
    """JSON values and storage of an encoder's categories; missing ones are left to the caller."""
    values = [c.item() if isinstance(c, np.generic) else c for c in cats]
    known = [v for v in values if not _is_missing(v)]
    if known and all(isinstance(v, numbers.Real) and not isinstance(v, bool) for v in known):
        for v in known:
            if not math.isfinite(float(v)):
                raise ConversionError("%s: category %r is not a finite number" % (what, v))
        return [v if _is_missing(v) else (int(v) if float(v).is_integer() and
                                          isinstance(v, numbers.Integral) else float(v))
                for v in values], "numeric"
    return [v if _is_missing(v) else str(v) for v in values], "string"


def _encoder_columns(enc, fields, step):
    """The tree columns an OrdinalEncoder or OneHotEncoder makes from its input fields."""
    from sklearn.preprocessing import OrdinalEncoder
    kind = type(enc).__name__
    if not hasattr(enc, "categories_"):
        raise ConversionError("%s: the %s has not been fitted" % (step, kind))
    if len(enc.categories_) != len(fields):
        raise ConversionError("%s: the %s has %d columns, expected %d"
                              % (step, kind, len(enc.categories_), len(fields)))
    columns = []
    for j, (field, cats) in enumerate(zip(fields, enc.categories_)):
        what = "%s: column %s" % (step, field.name)
        values, storage = _category_values(cats, what)
        field.categories, field.storage = values, storage
        nan_at = [i for i, v in enumerate(values) if _is_missing(v)]
        if isinstance(enc, OrdinalEncoder):
            field.encoder = "ordinal"
            if nan_at:
                field.missing_code = float(getattr(enc, "encoded_missing_value", nan_at[0]))
            if enc.handle_unknown == "use_encoded_value":
                field.unknown_code = float(enc.unknown_value)
            columns.append(_Column(field))
        else:
            field.encoder = "onehot"
            infrequent = getattr(enc, "infrequent_categories_", None)
            if infrequent is not None and infrequent[j] is not None:
                raise ConversionError(
                    "%s: the OneHotEncoder groups infrequent categories of %s into one column "
                    "(min_frequency/max_categories); fit it without them"
                    % (step, field.name))
            if nan_at:
                field.missing_category = nan_at[0]
            field.unknown_zero = enc.handle_unknown in ("ignore", "infrequent_if_exist")
            drop = getattr(enc, "drop_idx_", None)
            dropped = None if drop is None or drop[j] is None else int(drop[j])
            for c in range(len(values)):
                if c != dropped:
                    columns.append(_Column(field, c))
    return columns


def _column_indices(selection, n, names, step):
    """The input positions a ColumnTransformer's column selection picks."""
    if isinstance(selection, slice):
        if selection.start is not None and isinstance(selection.start, str):
            start = names.index(selection.start)
            stop = names.index(selection.stop) + 1 if selection.stop is not None else n
            return list(range(start, stop))
        return list(range(n))[selection]
    if isinstance(selection, (str, numbers.Integral)):
        selection = [selection]
    if not isinstance(selection, list):
        selection = list(np.asarray(selection).tolist())
    if selection and all(isinstance(s, bool) for s in selection):
        return [i for i, s in enumerate(selection) if s]
    out = []
    for s in selection:
        if isinstance(s, str):
            if s not in names:
                raise ConversionError("%s: no input column %r" % (step, s))
            out.append(names.index(s))
        else:
            out.append(int(s) % n)
    return out


def _pipeline_parts(model):
    """The tree and the step in front of it (None, an encoder or a ColumnTransformer)."""
    from sklearn.pipeline import Pipeline
    if not isinstance(model, Pipeline):
        return None, model
    steps = [(name, step) for name, step in model.steps if step is not None and
             not (isinstance(step, str) and step == "passthrough")]
    if not steps:
        raise ConversionError("the Pipeline has no steps (supported: %s)" % SUPPORTED)
    *front, (last_name, last) = steps
    if len(front) > 1:
        raise ConversionError("the Pipeline has steps %s in front of its tree; supported: %s"
                              % (", ".join(repr(n) for n, _ in front), SUPPORTED))
    return (front[0] if front else None), last


def _columns_of(front, n_inputs, names):
    """Fields (one per original input column used) and the tree's input columns."""
    from sklearn.compose import ColumnTransformer
    from sklearn.preprocessing import OneHotEncoder, OrdinalEncoder
    fields = [_Field(name, i) for i, name in enumerate(names)]
    if front is None:
        return fields, [_Column(f) for f in fields]
    step_name, step = front
    if isinstance(step, (OrdinalEncoder, OneHotEncoder)):
        return fields, _encoder_columns(step, fields, "step %r" % step_name)
    if not isinstance(step, ColumnTransformer):
        raise ConversionError("step %r is a %s, which cannot be converted; supported: %s"
                              % (step_name, type(step).__name__, SUPPORTED))
    if not hasattr(step, "transformers_"):
        raise ConversionError("step %r: the ColumnTransformer has not been fitted" % step_name)
    resolved = getattr(step, "_transformer_to_input_indices", None)
    columns, used = [], set()
    for name, trans, selection in step.transformers_:
        what = "step %r, transformer %r" % (step_name, name)
        if resolved is not None and name in resolved:
            indices = [int(i) for i in resolved[name]]
        elif callable(selection):
            raise ConversionError("%s: its columns are chosen by a function; name them" % what)
        else:
            indices = _column_indices(selection, n_inputs, names, what)
        if isinstance(trans, str) and trans == "drop":
            continue
        if not indices:
            continue
        these = [fields[i] for i in indices]
        used.update(indices)
        if isinstance(trans, str) and trans == "passthrough":
            columns.extend(_Column(f) for f in these)
        elif isinstance(trans, (OrdinalEncoder, OneHotEncoder)):
            columns.extend(_encoder_columns(trans, these, what))
        else:
            raise ConversionError("%s is a %s, which cannot be converted; a ColumnTransformer's "
                                  "transformers may be OrdinalEncoder, OneHotEncoder, "
                                  "'passthrough' or 'drop'" % (what, type(trans).__name__))
    return [f for f in fields if f.index in used], columns


def _input_names(front, tree, feature_names, what):
    """Names of the input columns: given, kept by the first step, or x0, x1, ..."""
    first = front[1] if front is not None else tree
    n = int(getattr(first, "n_features_in_", 0) or 0)
    if feature_names is not None:
        names = [str(f) for f in feature_names]
        if n and len(names) != n:
            raise ConversionError("%s: the list of feature names gives %d names for %d "
                                  "features" % (what, len(names), n))
    elif hasattr(first, "feature_names_in_"):
        names = [str(f) for f in first.feature_names_in_]
    else:
        names = ["x%d" % i for i in range(n)]
    if len(set(names)) != len(names):
        raise ConversionError("%s: feature names are not unique" % what)
    return names


# --- per-node data -------------------------------------------------------------------------------


def _transform(front, X):
    if front is None:
        return X
    return front[1].transform(X)


def _ranges(tree, fields, columns, front, X, n_nodes):
    """Per node: [(field, min, max)] over the rows of X that reach it, for numeric fields."""
    Xt = _transform(front, X)
    path = tree.decision_path(Xt).tocsc()
    indptr, rows = path.indptr, path.indices
    raw = _numeric_frame(X)
    out = [[] for _ in range(n_nodes)]
    sizes = np.diff(indptr)
    filled = np.flatnonzero(sizes > 0)
    starts = indptr[:-1][filled]
    for f in fields:
        if f.categories is not None:
            continue
        col = raw(f)
        if col is None:
            continue
        v = col[rows]
        with np.errstate(invalid="ignore"):
            lo = np.fmin.reduceat(v, starts)
            hi = np.fmax.reduceat(v, starts)
        for node, a, b in zip(filled.tolist(), lo.tolist(), hi.tolist()):
            if math.isfinite(a) and math.isfinite(b):
                out[node].append((f.name, a, b))
    return out


def _numeric_frame(X):
    """A function from field to that input column as doubles (None when it is not numeric)."""
    def column(field):
        if hasattr(X, "iloc"):
            c = X.iloc[:, field.index]
        else:
            c = np.asarray(X)[:, field.index]
        try:
            return np.asarray(c, dtype=np.float64)
        except (TypeError, ValueError):
            return None
    return column


_dump = json.JSONEncoder(allow_nan=False, ensure_ascii=False, separators=(", ", ": ")).encode


def _reprs(values):
    """float.__repr__ of each element of a float64 array (the shortest text that reads back as
    the same double). Class counts and probabilities repeat few values many times over, so each
    distinct value is printed once."""
    distinct, where = np.unique(values, return_inverse=True)
    texts = list(map(float.__repr__, distinct.tolist()))
    out = list(map(texts.__getitem__, where.tolist()))
    # np.unique takes -0.0 for 0.0; repr tells them apart.
    for i in np.flatnonzero((values == 0) & np.signbit(values)).tolist():
        out[i] = "-0.0"
    return out


class Model:
    """A converted model: its model file text and, on demand, the parsed document."""

    def __init__(self, head, nodes):
        self._head = head
        self._nodes = nodes

    def text(self):
        """JSON with one member per line at the top and one line per field and node."""
        lines = []
        for key, value in self._head.items():
            if isinstance(value, list) and value and isinstance(value[0], dict):
                items = ",\n    ".join(map(_dump, value))
                lines.append('  "%s": [\n    %s\n  ]' % (key, items))
            else:
                lines.append('  "%s": %s' % (key, _dump(value)))
        lines.append('  "nodes": [\n    ')
        head = "{\n" + ",\n".join(lines)
        tail = "\n  ]\n}\n"
        # One join copies the nodes' text once; a big tree's text is megabytes.
        nodes = self._nodes
        if len(nodes) == 1:
            return head + nodes[0] + tail
        return ",\n    ".join(
            itertools.chain((head + nodes[0],), itertools.islice(nodes, 1, len(nodes) - 1),
                            (nodes[-1] + tail,)))

    @property
    def doc(self):
        """The model file as a dictionary."""
        return json.loads(self.text())


def _check_xml_text(text, what):
    """Names and labels end up in XML documents: refuse characters XML 1.0 cannot hold."""
    for c in text:
        o = ord(c)
        if (o < 0x20 and c not in "\t\n\r") or 0xD800 <= o <= 0xDFFF or o in (0xFFFE, 0xFFFF):
            raise ConversionError("%s %r holds U+%04X, which an XML document cannot hold"
                                  % (what, text, o))


def convert(model, feature_names=None, target_name=None, X=None, y=None, what="model"):
    """The model file of a fitted tree or pipeline, as a Model."""
    from sklearn.tree import DecisionTreeClassifier
    front, est = _pipeline_parts(model)
    check_tree(est, what)
    names = _input_names(front, est, feature_names, what)
    fields, columns = _columns_of(front, len(names), names)
    n_columns = int(est.n_features_in_)
    if len(columns) != n_columns:
        raise ConversionError("%s: the tree has %d input columns but the steps in front of it "
                              "make %d" % (what, n_columns, len(columns)))
    if target_name is None:
        target_name = getattr(y, "name", None)
        target_name = "target" if target_name is None else str(target_name)
    if target_name in {f.name for f in fields}:
        raise ConversionError("%s: the target name %r is also a feature name; choose another "
                              "with target_name" % (what, target_name))

    t = est.tree_
    classification = isinstance(est, DecisionTreeClassifier)
    n = int(t.node_count)
    left = t.children_left.tolist()
    right = t.children_right.tolist()
    feature = t.feature.tolist()
    missing_left = _missing_go_to_left(t)
    w = np.asarray(t.weighted_n_node_samples, dtype=np.float64)
    impurity = np.asarray(t.impurity, dtype=np.float64)

    # Split statistics: the weighted impurity decrease over the root's weight.
    inner = np.asarray(t.children_left) != -1
    li = np.where(inner, t.children_left, 0)
    ri = np.where(inner, t.children_right, 0)
    with np.errstate(all="ignore"):
        gain = (w * impurity - w[li] * impurity[li] - w[ri] * impurity[ri]) / w[0]
    raw_thr = np.asarray(t.threshold, dtype=np.float64)
    for array, name in ((raw_thr, "threshold"), (gain, "improvement")):
        bad = np.flatnonzero(inner & ~np.isfinite(array))
        if bad.size:
            raise ConversionError("%s: node %d %s is %r"
                                  % (what, int(bad[0]), name, float(array[bad[0]])))
    thr = float32_thresholds(np.where(inner, raw_thr, 0.0))
    thr_text = list(map(float.__repr__, thr.tolist()))
    gain = gain.tolist()

    # Node statistics, as text.
    value = np.asarray(t.value[:, 0, :], dtype=np.float64)
    if not np.all(np.isfinite(value)):
        raise ConversionError("%s: a node value is not finite" % what)
    count = t.n_node_samples.tolist()
    if classification:
        # From 1.4 on classifiers keep class fractions in value, before that weighted counts.
        class_counts = value * w[:, None] if sklearn_version() >= (1, 4) else value
        total = class_counts.sum(axis=1)
        proba = class_counts / np.where(total > 0, total, 1.0)[:, None]
        predicted = np.argmax(class_counts, axis=1).tolist()
        # One template for every node, filled column by column: far fewer Python calls per
        # node than formatting each list on its own.
        k = class_counts.shape[1]
        row = "[" + ", ".join(["%s"] * k) + "]"
        template = ('[{"count": %%d, "class": {"predicted": %%d, "counts": %s, '
                    '"proportions": %s, "probabilities": %s}}]' % (row, row, row))
        counts_text = _reprs(class_counts.ravel())
        counts_text = [counts_text[j::k] for j in range(k)]
        proba_text = _reprs(proba.ravel())
        proba_text = [proba_text[j::k] for j in range(k)]
        samples = list(map(template.__mod__,
                           zip(count, predicted, *counts_text, *proba_text, *proba_text)))
    else:
        means = list(map(float.__repr__, value[:, 0].tolist()))
        if est.criterion in ("squared_error", "friedman_mse", "mse"):
            sd = map(float.__repr__, np.sqrt(np.maximum(impurity, 0.0)).tolist())
            samples = ['[{"count": %d, "regression": {"mean": %s, "stdDev": %s, '
                       '"prediction": %s}}]' % (c, m, s, m)
                       for c, m, s in zip(count, means, sd)]
        else:
            samples = ['[{"count": %d, "regression": {"mean": %s, "prediction": %s}}]'
                       % (c, m, m) for c, m in zip(count, means)]

    ranges = None
    if X is not None:
        ranges = _ranges(est, fields, columns, front, X, n)

    quoted = [_dump(c.field.name) for c in columns]
    nodes = []
    stack = [0]
    while stack:  # pre-order without recursion: deep trees stay within Python's stack
        i = stack.pop()
        extra = ""
        if ranges is not None and ranges[i]:
            extra = ', "ranges": ' + _dump([{"predictor": p, "min": a, "max": b}
                                             for p, a, b in ranges[i]])
        if left[i] == -1:
            nodes.append('{"id": %d, "samples": %s%s}' % (i, samples[i], extra))
            continue
        col = columns[feature[i]]
        first, second = left[i], right[i]
        stats = '"statistics": [%r], "kinds": ["improvement"]' % gain[i]
        if col.field.encoder is None:
            low = '{"high": %s}' % thr_text[i]
            high = '{"low": %s, "lowOpen": true}' % thr_text[i]
            missing = None if missing_left is None else (0 if missing_left[i] else 1)
        else:
            low, high, missing = _nominal_split(
                col.field, col, raw_thr[i], thr[i],
                None if missing_left is None else bool(missing_left[i]))
            low, high = _dump(low), _dump(high)
        # The child that takes missing values comes first: a PMML consumer tries children in
        # order, and a first child that is the bigger one would otherwise take them.
        if missing == 1:
            first, second, low, high = second, first, high, low
        rule = '{"predictor": %s, "children": [%s, %s], %s%s}' % (
            quoted[feature[i]], low, high,
            '' if missing is None else '"missingChild": 0, ', stats)
        nodes.append('{"id": %d, "children": [%d, %d], "samples": %s, "split": %s%s}'
                     % (i, first, second, samples[i], rule, extra))
        stack.append(second)
        stack.append(first)

    doc_fields = []
    for f in fields:
        field = {"name": f.name, "level": "continuous" if f.categories is None else "nominal",
                 "storage": f.storage}
        if f.categories is not None:
            field["categories"] = [{"code": c, "values": [v]}
                                   for c, v in enumerate(f.categories) if not _is_missing(v)]
        doc_fields.append(field)
    if classification:
        labels = list(est.classes_)
        if all(isinstance(c, numbers.Integral) and not isinstance(c, (bool, np.bool_))
               for c in labels):
            storage, values = "numeric", [int(c) for c in labels]
        else:
            storage, values = "string", [_label_text(c) for c in labels]
            if len(set(values)) != len(values):
                raise ConversionError("%s: class labels %r print alike" % (what, values))
        doc_fields.append({"name": target_name, "level": "nominal", "storage": storage,
                           "categories": [{"code": i, "values": [v]}
                                          for i, v in enumerate(values)]})
    else:
        doc_fields.append({"name": target_name, "level": "continuous", "storage": "numeric"})

    for f in doc_fields:
        _check_xml_text(f["name"], "%s: field name" % what)
        for c in f.get("categories", ()):
            for v in c["values"]:
                if isinstance(v, str):
                    _check_xml_text(v, "%s: a category of %s" % (what, f["name"]))

    head = {"format": "treexport-model", "version": 1,
            "function": "classification" if classification else "regression",
            "algorithm": 0, "fields": doc_fields, "predictors": [f.name for f in fields],
            "target": target_name}
    return Model(head, nodes)


def _nominal_split(field, column, raw_thr, thr, missing_go_left):
    """A split on an encoded column as category sets of its field, and its missing child."""
    codes = [c for c, v in enumerate(field.categories) if not _is_missing(v)]
    if field.encoder == "ordinal":
        # The tree compares the code as a float32 with the threshold.
        low = [c for c in codes if c <= thr]
        high = [c for c in codes if c > thr]

        def side(code):
            if code is None:
                return None
            if math.isnan(code):
                return None if missing_go_left is None else (0 if missing_go_left else 1)
            return 0 if code <= thr else 1
        missing = side(field.missing_code)
        if missing is None:
            missing = side(field.unknown_code)
        if missing is None and missing_go_left is not None and field.missing_code is None:
            # A missing value the encoder does not know is an unknown category: with no
            # code for it scikit-learn refuses the record, so the tree's own choice stands.
            missing = 0 if missing_go_left else 1
    else:
        # A one-hot column holds 1 for its category: "x <= t" (t between 0 and 1) is every
        # other category, "x > t" the one category.
        flag = column.category
        low = [c for c in codes if c != flag]
        high = [c for c in codes if c == flag]
        if not 0.0 <= raw_thr < 1.0:
            # A threshold outside (0, 1) puts every row on one side; say it as it is.
            low, high = (codes, []) if raw_thr >= 1.0 else ([], codes)
        if field.missing_category is not None:
            missing = 1 if field.missing_category == flag else 0
        elif field.unknown_zero:
            missing = 0
        else:
            missing = None
    # A side that no category reaches (only missing or unknown values do) has no value set.
    return ({"codes": low} if low else None), ({"codes": high} if high else None), missing
