function [chosen, note, info] = across_valleys (values, quality, rule, smallest, chosen, note, info, found, left_out, probe)
  % Past the rule's count, the largest strong cut whose groups part along density valleys: the
  % points on their boundaries lie at least rule.valley_ratio times farther from their
  % neighbours than the grouped points do. Cuts through one smooth shape measure 0.9 to 1.1.
  before = chosen;
  for c = numel (quality) + 1:-1:before + 1
    if ~clear_cut (values, c, rule) || distance_ratio (values, c) < rule.strong_ratio || isnan (quality(c - 1))
      continue;
    end
    if smallest(c - 1) > 0 && smallest(c - 1) < rule.min_group_size
      continue;
    end
    groups = zeros (numel (left_out), 1);
    if ~isempty (found{c - 1})
      groups(~left_out) = found{c - 1};
    end
    spread = boundary_spread (probe, groups);
    if spread >= rule.valley_ratio
      chosen = c;
      note = sprintf ('%d groups part along density valleys (the points on their boundaries lie %.2f times farther from their neighbours than the others), so they are taken over the %d that the eigenvalues and qualities favour', ...
                      c, spread, before);
      info.runner_up = before;
      info.margin = quality(c - 1) - quality(before - 1);
      info.clear = true;
      return;
    end
  end
end

function s = boundary_spread (probe, groups)
  % The lower median local scale of the points with one of their own nearest neighbours in
  % another group, over that of all grouped points, as a ratio of distances; Inf without such
  % points, 0 when the grouped points' scales are all 0.
  own = groups(probe.point);
  other = groups(probe.neighbour);
  on_boundary = false (numel (groups), 1);
  on_boundary(probe.point(own > 0 & other > 0 & other ~= own)) = true;
  grouped = groups > 0;
  if ~any (on_boundary)
    s = Inf;
    return;
  end
  all_points = lower_median (probe.scales(grouped));
  if ~(all_points > 0)
    s = 0;
    return;
  end
  s = sqrt (lower_median (probe.scales(on_boundary)) / all_points);
end

function m = lower_median (v)
  v = sort (v(:));
  m = v(floor ((numel (v) - 1) / 2) + 1);
end
