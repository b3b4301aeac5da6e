function probe = graph_probe (D, k, m)
  % What the look across density valleys needs of the sparse nearest-neighbour graph D (squared
  % distances): each point's own m nearest neighbours (nearest first, then the lowest index), as
  % pairs point / neighbour, and its local scale, the k-th smallest stored value of its column
  % (the largest when fewer are stored, 0 when none are).
  n = columns (D);
  [i, j, v] = find (D);
  order = sortrows ([j, v, i]);
  counts = accumarray (j, 1, [n, 1]);
  starts = [0; cumsum(counts)];
  rank = (1:numel (i))' - starts(order(:, 1));
  keep = rank <= m;
  probe.point = order(keep, 1);
  probe.neighbour = order(keep, 3);
  probe.scales = zeros (n, 1);
  at = find (rank == min (k, counts(order(:, 1))));
  probe.scales(order(at, 1)) = order(at, 2);
end
