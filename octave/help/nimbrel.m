% NIMBREL  A copy of a square matrix with its diagonal set to zero.
%
%   Z = nimbrel(M)
%
%   Every diagonal value of Z is +0 (NaN, Inf and -0 on the diagonal
%   included); every other value is M's, NaN and Inf as they are.
%
%   Input
%     M  N-by-N double matrix, dense or sparse. Only the real part is
%        written: the imaginary part of a complex M is carried over whole,
%        on the diagonal too, and so is every page after the first of a
%        N-by-N-by-P array.
%
%   Output
%     Z  same size, class and storage as M. A sparse M gives a sparse Z with
%        exactly M's pattern: a diagonal value that M stores stays stored as
%        an explicit zero (nnz(Z) == nnz(M)); Octave keeps such a zero until
%        an operation on Z rebuilds it, as Z + 0 or sparse(Z) do.
%
%   Errors
%     nimbrel: Too few output arguments.      no output requested, as in a
%                                              bare call nimbrel(M)
%     nimbrel: Too many output arguments.
%     nimbrel: Too few input arguments.
%     nimbrel: Too many input arguments.      more than one input
%     nimbrel: Input matrix must be square
%     nimbrel: Input matrix must be of class double
%
%   Example
%     M = [1 2 3; 4 5 6; 7 8 9];
%     Z = nimbrel(M)                   % [0 2 3; 4 0 6; 7 8 0]
%     S = nimbrel(sparse(M));          % nnz(S) is still 9
%
%   See also pellor, brenmoss, olvane, tarvik.
