"""Write a fitted scikit-learn decision tree as PMML 4.3, as tree XML, or as a treexport model file.

    >>> from sklearn.datasets import load_iris
    >>> from sklearn.tree import DecisionTreeClassifier
    >>> import treexport
    >>> iris = load_iris(as_frame=True)
    >>> tree = DecisionTreeClassifier(max_depth=3).fit(iris.data, iris.target_names[iris.target])
    >>> treexport.to_pmml(tree, "iris.pmml", target_name="species")

``model`` is a fitted ``DecisionTreeClassifier`` or ``DecisionTreeRegressor``, or a ``Pipeline``
whose last step is one, optionally after a ``ColumnTransformer`` (or a lone ``OrdinalEncoder`` or
``OneHotEncoder``) whose transformers are ``OrdinalEncoder``, ``OneHotEncoder``, ``"passthrough"``
or ``"drop"``. Encoded columns become nominal fields of the original column, with its category
strings; a split on an encoded column becomes a split into two sets of categories.
"""

import io
import os
import tempfile

from ._convert import ConversionError, convert

__all__ = ["to_pmml", "to_tree_xml", "to_model", "ConversionError", "__version__"]

__version__ = "0.1.0"


def _export_module():
    try:
        from . import _native as native
    except ImportError as e:
        raise ImportError("treexport was installed without its compiled export module (%s); "
                          "install it with: pip install ./python (see the README)" % e) from e
    return native


def _write(text, path_or_file):
    """Returns text when there is no destination; writes a path atomically, or a file object."""
    if path_or_file is None:
        return text
    if hasattr(path_or_file, "write"):
        if isinstance(path_or_file, io.TextIOBase):
            path_or_file.write(text)
        else:
            path_or_file.write(text.encode("utf-8"))
        return None
    path = os.fspath(path_or_file)
    # Written beside the target and renamed, so a failure leaves an earlier file as it was.
    directory = os.path.dirname(os.path.abspath(path))
    fd, tmp = tempfile.mkstemp(prefix=".treexport.", dir=directory)
    try:
        # mkstemp makes the file 0600; the document is as readable as any file the user creates.
        mask = os.umask(0)
        os.umask(mask)
        os.fchmod(fd, 0o666 & ~mask)
        with os.fdopen(fd, "wb") as f:
            f.write(text.encode("utf-8"))
            f.flush()
            os.fsync(f.fileno())
        os.replace(tmp, path)
    except BaseException:
        os.unlink(tmp)
        raise
    return None


def to_model(model, path_or_file=None, *, feature_names=None, target_name=None, X=None, y=None):
    """The model file (JSON, docs/model-format.md) of a fitted tree or pipeline.

    Args:
        model: a fitted ``DecisionTreeClassifier``/``DecisionTreeRegressor`` or a ``Pipeline``
            ending in one (see the module's documentation for the steps it may hold).
        path_or_file: where to write; a path is replaced only once the whole text is written.
            ``None`` returns the text.
        feature_names: names of the model's input columns (default: ``feature_names_in_``,
            else ``x0``, ``x1``, ...).
        target_name: name of the target field (default: ``y.name`` when ``y`` has one, else
            ``"target"``).
        X: the training inputs (a data frame or array as given to ``fit``): every node then
            carries the range of each numeric input among the rows that reach it. Missing
            counts are not taken from it: both documents write every field's missing
            frequency as 0.
        y: the training target; only its ``name`` is used.

    Returns:
        The text when ``path_or_file`` is ``None``, otherwise ``None``.

    Raises:
        ConversionError: the object is not one that can be converted; the message names the
            part that is not and says what is supported.
    """
    text = convert(model, feature_names, target_name, X, y).text()
    return _write(text, path_or_file)


def to_pmml(model, path_or_file=None, *, portable=False, feature_names=None, target_name=None,
            X=None, y=None):
    """The PMML 4.3 document of a fitted tree or pipeline (as ``treexport pmml`` writes it).

    Takes the arguments of :func:`to_model`, and ``portable``: write the profile that standard
    PMML consumers score exactly like the tree (``treexport pmml --portable``).

    Every split threshold is the double that makes a comparison of doubles agree with
    scikit-learn's comparison of float32 values for every input; the default profile writes
    numbers with 15 significant digits, the portable one exactly.
    """
    text = convert(model, feature_names, target_name, X, y).text()
    return _write(_export_module().pmml(text, "model", bool(portable)), path_or_file)


def to_tree_xml(model, path_or_file=None, *, feature_names=None, target_name=None, X=None,
                y=None):
    """The tree XML document (docs/tree-xml.md) of a fitted tree or pipeline.

    Takes the arguments of :func:`to_model`.
    """
    text = convert(model, feature_names, target_name, X, y).text()
    return _write(_export_module().tree_xml(text, "model"), path_or_file)
