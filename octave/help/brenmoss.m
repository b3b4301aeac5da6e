% BRENMOSS  Locally scaled distances and affinities.
%
%   [scaled, affinities, scales] = brenmoss(D, K)
%
%   Gives every point j a local scale sigma(j): the distance to its K-th
%   nearest neighbour, taken from column j of D (dense D: the value at
%   position K+1 of the column sorted in ascending order, so that the zero
%   distance to itself is skipped; sparse D: the K-th smallest stored value,
%   or the largest when the column stores fewer than K, or 0 when it stores
%   none). Every entry d = D(i,j) then gets the pairwise scale
%   s = max(sqrt(sigma(i) * sigma(j)), 0.004), and
%     scaled(i,j)     = d / s
%     affinities(i,j) = exp(-d / s)
%     scales(i,j)     = s
%   The lower bound 0.004 never hides a NaN scale.
%
%   Inputs
%     D  N-by-N double matrix of distances, dense or sparse. Symmetry and
%        sign are not tested. Only the real part of the first N-by-N page is
%        read; imaginary parts and further pages are carried over unchanged.
%     K  neighbour count, the first element of a numeric array, truncated
%        toward zero (2.9 gives 2). Dense D needs 0 <= K <= N-1; sparse D
%        needs K >= 1.
%
%   Outputs (each computed only when requested)
%     scaled, affinities, scales  same size, class and storage as D. A
%        sparse D gives sparse outputs with exactly D's pattern: an entry D
%        does not store stays unstored (affinity 0), while a stored zero
%        distance gets affinity 1.
%
%   Errors
%     brenmoss: Too few output arguments.      no output requested, as in a
%                                               bare call brenmoss(D, K)
%     brenmoss: Too many output arguments.     more than three outputs
%     brenmoss: Too few input arguments.       fewer than two inputs
%     brenmoss: Too many input arguments.      more than two inputs
%     brenmoss: Distance matrix must be square
%     brenmoss: Distance matrix must be of class double
%     brenmoss: Neighbour count must be from 0 to N-1 for a dense distance matrix
%     brenmoss: Neighbour count must be at least 1 for a sparse distance matrix
%
%   Example
%     D = [0 1 4; 1 0 2; 4 2 0];
%     [scaled, affinities, scales] = brenmoss(D, 1)
%     % sigma = [1 1 2]; scaled = [0 1 2*sqrt(2); 1 0 sqrt(2); 2*sqrt(2) sqrt(2) 0]
%     S = brenmoss(sparse(D), 1);      % the same values, diagonal unstored
%
%   See also olvane, pellor, nimbrel, tarvik.
