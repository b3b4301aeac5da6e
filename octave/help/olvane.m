% OLVANE  Locally scaled distances and affinities, mean-scale variant.
%
%   [scaled, affinities, scales] = olvane(D, K)
%
%   Takes the same local scales sigma as brenmoss: the distance of each
%   point to its K-th nearest neighbour, from its column of D. On a dense D
%   every entry d = D(i,j) gets the mean of the two local scales, with no
%   lower bound:
%     s = (sigma(i) + sigma(j)) * 0.5
%     scaled(i,j)     = d / s
%     affinities(i,j) = exp(-(d / s)^2)
%     scales(i,j)     = s
%   A zero scale follows IEEE arithmetic: a positive distance gives Inf and
%   affinity 0, a zero distance NaN. On a sparse D olvane computes exactly
%   what brenmoss computes (scale max(sqrt(sigma(i) * sigma(j)), 0.004),
%   affinity exp(-d / s)), so the dense and the sparse form of one matrix
%   give different results.
%
%   Inputs
%     D  N-by-N double matrix of distances, dense or sparse. Only the real
%        part of the first N-by-N page is read; imaginary parts and further
%        pages are carried over unchanged.
%     K  neighbour count, the first element of a numeric array, truncated
%        toward zero. Dense D needs 0 <= K <= N-1; sparse D needs K >= 1.
%
%   Outputs (each computed only when requested)
%     scaled, affinities, scales  same size, class and storage as D; a
%        sparse D gives sparse outputs with exactly D's pattern.
%
%   Errors
%     olvane: Too few output arguments.      no output requested, as in a
%                                             bare call olvane(D, K)
%     olvane: Too many output arguments.     more than three outputs
%     olvane: Too few input arguments.       fewer than two inputs
%     olvane: Too many input arguments.      more than two inputs
%     olvane: Distance matrix must be square
%     olvane: Distance matrix must be of class double
%     olvane: Neighbour count must be from 0 to N-1 for a dense distance matrix
%     olvane: Neighbour count must be at least 1 for a sparse distance matrix
%
%   Example
%     D = [0 1 4; 1 0 2; 4 2 0];
%     [scaled, affinities] = olvane(D, 1)
%     % sigma = [1 1 2]; scaled = [0 1 8/3; 1 0 4/3; 8/3 4/3 0]
%
%   See also brenmoss, pellor, nimbrel, tarvik.
