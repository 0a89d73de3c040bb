"""Trees as newer scikit-learn versions make them, built with the installed one.

scikit-learn 1.3 added missing_go_to_left to the node records. The installed version may predate
it, so a fitted tree's records are given the field here: the converter reads the records through
__getstate__, as it does for a tree of a newer version.
"""

import numpy as np


class TreeWithMissingRouting:
    """A fitted tree whose node records carry missing_go_to_left."""

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
            dtype = np.dtype(nodes.dtype.descr + [("missing_go_to_left", "u1")])
            extended = np.zeros(nodes.shape, dtype=dtype)
            for field in nodes.dtype.names:
                extended[field] = nodes[field]
        extended["missing_go_to_left"] = self._go_left
        state["nodes"] = extended
        return state

    def __reduce__(self):
        # Pickled as the real tree class with the newer records: what a newer version writes.
        cls, args, _ = self._tree.__reduce__()
        return cls, args, self.__getstate__()


def with_missing_routing(tree, go_left):
    """The tree, its node records carrying go_left as missing_go_to_left."""
    return TreeWithMissingRouting(tree, go_left)
