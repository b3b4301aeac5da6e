"""The plug-ins as NumPy/SciPy functions: results, patterns, messages, and the caller's arrays."""

import numpy as np
import pytest
import scipy.sparse as sp
from numpy.testing import assert_allclose, assert_array_equal

import rotalign
from rotalign import _core, _toolbox

D = np.array([[0.0, 1.0, 4.0], [1.0, 0.0, 2.0], [4.0, 2.0, 0.0]])


def sparse_distances():
    """3-by-3 CSC: a stored zero at (0, 0), an empty column 1, and distinct values."""
    data = np.array([0.0, 3.0, 3.0, 5.0])
    return sp.csc_matrix((data, np.array([0, 2, 0, 1]), np.array([0, 2, 2, 4])), shape=(3, 3))


def test_brenmoss_worked_example():
    scaled, affinities, scales = rotalign.brenmoss(D, 1)
    # Local scales 1, 1, 2 (second smallest of each column); pairwise sqrt(si * sj).
    s = np.sqrt(np.array([[1.0, 1.0, 2.0], [1.0, 1.0, 2.0], [2.0, 2.0, 4.0]]))
    assert_array_equal(scales, s)
    assert_array_equal(scaled, D / s)
    assert_allclose(affinities, np.exp(-D / s), rtol=1e-15)
    assert_array_equal(rotalign.brenmoss(D, 1, nout=1), scaled)
    assert_array_equal(rotalign.olvane(D, 1, nout=2)[1], rotalign.olvane(D, 1)[1])


def test_pellor_nimbrel_and_tarvik_on_dense_input():
    assert_allclose(rotalign.pellor(D, 2.0), np.exp(-D / 4.0), rtol=1e-15)
    assert_array_equal(rotalign.nimbrel(D + 7.0), D + 7.0 - 7.0 * np.eye(3))

    # Two clean clusters of rows: the groups come back 0-based, quality 1 for exact alignment.
    X = np.array([[1.0, 0.0], [0.0, 1.0], [0.9, 0.0], [0.0, 0.8], [0.7, 0.0]])
    for method in (1, 2):
        groups, quality, rotated = rotalign.tarvik(X, method)
        assert sorted(map(sorted, groups)) == [[0, 2, 4], [1, 3]]
        assert quality == pytest.approx(1.0)
        assert rotated.shape == X.shape


def test_sparse_input_gives_csc_with_its_pattern():
    S = sparse_distances()
    outputs = [rotalign.pellor(S, 2.0), rotalign.nimbrel(S), *rotalign.brenmoss(S, 1), *rotalign.olvane(S, 1)]
    for out in outputs:
        assert sp.isspmatrix_csc(out)
        assert_array_equal(out.indptr, S.indptr)
        assert_array_equal(out.indices, S.indices)
    # A stored zero distance becomes a stored affinity 1; unstored entries stay unstored.
    assert_allclose(outputs[0].data, np.exp(-S.data / 4.0), rtol=1e-15)
    assert outputs[0].data[0] == 1.0
    # nimbrel keeps the stored diagonal value, as +0.
    assert outputs[1].data[0] == 0.0 and not np.signbit(outputs[1].data[0])

    # Other sparse formats and duplicate entries are taken as the CSC matrix they stand for.
    coo = sp.coo_matrix((np.array([1.0, 2.0, 3.0]), (np.array([1, 1, 0]), np.array([0, 0, 1]))), shape=(2, 2))
    assert_array_equal(rotalign.nimbrel(coo).toarray(), [[0.0, 3.0], [3.0, 0.0]])


def test_complex_pages_and_other_dtypes():
    Z = D + 1j * np.arange(9.0).reshape(3, 3)
    A = rotalign.pellor(Z, 2.0)
    assert A.dtype == np.complex128
    assert_array_equal(A.imag, Z.imag)  # imaginary parts are carried over
    assert_allclose(A.real, np.exp(-D / 4.0), rtol=1e-15)

    pages = np.stack([D + 1.0, D + 2.0], axis=2)  # 3-by-3-by-2: only the first page changes
    Z = rotalign.nimbrel(pages)
    assert Z.shape == (3, 3, 2)
    assert_array_equal(Z[:, :, 0], D + 1.0 - np.eye(3))
    assert_array_equal(Z[:, :, 1], D + 2.0)

    assert_array_equal(rotalign.nimbrel(D.astype(np.int32)), D)
    assert_array_equal(rotalign.nimbrel([[5]]), [[0.0]])
    with pytest.raises(TypeError, match="no conversion to double"):
        rotalign.nimbrel(np.array([["a"]]))


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: rotalign.pellor(np.ones((2, 3)), 1.0), "pellor: Distance matrix must be square"),
        (lambda: rotalign.brenmoss(D, 5), "brenmoss: Neighbour count must be from 0 to N-1 for a dense distance matrix"),
        (lambda: rotalign.olvane(sparse_distances(), 0), "olvane: Neighbour count must be at least 1 for a sparse distance matrix"),
        (lambda: rotalign.brenmoss(D, 1, nout=4), "brenmoss: Too many output arguments."),
        (lambda: rotalign.brenmoss(D, 1, nout=0), "brenmoss: Too few output arguments."),
        (lambda: rotalign.nimbrel(np.ones((2, 3))), "nimbrel: Input matrix must be square"),
        (lambda: rotalign.tarvik(sp.csc_matrix(np.eye(3))), "tarvik: Eigenvector matrix must not be sparse"),
        (lambda: rotalign.pellor(D, []), "pellor: mxGetScalar: the argument is empty"),
    ],
)
def test_plugin_messages_arrive_as_plugin_errors(call, message):
    with pytest.raises(rotalign.PluginError) as raised:
        call()
    assert str(raised.value) == message
    assert isinstance(raised.value, ValueError)


def test_sizes_beyond_the_hosts_32_bits_are_refused_before_any_copy():
    # Views and empty matrices: nothing of this size is ever allocated.
    with pytest.raises(ValueError, match="dimension 0 of 2147483648 does not fit the host's 32-bit sizes"):
        rotalign.nimbrel(np.broadcast_to(0.0, (2**31, 2)))
    with pytest.raises(ValueError, match="row count 2147483648 does not fit"):
        rotalign.nimbrel(sp.csc_matrix((2**31, 2)))


def test_a_malformed_sparse_matrix_is_refused_before_a_plugin_reads_it():
    # SciPy builds these without looking at the indices; a plug-in would read past its arrays.
    outside = sp.csc_matrix((np.array([1.0]), np.array([5]), np.array([0, 1, 1])), shape=(2, 2))
    with pytest.raises(ValueError, match="a row index of the sparse matrix lies outside it"):
        rotalign.nimbrel(outside)
    short = sp.csc_matrix((2, 2))
    short.indptr = np.array([0, 3, 3], dtype=np.int32)
    with pytest.raises(ValueError, match="fewer indices or values than its indptr says"):
        _toolbox.toolbox.call("nimbrel", 1, [short])


def snapshot(value):
    if sp.issparse(value):
        return [value.data.copy(), value.indices.copy(), value.indptr.copy()]
    return [np.array(value, copy=True)]


def test_no_input_is_changed():
    C = np.ascontiguousarray(D) + 0.5
    F = np.asfortranarray(D) + 0.25
    strided = np.arange(36.0).reshape(6, 6)[::2, ::2]
    readonly = D.copy()
    readonly.setflags(write=False)
    S = sparse_distances()
    unsorted = sp.csc_matrix((np.array([2.0, 1.0]), np.array([1, 0]), np.array([0, 2, 2])), shape=(2, 2))
    for value in (C, F, strided, readonly, S, unsorted):
        before = snapshot(value)
        rotalign.pellor(value, 1.5)
        rotalign.nimbrel(value)
        rotalign.brenmoss(value, 1)
        rotalign.olvane(value, 1)
        for old, new in zip(before, snapshot(value)):
            assert_array_equal(old, new)


def test_strided_and_row_major_inputs_reach_the_plugin_in_their_own_order():
    A = np.arange(20.0).reshape(4, 5)
    for view in (A[:, :4], A[:, :4].T, np.asfortranarray(A[:, :4]), A[::-1, 1:]):
        if view.shape[0] == view.shape[1]:
            assert_array_equal(rotalign.nimbrel(view), view * (1 - np.eye(view.shape[0])))
        assert_array_equal(rotalign.tarvik(view[:, :1])[2], view[:, :1])


class TestMisbehavingPlugin:
    """Faults of a plug-in reach Python as exceptions, and the caller's arrays stay intact."""

    @pytest.fixture
    def toolbox(self, fixture_folder):
        return _core.Toolbox(fixture_folder)

    def call(self, toolbox, mode, A):
        return toolbox.call("misbehaving", 1, [_toolbox.as_input(mode, "m"), _toolbox.as_input(A, "m")])

    @pytest.mark.parametrize(
        "mode, message",
        [
            (2, "the plug-in left output 1 unset"),
            (3, "mxDestroyArray of an input of the running call"),
            (4, "an input was handed out as an output"),
        ],
    )
    def test_host_faults_raise(self, toolbox, mode, message):
        with pytest.raises(rotalign.HostFault, match=message):
            self.call(toolbox, mode, D)
        assert_array_equal(self.call(toolbox, 1, D)[0], D)  # the host goes on working

    def test_a_plugin_that_writes_its_input_writes_the_hosts_copy(self, toolbox):
        A = D.copy()
        (out,) = self.call(toolbox, 5, A)
        assert_array_equal(out, np.zeros((3, 3)))
        assert_array_equal(A, D)

    def test_its_message_and_a_missing_plugin(self, toolbox):
        with pytest.raises(rotalign.PluginError, match="^misbehaving: misbehaving on purpose$"):
            self.call(toolbox, 6, D)
        with pytest.raises(ValueError, match="plug-in absent not found"):
            toolbox.call("absent", 1, [])


def test_outputs_are_views_of_the_hosts_arrays_and_outlive_the_call():
    A = rotalign.pellor(np.zeros((200, 200)), 1.0)
    assert A.flags.f_contiguous and A.base is not None
    del A
    B = rotalign.pellor(np.zeros((200, 200)), 1.0)
    B[0, 0] = 5.0  # the caller owns the result
    assert_array_equal(B[1:], 1.0)
