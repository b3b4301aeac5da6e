## tarvik: rotation of eigenvectors towards the axes, the groups of the rows and the quality.

%!function q = alignment_quality (Y)
%!  ## The quality measure, summed in the same column-major order as the plug-in.
%!  [n, c] = size (Y);
%!  M = max (Y .^ 2, [], 2);
%!  J = sum ((Y(:) .^ 2) ./ repmat (M, c, 1));
%!  q = 1 - (J / n - 1) / c;
%!endfunction

%!function g = dominant_groups (Y)
%!  ## Each row to the column of its largest square, the later column on ties.
%!  [n, c] = size (Y);
%!  [~, last] = max (fliplr (Y .^ 2), [], 2);
%!  owner = c + 1 - last;
%!  g = arrayfun (@(j) find (owner == j)', 1:c, "uniformoutput", false);
%!endfunction

%!shared R
%! t = 0.3;
%! R = [cos(t) -sin(t); sin(t) cos(t)];

%!test
%! ## The identity is aligned from the start; neither method moves it.
%! for method = {{}, {2}}
%!   [groups, quality, rotated] = tarvik (eye (2), method{1}{:});
%!   assert (groups, {1, 2});
%!   assert (quality, 1);
%!   assert (rotated, eye (2));
%! endfor

%!test
%! ## A matrix rotated by 0.3: the numerical search steps back by three steps of 0.1.
%! [groups, quality, rotated] = tarvik (R, 2);
%! assert (groups, {1, 2});
%! assert (quality, 1);
%! assert (rotated, eye (2), 1e-15);
%! ## The gradient search gets there too, to within 1e-9.
%! [groups, quality, rotated] = tarvik (R);
%! assert (groups, {1, 2});
%! assert (quality, 1, 1e-9);
%! assert (rotated, eye (2), 1e-8);

%!test
%! ## The selector is truncated toward zero: only 2 selects the numerical search.
%! [~, ~, numerical] = tarvik (R, 2);
%! [~, ~, gradient] = tarvik (R);
%! assert (! isequal (numerical, gradient));
%! [~, ~, r] = tarvik (R, 2.7);
%! assert (r, numerical);
%! for method = [1 1.9 3 0 -2]
%!   [~, ~, r] = tarvik (R, method);
%!   assert (r, gradient);
%! endfor

%!test
%! ## One column: nothing to rotate, one group of all rows.
%! X = [1; -2; 3; 0.5];
%! [groups, quality, rotated] = tarvik (X);
%! assert (groups, {1:4});
%! assert (quality, 1);
%! assert (rotated, X);

%!test
%! ## No columns: an empty cell, a quality of +Inf and an n-by-0 matrix.
%! [groups, quality, rotated] = tarvik (zeros (3, 0));
%! assert (groups, cell (1, 0));
%! assert (quality, Inf);
%! assert (size (rotated), [3 0]);
%! ## No rows: every group is empty.
%! [groups, ~, rotated] = tarvik (zeros (0, 2));
%! assert (groups, {zeros(1, 0), zeros(1, 0)});
%! assert (size (rotated), [0 2]);

%!test
%! ## A row of zeros makes the quality NaN: X comes back unrotated and the zero row lands
%! ## in the last group.
%! X = [1 0.2; 0 0; 0.3 1];
%! [groups, quality, rotated] = tarvik (X, 2);
%! assert (isnan (quality));
%! assert (rotated, X);
%! assert (groups, {1, [2 3]});

%!test
%! ## On a general matrix, with either method: the quality is that of the rotated matrix, the
%! ## rotation keeps row lengths, the groups follow the rotated rows, and X is unchanged.
%! X = [0.9 0.3 -0.2; 0.8 -0.4 0.1; -0.1 0.7 0.5; 0.2 0.9 -0.3; 0.3 -0.2 0.8; -0.1 0.4 0.9];
%! X0 = X;
%! for method = [1 2]
%!   [groups, quality, rotated] = tarvik (X, method);
%!   assert (X, X0);
%!   assert (quality, alignment_quality (rotated));
%!   assert (quality >= alignment_quality (X));
%!   assert (sum (rotated .^ 2, 2), sum (X .^ 2, 2), 1e-14);
%!   assert (groups, dominant_groups (rotated));
%!   assert (sort ([groups{:}]), 1:6);
%! endfor

%!test
%! ## Sizes beyond 32-bit counts are refused before anything is allocated.
%! fail ("[g, q, r] = tarvik (zeros (2^31, 0))", "Eigenvector matrix has too many rows");
%! fail ("[g, q, r] = tarvik (zeros (0, 46342))", "Eigenvector matrix has too many columns");
%! ## An n-by-c-by-0 array holds none of the values its first two dimensions promise.
%! fail ("[g, q, r] = tarvik (zeros (2, 2, 0))", "Eigenvector matrix has fewer values than rows times columns");

%!test
%! ## The help text sits beside the compiled function and shows the call.
%! assert (! isempty (strfind (get_help_text ("tarvik"), "[groups, quality, rotated] = tarvik(X, method)")));

%!error <tarvik: Too few output arguments\.> tarvik (eye (2))
%!error <Too few output arguments\.> [g, q] = tarvik (eye (2));
%!error <Too many output arguments\.> [g, q, r, s] = tarvik (eye (2));
%!error <Too few input arguments\.> [g, q, r] = tarvik ();
%!error <Too many input arguments\.> [g, q, r] = tarvik (eye (2), 1, 2);
%!error <Eigenvector matrix must be of class double> [g, q, r] = tarvik (single (eye (2)));
%!error <Eigenvector matrix must be of class double> [g, q, r] = tarvik ({1});
%!error <Eigenvector matrix must not be sparse> [g, q, r] = tarvik (speye (2));
%!error <Eigenvector matrix has too many columns> [g, q, r] = tarvik (zeros (1, 46342));
