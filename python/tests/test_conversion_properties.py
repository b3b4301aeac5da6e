"""Random arguments, sound and broken, through the conversion to the host's arrays.

The rule for any argument: a TypeError or ValueError, or the result that plain NumPy gives for
the same formula; never a crash; and the caller's object as it was (no attribute replaced, no
array written). Sound arguments must give their result."""

import numpy as np
import pytest
import scipy.sparse as sp
from numpy.testing import assert_allclose, assert_array_equal

import rotalign
from rotalign import _toolbox

hypothesis = pytest.importorskip("hypothesis")
from hypothesis import HealthCheck, given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402
from hypothesis.extra import numpy as hnp  # noqa: E402

fuzz = settings(max_examples=120, deadline=None, database=None, suppress_health_check=list(HealthCheck))

# Values whose sums are exact in any order, so that summed duplicates have one right answer.
VALUES = st.sampled_from([0.0, -0.0, 1.0, -2.5, 0.25, 3.0, 7.75, np.nan, np.inf, -np.inf])
SIGMA = 1.5


# ---- the caller's object, before and after ------------------------------------------------


def snapshot(value):
    """Every attribute of ``value`` (an ndarray or a sparse matrix): the object it names, and a
    copy of its contents where it is an array."""
    if isinstance(value, np.ndarray):
        return {"": (value, value.copy(), value.flags.writeable)}
    return {k: (v, v.copy() if isinstance(v, np.ndarray) else None, None) for k, v in vars(value).items()}


def assert_unchanged(value, before):
    after = snapshot(value)
    assert after.keys() == before.keys()
    for key, (obj, copy, writeable) in before.items():
        assert after[key][0] is obj, "attribute %s was replaced" % key
        if copy is not None:
            assert obj.dtype == copy.dtype and obj.shape == copy.shape
            if obj.dtype == object:
                assert all(a is b for a, b in zip(obj.ravel(), copy.ravel()))
            else:
                assert_array_equal(obj, copy, strict=True)
        if writeable is not None:
            assert obj.flags.writeable == writeable


def refused_or(call, check):
    """``call()`` raises TypeError or ValueError, or its result passes ``check``."""
    try:
        result = call()
    except (TypeError, ValueError):
        return False
    check(result)
    return True


# ---- sound sparse matrices and what they stand for ------------------------------------------


@st.composite
def triplets(draw, square=True):
    m = draw(st.integers(0, 6))
    n = m if square else draw(st.integers(0, 6))
    count = draw(st.integers(0, 12)) if m and n else 0
    rows = draw(st.lists(st.integers(0, m - 1), min_size=count, max_size=count)) if count else []
    cols = draw(st.lists(st.integers(0, n - 1), min_size=count, max_size=count)) if count else []
    values = draw(st.lists(VALUES, min_size=count, max_size=count))
    return (m, n), np.array(rows, dtype=np.int64), np.array(cols, dtype=np.int64), np.array(values)


def dense_of(shape, rows, cols, values):
    """The matrix that the triplets stand for (duplicates summed) and its stored pattern."""
    dense = np.zeros(shape)
    with np.errstate(invalid="ignore"):
        np.add.at(dense, (rows, cols), values)
    stored = np.zeros(shape, dtype=bool)
    stored[rows, cols] = True
    return dense, stored


FORMATS = ["csc", "csr", "coo", "bsr", "dia", "dok", "lil"]


def compressed(kind, shape, rows, cols, values, index):
    """A CSC or CSR matrix built from the triplets in their own order: unsorted, with
    duplicates, its indices a view into a longer array."""
    major, minor = (cols, rows) if kind == "csc" else (rows, cols)
    order = np.argsort(major, kind="stable")
    counts = np.bincount(major, minlength=shape[1 if kind == "csc" else 0])
    indptr = np.concatenate([[0], np.cumsum(counts)]).astype(index)
    longer = np.concatenate([minor[order], [99, -1]]).astype(index)
    cls = sp.csc_matrix if kind == "csc" else sp.csr_matrix
    return cls((values[order], longer[: len(order)], indptr), shape=shape)


@st.composite
def sound_sparse(draw):
    """A square sparse matrix of any format, index and value dtype, with duplicates, stored
    zeros and unsorted indices; its dense value; whether its format keeps every stored entry."""
    shape, rows, cols, values = draw(triplets())
    dtype = draw(st.sampled_from([np.float64, np.float32, np.int64, np.complex128]))
    if dtype is np.int64:
        values = np.nan_to_num(values, nan=4.0, posinf=5.0, neginf=-6.0).round()
    index = draw(st.sampled_from([np.int32, np.int64]))
    kind = draw(st.sampled_from(FORMATS))
    if kind in ("csc", "csr"):
        A = compressed(kind, shape, rows, cols, values.astype(dtype), index)
        if draw(st.booleans()):
            A.has_canonical_format = True  # a flag that lies must not be believed
    else:
        make = draw(st.sampled_from([sp.coo_matrix, sp.coo_array]))
        A = make((values.astype(dtype), (rows.astype(index), cols.astype(index))), shape=shape).asformat(kind)
    dense, stored = dense_of(shape, rows, cols, values)
    return A, dense, stored, kind in ("csc", "csr", "coo")


def entries(S):
    """Rows, columns and values of the CSC matrix S, checking that its rows ascend per column."""
    assert sp.isspmatrix_csc(S)
    cols = np.repeat(np.arange(S.shape[1]), np.diff(S.indptr))
    rows = S.indices.astype(np.int64)
    same_column = cols[1:] == cols[:-1]
    assert np.all(rows[1:][same_column] > rows[:-1][same_column])
    return rows, cols, S.data


@fuzz
@given(sound_sparse())
def test_sound_sparse_matrices_give_the_formula_on_their_pattern(case):
    A, dense, stored, keeps_pattern = case
    before = snapshot(A)
    n = dense.shape[0]
    rows, cols, values = entries(rotalign.nimbrel(A))
    assert_array_equal(values, np.where(rows == cols, 0.0, dense[rows, cols]))
    pattern = np.zeros(dense.shape, dtype=bool)
    pattern[rows, cols] = True
    if keeps_pattern:
        assert_array_equal(pattern, stored)
    else:  # bsr, dia, dok and lil may keep stored zeros or not, but nothing else goes
        assert np.all(pattern[(dense != 0) | np.isnan(dense)])
    if A.dtype.kind != "c":
        P = rotalign.pellor(A, SIGMA)
        assert P.shape == (n, n)
        p_rows, p_cols, p_values = entries(P)
        assert_array_equal(p_rows, rows)
        assert_array_equal(p_cols, cols)
        assert_allclose(p_values, np.exp(-dense[rows, cols] / SIGMA**2), rtol=1e-15)
    assert_unchanged(A, before)


# ---- broken sparse matrices ---------------------------------------------------------------

COMPRESSED_FAULTS = [
    "start beyond the values", "indptr falls", "indptr starts above 0", "index outside",
    "fewer indices", "fewer values", "indptr too short", "indptr too long", "float indices",
    "bool indices", "huge unsigned index", "object values", "string values", "2-D indices",
    "list indptr", "negative shape", "shape of one", "fractional shape",
]
COO_FAULTS = ["index outside", "fewer rows", "fewer values", "float indices", "2-D indices", "object values",
              "negative shape"]


@st.composite
def broken_sparse(draw):
    """A square CSC, CSR or COO matrix whose arrays were then replaced with ones that do not
    describe a matrix of its shape."""
    shape, rows, cols, values = draw(triplets())
    index = draw(st.sampled_from([np.int32, np.int64]))
    kind = draw(st.sampled_from(["csc", "csr", "coo"]))
    stored = len(values)
    if kind == "coo":
        A = sp.coo_matrix((values, (rows.astype(index), cols.astype(index))), shape=shape)
        fault = draw(st.sampled_from(COO_FAULTS))
        hypothesis.assume(stored > 0 or fault in ("float indices", "2-D indices", "object values", "negative shape"))
        if fault == "index outside":
            which = draw(st.sampled_from(["row", "col"]))
            bad = getattr(A, which).astype(np.int64)
            bad[draw(st.integers(0, stored - 1))] = draw(st.sampled_from([-1, shape[0], shape[0] + 7, 2**31, 2**40]))
            setattr(A, which, bad)
        elif fault == "fewer rows":
            A.row = A.row[:-1]
        elif fault == "fewer values":
            A.data = A.data[:-1]
        elif fault == "float indices":
            A.row = A.row.astype(np.float64)
        elif fault == "2-D indices":
            A.col = A.col.reshape(1, -1)
        elif fault == "object values":
            A.data = A.data.astype(object)
        else:
            A._shape = (-shape[0] - 1, shape[1])
        return A
    A = compressed(kind, shape, rows, cols, values, index)
    fault = draw(st.sampled_from(COMPRESSED_FAULTS))
    major = len(A.indptr) - 1
    needs_values = ("start beyond the values", "index outside", "fewer indices", "fewer values", "huge unsigned index")
    hypothesis.assume(stored > 0 or fault not in needs_values)
    hypothesis.assume(major > 0 or fault not in ("start beyond the values", "indptr falls"))
    if fault == "start beyond the values":
        # As [0, 25, 20] with indices a view into a longer array: a column claims more entries
        # than are stored, and the flag says all is in order.
        indptr = A.indptr.copy()
        indptr[draw(st.integers(1, major))] = stored + draw(st.integers(1, 40))
        A.indptr = indptr
        A.has_canonical_format = True
    elif fault == "indptr falls":
        indptr = A.indptr.copy()
        k = draw(st.integers(1, major))
        indptr[k] = indptr[k - 1] - 1 if indptr[k - 1] > 0 else -1
        A.indptr = indptr
    elif fault == "indptr starts above 0":
        A.indptr = A.indptr + 1
    elif fault == "index outside":
        bad = A.indices.astype(np.int64)
        bad[draw(st.integers(0, stored - 1))] = draw(st.sampled_from([-1, -(2**40), shape[0], shape[0] + 99, 2**31, 2**40]))
        A.indices = bad
    elif fault == "fewer indices":
        A.indices = A.indices[:-1]
    elif fault == "fewer values":
        A.data = A.data[:-1]
    elif fault == "indptr too short":
        A.indptr = A.indptr[:-1]
    elif fault == "indptr too long":
        A.indptr = np.append(A.indptr, A.indptr[-1])
    elif fault == "float indices":
        A.indices = A.indices.astype(np.float64)
    elif fault == "bool indices":
        A.indptr = A.indptr.astype(bool)
        hypothesis.assume(not np.array_equal(A.indptr.astype(index), compressed(kind, shape, rows, cols, values, index).indptr))
    elif fault == "huge unsigned index":
        bad = A.indices.astype(np.uint64)
        bad[0] = 2**63 + 1
        A.indices = bad
    elif fault == "object values":
        A.data = A.data.astype(object)
    elif fault == "string values":
        A.data = A.data.astype(str)
    elif fault == "2-D indices":
        A.indices = A.indices.reshape(1, -1)
    elif fault == "list indptr":
        A.indptr = list(A.indptr)
    elif fault == "negative shape":
        A._shape = (-1, shape[1])
    elif fault == "shape of one":
        A._shape = (shape[0],)
    else:
        A._shape = (shape[0] + 0.5, shape[1])
    return A


@fuzz
@given(broken_sparse(), st.sampled_from(["nimbrel", "pellor", "brenmoss"]))
def test_broken_sparse_matrices_are_refused_and_left_as_they_were(A, name):
    before = snapshot(A)
    call = {"nimbrel": lambda: rotalign.nimbrel(A), "pellor": lambda: rotalign.pellor(A, SIGMA),
            "brenmoss": lambda: rotalign.brenmoss(A, 1)}[name]
    with pytest.raises((TypeError, ValueError)):
        call()
    assert_unchanged(A, before)


# ---- the extension's own checks, without the package's -------------------------------------


class Duck:
    """Any object with a format of "csc" reaches the extension's conversion directly."""

    format = "csc"

    def __init__(self, shape, data, indices, indptr):
        self.shape, self.data, self.indices, self.indptr = shape, data, indices, indptr


INDEX_TYPES = [np.int32, np.int64, np.dtype(">i4"), np.dtype(">i8"), np.uint32, np.int16, np.float64]
VALUE_TYPES = [np.float64, np.complex128, np.dtype(">f8"), np.float32, np.int64, np.bool_]


@st.composite
def raw_csc(draw):
    """Arrays that may or may not make a CSC matrix: sound ones from triplets, or ones with
    random lengths, values and types."""
    shape, rows, cols, values = draw(triplets())
    sound = compressed("csc", shape, rows, cols, values, np.int64)
    sound.sum_duplicates()
    parts = [sound.data, sound.indices, sound.indptr]
    for k, types in enumerate([VALUE_TYPES, INDEX_TYPES, INDEX_TYPES]):
        if draw(st.integers(0, 3)) == 0:
            if k:  # small indices, and some beyond 32 bits, cast (and wrapped) to the type
                numbers = st.one_of(st.integers(-3, 9), st.sampled_from([2**31, -(2**31) - 1, 2**40]))
                raw = draw(hnp.arrays(np.int64, st.integers(0, 8), elements=numbers))
                parts[k] = raw.astype(draw(st.sampled_from(types)))
            else:
                parts[k] = draw(hnp.arrays(st.sampled_from(types), st.integers(0, 8)))
        elif k and draw(st.integers(0, 2)) == 0:
            parts[k] = parts[k].astype(draw(st.sampled_from(INDEX_TYPES)))
    if parts[1].dtype != parts[2].dtype and draw(st.booleans()):
        with np.errstate(invalid="ignore"):
            parts[2] = parts[2].astype(parts[1].dtype)
    weird_shape = draw(st.sampled_from([None, None, None, (-1, 2), (2**31, 1), (1,), (1.0, 1), "2x2", [shape[0], shape[1]]]))
    return Duck(shape if weird_shape is None else weird_shape, *parts)


def dense_of_csc(A):
    """The matrix that sound CSC arrays stand for, read with plain indexing (an IndexError here
    means that the extension took arrays that describe no matrix)."""
    dense = np.zeros(A.shape, dtype=A.data.dtype)
    for j in range(A.shape[1]):
        for k in range(int(A.indptr[j]), int(A.indptr[j + 1])):
            dense[int(A.indices[k]), j] = A.data[k]
    return dense


@fuzz
@given(raw_csc())
def test_the_extension_checks_what_reaches_it(A):
    before = {name: getattr(A, name).copy() for name in ("data", "indices", "indptr")}

    def same_matrix(result):
        (Z,) = result
        assert_array_equal(Z.toarray(), clear_diagonal(dense_of_csc(A)))

    took = refused_or(lambda: _toolbox.toolbox.call("nimbrel", 1, [A]), same_matrix)
    if (
        isinstance(A.shape, tuple) and len(A.shape) == 2 and A.shape[0] == A.shape[1]
        and A.data.dtype in (np.float64, np.complex128) and A.data.dtype.isnative
        and A.indices.dtype == A.indptr.dtype and A.indices.dtype in (np.int32, np.int64)
        and A.indices.dtype.isnative
    ):
        try:  # sound arrays, as SciPy's own full check sees them, must be taken
            sp.csc_matrix((A.data.copy(), A.indices.copy(), A.indptr.copy()), shape=A.shape).check_format(True)
            sound = len(A.indptr) == A.shape[1] + 1 and A.indptr[-1] == len(A.indices) == len(A.data)
            sound = sound and all(np.all(np.diff(A.indices[A.indptr[j]:A.indptr[j + 1]]) > 0) for j in range(A.shape[1]))
        except (ValueError, TypeError, IndexError):
            sound = False
        assert took or not sound
    for name, copy in before.items():
        assert_array_equal(getattr(A, name), copy, strict=True)


# ---- dense arrays ---------------------------------------------------------------------------

DENSE_TYPES = st.sampled_from(
    [np.float64, np.float32, np.int32, np.uint8, np.bool_, np.complex128, np.complex64, np.dtype(">f8"),
     np.float16, object, np.str_, np.dtype("datetime64[s]")]
)


@st.composite
def dense_arrays(draw):
    """Arrays of 0 to 3 dimensions and many dtypes, maybe strided, transposed or read-only."""
    dtype = draw(DENSE_TYPES)
    shape = draw(hnp.array_shapes(min_dims=0, max_dims=3, min_side=0, max_side=5))
    kind = np.dtype(dtype).kind
    elements = VALUES if kind in "fc" else st.one_of(VALUES, st.text(max_size=2)) if kind == "O" else None
    A = draw(hnp.arrays(dtype, shape, elements=elements))
    if A.ndim >= 2 and draw(st.booleans()):
        A = A.swapaxes(0, 1)
    if A.ndim >= 1 and draw(st.booleans()):
        A = A[::-1]
    if draw(st.booleans()):
        A.flags.writeable = False
    return A


def clear_diagonal(M):
    """nimbrel's formula in NumPy, in place: the real parts of the first page's diagonal set to
    +0; imaginary parts and further pages carried over."""
    if M.size == 0:
        return M
    page = M.reshape(M.shape[0], M.shape[1], -1)
    if M.shape[0] == M.shape[1]:
        first = page[:, :, 0]
        cleared = np.zeros(M.shape[0], dtype=M.dtype)
        if M.dtype.kind == "c":
            cleared.imag = first.diagonal().imag  # not imag * 1j, which makes 0 * Inf a NaN
        np.fill_diagonal(first, cleared)
    return M


def expected_nimbrel(A):
    M = np.atleast_2d(A).astype(np.complex128 if A.dtype.kind == "c" else np.float64)
    while M.ndim > 2 and M.shape[-1] == 1:  # the host drops trailing singleton dimensions
        M = M[..., 0]
    return clear_diagonal(M)


@fuzz
@given(dense_arrays())
def test_dense_arrays_give_the_formula_or_a_clear_refusal(A):
    before = snapshot(A)
    square = np.atleast_2d(A).shape[0] == np.atleast_2d(A).shape[1]
    took = refused_or(lambda: rotalign.nimbrel(A), lambda Z: assert_array_equal(Z, expected_nimbrel(A), strict=True))
    assert took == (A.dtype.kind in "biufc" and square)
    if A.dtype.kind in "biuf" and A.ndim == 2 and square:
        expected = np.exp(-A.astype(np.float64) / SIGMA**2)
        assert_allclose(rotalign.pellor(A, SIGMA), expected, rtol=1e-15)
    assert_unchanged(A, before)
