"""Gives the objects of the extension module the docstrings of its type stub.

The module's classes and methods carry no reference text of their own; the stub does. Every
stub docstring must appear in the API pages: one that is never rendered is reported as a
warning, so a member added to the stub but not to the pages fails a build with -W.
"""

from sphinx.util import logging

from quorvel._stubdoc import docstrings

logger = logging.getLogger(__name__)
REFERENCE = docstrings()


def fill(app, what, name, obj, options, lines):
    key = name.removeprefix("quorvel.")
    if key in REFERENCE:
        lines[:] = REFERENCE[key].splitlines()
        app.env.stub_docstrings_rendered[key] = app.env.docname


def forget(app, env, docname):
    rendered = env.stub_docstrings_rendered
    for key in [k for k, doc in rendered.items() if doc == docname]:
        del rendered[key]


def check(app, env):
    for key in sorted(set(REFERENCE) - set(env.stub_docstrings_rendered)):
        logger.warning("the reference of quorvel.%s is not rendered in the API pages", key)


def setup(app):
    app.connect("builder-inited", lambda app: setattr(
        app.env, "stub_docstrings_rendered", getattr(app.env, "stub_docstrings_rendered", {})))
    # Before napoleon, which turns the numpydoc sections into reST.
    app.connect("autodoc-process-docstring", fill, priority=400)
    app.connect("env-purge-doc", forget)
    app.connect("env-check-consistency", check)
    return {"parallel_read_safe": False, "parallel_write_safe": True}
