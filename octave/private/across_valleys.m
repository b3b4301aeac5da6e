function [chosen, note, info] = across_valleys (values, quality, rule, smallest, chosen, note, info, found, left_out, probe)
  % Past the rule's count, the largest strong cut whose groups part along density valleys: on
  % every boundary it adds, the points lie at least rule.valley_ratio times farther from their
  % neighbours than the points of the two groups it parts. Cuts through one smooth shape measure
  % about 1.
  before = chosen;
  for c = numel (quality) + 1:-1:before + 1
    if ~clear_cut (values, c, rule) || distance_ratio (values, c) < rule.strong_ratio || isnan (quality(c - 1))
      continue;
    end
    if smallest(c - 1) < rule.min_group_size
      continue;
    end
    groups = zeros (numel (left_out), 1);
    if ~isempty (found{c - 1})
      groups(~left_out) = found{c - 1};
    end
    earlier = zeros (numel (left_out), 1);
    earlier(~left_out) = found{before - 1};
    spread = boundary_spread (probe, groups, earlier);
    if spread >= rule.valley_ratio
      chosen = c;
      note = sprintf ('%d groups part along density valleys (on each boundary they add, the points lie at least %.2f times farther from their neighbours than the points of the two groups it parts), so they are taken over the %d that the eigenvalues and qualities favour', ...
                      c, spread, before);
      info.runner_up = before;
      info.margin = quality(c - 1) - quality(before - 1);
      info.clear = true;
      return;
    end
  end
end

function s = boundary_spread (probe, groups, earlier)
  % For each boundary that groups add to earlier (a point lies on the boundary between its group
  % and another when one of its own nearest neighbours lies in the other group; the boundary is
  % new when the point has no neighbour in another group of earlier), the lower median local
  % scale of its points over that of the points of its two groups, as a ratio of distances; the
  % smallest of them. Inf without a new boundary, 0 when the scales compared with are all 0.
  % Old boundaries do not count (stray points between two shapes would make any further cut look
  % like a valley), nor do other groups (a sparser shape elsewhere would).
  fresh = ~on_boundary (probe, earlier);
  own = groups(probe.point);
  other = groups(probe.neighbour);
  at = own > 0 & other > 0 & other ~= own & fresh(probe.point);
  pairs = unique ([probe.point(at), min(own(at), other(at)), max(own(at), other(at))], 'rows');
  s = Inf;
  for p = unique (pairs(:, 2:3), 'rows')'
    members = pairs(pairs(:, 2) == p(1) & pairs(:, 3) == p(2), 1);
    usual = lower_median (probe.scales(groups == p(1) | groups == p(2)));
    if ~(usual > 0)
      s = 0;
      return;
    end
    s = min (s, sqrt (lower_median (probe.scales(members)) / usual));
  end
end

function yes = on_boundary (probe, groups)
  % Points in a group with one of their own nearest neighbours in another group.
  own = groups(probe.point);
  other = groups(probe.neighbour);
  yes = false (numel (groups), 1);
  yes(probe.point(own > 0 & other > 0 & other ~= own)) = true;
end

function m = lower_median (v)
  v = sort (v(:));
  m = v(floor ((numel (v) - 1) / 2) + 1);
end
