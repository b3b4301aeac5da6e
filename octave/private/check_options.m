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
