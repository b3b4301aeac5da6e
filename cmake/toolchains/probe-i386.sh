#!/bin/sh
# Says whether this machine executes 32-bit x86 (i386) programs: prints "yes" or "no".
#
# Some kernels are built without 32-bit support and refuse such programs ("Exec format error")
# although the 32-bit packages install, so the only sure test is to build a tiny program with
# `gcc -m32` and run it. TOOLBOX_RUN_I386=yes or =no forces the answer, so that both paths can be
# tried on any machine.
case "${TOOLBOX_RUN_I386:-}" in
  yes | no)
    echo "$TOOLBOX_RUN_I386"
    exit 0
    ;;
  "") ;;
  *)
    echo "probe-i386: TOOLBOX_RUN_I386 must be yes or no, not '$TOOLBOX_RUN_I386'" >&2
    exit 2
    ;;
esac

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
printf 'int main(void) { return 0; }\n' >"$dir/probe.c"
if gcc -m32 -o "$dir/probe" "$dir/probe.c" >/dev/null 2>&1 && "$dir/probe" >/dev/null 2>&1; then
  echo yes
else
  echo no
fi
