#!/usr/bin/env bash
# Gradescope runs this once, as root, when it builds the autograder's image. It installs the
# collection's package shipped in the autograder zip (collection-check, the programs and their
# cases) and the C and C++ compilers that build the students' sources.
set -euo pipefail
root=${AUTOGRADER_ROOT:-/autograder}

shopt -s nullglob
packages=("$root"/source/console-collection_*.deb)
if ((${#packages[@]} != 1)); then
    echo "setup.sh: expected one console-collection_VERSION_amd64.deb in $root/source" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y build-essential "${packages[0]}"
collection-check --help >/dev/null
