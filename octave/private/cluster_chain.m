function [groups, chosen, quality, times, values, note, info] = cluster_chain (P, opts)
  % The chain on the graph that opts give.
  sparse_graph = strcmp (opts.graph, 'knn') || (strcmp (opts.graph, 'auto') && ~opts.distances ...
                                                && rows (P) >= knn_from ());
  if opts.graph_neighbours == 0
    opts.graph_neighbours = min (rows (P) - 1, 2 * opts.neighbours);
  end
  rule = struct ('tolerance', opts.tolerance, 'near_one', 1e-4, 'near_one_share', 1e-3, 'noise', 1e-9, ...
                 'repeated_ratio', 1.05, ...
                 'strong_ratio', 1.5, 'valley_ratio', 1.4);

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
  % The automatic graph's candidates look past the rule's count for groups that part along
  % density valleys; that needs each point's own neighbours and local scale.
  probe = [];
  if sparse_graph && isfield (opts, 'across_valleys') && opts.across_valleys
    K = opts.neighbours;
    if K == 0
      K = 7;
    end
    probe = graph_probe (D, K, opts.graph_neighbours);
  end

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
  % Places whose copies outnumber the local scales' neighbours: only a local scale vanishes so.
  zero = [];
  if ~strcmp (opts.affinity, 'pellor')
    [zero, reach] = repeated_places (D, opts.neighbours);
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

  % Pieces of the graph too small to be a group, and places that only their zero scale cut off,
  % are set aside: nothing links them to the rest, so the normalised affinity of the rest is a
  % submatrix of L. The places join their neighbours' groups at the end.
  all_points = n;
  left_out = small_pieces (L, min_size);
  joins = [];
  if ~isempty (zero)
    joins = cut_off_joins (L, zero, reach);
  end
  if ~isempty (joins)
    left_out = left_out | joins > 0;
  end
  if any (left_out) && n - nnz (left_out) >= max (largest + 1, min_size)
    L = L(~left_out, ~left_out);
    n = rows (L);
  else
    left_out = false (all_points, 1);
    joins = [];
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
    if isempty (anchor)
      % Two groups with equal shares of the affinity put their rows at +-45 degrees, where the
      % search's gradient vanishes: the first search also starts with those columns turned.
      half = sqrt (0.5);
      X(:, 1:2) = [half * (X(:, 1) - X(:, 2)), half * (X(:, 1) + X(:, 2))];
      [turned_cells, turned_quality, turned] = tarvik (X, method);
      if turned_quality > quality(c - 1)
        [cells, quality(c - 1), rotated] = deal (turned_cells, turned_quality, turned);
      end
    end
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
      error ('rotalign:too_many_pieces', 'rotalign_cluster: the affinity graph falls apart into %d components, more than the %d groups tried: allow %d or more groups (''max_groups'', %d), or use a larger neighbour count', ...
             components, largest, components, components);
    end
    % Inf: not searched; a group left empty counts as size 0.
    smallest = Inf (1, numel (found));
    for k = 1:numel (found)
      if ~isempty (found{k})
        smallest(k) = min (accumarray (found{k}(found{k} > 0), 1, [k + 1, 1]));
      end
    end
    [chosen, note, info.runner_up, info.margin, info.clear] = choose_groups (values, quality, rule, smallest);
    if ~isempty (probe) && chosen >= 2
      [chosen, note, info] = across_valleys (values, quality, rule, smallest, chosen, note, info, found, left_out, probe);
    end
    if chosen == 0
      error ('rotalign_cluster: no number of groups from 2 to %d has eigenvalues that stand apart and a quality that is a number', largest);
    end
    % The largest count tried stands clear of no count beyond it.
    info.clear = info.clear && chosen < largest;
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
  if ~isempty (joins)
    joined = find (joins);
    groups(joined) = groups(joins(joined));
    extra = sprintf (['%d points on places of more than %d points, whose local scale of 0 cut them ', ...
                      'off from the graph, joined the groups of their nearest other points'], ...
                     numel (joined), opts.neighbours);
    if numel (joined) == 1
      extra = strrep (extra, '1 points', '1 point');
    end
    note = noted (note, extra);
  end
  info.stray = nnz (groups == 0);
end

function [zero, reach] = repeated_places (D, k)
  % The points whose local scale, as the plug-ins take it, is a copy's distance (0; a sparse D
  % stores it as 2^-1074), and for each the nearest point of nonzero scale that has it among its
  % k nearest (its distance at most that point's scale; the lower index on a tie), 0 for none.
  % zero is empty when no point has a zero scale.
  n = columns (D);
  if issparse (D)
    % The k-th smallest stored value of each column (the largest when fewer are stored).
    [i, j, v] = find (D);
    order = sortrows ([j, v, i]);
    counts = accumarray (j, 1, [n, 1]);
    starts = [0; cumsum(counts)];
    rank = (1:numel (i))' - starts(order(:, 1));
    at = find (rank == min (k, counts(order(:, 1))));
    scale = zeros (n, 1);
    scale(order(at, 1)) = order(at, 2);
  else
    % The value at index k of each column sorted, the diagonal's 0 first.
    sorted = sort (D, 1);
    scale = sorted(min (k, n - 1) + 1, :)';
    clear sorted;
  end
  zero = scale <= 2 ^ -1074;
  reach = zeros (n, 1);
  if ~any (zero)
    zero = [];
    return;
  end
  if issparse (D)
    near = zero(i) & ~zero(j) & v <= scale(j);
    pairs = sortrows ([i(near), v(near), j(near)]);
    [~, first] = unique (pairs(:, 1), 'first');
    reach(pairs(first, 1)) = pairs(first, 3);
  else
    for p = find (zero)'
      j = find (~zero & D(:, p) <= scale);
      if ~isempty (j)
        [~, best] = min (D(j, p));
        reach(p) = j(best);
      end
    end
  end
end

function joins = cut_off_joins (L, zero, reach)
  % For the points of every piece of the graph of L that holds only points of zero scale, one of
  % which an ordinary point reaches: the point whose group they join (the reach of the piece's
  % first point that has one); 0 elsewhere. Empty when there is no such piece.
  n = rows (L);
  joins = zeros (n, 1);
  [p, ~, r] = dmperm (sparse (abs (L) > 1e-12 / n) + speye (n));
  for b = 1:numel (r) - 1
    members = sort (p(r(b):r(b + 1) - 1));
    reached = members(reach(members) > 0);
    if all (zero(members)) && ~isempty (reached)
      joins(members) = reach(reached(1));
    end
  end
  if ~any (joins)
    joins = [];
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
  note = noted (note, sprintf ('%d %s of fewer than %d points left as points in no group', dropped, what, min_size));
end

function note = noted (note, extra)
  % The note with one more remark, after a semicolon when there is one already.
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
