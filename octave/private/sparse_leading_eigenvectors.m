function [V, lambda] = sparse_leading_eigenvectors (L, count)
  % The COUNT largest eigenvalues LAMBDA (descending) and unit eigenvectors V of the sparse
  % symmetric normalised affinity L, whose eigenvalues lie in [-1, 1]. The graph's components are
  % solved apart: each brings its own eigenvalue 1, and one Krylov space holds only one direction
  % of a repeated eigenvalue. A component of up to 128 points goes to eig; a larger one to eigs
  % in shift-invert mode on (1 + 1e-3) I - L, which is positive definite and turns the eigenvalues
  % crowding against 1 into the smallest, well separated after inversion.
  n = rows (L);
  shift = 1e-3;
  [p, ~, r] = dmperm (L + speye (n));
  values = [];
  owner = [];
  columns = {};
  parts = {};
  for b = 1:numel (r) - 1
    rows_b = sort (p(r(b):r(b + 1) - 1));
    s = numel (rows_b);
    wanted = min (count, s);
    Lb = L(rows_b, rows_b);
    if s <= 128 || wanted >= s - 1
      [Vb, Eb] = eig (full ((Lb + Lb') / 2));
      [e, order] = sort (diag (Eb), 'descend');
      Vb = Vb(:, order(1:wanted));
      e = e(1:wanted);
    else
      opts = struct ('tol', 1e-10, 'p', min (s, max (2 * wanted, 20)), 'maxit', 3000, 'disp', 0);
      M = (1 + shift) * speye (s) - (Lb + Lb') / 2;
      [Vb, Eb, flag] = eigs (M, wanted, 0, opts);
      if flag ~= 0
        error ('rotalign_cluster: the eigen-solver did not converge on a component of %d points', s);
      end
      [e, order] = sort (1 + shift - diag (Eb), 'descend');
      Vb = Vb(:, order);
    end
    values = [values; e];
    owner = [owner; repmat(b, wanted, 1)];
    columns{b} = Vb;
    parts{b} = rows_b;
  end
  % The largest values over all components; equal values keep the components' order.
  [~, pick] = sort (-values);
  pick = pick(1:count);
  lambda = values(pick);
  V = zeros (n, count);
  first = cumsum ([0; accumarray(owner, 1)]);
  for k = 1:count
    b = owner(pick(k));
    V(parts{b}, k) = columns{b}(:, pick(k) - first(b));
  end
end
