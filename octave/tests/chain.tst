## The plug-ins chained into spectral clustering of well separated point clouds: distances,
## local scaling, zero diagonal, normalised affinity, eigenvectors, rotation.

%!function [P, truth] = clouds ()
%!  ## Three clouds of eight points around distant centres, with a fixed jitter, in an order
%!  ## that interleaves the clouds.
%!  centres = [0 0; 10 0; 5 9];
%!  k = (1:8)';
%!  jitter = 0.8 * [cos(2.4 * k) sin(1.7 * k)];
%!  P = [centres(1, :) + jitter; centres(2, :) + jitter(end:-1:1, :); centres(3, :) - jitter];
%!  truth = kron ((1:3)', ones (8, 1));
%!  order = mod ((0:23) * 7, 24) + 1;
%!  P = P(order, :);
%!  truth = truth(order);
%!endfunction

%!function D = distances (P)
%!  D = sqrt ((P(:, 1) - P(:, 1)') .^ 2 + (P(:, 2) - P(:, 2)') .^ 2);
%!endfunction

%!function [groups, quality] = cluster (A, c, method)
%!  ## The leading eigenvectors of the normalised affinity, rotated towards the axes.
%!  A = full (A);
%!  d = sum (A, 2);
%!  L = A ./ sqrt (d * d');
%!  [V, E] = eig ((L + L') / 2);
%!  [~, order] = sort (diag (E), "descend");
%!  [groups, quality, ~] = tarvik (V(:, order(1:c)), method);
%!endfunction

%!function assert_recovered (groups, truth)
%!  ## Every group is exactly one cloud, and every cloud one group.
%!  c = max (truth);
%!  assert (numel (groups), c);
%!  label = cellfun (@(g) unique (truth(g)), groups, "uniformoutput", false);
%!  assert (all (cellfun (@numel, label) == 1));
%!  assert (sort ([label{:}]), 1:c);
%!  assert (sort ([groups{:}]), 1:numel (truth));
%!endfunction

%!test
%! ## Dense: brenmoss's locally scaled affinities, gradient search.
%! [P, truth] = clouds ();
%! [~, A] = brenmoss (distances (P), 7);
%! [groups, quality] = cluster (nimbrel (A), 3, 1);
%! assert_recovered (groups, truth);
%! assert (quality > 0.99);

%!test
%! ## Sparse: only distances below a radius are stored; olvane's sparse path, numerical search.
%! [P, truth] = clouds ();
%! D = distances (P);
%! S = sparse (D .* (D < 4));
%! [~, A] = olvane (S, 5);
%! assert (issparse (A) && nnz (A) == nnz (S));
%! [groups, quality] = cluster (nimbrel (A), 3, 2);
%! assert_recovered (groups, truth);
%! assert (quality > 0.99);

%!test
%! ## One global scale: pellor on squared distances, then olvane's dense path for comparison.
%! [P, truth] = clouds ();
%! D = distances (P);
%! assert_recovered (cluster (nimbrel (pellor (D .^ 2, 2)), 3, 1), truth);
%! [~, A] = olvane (D, 7);
%! assert_recovered (cluster (nimbrel (A), 3, 2), truth);
