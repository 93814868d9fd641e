#!/usr/bin/env bash
# The reliability soak (not a test): the relay under Wine in the network lab
# under steady traffic on six channels, with faults injected one after the
# other (tools/bench/soak.py says which and what is measured). Builds the
# program if needed and runs in a fresh test bed, like the benchmark; needs
# root. Options: --rate --calm --hold --observe --flood-rate --flood-seconds
# --faults oversize,hostaddr,... --build-dir. Table in BUILD_DIR/soak.md.
exec "$(dirname "$0")/benchmark.sh" --soak "$@"
