function outdir = build_toolbox(outdir)
% BUILD_TOOLBOX  Compiles the five plug-ins for the running Octave or MATLAB.
%
%   build_toolbox          builds into <repository>/build/toolbox
%   build_toolbox(outdir)  builds into outdir, creating it if needed
%   outdir = build_toolbox(...) also returns the folder
%
%   Each plug-in is compiled from <repository>/<name>/<name>.cpp with the
%   host's own mex command (name.mex in Octave, name.<mexext> in MATLAB),
%   and its help file is copied beside it, so that after addpath(outdir)
%   both the function and "help <name>" work. A plug-in whose source is
%   missing is skipped with a warning; a compiler error stops the build.
%
%   Example
%     addpath(build_toolbox());
%     help pellor
%
%   See also tarvik, brenmoss, olvane, pellor, nimbrel.

here = fileparts(mfilename('fullpath'));
root = fileparts(here);
if nargin < 1 || isempty(outdir)
    outdir = fullfile(root, 'build', 'toolbox');
end
if ~exist(outdir, 'dir')
    mkdir(outdir);
end

names = {'tarvik', 'brenmoss', 'olvane', 'pellor', 'nimbrel'};
% Every plug-in includes the frame; olvane also includes brenmoss's column sort.
includes = {['-I' fullfile(root, 'frame')], ['-I' fullfile(root, 'brenmoss')]};
% No fused multiply-add, so that results match the other builds bit for bit.
extra_flags = '-std=c++17 -ffp-contract=off';

is_octave = exist('OCTAVE_VERSION', 'builtin') ~= 0;
if is_octave
    % Octave's mex reads the compiler flags from the environment; restore it afterwards.
    saved_flags = getenv('CXXFLAGS');
    restore = onCleanup(@() restore_flags(saved_flags));
    setenv('CXXFLAGS', [strtrim(mkoctfile('-p', 'CXXFLAGS')) ' ' extra_flags]);
end

for k = 1:numel(names)
    name = names{k};
    source = fullfile(root, name, [name '.cpp']);
    if ~exist(source, 'file')
        warning('build_toolbox:missing', 'build_toolbox: %s not found, %s skipped', source, name);
        continue;
    end
    % A loaded plug-in has to be released before its file is replaced.
    clear(name);
    if is_octave
        mex(includes{:}, '-o', fullfile(outdir, [name '.mex']), source);
    elseif isunix
        mex('-largeArrayDims', ['CXXFLAGS=$CXXFLAGS ' extra_flags], includes{:}, '-outdir', outdir, source);
    else
        mex('-largeArrayDims', includes{:}, '-outdir', outdir, source);
    end
    copyfile(fullfile(here, 'help', [name '.m']), outdir);
end
end

function restore_flags(saved_flags)
if isempty(saved_flags)
    unsetenv('CXXFLAGS');
else
    setenv('CXXFLAGS', saved_flags);
end
end
