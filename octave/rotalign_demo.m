function results = rotalign_demo (plugin_dir)
% ROTALIGN_DEMO  Clusters four generated data sets and prints how well the groups come back.
%
%   rotalign_demo
%   rotalign_demo (plugin_dir)
%   results = rotalign_demo (...)
%
%   Runs rotalign_cluster with its default options on two moons, concentric
%   circles, blobs of different densities and sizes, and parallel lines (600
%   points each, fixed seeds), and prints for each the true and the chosen
%   number of groups, the adjusted Rand index against the truth and the time
%   of each stage in milliseconds. plugin_dir, when given, is added to the path
%   first; without it the Octave builds of the plug-ins are looked for in
%   build/default/octave and build/toolbox of this repository when tarvik is
%   not already on the path. results is a struct array of the figures.
%
%   See also rotalign_cluster.

  here = fileparts (mfilename ('fullpath'));
  if nargin >= 1
    addpath (plugin_dir);
  elseif exist ('tarvik') ~= 3
    root = fileparts (here);
    for candidate = {fullfile(root, 'build', 'default', 'octave'), fullfile(root, 'build', 'toolbox')}
      if exist (fullfile (candidate{1}, 'tarvik.mex'), 'file')
        addpath (candidate{1});
        break;
      end
    end
  end
  if exist ('tarvik') ~= 3
    error ('rotalign_demo: the plug-ins are not on the path; build them or pass their folder');
  end

  sets = {'two moons', @two_moons; 'concentric circles', @circles; ...
          'uneven blobs', @blobs; 'parallel lines', @lines};
  printf ('%-18s %6s %5s %7s %7s %10s %9s %9s %10s %9s %9s %9s  (ms)\n', 'data set', 'points', ...
          'true', 'chosen', 'ARI', 'distances', 'affinity', 'diagonal', 'normalise', 'eigen', ...
          'rotation', 'total');
  results = struct ('name', {}, 'points', {}, 'truth', {}, 'chosen', {}, 'ari', {}, 'times', {});
  for k = 1:rows (sets)
    [P, truth] = sets{k, 2} (600);
    [groups, chosen, ~, times] = rotalign_cluster (P);
    t = struct2cell (times);
    t = 1000 * [t{:}];
    ari = adjusted_rand_index (truth, groups);
    printf ('%-18s %6d %5d %7d %7.4f %10.1f %9.1f %9.1f %10.1f %9.1f %9.1f %9.1f\n', sets{k, 1}, ...
            rows (P), max (truth), chosen, ari, t, sum (t));
    results(end + 1) = struct ('name', sets{k, 1}, 'points', rows (P), 'truth', max (truth), ...
                               'chosen', chosen, 'ari', ari, 'times', times);
  end
end

% The generators use Octave's own random streams with fixed seeds; the shapes are those of the
% command-line demo.
function [P, truth] = two_moons (n)
  rand ('state', 11); randn ('state', 11);
  t = pi * rand (n, 1);
  truth = 1 + mod ((0:n - 1)', 2);
  upper = truth == 1;
  P = [cos(t), sin(t)];
  P(~upper, :) = [1 - cos(t(~upper)), 0.5 - sin(t(~upper))];
  P = P + 0.06 * randn (n, 2);
end

function [P, truth] = circles (n)
  rand ('state', 12); randn ('state', 12);
  truth = 1 + (mod ((0:n - 1)', 3) == 2);
  t = 2 * pi * rand (n, 1);
  r = 1 - 0.6 * (truth == 2) + 0.03 * randn (n, 1);
  P = [r .* cos(t), r .* sin(t)];
end

function [P, truth] = blobs (n)
  randn ('state', 13);
  centres = [0 0; 5 4; 6 -1];
  spread = [1; 0.5; 0.2];
  wide = floor (n / 2);
  middle = floor (n / 3);
  truth = [ones(wide, 1); 2 * ones(middle, 1); 3 * ones(n - wide - middle, 1)];
  P = centres(truth, :) + spread(truth) .* randn (n, 2);
end

function [P, truth] = lines (n)
  rand ('state', 14); randn ('state', 14);
  truth = 1 + mod ((0:n - 1)', 3);
  % Point k of a line falls at random within the k-th of equal stretches: no chance gap.
  cells = ceil (n / 3);
  P = [8 * (floor ((0:n - 1)' / 3) + rand (n, 1)) / cells, (truth - 1) + 0.04 * randn(n, 1)];
end

function r = adjusted_rand_index (a, b)
  [~, ~, a] = unique (a(:));
  [~, ~, b] = unique (b(:));
  counts = accumarray ([a, b], 1);
  pairs = @(x) sum (x(:) .* (x(:) - 1) / 2);
  index = pairs (counts);
  sa = pairs (sum (counts, 2));
  sb = pairs (sum (counts, 1));
  expected = sa * sb / pairs (numel (a));
  largest = (sa + sb) / 2;
  if largest == expected
    r = 1;
  else
    r = (index - expected) / (largest - expected);
  end
end

%!test
%! results = evalc ('r = rotalign_demo ();');
%! assert ([r.chosen], [r.truth]);
%! assert (all ([r.ari] >= 0.95));
