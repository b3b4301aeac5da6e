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
  most_pieces = 0;
  pieces_error = [];
  apart = [];
  for m = [7 10 15 20 30]
    o = opts;
    o.graph = 'knn';
    o.graph_neighbours = m;
    o.min_group_size = sample_min;
    o.across_valleys = true;
    if 2 * m >= rows (on)
      continue;  % no sparser than the dense graph, only less regular
    end
    % A candidate that the points cannot carry, or whose graph falls apart into more pieces than
    % the groups tried, is passed over. When no candidate gives a count, the most pieces that one
    % fell apart into are reported rather than hidden in the dense graph's count.
    try
      check_options (on, o);
      r = cell (1, 7);
      [r{:}] = cluster_chain (on, o);
    catch err
      if isempty (strfind (err.message, 'rotalign_cluster:'))
        rethrow (err);
      end
      if strcmp (err.identifier, 'rotalign:too_many_pieces')
        pieces = sscanf (err.message(strfind (err.message, 'apart into') + 11:end), '%d', 1);
        if pieces > most_pieces
          most_pieces = pieces;
          pieces_error = err;
        end
        apart(end + 1) = m;
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
    if most_pieces > 0
      rethrow (pieces_error);
    end
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
  % Graphs that fell apart into more pieces than the groups tried had no say in the count.
  if most_pieces > r{2}
    which = sprintf ('%d, ', apart);
    which = which(1:end - 2);
    last = strfind (which, ', ');
    if ~isempty (last)
      which = [which(1:last(end) - 1), ' and ', which(last(end) + 2:end)];
    end
    apart_note = sprintf ('the graphs of %s neighbours fall apart into up to %d pieces, more than the %d groups tried, and had no say in the count; allowing %d groups lets them compete', ...
                          which, most_pieces, opts.max_groups, most_pieces);
    if isempty (r{6})
      r{6} = apart_note;
    else
      r{6} = [r{6}, '; ', apart_note];
    end
  end
  % Fewer than half of the candidates choosing the count taken: no count stands clear.
  r{7}.clear = r{7}.clear && 2 * nnz (candidates(:, 2) == r{2}) >= rows (candidates);
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
