"""Functions of one real variable in finite bases, and the sparse linear operators between them."""

from . import _quorvel
from ._quorvel import *  # noqa: F401,F403

__all__ = list(_quorvel.__all__)
__version__ = _quorvel.__version__
