function r = distance_ratio (values, c)
  % How many times farther from 1 eigenvalue c + 1 lies than eigenvalue c.
  upper = 1 - values(c);
  if upper > 0
    r = (1 - values(c + 1)) / upper;
  else
    r = Inf;
  end
end
