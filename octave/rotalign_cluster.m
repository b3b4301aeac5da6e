function [groups, chosen, quality, times, values, note, info] = rotalign_cluster (P, varargin)
% ROTALIGN_CLUSTER  Groups points by spectral clustering with locally scaled affinities.
%
%   groups = rotalign_cluster (P)
%   [groups, chosen, quality, times, values, note, info] = rotalign_cluster (P, name, value, ...)
%
%   P is an N-by-d matrix of points, one point a row (or, with 'distances', an
%   N-by-N symmetric matrix of distances with a zero diagonal). The chain:
%     1. squared Euclidean distances between the points: all N-by-N of them
%        (graph 'dense'), or a sparse matrix of each point's nearest
%        neighbours (graph 'knn', rotalign_knn_graph, built block by block so
%        that memory grows with N, not N^2);
%     2. affinities with brenmoss (neighbour count K), olvane, or pellor with
%        a global scale;
%     3. nimbrel clears the diagonal; the normalised affinity D^(-1/2) A D^(-1/2),
%        D the column sums;
%     4. its leading eigenpairs, one more than the largest number of groups
%        (eig up to 128 points, eigs above; on the sparse graph, component by
%        component, eigs in shift-invert mode); every block of nearly repeated
%        eigenvalues gets a basis that depends on its space alone;
%     5. tarvik for every c = 2 .. the largest number that ends a block (and
%        the largest), each search starting from the rotated matrix of the
%        previous block's end with the new block beside it.
%   The number of groups: c is a candidate where the eigenvalue after the
%   leading c lies more than 1e-4 below 1 and more than 1.05 times as far from
%   1 as eigenvalue c; when some candidates are strong (1.5 times as far),
%   only they remain; of those, the most groups whose quality lies within the
%   tolerance of the best. With no candidate but a clear cut after the first
%   eigenvalue the answer is one group. 'groups' fixes the number instead.
%   Points in pieces of the graph with fewer than 'min_group_size' points are
%   set aside before step 4; counts with a group that small are no candidates
%   (unless every count has one), and such a group of the chosen count is
%   dissolved: those points are in no group (0).
%   The graph 'auto' on points (without 'graph_neighbours'), as the program
%   does: the chain on the knn graphs of 7, 10, 15, 20 and 30 neighbours (not
%   below 'neighbours', below N / 2), each scored (lambda_c - lambda_c+1) /
%   (1 - lambda_last) at the count c chosen on it; among the graphs whose count
%   another candidate confirms (all when none is), the count of the largest
%   summed score, on its best-scored graph; told the count ('groups'), the
%   graph whose rotation reaches the best quality at it. Above 4000
%   points the choice runs on 4000 points drawn at random (fixed seed; not the
%   program's draw), and every other point takes the group of its nearest
%   sampled point.
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
%     'graph'       'dense', 'knn', or 'auto' (see above; on distances
%                   knn from 5000 points)                       ('auto')
%     'graph_neighbours'  nearest neighbours per point of the knn graph
%                   (twice 'neighbours'; at least 'neighbours')
%     'standardise' true: every column shifted to zero mean and divided by
%                   its spread (population standard deviation) before the
%                   distances, for columns in different units; a column of
%                   zero spread is only shifted                     (false)
%     'min_group_size'  the smallest group (0: 1% of the points, at least 2;
%                   1: any size)                                 (0)
%
%   Outputs: groups, N-by-1 group numbers 1 .. chosen (0 for a point in no
%   group); chosen, the number of groups; quality, the alignment quality for
%   c = 2, 3, ... (NaN where no search ran); times, a struct of seconds per
%   stage; values, the leading eigenvalues; note, why the choice is not an
%   ordinary one ('' when it is); info, a struct: runner_up (the best other
%   count, 0 for none), margin (the chosen count's quality less its quality),
%   clear (false when no count stands clear: a margin below 0.01, unless the
%   chosen count is a strong cut and the runner-up is not), min_group_size,
%   stray (points in no group), graph_neighbours (0 on the dense graph),
%   candidates (the automatic graph's rows [neighbours, count, score,
%   confirmed]) and choice_points (the points the choice ran on).
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
                 'search', 'gradient', 'graph', 'auto', 'graph_neighbours', 0, ...
                 'standardise', false, 'min_group_size', 0);
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
  if opts.standardise
    P = standardised (P);
    opts.standardise = false;  % once, on all points, not again on a sample
  end
  if ~opts.distances && strcmp (opts.graph, 'auto') && opts.graph_neighbours == 0
    [groups, chosen, quality, times, values, note, info, done] = chosen_graph (P, opts);
    if done
      return;
    end
  end
  [groups, chosen, quality, times, values, note, info] = chain (P, opts);
end

function [groups, chosen, quality, times, values, note, info] = chain (P, opts)
  % The chain on the graph that opts give.
  sparse_graph = strcmp (opts.graph, 'knn') || (strcmp (opts.graph, 'auto') && ~opts.distances ...
                                                && rows (P) >= knn_from ());
  if opts.graph_neighbours == 0
    opts.graph_neighbours = min (rows (P) - 1, 2 * opts.neighbours);
  end
  rule = struct ('tolerance', opts.tolerance, 'near_one', 1e-4, 'near_one_share', 1e-3, 'noise', 1e-9, ...
                 'repeated_ratio', 1.05, ...
                 'strong_ratio', 1.5);

  n = rows (P);
  largest = opts.max_groups;
  if opts.groups >= 2
    largest = opts.groups;
  end
  times = struct ('distances', 0, 'affinity', 0, 'diagonal', 0, 'normalise', 0, ...
                  'eigen', 0, 'rotation', 0, 'choice', 0);
  min_size = opts.min_group_size;
  if min_size == 0
    min_size = max (2, ceil (n / 100));
  end
  rule.min_group_size = min_size;
  rule.clear_margin = 0.01;

  % 1. Squared distances, summed coordinate by coordinate: exactly symmetric.
  t0 = tic ();
  if opts.distances
    D = double (P);
  elseif sparse_graph
    D = rotalign_knn_graph (P, opts.graph_neighbours);
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
  if issparse (A)
    [i, j, a] = find (A);
    L = sparse (i, j, a .* (s(i)' .* s(j)'), n, n);
  else
    L = A .* (s' * s);
  end
  clear A;
  times.normalise = toc (t0);

  % Pieces of the graph too small to be a group are set aside: nothing links them to the rest,
  % so the normalised affinity of the rest is a submatrix of L.
  all_points = n;
  left_out = small_pieces (L, min_size);
  if any (left_out) && n - nnz (left_out) >= max (largest + 1, min_size)
    L = L(~left_out, ~left_out);
    n = rows (L);
  else
    left_out = false (all_points, 1);
  end

  % 4. Leading eigenpairs, one beyond the largest number of groups. Every component of the graph
  % brings an eigenvalue 1: when even the last one is 1, there are more components than groups.
  t0 = tic ();
  wanted = min (n, largest + 1);
  if issparse (L)
    [V, values] = sparse_leading_eigenvectors (L, wanted);
  else
    [V, values] = leading_eigenvectors (L, wanted);
  end
  components = 0;
  if wanted > largest && 1 - values(end) <= rule.near_one
    components = count_components (L);
  end
  clear L;
  starts = eigenvalue_blocks (values, rule);
  V = canonical_basis (V, starts);
  times.eigen = toc (t0);

  % 5. Rotation searches where a block ends, and for the largest c; inside a block the space of
  % the leading c eigenvectors is not well defined.
  t0 = tic ();
  method = 1;
  if strcmp (opts.search, 'numerical')
    method = 2;
  end
  quality = NaN (1, largest - 1);
  found = cell (1, largest - 1);
  anchor = zeros (n, 0);
  for c = 2:largest
    at_end = any (starts == c);
    if ~at_end && c < largest
      continue;
    end
    X = [anchor, V(:, columns(anchor) + 1:c)];
    [cells, quality(c - 1), rotated] = tarvik (X, method);
    labels = zeros (n, 1);
    for g = 1:numel (cells)
      labels(cells{g}) = g;
    end
    found{c - 1} = labels;
    if at_end
      anchor = rotated;
    end
  end
  times.rotation = toc (t0);

  note = '';
  info = struct ('runner_up', 0, 'margin', 0, 'clear', true, 'min_group_size', min_size, 'stray', 0, ...
                 'graph_neighbours', 0, 'candidates', zeros (0, 4), 'choice_points', 0);
  if sparse_graph
    info.graph_neighbours = opts.graph_neighbours;
  end
  if opts.groups >= 2
    chosen = opts.groups;
    if ~clear_cut (values, chosen, rule)
      note = sprintf ('eigenvalue %d is (nearly) repeated by the next one: %d groups split points that the eigenvectors do not tell apart', chosen, chosen);
    end
  else
    if components > largest
      error ('rotalign_cluster: the affinity graph falls apart into %d components, more than the %d groups tried: allow %d or more groups (''max_groups'', %d), or use a larger neighbour count', ...
             components, largest, components, components);
    end
    smallest = zeros (1, numel (found));
    for k = 1:numel (found)
      if ~isempty (found{k})
        smallest(k) = min (accumarray (found{k}(found{k} > 0), 1, [k + 1, 1]));
      end
    end
    [chosen, note, info.runner_up, info.margin, info.clear] = choose_groups (values, quality, rule, smallest);
    if chosen == 0
      error ('rotalign_cluster: no number of groups from 2 to %d has eigenvalues that stand apart and a quality that is a number', largest);
    end
  end
  if chosen == 1
    kept = ones (n, 1);
  else
    kept = found{chosen - 1};
  end
  groups = zeros (all_points, 1);
  groups(~left_out) = kept;
  if opts.groups < 2
    [groups, chosen, note] = drop_small_groups (groups, chosen, min_size, note);
  end
  info.stray = nnz (groups == 0);
end

function [groups, chosen, quality, times, values, note, info, done] = chosen_graph (P, opts)
  % The automatic graph, as the program chooses it (see the help above).
  t0 = tic ();
  groups = []; chosen = 0; quality = []; times = []; values = []; note = ''; info = [];
  n = rows (P);
  sample = 4000;
  on = P;
  if n > sample
    state = rand ('state');
    rand ('state', 1);
    on = P(sort (randperm (n, sample)), :);
    rand ('state', state);
  end
  min_size = opts.min_group_size;
  if min_size == 0
    min_size = max (2, ceil (n / 100));
  end
  sample_min = min_size;
  if n > sample
    sample_min = max (2, floor (min_size * rows (on) / n));
  end
  candidates = zeros (0, 4);
  results = {};
  for m = [7 10 15 20 30]
    o = opts;
    o.graph = 'knn';
    o.graph_neighbours = m;
    o.min_group_size = sample_min;
    if 2 * m >= rows (on)
      continue;  % no sparser than the dense graph, only less regular
    end
    % A candidate that the points cannot carry, or whose graph falls apart into more pieces than
    % the groups tried, is passed over.
    try
      check_options (on, o);
      r = cell (1, 7);
      [r{:}] = chain (on, o);
    catch err
      if isempty (strfind (err.message, 'rotalign_cluster:'))
        rethrow (err);
      end
      continue;
    end
    if opts.groups >= 2
      score = told_score (r{3}, opts.groups);
    else
      score = graph_score (r{5}, r{2});
    end
    candidates(end + 1, :) = [m, r{2}, score, 0];
    results{end + 1} = r;
  end
  done = ~isempty (results);
  if ~done
    return;
  end
  % Candidates whose count another candidate confirms compete (all when none is confirmed); the
  % count of the largest summed score wins, then its best-scored graph (the first of equals).
  for i = 1:rows (candidates)
    candidates(i, 4) = nnz (candidates(:, 2) == candidates(i, 2)) > 1;
  end
  competes = candidates(:, 4) == 1;
  if ~any (competes)
    competes(:) = true;
  end
  count = 0;
  best_sum = -1;
  for i = find (competes)'
    total = sum (candidates(competes & candidates(:, 2) == candidates(i, 2), 3));
    if total > best_sum
      count = candidates(i, 2);
      best_sum = total;
    end
  end
  scores = candidates(:, 3);
  scores(~competes | candidates(:, 2) ~= count) = -Inf;
  [~, best] = max (scores);  % the first of equal scores: the fewest neighbours
  r = results{best};
  if n <= sample
    [groups, chosen, quality, times, values, note, info] = r{:};
    info.candidates = candidates;
    info.choice_points = n;
    times.choice = max (0, toc (t0) - sum (cell2mat (struct2cell (times))));
    return;
  end
  % Every point takes the group of its nearest sampled point.
  [groups, chosen, quality, times, values, note, info] = r{:};
  groups = nearest_sample_groups (P, on, groups);
  info.stray = nnz (groups == 0);
  info.min_group_size = min_size;
  info.candidates = candidates;
  info.choice_points = rows (on);
  times.choice = max (0, toc (t0) - sum (cell2mat (struct2cell (times))));
end

function groups = nearest_sample_groups (P, S, sample_groups)
  % The group of each row of P: that of its nearest row of S (the first of equally near ones),
  % a block of rows at a time.
  groups = zeros (rows (P), 1);
  block = 2000;
  for first = 1:block:rows (P)
    rows_here = first:min (rows (P), first + block - 1);
    D = zeros (numel (rows_here), rows (S));
    for k = 1:columns (P)
      D = D + (P(rows_here, k) - S(:, k)') .^ 2;
    end
    [~, nearest] = min (D, [], 2);
    groups(rows_here) = sample_groups(nearest);
  end
end

function s = graph_score (values, c)
  % The gap after the chosen count over the spread of the leading eigenvalues.
  s = 0;
  if c >= 2 && c < numel (values) && 1 - values(end) > 0
    s = (values(c) - values(c + 1)) / (1 - values(end));
  end
end

function s = told_score (quality, c)
  % Told the count: the rotation's quality at it (0 when not a number).
  s = 0;
  if c >= 2 && c - 1 <= numel (quality) && ~isnan (quality(c - 1))
    s = quality(c - 1);
  end
end

function left_out = small_pieces (L, min_size)
  % The points of the pieces of the graph of the entries above 1e-12 / n with fewer than
  % min_size points.
  n = rows (L);
  left_out = false (n, 1);
  if min_size <= 1
    return;
  end
  [p, ~, r] = dmperm (sparse (abs (L) > 1e-12 / n) + speye (n));
  for b = 1:numel (r) - 1
    members = p(r(b):r(b + 1) - 1);
    if numel (members) < min_size
      left_out(members) = true;
    end
  end
end

function [groups, chosen, note] = drop_small_groups (groups, chosen, min_size, note)
  % Groups of fewer than min_size points become no group (0); the rest are numbered in order.
  if chosen < 2
    return;
  end
  sizes = accumarray (groups(groups > 0), 1, [chosen, 1]);
  keep = sizes >= min_size;
  if all (keep) || ~any (keep)
    return;
  end
  renumbered = zeros (chosen + 1, 1);
  renumbered([false; keep]) = 1:nnz (keep);
  groups = renumbered(groups + 1);
  dropped = chosen - nnz (keep);
  chosen = nnz (keep);
  if dropped == 1
    what = 'group';
  else
    what = 'groups';
  end
  extra = sprintf ('%d %s of fewer than %d points left as points in no group', dropped, what, min_size);
  if isempty (note)
    note = extra;
  else
    note = [note, '; ', extra];
  end
end

function n = knn_from ()
  % The number of points from which 'auto' takes the nearest-neighbour graph, as the program does.
  n = 5000;
end

function r = distance_ratio (values, c)
  % How many times farther from 1 eigenvalue c + 1 lies than eigenvalue c.
  upper = 1 - values(c);
  if upper > 0
    r = (1 - values(c + 1)) / upper;
  else
    r = Inf;
  end
end

function bound = near_one_bound (values, rule)
  % Within this of 1 eigenvalues count as copies of 1: near_one, or a share of the last value's
  % distance from 1 where the spectrum crowds against 1 (many points), never below the noise.
  bound = max (rule.noise, min (rule.near_one, rule.near_one_share * (1 - values(end))));
end

function yes = clear_cut (values, c, rule)
  % Whether the leading c eigenvalues stand apart from the next one.
  yes = c < numel (values) && 1 - values(c + 1) > near_one_bound (values, rule) ...
        && distance_ratio (values, c) > rule.repeated_ratio;
end

function starts = eigenvalue_blocks (values, rule)
  % The first index (counted from 0, as in the program) of every block of nearly repeated
  % eigenvalues.
  starts = 0;
  for c = 1:numel (values) - 1
    if clear_cut (values, c, rule)
      starts(end + 1) = c;
    end
  end
end

function V = canonical_basis (V, starts)
  % Each block's vectors replaced by a basis that depends on the block's space alone: the rows
  % picked by pivoted Gram-Schmidt turned onto the axes by the polar factor, the columns ordered
  % by the first point that each marks (the steps of the program's canonical_basis.cpp).
  bounds = [starts, columns(V)];
  for b = 1:numel (starts)
    cols = bounds(b) + 1:bounds(b + 1);
    B = V(:, cols);
    m = numel (cols);
    W = B;
    pivots = zeros (1, m);
    for t = 1:m
      [~, pivots(t)] = max (sum (W .^ 2, 2));
      q = W(pivots(t), :) / norm (W(pivots(t), :));
      W = W - (W * q') * q;
    end
    [U, ~, Z] = svd (B(pivots, :));
    T = B * (Z * U');
    marks = zeros (1, m);
    for j = 1:m
      marks(j) = find (T(:, j) >= 0.5 * max (T(:, j)), 1);
    end
    [~, order] = sort (marks);
    V(:, cols) = T(:, order);
  end
end

function [chosen, note, runner_up, margin, clear] = choose_groups (values, quality, rule, smallest)
  % The program's group-count rule (group_count.cpp): candidates are the c with a clear cut and
  % a quality that is a number, and no group below the smallest group size (unless every count
  % has one); strong cuts first; then the most groups within the tolerance of the best quality.
  % quality(k) belongs to k + 1 groups, smallest(k) is the size of its smallest group (0: not
  % known). The runner-up is the best quality among the other candidates.
  chosen = 0;
  note = '';
  runner_up = 0;
  margin = 0;
  clear = true;
  candidates = [];
  too_small = [];
  any_cut = false;
  for c = 2:numel (quality) + 1
    if ~clear_cut (values, c, rule)
      continue;
    end
    any_cut = true;
    if isnan (quality(c - 1))
      continue;
    end
    if c - 1 <= numel (smallest) && smallest(c - 1) > 0 && smallest(c - 1) < rule.min_group_size
      too_small(end + 1) = c;
      continue;
    end
    candidates(end + 1) = c;
  end
  if isempty (candidates)
    candidates = too_small;
  end
  all_candidates = candidates;
  strong = [];
  for c = candidates
    if distance_ratio (values, c) >= rule.strong_ratio
      strong(end + 1) = c;
    end
  end
  if ~isempty (strong)
    candidates = strong;
  end
  if isempty (candidates)
    if ~isempty (quality) && ~any_cut && clear_cut (values, 1, rule)
      chosen = 1;
      note = sprintf ('eigenvalues 2 to %d are one repeated block: no split of the points stands out, so they form one group', numel (values));
    end
    return;
  end
  best = max (quality(candidates - 1));
  chosen = candidates(find (quality(candidates - 1) >= best - rule.tolerance, 1, 'last'));
  for c = all_candidates
    if c ~= chosen && (runner_up == 0 || quality(c - 1) > quality(runner_up - 1))
      runner_up = c;
    end
  end
  if runner_up ~= 0
    margin = quality(chosen - 1) - quality(runner_up - 1);
    is_strong = @(c) distance_ratio (values, c) >= rule.strong_ratio;
    clear = margin >= rule.clear_margin || (is_strong (chosen) && ~is_strong (runner_up));
  end
end

function count = count_components (L)
  % Components of the graph of the entries above 1e-12 / n, the entries the eigen-step keeps.
  n = rows (L);
  [~, ~, blocks] = dmperm (sparse (abs (L) > 1e-12 / n) + speye (n));
  count = numel (blocks) - 1;
end

function [V, values] = leading_eigenvectors (L, count)
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
      [values, order] = sort (diag (E), 'descend');
      V = V(:, order);
      return;
    end
  end
  [V, E] = eig ((L + L') / 2);
  [values, order] = sort (diag (E), 'descend');
  values = values(1:count);
  V = V(:, order(1:count));
end

% Columns shifted to zero mean and divided by their population standard deviation; a column of
% zero spread only shifted.
function S = standardised (P)
  S = double (P) - mean (P, 1);
  spread = sqrt (mean (S .^ 2, 1));
  spread(spread == 0) = 1;
  S = S ./ spread;
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
  if ~isscalar (opts.standardise) || ~(islogical (opts.standardise) || isnumeric (opts.standardise))
    error ('rotalign_cluster: standardise must be true or false');
  end
  if opts.standardise && opts.distances
    error ('rotalign_cluster: standardising the columns needs points, not a distance matrix');
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
  if ~ischar (opts.graph) || ~any (strcmp (opts.graph, {'auto', 'dense', 'knn'}))
    error ('rotalign_cluster: the graph must be auto, dense or knn');
  end
  if strcmp (opts.graph, 'knn') && opts.distances
    error ('rotalign_cluster: the knn graph is built from points, not from a distance matrix');
  end
  M = opts.graph_neighbours;
  if ~isscalar (M) || M ~= fix (M) || M < 0 || M > n - 1 || (M > 0 && M < opts.neighbours)
    error ('rotalign_cluster: the graph neighbours must be a whole number from the neighbour count to %d', n - 1);
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
  S = opts.min_group_size;
  if ~isscalar (S) || S ~= fix (S) || S < 0
    error ('rotalign_cluster: the smallest group size must be a whole number, 0 for the default');
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
%! a = rotalign_cluster (P, 'max_groups', 4, 'graph', 'dense');
%! assert (rotalign_cluster (D, 'distances', true, 'max_groups', 4), a);
%! for affinity = {'olvane', 'pellor'}
%!   [g, c] = rotalign_cluster (P, 'affinity', affinity{1}, 'scale', 2, 'max_groups', 4, 'search', 'numerical');
%!   assert (c, 3);
%!   assert (accumarray (g, 1)', [20 20 20]);
%! end
%! [g, c, q] = rotalign_cluster (P, 'groups', 2);
%! assert (c, 2);
%! assert (numel (q), 1);

%!test
%! ## Standardised, the groups do not depend on the columns' units or origins.
%! [P, truth] = clouds ();
%! a = rotalign_cluster (P, 'standardise', true, 'max_groups', 5);
%! b = rotalign_cluster (P .* [-1000, 0.001] + [5e4, -3], 'standardise', true, 'max_groups', 5);
%! assert (b, a);
%! assert (numel (unique (a)), 3);
%!error <standardising the columns needs points> rotalign_cluster (zeros (3), 'distances', true, 'standardise', true)

%!test
%! ## Six clouds on the axes around a seventh, far apart: seven eigenvalues 1, and c = 2 .. 6
%! ## inside that block are never searched nor chosen.
%! centres = [0 0 0; eye(3) * 5; -eye(3) * 5];
%! k = (1:15)';
%! jitter = 0.3 * [cos(2.4 * k) .* sin(0.9 * k), sin(1.7 * k), cos(1.3 * k)];
%! truth = repmat ((1:7)', 15, 1);
%! P = centres(truth, :) + jitter(ceil ((1:105)' / 7), :);
%! [groups, chosen, quality, ~, values, note] = rotalign_cluster (P, 'max_groups', 8);
%! assert (chosen, 7);
%! assert (numel (values), 9);
%! assert (all (isnan (quality(1:5))));
%! assert (quality(6) > 0.99);
%! assert (note, '');
%! for g = 1:7
%!   assert (numel (unique (truth(groups == g))), 1);
%! end

%!test
%! ## The nearest-neighbour graph finds the groups that the full matrix finds.
%! [P, truth] = clouds ();
%! [g, c, ~, ~, values] = rotalign_cluster (P, 'max_groups', 5, 'graph', 'knn', 'graph_neighbours', 10);
%! [gd, cd] = rotalign_cluster (P, 'max_groups', 5, 'graph', 'dense');
%! assert (c, cd);
%! assert (g, gd);
%! assert (numel (values), 6);
%! t = linspace (0, pi, 150)';
%! moons = [cos(t), sin(t); 1 - cos(t), 0.5 - sin(t)] + 0.05 * [sin(7 * [t; t]), cos(5 * [t; t])];
%! [g, c] = rotalign_cluster (moons, 'graph', 'knn');
%! assert (c, 2);
%! assert (accumarray (g, 1)', [150 150]);

%!error <the knn graph is built from points> rotalign_cluster (zeros (20), 'distances', true, 'graph', 'knn')
%!error <the graph must be auto, dense or knn> rotalign_cluster (rand (20, 2), 'graph', 'sparse')

%!test
%! ## Identical points: one group and a note; a fixed count says it splits a repeated block.
%! [groups, chosen, ~, ~, ~, note] = rotalign_cluster (repmat ([1.5 2], 10, 1), 'max_groups', 3, 'neighbours', 3);
%! assert (chosen, 1);
%! assert (groups, ones (10, 1));
%! assert (! isempty (strfind (note, 'one group')));
%! [~, chosen, ~, ~, ~, note] = rotalign_cluster (repmat ([1.5 2], 10, 1), 'groups', 3, 'neighbours', 3);
%! assert (chosen, 3);
%! assert (! isempty (strfind (note, 'repeated')));

%!error <falls apart into 16 components, more than the 10 groups tried> rotalign_cluster (kron (ones (19, 1), [kron((0:3)', ones (4, 1)), repmat((0:3)', 4, 1)]))
%!error <5 points are too few for 7 neighbours: at least 8 are needed> rotalign_cluster (rand (5, 2))
%!error <5 points cannot form 10 groups> rotalign_cluster (rand (5, 2), 'neighbours', 2)
%!error <row 2 holds a value that is NaN or infinite> rotalign_cluster ([1 2; NaN 3; 4 5])
%!error <distance matrix is not square: 2 rows of 3 values> rotalign_cluster (zeros (2, 3), 'distances', true)
%!error <the global scale must be a positive number> rotalign_cluster (rand (20, 2), 'affinity', 'pellor')
%!error <unknown option colour> rotalign_cluster (rand (20, 2), 'colour', 1)
%!error <point 1 has no affinity to any other point> rotalign_cluster ([0; 10; 20; 30], 'affinity', 'pellor', 'scale', 0.01, 'max_groups', 2)

%!test
%! ## Copies of one point far from three clouds: a piece of the graph of its own, in no group
%! ## and no count below the smallest group size; a group of its own with any size.
%! [P, truth] = clouds ();
%! Q = [P; repmat([100 100], 8, 1)];
%! [g, c, ~, ~, ~, ~, info] = rotalign_cluster (Q, 'max_groups', 5, 'min_group_size', 10);
%! assert (c, 3);
%! assert (g(61:68), zeros (8, 1));
%! assert (info.stray, 8);
%! for k = 1:3
%!   assert (numel (unique (truth(g(1:60) == k))), 1);
%! end
%! assert (info.candidates(:, 1)', [7 10 15 20 30]);
%! assert (info.runner_up ~= 3 && islogical (info.clear));
%! [g, c, ~, ~, ~, ~, info] = rotalign_cluster (Q, 'max_groups', 5, 'min_group_size', 1);
%! assert (c, 4);
%! assert (info.stray, 0);
%! assert (numel (unique (g(61:68))), 1);

%!test
%! ## Above 4000 points the choice runs on a sample, and every other point joins the group of
%! ## its nearest sampled point.
%! k = (1:1400)';
%! jitter = [cos(2.4 * k) .* sin(0.9 * k), sin(1.7 * k) .* cos(0.3 * k)];
%! P = [jitter; jitter + [8 0]; jitter + [0 8]];
%! [g, c, ~, ~, ~, ~, info] = rotalign_cluster (P, 'max_groups', 5);
%! assert (c, 3);
%! assert (info.choice_points, 4000);
%! assert (sort (accumarray (g, 1))', [1400 1400 1400]);
%! assert (numel (unique (g(1:1400))), 1);
