"""Pickling of `SingularError` instances.

The class keeps its module name ``_quorvel``, under which it cannot be imported, so pickle cannot
refer to the class itself. Its instances reduce to `singular_error` instead, with their arguments
and attributes (such as exception notes). The reduction is the class's own ``__reduce__`` rather
than a ``copyreg`` entry, so that picklers which replace the ``copyreg`` entries of exception
classes with their own (as Dask's distributed does, to keep tracebacks) still call it. ``Space``,
``Projection`` and ``Fit`` pickle through the ``__reduce__`` of the extension module.
"""

from typing import Any

from ._quorvel import SingularError


def singular_error(*args: Any) -> SingularError:
    """A `SingularError` with the given arguments (the reconstructor of its pickled form)."""
    return SingularError(*args)


def _reduce_singular_error(error: SingularError) -> tuple[Any, ...]:
    return singular_error, error.args, error.__dict__ or None


SingularError.__reduce__ = _reduce_singular_error  # type: ignore[assignment,method-assign]
