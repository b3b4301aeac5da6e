## pellor: A = exp(-D / sigma^2) on Octave's dense and sparse arrays.

%!shared D
%! D = [0 1 4; 2.5 0 -1; 9 0.25 0];   # asymmetric, so a transposition shows

%!test
%! ## Bit for bit the kernel, column by column; the sign of sigma does not matter.
%! assert (pellor (D, 2), exp (-D / 4));
%! assert (pellor (D, -2), exp (-D / 4));
%! ## Only the first element of sigma counts.
%! assert (pellor (D, [2 7; 3 5]), exp (-D / 4));
%! ## Negative distances give affinities above 1, unclamped.
%! assert (pellor (D, 1)(2, 3), exp (1));

%!test
%! ## A zero scale follows IEEE arithmetic.
%! assert (pellor ([0 3; -3 0], 0), [NaN 0; Inf NaN]);

%!test
%! ## The input is left as it was: Octave shares its data with the plug-in.
%! D0 = D;
%! S = sparse (D);
%! S0 = S;
%! A = pellor (D, 3);
%! B = pellor (S, 3);
%! assert (D, D0);
%! assert (S, S0);

%!test
%! ## Sparse: the output keeps the input's pattern, an empty column included.
%! S = sparse ([0 0 8; 2 0 0; 0.5 0 0]);
%! A = pellor (S, 1);
%! assert (issparse (A));
%! [i, j, v] = find (A);
%! [i0, j0, v0] = find (S);
%! assert ([i j], [i0 j0]);
%! assert (v, exp (-v0));
%! assert (full (A(2, 2)), 0);   # unstored stays zero affinity

%!test
%! ## A stored zero distance becomes affinity 1 and stays stored. Octave's sparse() drops
%! ## zeros, so the stored zeros come from nimbrel, which keeps the stored diagonal.
%! M = sparse ([5 1 0; 2 6 0; 0 3 0]);
%! Z = nimbrel (M);
%! A = pellor (Z, 1);
%! assert (nnz (A), nnz (M));
%! assert (full (diag (A)), [1; 1; 0]);
%! assert (full (A(2, 1)), exp (-2));

%!test
%! ## Complex input keeps its imaginary parts; only real parts are transformed.
%! C = [0 1; 2 3] + 1i * [5 7; -6 -8];
%! A = pellor (C, 1);
%! assert (real (A), exp (-[0 1; 2 3]));
%! assert (imag (A), [5 7; -6 -8]);

%!test
%! ## Complex sparse input that stores fewer values than it has columns + 1, repeatedly.
%! for n = 1:40
%!   S = sparse (n, 1, 4 - 1.5i, n, n);
%!   A = pellor (S, 1);
%!   assert (nnz (A), 1);
%!   assert (full (A(n, 1)), exp (-4) - 1.5i);
%! endfor
%! A = pellor (sparse ([], [], complex ([]), 3, 3), 1);
%! assert (issparse (A) && nnz (A) == 0 && isequal (size (A), [3 3]));

%!test
%! ## Only the first page of an N-by-N-by-P array is transformed.
%! P = reshape (0:7, 2, 2, 2);
%! A = pellor (P, 1);
%! assert (A(:, :, 1), exp (-[0 2; 1 3]));
%! assert (A(:, :, 2), [4 6; 5 7]);
%! ## An N-by-N-by-0 array holds no page at all: its copy comes back untouched.
%! assert (pellor (zeros (3, 3, 0), 1), zeros (3, 3, 0));

%!test
%! ## Empty and 1-by-1 matrices.
%! assert (pellor (zeros (0, 0), 1), zeros (0, 0));
%! assert (size (pellor (sparse (0, 0), 1)), [0 0]);
%! assert (pellor (3, 3), exp (-3 / 9));

%!test
%! ## The help text sits beside the compiled function and shows the call.
%! assert (! isempty (strfind (get_help_text ("pellor"), "A = pellor(D, sigma)")));

%!error <pellor: Too few output arguments\.> pellor (D, 1)
%!error <Too many output arguments\.> [a, b] = pellor (D, 1);
%!error <Too few input arguments\.> A = pellor (D);
%!error <Too many input arguments\.> A = pellor (D, 1, 2);
%!error <Distance matrix must be square> A = pellor (ones (2, 3), 1);
%!error <Distance matrix must be of class double> A = pellor (single (D), 1);
%!error <Distance matrix must be of class double> A = pellor (int32 (D), 1);
%!error <Distance matrix must be of class double> A = pellor (sparse (D > 1), 1);
%!error <Distance matrix must be of class double> A = pellor ({1}, 1);
