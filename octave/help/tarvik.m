% TARVIK  Rotates eigenvectors to align their rows with the axes, and groups the rows.
%
%   [groups, quality, rotated] = tarvik(X)
%   [groups, quality, rotated] = tarvik(X, method)
%
%   X holds one eigenvector per column and one data point per row. tarvik
%   searches for the rotation R, a product of one Givens rotation per pair
%   of columns, under which the rows of X*R line up best with the
%   coordinate axes, and assigns every row to the column of its largest
%   squared entry. The alignment quality of an n-by-c matrix Y is
%     Q = 1 - (J/n - 1)/c,  J = sum over all entries of Y(r,j)^2 / M(r)
%   where M(r) is the largest squared entry of row r: Q is 1 when every
%   row has one non-zero entry and 1/c when all entries of every row have
%   the same magnitude. The search changes one angle at a time and keeps a
%   change only when Q strictly rises; it stops when Q has gained less than
%   0.001 over the last two sweeps (after at least three), or after 200.
%
%   Inputs
%     X       n-by-c double matrix, dense; only its real part is read, and
%             only its first n-by-c page. A row of zeros makes the quality
%             NaN, and the search then returns X unrotated.
%     method  optional; truncated toward zero. 2 selects the numerical
%             search (steps of 0.1 radians in each direction); any other
%             value, and a call without it, the gradient search.
%
%   Outputs (all three must be requested)
%     groups   1-by-c cell; groups{g} is a row of the 1-based indices of the
%              rows assigned to column g, in ascending order (1-by-0 when
%              none). Ties go to the later column, so a row of zeros lands
%              in the last group; a row of NaN in none.
%     quality  the quality Q of rotated.
%     rotated  X*R, n-by-c.
%
%   Errors
%     tarvik: Too few output arguments.      fewer than three outputs
%     tarvik: Too many output arguments.     more than three outputs
%     tarvik: Too few input arguments.
%     tarvik: Too many input arguments.      more than two inputs
%     tarvik: Eigenvector matrix must be of class double
%     tarvik: Eigenvector matrix must not be sparse
%     tarvik: Eigenvector matrix has too many rows       more than 2^31-1
%     tarvik: Eigenvector matrix has too many columns    c*(c-1) above 2^31-1
%     tarvik: Eigenvector matrix has fewer values than rows times columns
%                                             an n-by-c-by-0 array
%
%   Example
%     t = 0.3;
%     X = [cos(t) -sin(t); sin(t) cos(t)];
%     [groups, quality, rotated] = tarvik(X, 2)
%     % groups = {1, 2}, quality = 1, rotated = eye(2) to within 1e-15
%
%   See also brenmoss, olvane, pellor, nimbrel.
