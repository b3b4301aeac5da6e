## Runs the toolbox's Octave tests and exits non-zero unless every block of every file passed.
##
##   octave-cli -H --norc run_suite.m DIR [NAME ...]
##       tests the plug-ins in DIR, each NAME.mex beside its help file NAME.m
##   octave-cli -H --norc run_suite.m --package TARBALL [NAME ...]
##       installs TARBALL with pkg into a temporary prefix (offline: a local file), loads it,
##       tests what it installed, and removes the prefix again
##   octave-cli -H --norc run_suite.m --build-script [NAME ...]
##       compiles the plug-ins with build_toolbox into a temporary folder and tests them there
##
## The NAMEs limit the run to those plug-ins (all five by default); tests that chain several
## plug-ins run only when all five are named. Each file's blocks run through test(), which
## reports failures but never raises: the counts it returns decide the exit status.

1;

function name = package_name (tarball)
  [~, file] = fileparts (tarball);
  name = regexprep (file, '-[0-9][0-9.]*(\.tar)?$', '');
endfunction

function files = selected_files (tests_dir, names)
  all_names = {"tarvik", "brenmoss", "olvane", "pellor", "nimbrel"};
  files = {};
  for name = names
    files{end+1} = fullfile (tests_dir, [name{1} ".tst"]);
  endfor
  if (all (ismember (all_names, names)))
    listing = dir (fullfile (tests_dir, "*.tst"));
    for f = {listing.name}
      [~, base] = fileparts (f{1});
      if (! any (strcmp (base, all_names)))
        files{end+1} = fullfile (tests_dir, f{1});
      endif
    endfor
  endif
endfunction

function [passed, total, empty] = run_files (files)
  passed = total = 0;
  empty = {};
  for f = files
    [n, nmax] = test (f{1}, "quiet", stdout);
    passed += n;
    total += nmax;
    if (nmax == 0)
      empty{end+1} = f{1};
    endif
  endfor
endfunction

args = argv ();
if (isempty (args))
  error ("usage: run_suite.m DIR | --package TARBALL | --build-script, then [NAME ...]");
endif
mode = args{1};
if (strcmp (mode, "--package"))
  if (numel (args) < 2)
    error ("run_suite.m: --package needs the tarball");
  endif
  source = make_absolute_filename (args{2});
  names = args(3:end)';
elseif (strcmp (mode, "--build-script"))
  names = args(2:end)';
else
  mode = "--dir";
  source = make_absolute_filename (args{1});
  names = args(2:end)';
endif
if (isempty (names))
  names = {"tarvik", "brenmoss", "olvane", "pellor", "nimbrel"};
endif
tests_dir = fileparts (mfilename ("fullpath"));
files = selected_files (tests_dir, names);

status = 1;
scratch = "";
unwind_protect
  switch (mode)
    case "--package"
      scratch = where = tempname ();
      mkdir (scratch);
      pkg ("prefix", scratch, scratch);
      pkg ("local_list", fullfile (scratch, "octave_packages"));
      pkg ("install", "-local", source);
      pkg ("load", package_name (source));
    case "--build-script"
      scratch = where = tempname ();
      addpath (fileparts (tests_dir));
      addpath (build_toolbox (scratch));
    otherwise
      addpath (source);
      where = source;
  endswitch
  ## Every plug-in under test must come from where it was asked for, with its help beside it.
  for name = names
    found = which (name{1});
    if (! strncmp (found, where, numel (where)) || ! strcmp (found(end-3:end), ".mex"))
      error ("run_suite.m: %s is not a plug-in from %s (found '%s')", name{1}, where, found);
    endif
  endfor
  [passed, total, empty] = run_files (files);
  for f = empty
    printf ("%s ran no test\n", f{1});
  endfor
  printf ("%d passed, %d failed\n", passed, total - passed);
  if (passed == total && total > 0 && isempty (empty))
    status = 0;
  endif
unwind_protect_cleanup
  if (! isempty (scratch) && isfolder (scratch))
    confirm_recursive_rmdir (false);
    rmdir (scratch, "s");
  endif
end_unwind_protect
exit (status);
