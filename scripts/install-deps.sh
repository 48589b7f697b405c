#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build, test and plot pdpcell.
set -euo pipefail

need=()
command -v cmake >/dev/null 2>&1 || need+=(cmake)
command -v g++ >/dev/null 2>&1 || need+=(g++)
command -v make >/dev/null 2>&1 || need+=(make)
command -v script >/dev/null 2>&1 || need+=(bsdutils)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
[ -f /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)
[ -f /usr/include/Random123/philox.h ] || need+=(librandom123-dev)
[ -f /usr/include/toml++/toml.h ] || need+=(libtomlplusplus-dev)
# The fuzz harnesses (scripts/fuzz.sh): clang, libFuzzer and the sanitizer runtimes.
command -v clang++ >/dev/null 2>&1 || need+=(clang)
[ -f /usr/lib/llvm-14/lib/libFuzzer.a ] || need+=(libfuzzer-14-dev)
compgen -G "/usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a" >/dev/null || need+=(libclang-rt-14-dev)
if [ "${PDPCELL_SKIP_PLOT_DEPS:-0}" != 1 ]; then
  /usr/bin/python3 -c 'import numpy' >/dev/null 2>&1 || need+=(python3-numpy)
  /usr/bin/python3 -c 'import matplotlib' >/dev/null 2>&1 || need+=(python3-matplotlib)
  /usr/bin/python3 -c 'import vtk' >/dev/null 2>&1 || need+=(python3-vtk9)
  command -v xvfb-run >/dev/null 2>&1 || need+=(xvfb)
  command -v xauth >/dev/null 2>&1 || need+=(xauth)
fi

if [ ${#need[@]} -gt 0 ]; then
  echo "Installing: ${need[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" </dev/null
fi
