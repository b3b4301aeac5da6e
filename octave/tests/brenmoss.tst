## brenmoss: locally scaled distances, affinities exp(-d/s) and scales s = max(sqrt(si*sj), 0.004).

%!shared D, S
%! D = [0 1 4; 1 0 2; 4 2 0];
%! ## With K = 1 the local scales are sigma = [1 1 2]; the pairwise scales follow.
%! S = sqrt ([1 1 2]' .* [1 1 2]);

%!test
%! ## Dense worked example, bit for bit.
%! [scaled, affinities, scales] = brenmoss (D, 1);
%! assert (scales, S);
%! assert (scaled, D ./ S);
%! assert (affinities, exp (-(D ./ S)));
%! assert (scaled(1, 3), 2 * sqrt (2), -2 * eps);
%! ## Fewer outputs give the same leading values; K is truncated toward zero.
%! assert (brenmoss (D, 1.9), scaled);
%! [scaled2, affinities2] = brenmoss (D, 1);
%! assert ({scaled2, affinities2}, {scaled, affinities});

%!test
%! ## Sparse without the diagonal: the same values at the six stored positions, and the
%! ## diagonal stays unstored in every output.
%! P = sparse (D);
%! [scaled, affinities, scales] = brenmoss (P, 1);
%! assert (issparse (scaled) && issparse (affinities) && issparse (scales));
%! [i0, j0] = find (P);
%! for out = {scaled, affinities, scales}
%!   [i, j] = find (out{1});
%!   assert ([i j], [i0 j0]);
%! endfor
%! assert (full (scaled), D ./ S .* (D != 0));
%! assert (full (affinities), exp (-(D ./ S)) .* (D != 0));
%! assert (full (scales), S .* (D != 0));

%!test
%! ## Sparse with K above a column's stored count: each scale is the column's largest value.
%! [~, ~, scales] = brenmoss (sparse (D), 3);
%! assert (full (scales), sqrt ([4 2 4]' .* [4 2 4]) .* (D != 0));

%!test
%! ## Sixty points: a dense matrix with a zero diagonal and its sparse form without the diagonal
%! ## select the same local scales at every K, and the dense diagonal scale is the column's
%! ## (K+1)-th smallest distance.
%! t = (1:60)';
%! P = [t .* cos(0.7 * t), sin(1.3 * t)];
%! E = sqrt ((P(:, 1) - P(:, 1)') .^ 2 + (P(:, 2) - P(:, 2)') .^ 2);
%! sorted = sort (E);
%! for K = [1 2 5 17 59]
%!   [a, b, c] = brenmoss (E, K);
%!   [as, bs, cs] = brenmoss (sparse (E), K);
%!   assert (diag (c)', max (sorted(K + 1, :), 0.004));
%!   off = E != 0;
%!   assert ({full(as), full(bs), full(cs)}, {a .* off, b .* off, c .* off});
%! endfor

%!test
%! ## Dense with K = 0: every local scale is the zero diagonal, so the bound 0.004 applies.
%! [scaled, ~, scales] = brenmoss (D, 0);
%! assert (scales, 0.004 * ones (3));
%! assert (scaled, D / 0.004);
%! assert (brenmoss (D, -0.5), scaled);   # truncates to 0

%!test
%! ## A sparse column without stored values has scale 0; its point's entries elsewhere take
%! ## the bound.
%! P = sparse ([1 3 2], [2 2 3], [3 1 1], 3, 3);
%! [scaled, ~, scales] = brenmoss (P, 1);
%! assert (full (scales), [0 0.004 0; 0 0 1; 0 1 0]);
%! assert (full (scaled), [0 750 0; 0 0 1; 0 1 0]);

%!test
%! ## A negative product of local scales gives a NaN scale, which the bound does not hide.
%! [scaled, affinities, scales] = brenmoss ([-3 1; 1 2], 0);
%! assert (scales, [3 NaN; NaN 1]);
%! assert (scaled, [-1 NaN; NaN 2]);
%! assert (affinities, [exp(1) NaN; NaN exp(-2)]);

%!test
%! ## The inputs are left as they were: Octave shares their data with the plug-in.
%! D0 = D;
%! P = sparse (D);
%! P0 = P;
%! [a, b, c] = brenmoss (D, 1);
%! [a, b, c] = brenmoss (P, 1);
%! assert (D, D0);
%! assert (P, P0);

%!test
%! ## Complex input keeps its imaginary parts; only the first page of an array is written.
%! [scaled, affinities] = brenmoss (D + 1i * magic (3), 1);
%! assert (real (scaled), D ./ S);
%! assert (imag (scaled), magic (3));
%! assert (imag (affinities), magic (3));
%! A = brenmoss (cat (3, D, 7 * ones (3)), 1);
%! assert (A(:, :, 1), D ./ S);
%! assert (A(:, :, 2), 7 * ones (3));
%! ## An N-by-N-by-0 array holds no page at all: its copies come back untouched.
%! [a, b, c] = brenmoss (zeros (3, 3, 0), 1);
%! assert ({a, b, c}, {zeros(3, 3, 0), zeros(3, 3, 0), zeros(3, 3, 0)});

%!test
%! ## Complex sparse input that stores fewer values than it has columns + 1, repeatedly.
%! for n = 2:30
%!   P = sparse ([1 n], [n 1], [2 + 1i, 8 - 2i], n, n);
%!   [scaled, affinities, scales] = brenmoss (P, 1);
%!   assert (nnz (scaled) == 2 && nnz (affinities) == 2 && nnz (scales) == 2);
%!   ## sigma is 8 for point 1, 2 for point n; every output keeps the imaginary parts.
%!   assert (full ([scales(1, n) scales(n, 1)]), [4 + 1i, 4 - 2i]);
%!   assert (full ([scaled(1, n) scaled(n, 1)]), [0.5 + 1i, 2 - 2i]);
%! endfor

%!test
%! ## Empty matrices give empty copies, whatever K.
%! [a, b, c] = brenmoss (zeros (0, 0), 7);
%! assert ({a, b, c}, {zeros(0, 0), zeros(0, 0), zeros(0, 0)});
%! assert (size (brenmoss (sparse (0, 0), 0)), [0 0]);

%!test
%! ## The help text sits beside the compiled function and shows the call.
%! assert (! isempty (strfind (get_help_text ("brenmoss"), "[scaled, affinities, scales] = brenmoss(D, K)")));

%!error <brenmoss: Too few output arguments\.> brenmoss (D, 1)
%!error <Too many output arguments\.> [a, b, c, d] = brenmoss (D, 1);
%!error <Too few input arguments\.> A = brenmoss (D);
%!error <Too many input arguments\.> A = brenmoss (D, 1, 2);
%!error <Distance matrix must be square> A = brenmoss (ones (3, 4), 1);
%!error <Distance matrix must be of class double> A = brenmoss (single (D), 1);
%!error <Distance matrix must be of class double> A = brenmoss (sparse (D > 1), 1);
%!error <Neighbour count must be from 0 to N-1 for a dense distance matrix> A = brenmoss (D, 3);
%!error <Neighbour count must be from 0 to N-1 for a dense distance matrix> A = brenmoss (D, -1);
%!error <Neighbour count must be from 0 to N-1 for a dense distance matrix> A = brenmoss (D, NaN);
%!error <Neighbour count must be from 0 to N-1 for a dense distance matrix> A = brenmoss (D, -Inf);
%!error <Neighbour count must be at least 1 for a sparse distance matrix> A = brenmoss (sparse (D), 0.5);
%!error <Neighbour count must be at least 1 for a sparse distance matrix> A = brenmoss (sparse (D), NaN);
