#!/usr/bin/env bash
# Installs every package the build, the tests and the benchmarks need on a fresh Debian machine.
set -euo pipefail
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends \
    build-essential cmake ninja-build pkg-config git ca-certificates \
    qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libqt6sql6-sqlite libqt6sql6-psql \
    qt6-translations-l10n \
    libgl-dev libvulkan-dev \
    libcpp-httplib-dev libpq-dev libsqlite3-dev libssl-dev libxlsxwriter-dev \
    clang libclang-rt-14-dev \
    sqlite3 postgresql postgresql-client \
    python3 python3-cbor2 help2man curl jq \
    fonts-dejavu-core
