#!/usr/bin/env bash
# Sets up, builds, and shows vorsel at work against the bundled simulator.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

build_tree build -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo
echo "Built. The vorsel program and its simulator are coming; the frame codec is in build/codec."
