function [chosen, note, runner_up, margin, clear] = choose_groups (values, quality, rule, smallest)
  % The program's group-count rule (group_count.cpp): candidates are the c with a clear cut and
  % a quality that is a number, and no group below the smallest group size (unless every count
  % has one); strong cuts first; then the most groups within the tolerance of the best quality.
  % quality(k) belongs to k + 1 groups, smallest(k) is the size of its smallest group (Inf: not
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
    if c - 1 <= numel (smallest) && smallest(c - 1) < rule.min_group_size
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
