#!/usr/bin/env bash
# The Debian packages the build, the tests and the demo need; installs those that are missing (as root) or
# names them (otherwise, exit 1). Usage: tools/packages.sh
set -euo pipefail
packages="g++ cmake ninja-build libgtest-dev libbenchmark-dev libbz2-dev bzip2 python3 iproute2 util-linux mount
clang libclang-rt-14-dev curl libseccomp-dev g++-multilib dpkg-dev file systemd python3-prometheus-client slurm-wlm
munge"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "missing Debian packages:$missing (install them as root: apt-get install$missing)" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq $missing
