#!/usr/bin/env bash
# Prints how many processors the builds and tests may keep busy. nproc counts the processors this
# process may run on, but a container's CPU quota can allow far fewer: on a machine that shows 16
# processors with a quota of 2, sixteen timing-sensitive tests at once would starve each other.
set -euo pipefail
cpus=$(nproc)
quota_cpus() {
  local quota period
  if [[ -r /sys/fs/cgroup/cpu.max ]]; then
    read -r quota period </sys/fs/cgroup/cpu.max
  elif [[ -r /sys/fs/cgroup/cpu/cpu.cfs_quota_us ]]; then
    quota=$(cat /sys/fs/cgroup/cpu/cpu.cfs_quota_us)
    period=$(cat /sys/fs/cgroup/cpu/cpu.cfs_period_us)
  else
    return 1
  fi
  [[ $quota =~ ^[0-9]+$ && $period =~ ^[0-9]+$ && $period -gt 0 ]] || return 1
  echo $(((quota + period - 1) / period))
}
if quota=$(quota_cpus) && ((quota < cpus)); then
  cpus=$quota
fi
echo $((cpus > 0 ? cpus : 1))
