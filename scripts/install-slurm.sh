#!/usr/bin/env bash
# Installs Debian's Slurm (controller, node daemon, client commands) and MUNGE,
# for the one-node cluster that tests/tools/slurm_study.sh starts.
set -euo pipefail
need=()
command -v slurmctld >/dev/null 2>&1 || need+=(slurmctld)
command -v slurmd >/dev/null 2>&1 || need+=(slurmd)
command -v sbatch >/dev/null 2>&1 || need+=(slurm-client)
command -v munged >/dev/null 2>&1 || need+=(munge)
if [ ${#need[@]} -gt 0 ]; then
  echo "Installing: ${need[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" </dev/null
fi
