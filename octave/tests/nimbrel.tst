## nimbrel: a copy with the diagonal set to +0 on Octave's dense and sparse arrays.

%!test
%! ## Dense: the diagonal is cleared, every other value copied, NaN and Inf included.
%! M = [-0 NaN 3; Inf NaN 6; -Inf 8 Inf];
%! Z = nimbrel (M);
%! assert (Z, [0 NaN 3; Inf 0 6; -Inf 8 0]);
%! ## +0, not -0, on the diagonal.
%! assert (1 ./ diag (Z), Inf (3, 1));

%!test
%! ## The input is left as it was: Octave shares its data with the plug-in.
%! M = magic (4);
%! M0 = M;
%! S = sparse (M);
%! S0 = S;
%! Z = nimbrel (M);
%! Y = nimbrel (S);
%! assert (M, M0);
%! assert (S, S0);

%!test
%! ## Sparse: the pattern is kept; a stored diagonal value stays stored as an explicit zero.
%! M = sparse ([1 0 2 0; 0 0 0 0; 3 4 5 0; 0 0 6 7]);
%! Z = nimbrel (M);
%! assert (issparse (Z));
%! assert (nnz (Z), nnz (M));
%! [i, j, v] = find (Z);
%! [i0, j0, v0] = find (M);
%! assert ([i j], [i0 j0]);
%! off = i != j;
%! assert (v(off), v0(off));
%! assert (v(! off), zeros (3, 1));
%! assert (full (Z), full (M) - diag (diag (full (M))));
%! ## Octave's own arithmetic drops the stored zeros again.
%! assert (nnz (Z + 0), nnz (M) - 3);

%!test
%! ## A sparse matrix without stored diagonal values comes back equal.
%! M = sparse ([0 1 0; 2 0 0; 0 3 0]);
%! assert (nimbrel (M), M);

%!test
%! ## Complex input keeps its imaginary parts, those on the diagonal too.
%! C = [1 2; 3 4] + 1i * [5 6; 7 8];
%! assert (nimbrel (C), [0 2; 3 0] + 1i * [5 6; 7 8]);
%! S = sparse ([1 0; 0 0] + 1i * [2 0; 0 0]);
%! Z = nimbrel (S);
%! assert (nnz (Z), 1);
%! assert (full (Z), [2i 0; 0 0]);

%!test
%! ## Complex sparse input that stores fewer values than it has columns + 1, repeatedly.
%! for n = 1:40
%!   S = sparse (1, n, 2 + 3i, n, n);
%!   Z = nimbrel (S);
%!   assert (nnz (Z), 1);
%!   assert (full (Z(1, n)), (n > 1) * 2 + 3i);
%! endfor

%!test
%! ## Only the first page of an N-by-N-by-P array is touched.
%! P = reshape (1:8, 2, 2, 2);
%! Z = nimbrel (P);
%! assert (Z(:, :, 1), [0 3; 2 0]);
%! assert (Z(:, :, 2), [5 7; 6 8]);
%! ## An N-by-N-by-0 array holds no page at all: its copy comes back untouched.
%! assert (nimbrel (zeros (4, 4, 0)), zeros (4, 4, 0));

%!test
%! ## Empty and 1-by-1 matrices.
%! assert (nimbrel (zeros (0, 0)), zeros (0, 0));
%! assert (nimbrel (-7), 0);
%! assert (full (nimbrel (sparse (5))), 0);

%!test
%! ## The help text sits beside the compiled function and shows the call.
%! assert (! isempty (strfind (get_help_text ("nimbrel"), "Z = nimbrel(M)")));

%!error <nimbrel: Too few output arguments\.> nimbrel (1)
%!error <Too many output arguments\.> [a, b] = nimbrel (1);
%!error <Too few input arguments\.> Z = nimbrel ();
%!error <Too many input arguments\.> Z = nimbrel (1, 2);
%!error <Input matrix must be square> Z = nimbrel (ones (3, 2));
%!error <Input matrix must be of class double> Z = nimbrel (single (1));
%!error <Input matrix must be of class double> Z = nimbrel (uint8 ([1 2; 3 4]));
%!error <Input matrix must be of class double> Z = nimbrel (true (2));
