#!/usr/bin/env bash
# check_lintian.sh DEBS: lintian on the three packages. Errors and warnings fail, and
# so do the info tags that show Debian's build flags or stripping missing.
source "$(dirname "$0")/lib.sh" || exit 1
need lintian

debs=$1
queltor=$(deb "$debs" queltor) || exit 1
devsim=$(deb "$debs" queltor-devsim) || exit 1
web=$(deb "$debs" queltor-web) || exit 1

lintian --display-info --pedantic "$queltor" "$devsim" "$web" >"$debs/lintian.out" 2>"$debs/lintian.err"
status=$?
# lintian's one remark on being run as root is about this machine, not the packages.
grep -vx 'running with root privileges is not recommended!' "$debs/lintian.err" >>"$debs/lintian.out"
cat "$debs/lintian.out"
[ "$status" -eq 0 ] || fail "lintian exited with $status"
! grep -qvE '^[IP]: ' "$debs/lintian.out" || fail "lintian has errors, warnings or messages"
! grep -qE '^I: .*: (hardening-no-(bindnow|relro|pie)|binary-has-unneeded-section) ' "$debs/lintian.out" \
  || fail "the binaries are not hardened or not stripped the Debian way"
# The panel's one call that glibc could fortify, poll() on a single pollfd, is
# proven safe at compile time and so calls plain poll(), which lintian cannot
# tell from a build without _FORTIFY_SOURCE. The simulator's printf() family
# calls are fortified: they show whether the flags reach the compiler.
! grep -qE '^I: queltor-devsim: hardening-no-fortify-functions ' "$debs/lintian.out" \
  || fail "the programs are built without _FORTIFY_SOURCE"
finish
