"""Ctrl-C during the chain, other threads beside it, and the warning before a call that would
run far longer than its input suggests."""

import os
import shutil
import signal
import threading
import warnings

import numpy as np
import pytest
from numpy.testing import assert_array_equal
from sklearn.datasets import make_blobs

import rotalign
from rotalign import RotationClustering, _core, _estimator, _toolbox


@pytest.fixture
def interrupting_toolbox(tmp_path, fixture_folder):
    """The package's plug-ins, with brenmoss replaced by one that sends SIGINT to the process."""
    for name in _toolbox.PLUGINS:
        file = _core.plugin_file_name(name)
        shutil.copy(os.path.join(_toolbox._folder, file), tmp_path / file)
    shutil.copy(
        os.path.join(fixture_folder, _core.plugin_file_name("interrupting")),
        tmp_path / _core.plugin_file_name("brenmoss"),
    )
    return _core.Toolbox(str(tmp_path))


@pytest.fixture
def host_bytes_at_interrupt():
    """Python's Ctrl-C handler, which also notes the host's bytes in use when it runs: more than
    before the call while the chain still holds its matrices."""
    seen = []

    def interrupt(signum, frame):
        seen.append(_core.host_memory()["in_use"])
        raise KeyboardInterrupt

    previous = signal.signal(signal.SIGINT, interrupt)
    yield seen
    signal.signal(signal.SIGINT, previous)


def test_ctrl_c_stops_the_chain_after_the_running_stage_and_releases_its_arrays(
    interrupting_toolbox, host_bytes_at_interrupt, monkeypatch
):
    # 400 points: every N-by-N matrix lies in a separately mapped block that host_memory counts.
    X, _ = make_blobs(400, centers=3, random_state=1)
    reference = RotationClustering(max_groups=4, graph="dense").fit(X)
    before = _core.host_memory()["in_use"]
    options = {"graph": "dense", "max_groups": 4}
    with pytest.raises(KeyboardInterrupt):
        interrupting_toolbox.cluster(X, options, False)
    assert _core.host_memory()["in_use"] == before

    monkeypatch.setattr(_estimator, "toolbox", interrupting_toolbox)
    model = RotationClustering(max_groups=4, graph="dense")
    with pytest.raises(KeyboardInterrupt):
        model.fit(X)
    assert not hasattr(model, "labels_")
    assert _core.host_memory()["in_use"] == before
    # Both times the interrupt reached Python inside the chain, not after it had run to its end.
    assert len(host_bytes_at_interrupt) == 2 and min(host_bytes_at_interrupt) >= before + 400 * 400 * 8

    # The host goes on working, with the same results as before.
    monkeypatch.undo()
    assert_array_equal(RotationClustering(max_groups=4, graph="dense").fit(X).labels_, reference.labels_)


def test_plugin_calls_from_other_threads_wait_for_the_chain():
    """The chain runs without the interpreter lock; plug-in calls, and the release of their
    outputs, from another thread meanwhile must neither race it nor change either result."""
    X, _ = make_blobs(600, centers=3, random_state=2)
    reference = RotationClustering(max_groups=5).fit(X).labels_
    D = np.abs(np.subtract.outer(np.arange(50.0), np.arange(50.0)))
    expected = rotalign.pellor(D, 3.0)
    labels, calls = [], 0
    worker = threading.Thread(target=lambda: labels.append(RotationClustering(max_groups=5).fit(X).labels_))
    worker.start()
    while worker.is_alive() or calls < 5:
        assert_array_equal(rotalign.pellor(D, 3.0), expected)
        calls += 1
    worker.join()
    assert_array_equal(labels[0], reference)


def test_a_transposed_eigenvector_matrix_is_warned_of_before_the_search():
    X = np.array([[1.0, 0.0], [0.0, 1.0], [0.9, 0.1]])
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        rotalign.tarvik(X)
    with pytest.warns(RuntimeWarning, match=r"more columns \(3\) than rows \(2\).*is X transposed\?"):
        rotalign.tarvik(X.T)
    with pytest.warns(RuntimeWarning, match=r"more columns \(4\) than rows \(1\)"):
        rotalign.tarvik([0.1, 0.2, 0.3, 0.4])
