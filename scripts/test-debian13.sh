#!/usr/bin/env bash
# Checks the committed sources on a fresh Debian 13 (Python 3.13, Qt 6.8,
# GCC 14, clang 19) in a chroot, from a Debian 12 host. Needs root; not part
# of CI. The chroot is made once with debootstrap and kept under
# build/debian13/root (build/debian13/root.stamp marks it finished), so a
# second run only builds and tests. Each run, inside the chroot:
#   deps     the copied scripts/deps.sh (on the first run: a fresh system)
#   build    a Release build with warnings as errors, tests on, no sanitizers
#   tests    the tests that load the Python runtime
#   install  apt-get install of the package built on this host, then
#            tests/package/installed_e2e.sh (Xvfb, the run button)
#   bench    the load-to-ready and warm-run benchmarks
# The sources are `git archive HEAD`, never the working tree; so is the
# package, built once per commit with scripts/package.sh unless a .deb is given.
# Output: build/debian13/run.log; each step's full output in build/debian13/logs/.
# Usage: scripts/test-debian13.sh [--fresh] [--steps=LIST] [quorbel_*.deb]
#   --fresh       makes the chroot anew (a fresh system for deps.sh again)
#   --steps=LIST  runs only these of deps,build,tests,install,bench (default all)
set -euo pipefail
# All of it is read before it runs: editing the script during a run is safe.
main() {
cd "$(dirname "$0")/.."
top=$(pwd -P) # as the chroot's processes show their root

fresh=false
deb=""
steps=deps,build,tests,install,bench
for a in "$@"; do
  case "$a" in
    --fresh) fresh=true ;;
    --steps=*) steps=${a#--steps=} ;;
    -h | --help) sed -n '2,19p' "$0"; exit 0 ;;
    *) deb=$(realpath "$a") ;;
  esac
done
[ "$(id -u)" -eq 0 ] || { echo "needs root (debootstrap, chroot, mount)"; exit 1; }

cache=$top/build/debian13
root=$cache/root
stamp=$cache/root.stamp
logs=$cache/logs
mirror=http://deb.debian.org/debian
mkdir -p "$logs"
exec > >(tee "$cache/run.log") 2>&1

commit=$(git rev-parse --short HEAD)
names=()
results=()
times=()
# step <name> <command...>: runs a step with its output in logs/<name>.log,
# shows its last lines when it fails, and records the result and the time.
step() {
  local name=$1 start rc=0
  shift
  start=$(date +%s)
  echo "== $name"
  "$@" >"$logs/$name.log" 2>&1 || rc=$?
  names+=("$name")
  times+=("$(($(date +%s) - start))s")
  if [ $rc -eq 0 ]; then
    results+=(ok)
  else
    results+=("FAILED ($rc)")
    echo "-- $name failed; last lines of $logs/$name.log:"
    tail -n 40 "$logs/$name.log"
  fi
  return $rc
}
skip() { names+=("$1"); results+=("skipped: $2"); times+=(-); }
wanted() { [[ ",$steps," == *",$1,"* ]]; }
# A step's output shown as well as logged: tests and benchmark figures.
show() { grep -E "$2" "$logs/$1.log" || true; }

# Our mounts under the chroot, deepest first.
our_mounts() { findmnt -rn -o TARGET | grep -E "^$root(/|$)" | sort -r || true; }
unmount_all() {
  # Processes a step left running in the chroot (an X server, a bus) hold
  # the mounts: end those, found by their root folder.
  local p
  for p in /proc/[0-9]*; do
    [ "$(readlink "$p/root" 2>/dev/null)" = "$root" ] && kill "${p#/proc/}" 2>/dev/null || true
  done
  local m
  for m in $(our_mounts); do
    umount "$m" 2>/dev/null || umount -l "$m"
  done
}
mount_all() {
  mount -t proc proc "$root/proc"
  mount --bind /dev "$root/dev"
  mount --bind /dev/pts "$root/dev/pts"
  # /dev above is bound without its sub-mounts: shared memory gets its own.
  mount -t tmpfs -o mode=1777 shm "$root/dev/shm"
  mount -t sysfs sysfs "$root/sys"
}
in_root() {
  chroot "$root" /usr/bin/env -i HOME=/root TERM=dumb LANG=C.UTF-8 \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    CCACHE_DIR=/var/cache/quorbel-ccache CCACHE_BASEDIR=/q CMAKE_CXX_COMPILER_LAUNCHER=ccache \
    bash -euo pipefail -c "$1"
}

summary() {
  local rc=$?
  unmount_all
  echo
  echo "== Debian 13 summary (commit $commit)"
  local i
  for i in "${!names[@]}"; do
    printf '  %-10s %-8s %s\n' "${names[$i]}" "${times[$i]}" "${results[$i]}"
  done
  [ -f "$cache/versions.txt" ] && sed 's/^/  /' "$cache/versions.txt"
  [ -f "$cache/tests.txt" ] && { echo "  tests:"; sed 's/^/    /' "$cache/tests.txt"; }
  [ -f "$cache/bench.txt" ] && { echo "  benchmarks:"; sed 's/^/    /' "$cache/bench.txt"; }
  echo "  log: $cache/run.log, steps: $logs/"
  exit "$rc"
}
trap summary EXIT
trap 'exit 130' INT TERM
rm -f "$cache/versions.txt" "$cache/tests.txt" "$cache/bench.txt"
unmount_all # left by a run that was killed

# The chroot, made once.
bootstrap() {
  command -v debootstrap >/dev/null ||
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends debootstrap
  [ -z "$(our_mounts)" ] || { echo "still mounted under $root"; return 1; }
  rm -rf "$root" "$stamp"
  # minbase: no more than a container image has, so deps.sh must bring the rest.
  debootstrap --variant=minbase trixie "$root" "$mirror"
  cat >"$root/etc/apt/sources.list" <<EOF
deb $mirror trixie main
deb $mirror trixie-updates main
deb http://deb.debian.org/debian-security trixie-security main
EOF
  # Packages never start services in the chroot.
  printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
  chmod +x "$root/usr/sbin/policy-rc.d"
  touch "$stamp"
}
if $fresh || [ ! -f "$stamp" ]; then
  step bootstrap bootstrap || exit 1
else
  skip bootstrap "cached $(date -r "$stamp" +%F)"
fi
cp /etc/resolv.conf "$root/etc/resolv.conf"

# The package, built on this host from the committed sources, once per commit.
if [ -z "$deb" ] && wanted install; then
  debdir=$cache/deb/$commit
  if ! ls "$debdir"/quorbel_*.deb >/dev/null 2>&1; then
    host_package() {
      local src=$cache/host-src
      rm -rf "$src" "$debdir"
      mkdir -p "$src" "$debdir"
      git archive HEAD | tar -x -C "$src"
      # The cache is used when the host has it: packages of other commits rebuild little.
      command -v ccache >/dev/null && export CMAKE_CXX_COMPILER_LAUNCHER=ccache CCACHE_BASEDIR=$src
      (cd "$src" && scripts/package.sh build/package)
      cp "$src"/build/package/quorbel_*.deb "$debdir/"
    }
    step package host_package || true
  else
    skip package "built for $commit"
  fi
  deb=$(ls "$debdir"/quorbel_*.deb 2>/dev/null | head -n1 || true)
fi

mount_all
# The committed sources at /q/src; builds at /q/test and /q/bench, made anew
# each run (the archive's file times would hide changes from ninja), with a
# compiler cache that keeps the second run short.
rm -rf "$root/q"
mkdir -p "$root/q/src" "$root/q/deb"
git archive HEAD | tar -x -C "$root/q/src"
[ -n "$deb" ] && cp "$deb" "$root/q/deb/"

if wanted deps; then
  step deps in_root 'cd /q/src && scripts/deps.sh' || true
fi
# The compiler cache is this script's, not the project's.
in_root 'command -v ccache >/dev/null || { apt-get update -q && apt-get install -y -q --no-install-recommends ccache; }' \
  >"$logs/ccache.log" 2>&1 || echo "ccache not installed: $logs/ccache.log"

in_root '
py=$(ls /usr/bin/python3.[0-9]* | grep -E "python3\.[0-9]+$" | sort -V | tail -n1)
clang=$(ls /usr/bin/clang++-[0-9]* 2>/dev/null | sort -V | tail -n1)
echo "gcc:    $(g++ --version | head -n1)"
echo "Qt:     $(dpkg-query -W -f="\${Version}" qt6-base-dev 2>/dev/null || echo none)"
echo "Python: $($py --version 2>&1) ($py; $(ls /usr/lib/x86_64-linux-gnu/libpython3.*.so.1.0 | tr "\n" " "))"
echo "clang:  $([ -n "$clang" ] && $clang --version | head -n1 || echo none)"
echo "cmake:  $(cmake --version | head -n1)"
' >"$cache/versions.txt" 2>&1 || true
cat "$cache/versions.txt"

# Release without sanitizers: the warnings of the newer compiler, at -O2 too.
py_tests='testrun|pybridge|run_control|live_run|script_output|journal|signal|python_io|python_environment'
build_ok=false
if wanted build || wanted tests; then
  step build in_root '
cmake -S /q/src -B /q/test -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DQUORBEL_WERROR=ON -DQUORBEL_TESTS=ON -DQUORBEL_BENCH=OFF -DQUORBEL_SANITIZE=OFF
cmake --build /q/test -j 2' && build_ok=true
fi

if ! wanted tests; then
  :
elif $build_ok; then
  step tests in_root "cd /q/test && ctest -R '$py_tests' --output-on-failure" || true
  show tests '^ *[0-9]+/[0-9]+ Test|tests passed' | tee "$cache/tests.txt"
else
  skip tests "no build"
fi

install_and_run() {
  in_root '
export DEBIAN_FRONTEND=noninteractive
apt-get install -y -q --no-install-recommends /q/deb/quorbel_*.deb
status=0
CI=true /q/src/tests/package/installed_e2e.sh /q/deb /q/deb/installed-screenshot.png || status=$?
apt-get remove -y -q quorbel
exit $status'
}
if ! wanted install; then
  :
elif [ -n "$deb" ]; then
  step install install_and_run || true
  [ -f "$root/q/deb/installed-screenshot.png" ] && cp "$root/q/deb/installed-screenshot.png" "$cache/"
else
  skip install "no package"
fi

bench_ok=false
if wanted bench; then
  step bench-build in_root '
cmake -S /q/src -B /q/bench -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DQUORBEL_WERROR=ON -DQUORBEL_TESTS=OFF -DQUORBEL_BENCH=ON -DQUORBEL_SANITIZE=OFF
cmake --build /q/bench -j 2 --target bench_pybridge_core bench_testrun' && bench_ok=true
fi
if ! wanted bench; then
  :
elif $bench_ok; then
  # Load to ready: the bridge's LoadDll beside a program linked against the
  # runtime; the run button's warm run of the default script.
  # Names go on with their settings (/iterations:30/manual_time); a filter
  # that matches nothing is a failure, not an empty report.
  step bench in_root "
cd /q/bench
bin/bench_pybridge_core --benchmark_filter='^(BM_Bridge_LoadDll|BM_Reference_LinkedPyInitialize)/' | tee /tmp/bench1
bin/bench_testrun --benchmark_filter='^BM_WarmRunDefaultScript/' | tee /tmp/bench2
grep -q '^BM_' /tmp/bench1 && grep -q '^BM_' /tmp/bench2" || true
  show bench '^BM_|ERROR' | tee "$cache/bench.txt"
else
  skip bench "no build"
fi

# The run's status: every step passed.
for r in "${results[@]}"; do
  case "$r" in ok | skipped*) ;; *) exit 1 ;; esac
done
}
main "$@"
