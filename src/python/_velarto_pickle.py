"""Rebuilds pickled velarto values (internal).

Deep types, graphs, path patterns and variable-length edge patterns reduce to
`reconstruct(kind, first, second)`, a function of the extension that checks
everything it reads. Pickle looks it up by name in this module, beside the
extension, so that the extension module holds its classes and nothing else.
"""
from velarto import Graph as _Graph

# The extension makes the function once; any graph's reduction hands it over.
reconstruct = _Graph().__reduce__()[0]
