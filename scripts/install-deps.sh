#!/usr/bin/env bash
# Installs the Debian packages the gateway needs to build, test and benchmark.
# Idempotent: apt-get runs only when at least one package is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  libboost1.81-all-dev libboost-json1.81-dev libboost-url1.81-dev
  libspdlog-dev libcli11-dev libsqlite3-dev libcurl4-openssl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  python3 python3-packaging clang curl wrk
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

# npm may come with a Node.js build from outside Debian; only ask Debian for it when absent.
command -v npm >/dev/null 2>&1 || missing+=(nodejs npm)

if ((${#missing[@]})); then
  echo "Installing missing packages: ${missing[*]}"
  sudo_cmd=()
  [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
