function S = rotalign_knn_graph (P, M, block)
% ROTALIGN_KNN_GRAPH  Sparse matrix of squared distances to each point's nearest neighbours.
%
%   S = rotalign_knn_graph (P, M)
%   S = rotalign_knn_graph (P, M, block)
%
%   P is an N-by-d matrix of points, one point a row. S is the N-by-N sparse
%   matrix whose column j stores the squared Euclidean distances from point j
%   to its M nearest other points, and to every point that has j among its M
%   nearest, so that S is exactly symmetric. The diagonal is not stored. Ties
%   at the M-th distance go to the point of smaller index.
%
%   The distances are formed block by block: BLOCK columns at a time (chosen
%   so that one block of N-by-BLOCK doubles takes about 64 MB when omitted),
%   so memory grows with N times BLOCK, never N times N. Each distance is the
%   sum over the coordinates, in order, of the squared differences, as the
%   dense chain computes it.
%
%   Octave drops stored zeros from sparse matrices, so the distance between
%   two identical points is stored as the smallest positive double, 2^-1074.
%   The plug-ins treat it as zero: brenmoss, olvane and pellor give such a
%   pair the affinity exp(-2^-1074/s) = 1, exactly as for a distance of 0,
%   and a local scale of 2^-1074 meets the lower bound 0.004 of the pairwise
%   scale just as 0 does.
%
%   Used by rotalign_cluster with 'graph', 'knn': brenmoss (S, K) then takes
%   each point's local scale from its K nearest (K <= M), as on the full
%   matrix.
%
%   Example
%     P = [randn(500, 2); randn(500, 2) + 6];
%     S = rotalign_knn_graph (P, 14);
%     [~, A] = brenmoss (S, 7);
%
%   See also rotalign_cluster, brenmoss.

  if nargin < 2
    print_usage ();
  end
  n = rows (P);
  d = columns (P);
  if ~isreal (P) || ~isnumeric (P) || ndims (P) ~= 2 || n == 0 || any (~isfinite (P(:)))
    error ('rotalign_knn_graph: the points must be a real, non-empty matrix of finite numbers');
  end
  if ~isscalar (M) || M ~= fix (M) || M < 1 || M > n - 1
    error ('rotalign_knn_graph: the neighbour count must be a whole number from 1 to %d', n - 1);
  end
  if nargin < 3 || isempty (block)
    block = max (1, floor (8e6 / n));
  end
  P = double (P);

  I = zeros (M, n);
  V = zeros (M, n);
  for first = 1:block:n
    J = first:min (first + block - 1, n);
    D = zeros (n, numel (J));
    for k = 1:d
      D = D + (P(:, k) - P(J, k)') .^ 2;
    end
    % A point is not its own neighbour; sort keeps equal distances in index order.
    D(sub2ind (size (D), J, 1:numel (J))) = Inf;
    [D, order] = sort (D, 1);
    I(:, J) = order(1:M, :);
    V(:, J) = D(1:M, :);
  end
  V(V == 0) = 2 ^ -1074;
  S = sparse (I(:), repmat (1:n, M, 1)(:), V(:), n, n);
  % Both directions of every pair; the two values of a pair are the same double.
  S = max (S, S.');
end

%!test
%! ## Column j holds j's nearest and those that have j as theirs, with the values of the full matrix.
%! P = [0 0; 1 0; 3 0; 7 0; 7 1];
%! S = rotalign_knn_graph (P, 1);
%! D = (P(:, 1) - P(:, 1)') .^ 2 + (P(:, 2) - P(:, 2)') .^ 2;
%! assert (issparse (S));
%! assert (full (S), full (S'));
%! assert (find (S), find (sparse ([0 1 0 0 0; 1 0 1 0 0; 0 1 0 0 0; 0 0 0 0 1; 0 0 0 1 0])));
%! assert (nonzeros (S), D(find (S)));

%!test
%! ## The same graph whatever the block size; ties go to the smaller index.
%! P = [0; 1; 2; 3; 4; 5];
%! S = rotalign_knn_graph (P, 2);
%! assert (isequal (S, rotalign_knn_graph (P, 2, 1)));
%! assert (find (S(:, 1))', [2 3]);
%! assert (find (S(:, 3))', [1 2 4]);
%! ## Point 3 lies as near to 2 as to 4 and takes 2; point 4 takes 3 over 5.
%! S1 = rotalign_knn_graph (P, 1);
%! assert (find (S1(:, 3))', [2 4]);

%!test
%! ## Identical points are neighbours at the smallest positive distance.
%! S = rotalign_knn_graph ([1 1; 1 1; 5 5], 1);
%! assert (full (S(1, 2)), 2 ^ -1074);

%!error <the neighbour count must be a whole number from 1 to 2> rotalign_knn_graph (rand (3, 2), 3)
%!error <finite numbers> rotalign_knn_graph ([1 NaN], 1)
