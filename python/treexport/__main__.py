"""python -m treexport: export a pickled scikit-learn tree or pipeline from the command line.

Exit status: 0 done, 1 usage error, 2 the model cannot be read or converted, 3 the output cannot
be written (as the treexport command).
"""

import argparse
import io
import os
import platform
import sys

DATASETS = ("iris", "wine", "breast_cancer", "diabetes")

EPILOG = """\
MODEL is a pickle or joblib file holding a fitted DecisionTreeClassifier or DecisionTreeRegressor,
or a Pipeline ending in one (optionally after a ColumnTransformer of OrdinalEncoder, OneHotEncoder,
'passthrough' and 'drop'), or - for standard input. pmml and xml also read a model file (JSON).

What the model file says:
  - numeric inputs are continuous predictors named after feature_names_in_ (or x0, x1, ...);
    encoded inputs are nominal predictors of the original column with its categories;
  - a split "x <= t" sends x <= t to the first child and x > t to the second, where t is the
    double that makes the comparison agree with scikit-learn's float32 one for every input;
    a split on an encoded column sends sets of categories;
  - class labels become the target's categories (code i = classes_[i]), with their text as
    scikit-learn prints them;
  - count is the node's number of training rows; class counts are the weighted counts,
    probabilities are what predict_proba gives; regression nodes carry the weighted mean, and
    the square root of the impurity as standard deviation (squared_error, friedman_mse);
  - improvement is the weighted impurity decrease N_t/N * (i_t - N_l/N_t i_l - N_r/N_t i_r).

Missing values: with scikit-learn 1.3 and later each split sends them to the child that
missing_go_to_left names, listed first. Unknown categories go where the encoder sends them
(handle_unknown), as missing values do.

Not converted: multi-output trees, ensembles (convert one of estimators_), other pipeline steps,
criterion "absolute_error". Only open pickle files you trust: loading one runs code it names.
"""


class UsageError(Exception):
    pass


class InputError(Exception):
    pass


class OutputError(Exception):
    pass


class _Parser(argparse.ArgumentParser):
    def error(self, message):
        raise UsageError(message)


def _parser(prog, commands):
    p = _Parser(prog=prog, description="Export a fitted scikit-learn tree or pipeline.",
                epilog=EPILOG, formatter_class=argparse.RawDescriptionHelpFormatter)
    if len(commands) > 1:
        p.add_argument("command", choices=commands,
                       help="pmml: PMML 4.3 document; xml: tree XML document; model: model file")
    p.add_argument("model", nargs="?", metavar="MODEL",
                   help="pickle or joblib file of the fitted tree or pipeline, - for standard "
                        "input")
    p.add_argument("-o", "--output", metavar="FILE",
                   help="write to FILE (replaced only once the whole text is written); "
                        "default: standard output")
    p.add_argument("--portable", action="store_true",
                   help="pmml: the portable profile, which standard PMML consumers score "
                        "exactly (a model file is the same either way)")
    p.add_argument("--feature-names", metavar="A,B,...",
                   help="names of the input columns, comma-separated (default: "
                        "feature_names_in_, else x0, x1, ...)")
    p.add_argument("--target-name", metavar="NAME",
                   help="name of the target field (default: \"target\")")
    p.add_argument("--fit", choices=DATASETS, metavar="DATASET",
                   help="fit a tree on a bundled dataset instead of reading MODEL: "
                        + ", ".join(DATASETS))
    p.add_argument("--max-depth", type=int, help="with --fit: the tree's max_depth")
    p.add_argument("--random-state", type=int, default=0,
                   help="with --fit: the tree's random_state (default 0)")
    p.add_argument("--save-estimator", metavar="PATH",
                   help="with --fit: also save the fitted estimator with joblib")
    return p


def _interpreter():
    """This Python and its scikit-learn, as messages name them."""
    try:
        import sklearn
        version = "scikit-learn " + sklearn.__version__
    except ImportError:
        version = "no scikit-learn"
    return "%s (Python %s, %s)" % (sys.executable, platform.python_version(), version)


def load(path):
    """The object in a pickle or joblib file, or on standard input for "-"."""
    if path == "-":
        source = io.BytesIO(sys.stdin.buffer.read())
        name = "<stdin>"
    else:
        if not os.path.isfile(path):
            raise InputError("%s: no such file" % path)
        source = path
        name = path
    try:
        try:
            import joblib
        except ImportError:
            joblib = None
        if joblib is not None:
            return joblib.load(source)
        import pickle
        if isinstance(source, str):
            with open(source, "rb") as f:
                return pickle.load(f)
        return pickle.load(source)
    except Exception as e:  # unpickling raises many kinds; all mean the same here
        hint = ""
        if not isinstance(e, (EOFError,)) and "load key" not in str(e):
            hint = ("; a file saved by another scikit-learn version needs that version: with "
                    "treexport --from sklearn, name its Python in TREEXPORT_PYTHON")
        raise InputError("%s: not a pickle or joblib file that %s can read (%s: %s)%s"
                         % (name, _interpreter(), type(e).__name__, e, hint))


def fit_demo(name, max_depth, random_state):
    """A tree fitted on a bundled dataset, its target name and feature names."""
    from sklearn import datasets
    from sklearn.tree import DecisionTreeClassifier, DecisionTreeRegressor
    bunch = getattr(datasets, "load_" + name)()
    features = [str(f) for f in bunch.feature_names]
    if name == "diabetes":
        est = DecisionTreeRegressor(max_depth=max_depth, random_state=random_state)
        est.fit(bunch.data, bunch.target)
        return est, "disease_progression", features
    labels = [str(t) for t in bunch.target_names]
    est = DecisionTreeClassifier(max_depth=max_depth, random_state=random_state)
    est.fit(bunch.data, [labels[i] for i in bunch.target])
    return est, "class", features


def _is_model_file(path):
    if path == "-" or not os.path.isfile(path):
        return False
    with open(path, "rb") as f:
        return f.read(64).lstrip()[:1] == b"{"


def _emit(text, output):
    if output is None or output == "-":
        sys.stdout.buffer.write(text.encode("utf-8"))
        sys.stdout.flush()
        return
    from . import _write
    try:
        _write(text, output)
    except OSError as e:
        raise OutputError("%s: cannot write (%s)" % (output, e.strerror or e))


def run(args, command):
    import treexport
    if args.fit:
        est, target, names = fit_demo(args.fit, args.max_depth, args.random_state)
        what = args.fit
        if args.save_estimator:
            import joblib
            joblib.dump(est, args.save_estimator)
    elif command != "model" and _is_model_file(args.model):
        with open(args.model, encoding="utf-8") as f:
            text = f.read()
        native = treexport._export_module()
        if command == "pmml":
            _emit(native.pmml(text, args.model, args.portable), args.output)
        else:
            _emit(native.tree_xml(text, args.model), args.output)
        return
    else:
        what = "<stdin>" if args.model == "-" else args.model
        est, target, names = load(args.model), None, None
    if args.feature_names is not None:
        names = args.feature_names.split(",")
    target = args.target_name or target
    model = treexport.convert(est, names, target, None, None, what)
    text = model.text()
    if command == "pmml":
        text = treexport._export_module().pmml(text, what, args.portable)
    elif command == "xml":
        text = treexport._export_module().tree_xml(text, what)
    _emit(text, args.output)


def main(argv=None, prog="python -m treexport", command=None):
    """Runs the command line; returns the exit status. With command given, argv has no command."""
    argv = sys.argv[1:] if argv is None else list(argv)
    commands = ("pmml", "xml", "model")
    try:
        args = _parser(prog, (command,) if command else commands).parse_args(argv)
        command = command or args.command
        if (args.model is None) == (args.fit is None):
            raise UsageError("give either MODEL or --fit DATASET")
        if args.fit is None and (args.max_depth is not None or args.save_estimator):
            raise UsageError("--max-depth and --save-estimator go with --fit")
        if args.max_depth is not None and args.max_depth < 1:
            raise UsageError("--max-depth must be at least 1")
        if args.portable and command == "xml":
            raise UsageError("--portable goes with pmml")
    except UsageError as e:
        sys.stderr.write("%s: %s\n(see %s --help)\n" % (prog, e, prog))
        return 1
    try:
        from ._convert import ConversionError
    except ImportError as e:  # the package's own imports need numpy
        sys.stderr.write("%s: %s cannot run the converter (%s)\n" % (prog, _interpreter(), e))
        return 2
    try:
        run(args, command)
    except (InputError, ConversionError, ValueError) as e:
        sys.stderr.write("%s: %s\n" % (prog, e))
        return 2
    except ImportError as e:
        sys.stderr.write("%s: %s: %s\n" % (prog, _interpreter(), e))
        return 2
    except OutputError as e:
        sys.stderr.write("%s: %s\n" % (prog, e))
        return 3
    except OSError as e:
        sys.stderr.write("%s: %s\n" % (prog, e))
        return 2
    except Exception:  # a fault of this tool, not of the input: show where it happened
        import traceback
        sys.stderr.write("%s: internal error\n%s" % (prog, traceback.format_exc()))
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main())
