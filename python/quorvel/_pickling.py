"""Pickling of `SingularError` instances.

The class keeps its module name ``_quorvel``, under which it cannot be imported, so pickle cannot
refer to the class itself; its instances are reduced to `singular_error` instead, with their
arguments and attributes (such as exception notes). ``Space``, ``Projection`` and ``Fit`` pickle
through their own ``__reduce__``.
"""

import copyreg
from typing import Any

from ._quorvel import SingularError


def singular_error(*args: Any) -> SingularError:
    """A `SingularError` with the given arguments (the reconstructor of its pickled form)."""
    return SingularError(*args)


def _reduce_singular_error(error: SingularError) -> tuple[Any, ...]:
    return singular_error, error.args, error.__dict__ or None


copyreg.pickle(SingularError, _reduce_singular_error)
