"""Spectral clustering with locally scaled affinities, through the rotalign plug-ins.

``RotationClustering`` is a scikit-learn estimator over the whole clustering chain; ``brenmoss``,
``olvane``, ``pellor``, ``nimbrel`` and ``tarvik`` call the plug-ins one at a time on NumPy
arrays or SciPy CSC matrices. Everything runs the compiled plug-ins shipped in this package
through the stand-in host, exactly as the program ``rotalign`` does.
"""

from ._core import HostFault, PluginError
from ._estimator import RotationClustering
from ._plugins import brenmoss, nimbrel, olvane, pellor, tarvik

__version__ = "0.1.0"

# The exceptions are defined by the extension; they belong to the package's own name.
PluginError.__module__ = HostFault.__module__ = __name__

__all__ = [
    "RotationClustering",
    "brenmoss",
    "olvane",
    "pellor",
    "nimbrel",
    "tarvik",
    "PluginError",
    "HostFault",
]
