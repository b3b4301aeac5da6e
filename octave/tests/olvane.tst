## olvane: on dense input the mean scale s = (si + sj) / 2 and affinities exp(-(d/s)^2);
## on sparse input exactly what brenmoss computes.

%!shared D, S
%! D = [0 1 4; 1 0 2; 4 2 0];
%! ## With K = 1 the local scales are sigma = [1 1 2]; the pairwise scales are their means.
%! S = ([1 1 2]' + [1 1 2]) * 0.5;

%!test
%! ## Dense worked example, bit for bit.
%! [scaled, affinities, scales] = olvane (D, 1);
%! assert (scales, [1 1 1.5; 1 1 1.5; 1.5 1.5 2]);
%! assert (scaled, D ./ S);
%! assert (scaled, [0 1 8/3; 1 0 4/3; 8/3 4/3 0], -eps);
%! assert (affinities, exp (-((D ./ S) .^ 2)));
%! assert (olvane (D, 1), scaled);

%!test
%! ## Sparse input gives exactly brenmoss's results, so the two forms of one matrix differ.
%! P = sparse (D);
%! for K = [1 2 3]
%!   [a1, b1, c1] = olvane (P, K);
%!   [a2, b2, c2] = brenmoss (P, K);
%!   assert ({a1, b1, c1}, {a2, b2, c2});
%! endfor
%! [scaled, affinities] = olvane (P, 1);
%! assert (full (scaled(3, 1)), 2 * sqrt (2), -2 * eps);
%! assert (full (affinities(3, 1)), exp (-(4 / sqrt (2))));

%!test
%! ## Dense with K = 0: every scale is 0, with no lower bound; the division follows IEEE rules.
%! [scaled, affinities, scales] = olvane (D, 0);
%! assert (scales, zeros (3));
%! assert (scaled, [NaN Inf Inf; Inf NaN Inf; Inf Inf NaN]);
%! assert (affinities, [NaN 0 0; 0 NaN 0; 0 0 NaN]);

%!test
%! ## The inputs are left as they were: Octave shares their data with the plug-in.
%! D0 = D;
%! P = sparse (D);
%! P0 = P;
%! [a, b, c] = olvane (D, 2);
%! [a, b, c] = olvane (P, 2);
%! assert (D, D0);
%! assert (P, P0);

%!test
%! ## Complex dense input keeps its imaginary parts.
%! [scaled, ~, scales] = olvane (D + 2i, 1);
%! assert (scaled, D ./ S + 2i);
%! assert (scales, S + 2i);

%!test
%! ## Complex sparse input that stores fewer values than it has columns + 1, repeatedly.
%! for n = 2:30
%!   P = sparse ([1 n], [n 1], [2 + 1i, 8 - 2i], n, n);
%!   [scaled, affinities, scales] = olvane (P, 1);
%!   assert (nnz (scaled) == 2 && nnz (affinities) == 2 && nnz (scales) == 2);
%!   assert (full ([scales(1, n) scales(n, 1)]), [4 + 1i, 4 - 2i]);
%!   assert (full ([scaled(1, n) scaled(n, 1)]), [0.5 + 1i, 2 - 2i]);
%! endfor

%!test
%! ## Empty matrices give empty copies.
%! assert (olvane (zeros (0, 0), -4), zeros (0, 0));

%!test
%! ## The help text sits beside the compiled function and shows the call.
%! assert (! isempty (strfind (get_help_text ("olvane"), "[scaled, affinities, scales] = olvane(D, K)")));

%!error <olvane: Too few output arguments\.> olvane (D, 1)
%!error <Too many output arguments\.> [a, b, c, d] = olvane (D, 1);
%!error <Too few input arguments\.> A = olvane ();
%!error <Too many input arguments\.> A = olvane (D, 1, 2);
%!error <Distance matrix must be square> A = olvane (zeros (2, 3), 1);
%!error <Distance matrix must be of class double> A = olvane (int16 (D), 1);
%!error <Neighbour count must be from 0 to N-1 for a dense distance matrix> A = olvane (D, 3.5);
%!error <Neighbour count must be from 0 to N-1 for a dense distance matrix> A = olvane (D, Inf);
%!error <Neighbour count must be at least 1 for a sparse distance matrix> A = olvane (sparse (D), 0);
%!error <Neighbour count must be at least 1 for a sparse distance matrix> A = olvane (sparse (D), -3);
