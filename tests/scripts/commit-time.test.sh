#!/usr/bin/env bash
# scripts/commit-time, which stamps every release file: a clone owned by another user (as CI's
# container leaves its checkout to root) gives its commit's time; a git work tree that git
# cannot read fails with one line; a tree without git gives the present and says so.
# shellcheck source=tests/scripts/lib.sh
source "$(dirname "$0")/lib.sh"

if [ "$(id -u)" != 0 ]; then
  echo "$suite: skipped: only root can hand a clone to another user (CI here runs as root)"
  exit 0
fi
git clone -q --no-hardlinks "$root" "$scratch/clone"
expected="$(git -C "$scratch/clone" log -1 --format=%ct)"
# The script as it is now, which the clone's commit may not hold yet.
cp "$root/scripts/commit-time" "$scratch/clone/scripts/commit-time"
# An owner no account has, as the runner's user is to root in the container.
chown -R 54321:54321 "$scratch/clone"

run git -C "$scratch/clone" log -1 --format=%ct
if [ "$status" = 0 ] || ! grep -q 'dubious ownership' <<<"$err"; then
  bad "plain git reads a clone of another user (status $status), so the case shows nothing"
fi
run "$scratch/clone/scripts/commit-time"
if [ "$status" = 0 ] && [ "$out" = "$expected" ] && [ -z "$err" ]; then
  ok "a clone of another user gives its commit's time"
else
  bad "a clone of another user: status $status, '$out' (the commit's: $expected), '$err'"
fi

# A git that cannot read the work tree, however it comes to that: here a HEAD that names nothing.
echo "ref: refs/heads/nowhere" >"$scratch/clone/.git/HEAD"
run "$scratch/clone/scripts/commit-time"
if [ "$status" = 1 ] && [ -z "$out" ] && [ "$(wc -l <<<"$err")" = 1 ] && grep -q 'git cannot read the checkout' <<<"$err"; then
  ok "an unreadable work tree fails: $err"
else
  bad "an unreadable work tree: status $status, '$out', '$err'"
fi

mkdir "$scratch/tarball"
cp -R "$scratch/clone/scripts" "$scratch/tarball/"
before="$(date +%s)"
run "$scratch/tarball/scripts/commit-time"
if [ "$status" = 0 ] && [ "$out" -ge "$before" ] && [ "$out" -le "$(date +%s)" ] && grep -q 'no git checkout' <<<"$err"; then
  ok "outside git, the present, said on stderr"
else
  bad "outside git: status $status, '$out', '$err'"
fi
finish
