#!/usr/bin/python3
"""Times the whole `rotalign cluster` command on two-moons points, stage by stage, with the
peak memory of the process, so that a regression in any stage or in memory shows.

usage: bench/app/whole_command.py [--build DIR] [--reference DIR] [--points 2000,5000,10000]
                                  [--runs 3] [--pause SECONDS] [--options "..."]

  --build DIR      a Release build tree (default: build/default); its rotalign is timed
  --reference DIR  another build tree, timed in turn with the first (run for run), so that a
                   before/after comparison comes from one run on one machine
  --points LIST    sizes of the two-moons sets (seed 7), default 2000,5000,10000
  --runs N         runs per size and build, one after another (default 3); each time is the
                   least over the runs, the run least disturbed by other work on the machine
  --pause SECONDS  sleep before each run: the kernel and the hypervisor take freed memory back
                   after a while, and a pause lets a run meet fresh pages as a first run does
  --options TEXT   further options of `rotalign cluster` (default "--graph dense": the route of
                   N-by-N matrices; "" for the program's own choice)

Every run is a fresh process, as a user runs the program: fresh pages, loading the plug-ins,
reading the file; an in-process benchmark would reuse the host's blocks from one iteration to
the next and hide the cost of fresh memory. What a fresh page costs depends on how long ago the
memory was freed (on a virtual machine the host takes freed memory back after a few seconds),
so the runs of one build follow each other: the first one meets the memory as the previous
program left it, the later ones as this build leaves it. Peak memory is the process's maximum resident set
(wait4 of the child). The groups and the qualities printed must be the same in every run and in
both builds; the script says so, and exits with status 1 when they differ.
"""
import argparse
import os
import re
import sys
import tempfile
import time

STAGES = ["distances", "affinity", "diagonal", "normalise", "eigen", "rotation"]


def run(program, csv, work, options):
    """One run: its stage times and figures, and its printed result (groups and qualities)."""
    summary = os.path.join(work, "summary.txt")
    groups = os.path.join(work, "groups.txt")
    actions = [(os.POSIX_SPAWN_OPEN, 1, summary, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644),
               (os.POSIX_SPAWN_OPEN, 2, os.devnull, os.O_WRONLY, 0)]
    start = time.perf_counter()
    pid = os.posix_spawn(program, [program, "cluster", csv, "--output", groups] + options, os.environ,
                         file_actions=actions)
    _, status, usage = os.wait4(pid, 0)
    wall = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("%s cluster %s failed with status %d" % (program, csv, os.waitstatus_to_exitcode(status)))
    with open(summary) as f:
        text = f.read()
    stages = re.search(r"stage times \(ms\): (.*)", text)
    if not stages:
        sys.exit("no stage times in the output of " + program)
    figures = {name: float(ms) / 1000.0 for name, ms in re.findall(r"(\w+) ([0-9.]+)", stages.group(1))}
    figures["wall"] = wall
    figures["system"] = usage.ru_stime
    figures["peak_mib"] = usage.ru_maxrss / 1024.0  # ru_maxrss is in KiB on Linux
    printed = [line for line in text.splitlines() if line.startswith(("groups:", "quality:"))]
    with open(groups) as f:
        return figures, "\n".join(printed) + "\n" + f.read()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    root = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
    parser.add_argument("--build", default=os.path.join(root, "build", "default"))
    parser.add_argument("--reference")
    parser.add_argument("--points", default="2000,5000,10000")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--pause", type=float, default=0.0)
    parser.add_argument("--options", default="--graph dense")
    args = parser.parse_args()

    builds = [("build", os.path.join(args.build, "rotalign"))]
    if args.reference:
        builds.append(("reference", os.path.join(args.reference, "rotalign")))
    for _, program in builds:
        if not os.access(program, os.X_OK):
            sys.exit("no program " + program + " (build the target rotalign)")

    print("rotalign cluster, two moons (seed 7), least of %d runs per build, %d cores%s"
          % (args.runs, os.cpu_count(), ", %.0f s pause before each run" % args.pause if args.pause else ""))
    for name, program in builds:
        print("  %-9s %s" % (name, program))
    header = "%-7s %-9s %8s %8s" % ("points", "build", "wall s", "stages") + "".join(
        " %9s" % s for s in STAGES) + " %8s %9s" % ("system s", "peak MiB")
    print(header)

    same = True
    with tempfile.TemporaryDirectory() as work:
        for n in [int(p) for p in args.points.split(",")]:
            csv = os.path.join(work, "moons%d.csv" % n)
            with open(csv, "w") as f:
                f.write(os.popen("'%s' generate moons --points %d --seed 7" % (builds[0][1], n)).read())
            best = {name: {} for name, _ in builds}
            outputs = set()
            for name, program in builds:
                for _ in range(args.runs):
                    figures, printed = run(program, csv, work, args.options.split())
                    outputs.add(printed)
                    for key, value in figures.items():
                        if key == "peak_mib":
                            best[name][key] = max(best[name].get(key, 0.0), value)
                        else:
                            best[name][key] = min(best[name].get(key, value), value)
            for name, _ in builds:
                b = best[name]
                print("%-7d %-9s %8.2f %8.2f" % (n, name, b["wall"], b["total"]) +
                      "".join(" %9.3f" % b[s] for s in STAGES) + " %8.2f %9.0f" % (b["system"], b["peak_mib"]))
            if len(outputs) != 1:
                same = False
                print("%-7d the printed groups or qualities differ between runs or builds" % n)
    print("printed groups and qualities: %s" % ("the same in every run" + (" and build" if args.reference else "")
                                                 if same else "DIFFERENT"))
    return 0 if same else 1


if __name__ == "__main__":
    sys.exit(main())
