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
%        previous block's end with the new block beside it; the first search
%        also starts with its first two columns turned by 45 degrees, and the
%        start of higher quality is kept.
%   The number of groups: c is a candidate where the eigenvalue after the
%   leading c lies more than 1e-4 below 1 and more than 1.05 times as far from
%   1 as eigenvalue c; when some candidates are strong (1.5 times as far),
%   only they remain; of those, the most groups whose quality lies within the
%   tolerance of the best. With no candidate but a clear cut after the first
%   eigenvalue the answer is one group. 'groups' fixes the number instead.
%   Points in pieces of the graph with fewer than 'min_group_size' points are
%   set aside before step 4; counts with a group that small are no candidates
%   (unless every count has one), and such a group of the chosen count is
%   dissolved: those points are in no group (0). A place holding more copies
%   than 'neighbours' gets a local scale of 0 and falls out of the graph; when
%   it lies among the 'neighbours' nearest of another point, it is set aside
%   too and then joins the group of its nearest such point.
%   The graph 'auto' on points (without 'graph_neighbours'), as the program
%   does: the chain on the knn graphs of 7, 10, 15, 20 and 30 neighbours (not
%   below 'neighbours', below N / 2), each scored (lambda_c - lambda_c+1) /
%   (1 - lambda_last) at the count c chosen on it (on each, a larger strong cut
%   is taken when on every boundary it adds the points lie at least 1.4 times
%   farther from their 'neighbours'-th neighbour than the points of the two
%   groups it parts: the groups part along density valleys); among the graphs
%   whose count another candidate confirms (all when none is), the count of the
%   largest summed score, on its best-scored graph; told the count ('groups'), the
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
%   chosen count is a strong cut and the runner-up is not; with the automatic
%   graph, also when fewer than half of the candidates chose the count; and
%   when the count is the largest tried, as more groups may lie beyond it), min_group_size,
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
  [groups, chosen, quality, times, values, note, info] = cluster_chain (P, opts);
end

function S = standardised (P)
  S = double (P) - mean (P, 1);
  spread = sqrt (mean (S .^ 2, 1));
  spread(spread == 0) = 1;
  S = S ./ spread;
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
%! ## Twelve copies of a cloud's point (drawn 100 times larger, so that nothing links points at
%! ## a local scale of 0): each copy's 7th nearest is a copy, yet the place lies among the 7
%! ## nearest of the cloud's points, so it joins the cloud's group instead of taking a count.
%! [P, truth] = clouds ();
%! P = [100 * P; repmat(100 * P(1, :), 12, 1)];
%! truth = [truth; repmat(truth(1), 12, 1)];
%! for graph = {'dense', 'knn'}
%!   [groups, chosen, ~, ~, ~, note] = rotalign_cluster (P, 'graph', graph{1}, 'max_groups', 5);
%!   assert (chosen, 3);
%!   for g = 1:3
%!     assert (numel (unique (truth(groups == g))), 1);
%!   end
%!   assert (strncmp (note, '13 points on places of more than 7 points,', 42));
%! end

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

%!shared ring
%! randn ('state', 5);
%! a = kron ((0:13)' * 2 * pi / 14, ones (70, 1));
%! ring = 10 * [cos(a), sin(a)] + 0.5 * randn (980, 2);
%!error <falls apart into 14 components, more than the 10 groups tried> rotalign_cluster (ring)
%!test
%! [~, c, ~, ~, ~, ~, info] = rotalign_cluster (ring, 'max_groups', 14);
%! assert (c, 14);
%! assert (! info.clear);
%! [~, c, ~, ~, ~, note] = rotalign_cluster (ring, 'max_groups', 13);
%! assert (c < 14);
%! assert (! isempty (strfind (note, 'fall apart into up to 14 pieces, more than the 13 groups tried')));

%!test
%! ## Two pairs of touching blobs: each pair is one piece of every candidate graph, and the
%! ## points between the blobs of a pair thin out, so each blob is a group.
%! randn ('state', 3);
%! P = kron ([0 0; 4.5 0; 30 10; 30 14.5], ones (250, 1)) + randn (1000, 2);
%! [g, c, ~, ~, ~, note, info] = rotalign_cluster (P);
%! assert (c, 4);
%! assert (info.runner_up, 2);
%! assert (! isempty (strfind (note, 'part along density valleys')));
%! blobs = reshape (g, 250, 4);
%! assert (numel (unique (mode (blobs))), 4);
%! assert (all (mean (blobs == mode (blobs)) > 0.9));  # the blobs of a pair overlap a little
