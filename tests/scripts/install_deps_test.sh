#!/usr/bin/env bash
# The dependency installer removes no package the user has. Against this machine's package lists,
# apt's simulation installs each of its lists beside FUSE 3, sshfs and the desktop portal (which
# FUSE 2 would take away) and removes nothing. A copy of it on stand-in apt-get, dpkg-query, sudo
# and debconf-set-selections installs nothing where the simulation would remove or purge a
# package and names it, installs with --no-remove where it would not, counts FUSE 2 as the FUSE
# entry, and with everything there, held packages too, runs no apt-get and prints nothing.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
installer="$repo/scripts/install-deps.sh"
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT

fail() {
  echo "$1" >&2
  for shown in "${@:2}"; do
    echo "--- $(basename "$shown"):" >&2
    cat "$shown" >&2
  done
  exit 1
}

# The simulation needs no root and installs nothing; it fails where apt cannot meet the
# packages' conflicts.
for list in run test; do
  entries=$("$installer" --list "$list")
  mapfile -t packages < <(sed 's/|.*//' <<<"$entries")
  if ! apt-get install -s --no-install-recommends fuse3 sshfs xdg-desktop-portal "${packages[@]}" \
    >"$tree/simulation.txt" 2>&1; then
    grep -E 'Unable to locate package|has no installation candidate' "$tree/simulation.txt" \
      >"$tree/unknown.txt" && fail "apt does not know a package of the $list list: its package \
lists are missing or old (apt-get update), or the name is wrong:" "$tree/unknown.txt"
    grep -v 'is already the newest version' "$tree/simulation.txt" >"$tree/apt.txt" || true
    fail "apt cannot install the $list list beside fuse3, sshfs and xdg-desktop-portal:" \
      "$tree/apt.txt"
  fi
  grep -E '^(Remv|Purg) ' "$tree/simulation.txt" >"$tree/removed.txt" \
    && fail "installing the $list list would remove packages:" "$tree/removed.txt"
done

mkdir -p "$tree/bin" "$tree/scripts"
cp "$installer" "$tree/scripts/"
ran="$tree/ran.txt"
# apt-get notes its arguments and, simulating, prints simulated.txt; dpkg-query answers the
# status that status.txt gives a package ("name status" lines) or finds none.
cat >"$tree/bin/apt-get" <<STUB
#!/usr/bin/env bash
echo "apt-get \$*" >>"$ran"
[[ " \$* " != *" -s "* ]] || cat "$tree/simulated.txt"
STUB
cat >"$tree/bin/dpkg-query" <<STUB
#!/usr/bin/env bash
awk -v name="\${!#}" '\$1 == name { sub(/^[^ ]+ /, ""); print; found = 1 } END { exit !found }' \
  "$tree/status.txt"
STUB
printf '#!/bin/sh\nexec "$@"\n' >"$tree/bin/sudo"
printf '#!/bin/sh\ncat >/dev/null\n' >"$tree/bin/debconf-set-selections"
chmod +x "$tree/bin/"*

# Runs the copy with the given arguments on the given simulation output; answers its exit code.
run_installer() {
  printf '%s' "$1" >"$tree/simulated.txt"
  : >"$ran"
  local status=0
  PATH="$tree/bin:$PATH" "$tree/scripts/install-deps.sh" "${@:2}" >"$tree/out.txt" \
    2>"$tree/err.txt" || status=$?
  return $status
}
# Gives every first alternative of the test list the status "install ok installed", less the
# packages named.
installed_but() {
  "$installer" --list test | sed 's/|.*//' | grep -vxF -f <(printf '%s\n' "$@") \
    | sed 's/$/ install ok installed/' >"$tree/status.txt"
}
real_install() {
  grep '^apt-get install' "$ran" | grep -v -- ' -s ' || true
}

: >"$tree/status.txt"
# What FUSE 2 did: it took sshfs and the desktop portal, neither of which the lists name. Where
# apt is set to purge (APT::Get::Purge), its simulation says "Purg" for the same removals.
removing=$'Remv sshfs [3.7.3-1]\nRemv xdg-desktop-portal [1.16.0-2]\nInst fuse (2.9.9-6)\n'
purging=${removing//Remv/Purg}
for simulation in "$removing" "$purging"; do
  says="where apt's simulation says ${simulation:0:4}"
  run_installer "$simulation" test && fail "the installer passed $says" "$tree/err.txt"
  grep -q 'sshfs' "$tree/err.txt" && grep -q 'xdg-desktop-portal' "$tree/err.txt" \
    || fail "the installer does not name the packages $says" "$tree/err.txt"
  installing=$(real_install)
  [ -z "$installing" ] || fail "the installer installed $says" "$ran"
done

installed_but fuse3 bindfs
echo "fuse install ok installed" >>"$tree/status.txt"
run_installer $'Inst bindfs (1.17.2-1)\n' test || fail "the installer failed" "$tree/err.txt" "$ran"
installing=$(real_install)
[[ "$installing" == *" --no-remove "* && "$installing" == *" bindfs" ]] \
  || fail "the installer did not install bindfs with --no-remove" "$ran"
[[ "$installing" != *fuse* ]] || fail "the installer installed FUSE beside FUSE 2" "$ran"

# A package the user holds at its version is installed too.
installed_but
sed -i 's/^cmake install /cmake hold /' "$tree/status.txt"
run_installer "$removing" test \
  || fail "the installer failed with everything there" "$tree/err.txt"
[ ! -s "$ran" ] || fail "the installer ran apt-get with everything there" "$ran"
[ ! -s "$tree/out.txt" ] && [ ! -s "$tree/err.txt" ] \
  || fail "the installer printed with everything there" "$tree/out.txt" "$tree/err.txt"

# A mistyped list, from a caller's stage, fails rather than installing nothing.
run_installer "" tset && fail "the installer passed with an unknown list" "$tree/err.txt"
[ ! -s "$ran" ] || fail "the installer ran apt-get with an unknown list" "$ran"
