function V = canonical_basis (V, starts)
  % Each block's vectors replaced by a basis that depends on the block's space alone: the rows
  % picked by pivoted Gram-Schmidt turned onto the axes by the polar factor, the columns ordered
  % by the first point that each marks (the steps of the program's canonical_basis.cpp).
  bounds = [starts, columns(V)];
  for b = 1:numel (starts)
    cols = bounds(b) + 1:bounds(b + 1);
    B = V(:, cols);
    m = numel (cols);
    W = B;
    pivots = zeros (1, m);
    for t = 1:m
      [~, pivots(t)] = max (sum (W .^ 2, 2));
      q = W(pivots(t), :) / norm (W(pivots(t), :));
      W = W - (W * q') * q;
    end
    [U, ~, Z] = svd (B(pivots, :));
    T = B * (Z * U');
    marks = zeros (1, m);
    for j = 1:m
      marks(j) = find (T(:, j) >= 0.5 * max (T(:, j)), 1);
    end
    [~, order] = sort (marks);
    V(:, cols) = T(:, order);
  end
end
