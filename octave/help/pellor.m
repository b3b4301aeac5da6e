% PELLOR  Affinities from a square distance matrix with one global scale.
%
%   A = pellor(D, sigma)
%
%   Turns distances into affinities with the Gaussian kernel
%   A(i,j) = exp(-D(i,j) / sigma^2), entry by entry. Nothing is clamped:
%   a zero distance gives 1, a negative distance an affinity above 1, and
%   sigma = 0 follows IEEE arithmetic (0, NaN or Inf).
%
%   Inputs
%     D      N-by-N double matrix of distances, dense or sparse. Only the
%            real part is read; the imaginary part of a complex D is carried
%            over unchanged, and so is every page after the first of a
%            N-by-N-by-P array.
%     sigma  the kernel scale: the first element of a numeric array. Its
%            sign does not matter. An empty sigma has no first element;
%            Octave rejects it before the function runs.
%
%   Output
%     A      same size, class and storage as D. A sparse D gives a sparse A
%            with exactly D's pattern: an entry D does not store stays
%            unstored (affinity 0), every stored entry is transformed.
%
%   Errors
%     pellor: Too few output arguments.      no output requested, as in a
%                                             bare call pellor(D, sigma)
%     pellor: Too many output arguments.
%     pellor: Too few input arguments.       fewer than two inputs
%     pellor: Too many input arguments.      more than two inputs
%     pellor: Distance matrix must be square
%     pellor: Distance matrix must be of class double
%
%   Example
%     D = [0 1 4; 1 0 2; 4 2 0];
%     A = pellor(D, 2)                 % exp(-D / 4)
%     S = pellor(sparse(D), 2);        % the diagonal stays unstored
%
%   See also brenmoss, olvane, nimbrel, tarvik.
