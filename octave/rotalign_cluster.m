function [groups, chosen, quality, times] = rotalign_cluster (P, varargin)
% ROTALIGN_CLUSTER  Groups points by spectral clustering with locally scaled affinities.
%
%   groups = rotalign_cluster (P)
%   [groups, chosen, quality, times] = rotalign_cluster (P, name, value, ...)
%
%   P is an N-by-d matrix of points, one point a row (or, with 'distances', an
%   N-by-N symmetric matrix of distances with a zero diagonal). The chain:
%     1. squared Euclidean distances between the points;
%     2. affinities with brenmoss (neighbour count K), olvane, or pellor with
%        a global scale;
%     3. nimbrel clears the diagonal; the normalised affinity D^(-1/2) A D^(-1/2),
%        D the column sums;
%     4. its leading eigenvectors, as many as the largest number of groups
%        (eig up to 128 points, eigs above);
%     5. tarvik on the leading c eigenvectors for c = 2 .. the largest number,
%        each search starting from the previous rotated matrix with the next
%        eigenvector beside it.
%   The number of groups is the largest c whose alignment quality lies within
%   the tolerance of the best quality, unless 'groups' fixes it.
%
%   Options (name, value):
%     'distances'   true: P is a distance matrix                 (false)
%     'affinity'    'brenmoss', 'olvane' or 'pellor'              ('brenmoss')
%     'neighbours'  neighbour count of the local scales          (7)
%     'scale'       global scale of pellor (required with it)
%     'max_groups'  largest number of groups tried               (10)
%     'groups'      take this number of groups instead of choosing (0: choose)
%     'tolerance'   tolerance of the group-count rule            (0.001)
%     'search'      'gradient' or 'numerical'                    ('gradient')
%
%   Outputs: groups, N-by-1 group numbers 1 .. chosen (0 for a point in no
%   group); chosen, the number of groups; quality, the alignment quality for
%   c = 2, 3, ...; times, a struct of seconds per stage.
%
%   The plug-ins (tarvik, brenmoss, olvane, pellor, nimbrel) must be on the path.
%
%   Example
%     t = linspace (0, pi, 200)';
%     P = [cos(t), sin(t); 1 - cos(t), 0.5 - sin(t)];
%     [g, c] = rotalign_cluster (P, 'max_groups', 5);
%
%   See also rotalign_demo, tarvik, brenmoss.

  opts = struct ('distances', false, 'affinity', 'brenmoss', 'neighbours', 7, ...
                 'scale', [], 'max_groups', 10, 'groups', 0, 'tolerance', 0.001, ...
                 'search', 'gradient');
  if mod (numel (varargin), 2) ~= 0
    error ('rotalign_cluster: options come in name, value pairs');
  end
  for k = 1:2:numel (varargin)
    name = varargin{k};
    if ~ischar (name) || ~isfield (opts, name)
      error ('rotalign_cluster: unknown option %s', num2str (name));
    end
    opts.(name) = varargin{k + 1};
  end
  check_options (P, opts);

  n = rows (P);
  largest = opts.max_groups;
  if opts.groups >= 2
    largest = opts.groups;
  end
  times = struct ('distances', 0, 'affinity', 0, 'diagonal', 0, 'normalise', 0, ...
                  'eigen', 0, 'rotation', 0);

  % 1. Squared distances, summed coordinate by coordinate: exactly symmetric.
  t0 = tic ();
  if opts.distances
    D = double (P);
  else
    D = zeros (n, n);
    for k = 1:columns (P)
      D = D + (P(:, k) - P(:, k)') .^ 2;
    end
  end
  times.distances = toc (t0);

  % 2. Affinities.
  t0 = tic ();
  switch opts.affinity
    case 'brenmoss'
      [~, A] = brenmoss (D, opts.neighbours);
    case 'olvane'
      [~, A] = olvane (D, opts.neighbours);
    case 'pellor'
      A = pellor (D, opts.scale);
  end
  clear D;
  times.affinity = toc (t0);

  % 3. Cleared diagonal; normalised affinity. The product of the two scale factors is formed
  % first, so that a symmetric A stays exactly symmetric.
  t0 = tic ();
  A = nimbrel (A);
  times.diagonal = toc (t0);
  t0 = tic ();
  degree = sum (A, 1);
  bad = find (~(degree > 0) | ~isfinite (degree), 1);
  if ~isempty (bad)
    error ('rotalign_cluster: point %d has no affinity to any other point (try a larger scale or neighbour count)', bad);
  end
  s = 1 ./ sqrt (degree);
  L = A .* (s' * s);
  clear A;
  times.normalise = toc (t0);

  % 4. Leading eigenvectors.
  t0 = tic ();
  V = leading_eigenvectors (L, largest);
  clear L;
  times.eigen = toc (t0);

  % 5. Rotation searches for c = 2 .. largest.
  t0 = tic ();
  method = 1;
  if strcmp (opts.search, 'numerical')
    method = 2;
  end
  quality = zeros (1, largest - 1);
  found = cell (1, largest - 1);
  X = V(:, 1:2);
  for c = 2:largest
    [cells, quality(c - 1), rotated] = tarvik (X, method);
    labels = zeros (n, 1);
    for g = 1:numel (cells)
      labels(cells{g}) = g;
    end
    found{c - 1} = labels;
    if c < largest
      X = [rotated, V(:, c + 1)];
    end
  end
  times.rotation = toc (t0);

  if opts.groups >= 2
    chosen = opts.groups;
  else
    chosen = choose_groups (quality, opts.tolerance);
  end
  if chosen == 0
    error ('rotalign_cluster: no rotation search reached a quality that is a number');
  end
  groups = found{chosen - 1};
end

function chosen = choose_groups (quality, tolerance)
  % The largest number of groups whose quality lies within the tolerance of the best;
  % qualities that are not numbers never count. quality(k) belongs to k + 1 groups.
  known = quality(~isnan (quality));
  chosen = 0;
  if isempty (known)
    return;
  end
  chosen = find (quality >= max (known) - tolerance, 1, 'last') + 1;
end

function V = leading_eigenvectors (L, count)
  % eig up to 128 points; eigs on the entries above 1e-12 / n above (dropping them moves no
  % eigenvalue by more than 1e-12). eig takes over when eigs does not converge, and when the
  % graph falls apart: every component then brings its own eigenvalue 1, and one Krylov space
  % holds only one direction of a repeated eigenvalue.
  n = rows (L);
  if n > 128 && count < n
    S = sparse (L .* (abs (L) > 1e-12 / n));
    [~, ~, blocks] = dmperm (S + speye (n));
    connected = numel (blocks) == 2;
  end
  if n > 128 && count < n && connected
    eig_opts = struct ('tol', 1e-10, 'p', min (n, max (4 * count, 20)), 'maxit', 1000, ...
                       'disp', 0);
    [V, E, flag] = eigs ((S + S') / 2, count, 'la', eig_opts);
    if flag == 0
      [~, order] = sort (diag (E), 'descend');
      V = V(:, order);
      return;
    end
  end
  [V, E] = eig ((L + L') / 2);
  [~, order] = sort (diag (E), 'descend');
  V = V(:, order(1:count));
end

function check_options (P, opts)
  n = rows (P);
  if ~isreal (P) || ~isnumeric (P) || ndims (P) ~= 2 || isempty (P)
    error ('rotalign_cluster: the points must be a real, non-empty matrix');
  end
  if any (~isfinite (P(:)))
    [r, ~] = find (~isfinite (P), 1);
    error ('rotalign_cluster: row %d holds a value that is NaN or infinite', r);
  end
  if opts.distances
    if rows (P) ~= columns (P)
      error ('rotalign_cluster: distance matrix is not square: %d rows of %d values', rows (P), columns (P));
    end
    if any (P(:) < 0) || any (diag (P) ~= 0) || ~isequal (P, P')
      error ('rotalign_cluster: the distances must be non-negative and symmetric with a zero diagonal');
    end
  end
  switch opts.affinity
    case 'pellor'
      if isempty (opts.scale) || ~isscalar (opts.scale) || ~(opts.scale > 0) || ~isfinite (opts.scale)
        error ('rotalign_cluster: the global scale must be a positive number');
      end
    case {'brenmoss', 'olvane'}
      K = opts.neighbours;
      if ~isscalar (K) || K ~= fix (K) || K < 1
        error ('rotalign_cluster: the neighbour count must be at least 1');
      end
      if n < K + 1
        error ('rotalign_cluster: %d points are too few for %d neighbours: at least %d are needed', n, K, K + 1);
      end
    otherwise
      error ('rotalign_cluster: the affinity must be brenmoss, olvane or pellor');
  end
  if ~any (strcmp (opts.search, {'gradient', 'numerical'}))
    error ('rotalign_cluster: the search must be gradient or numerical');
  end
  largest = opts.max_groups;
  if opts.groups ~= 0
    if opts.groups < 2 || opts.groups ~= fix (opts.groups)
      error ('rotalign_cluster: the number of groups must be at least 2');
    end
    largest = opts.groups;
  end
  if largest < 2 || largest ~= fix (largest)
    error ('rotalign_cluster: the largest number of groups must be at least 2');
  end
  if largest > n
    error ('rotalign_cluster: %d points cannot form %d groups', n, largest);
  end
  if ~(opts.tolerance >= 0) || ~isfinite (opts.tolerance)
    error ('rotalign_cluster: the tolerance must be a non-negative number');
  end
end

%!function [P, truth] = clouds ()
%!  ## Three clouds of twenty points, interleaved, with a fixed jitter.
%!  centres = [0 0; 6 1; 2 7];
%!  k = (1:20)';
%!  jitter = 0.7 * [cos(2.4 * k) .* sin(0.9 * k), sin(1.7 * k)];
%!  truth = repmat ((1:3)', 20, 1);
%!  P = centres(truth, :) + jitter(ceil ((1:60)' / 3), :);
%!endfunction

%!test
%! [P, truth] = clouds ();
%! [groups, chosen, quality, times] = rotalign_cluster (P, 'max_groups', 5);
%! assert (chosen, 3);
%! assert (numel (quality), 4);
%! assert (quality(2) > 0.99);
%! ## Each cloud is one group.
%! assert (numel (unique (groups)), 3);
%! for g = 1:3
%!   assert (numel (unique (truth(groups == g))), 1);
%! end
%! assert (isfield (times, 'eigen') && isfield (times, 'rotation'));

%!test
%! ## The same groups from the distances, with every affinity and either search.
%! [P, truth] = clouds ();
%! D = (P(:, 1) - P(:, 1)') .^ 2 + (P(:, 2) - P(:, 2)') .^ 2;
%! a = rotalign_cluster (P, 'max_groups', 4);
%! assert (rotalign_cluster (D, 'distances', true, 'max_groups', 4), a);
%! for affinity = {'olvane', 'pellor'}
%!   [g, c] = rotalign_cluster (P, 'affinity', affinity{1}, 'scale', 2, 'max_groups', 4, 'search', 'numerical');
%!   assert (c, 3);
%!   assert (accumarray (g, 1)', [20 20 20]);
%! end
%! [g, c, q] = rotalign_cluster (P, 'groups', 2);
%! assert (c, 2);
%! assert (numel (q), 1);

%!error <5 points are too few for 7 neighbours: at least 8 are needed> rotalign_cluster (rand (5, 2))
%!error <5 points cannot form 10 groups> rotalign_cluster (rand (5, 2), 'neighbours', 2)
%!error <row 2 holds a value that is NaN or infinite> rotalign_cluster ([1 2; NaN 3; 4 5])
%!error <distance matrix is not square: 2 rows of 3 values> rotalign_cluster (zeros (2, 3), 'distances', true)
%!error <the global scale must be a positive number> rotalign_cluster (rand (20, 2), 'affinity', 'pellor')
%!error <unknown option colour> rotalign_cluster (rand (20, 2), 'colour', 1)
%!error <point 1 has no affinity to any other point> rotalign_cluster ([0; 10; 20; 30], 'affinity', 'pellor', 'scale', 0.01, 'max_groups', 2)
