function yes = clear_cut (values, c, rule)
  % Whether the leading c eigenvalues stand apart from the next one.
  yes = c < numel (values) && 1 - values(c + 1) > near_one_bound (values, rule) ...
        && distance_ratio (values, c) > rule.repeated_ratio;
end

function bound = near_one_bound (values, rule)
  % Within this of 1 eigenvalues count as copies of 1: near_one, or a share of the last value's
  % distance from 1 where the spectrum crowds against 1 (many points), never below the noise.
  bound = max (rule.noise, min (rule.near_one, rule.near_one_share * (1 - values(end))));
end
