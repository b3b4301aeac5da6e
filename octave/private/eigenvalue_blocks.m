function starts = eigenvalue_blocks (values, rule)
  % The first index (counted from 0, as in the program) of every block of nearly repeated
  % eigenvalues.
  starts = 0;
  for c = 1:numel (values) - 1
    if clear_cut (values, c, rule)
      starts(end + 1) = c;
    end
  end
end
