#!/usr/bin/env bash
# The relay benchmark (not a test): throughput, loss and added latency of the
# relay under Wine in the network lab, with socat relaying the same traffic
# side by side. Builds the program if needed, then runs itself inside the test
# bed (tools/testbed.sh). Needs root, like the lab.
#
#   tools/benchmark.sh [--subjects relay,relay-nofile,launcher,socat] [--duration 5] [--search-from 1000]
#                      [--search-max 20000] [--search-steps 8] [--search-duration 3]
#                      [--rates LIST] [--python-sender [--senders 1] [--pacing sleep|spin]]
#                      [--burst-rate 50000] [--burst-steady 3000] [--burst-at 2] [--burst-after 8]
#                      [--tick-us 1000] [--pin-cpu N|R:W] [--profile] [--build-dir build/bench-win64]
#   tools/benchmark.sh --soak [--rate 600] [--calm 15] [--hold 5] [--observe 25]
#                      [--flood-rate 6000] [--flood-seconds 10] [--faults LIST]
#
# Finds each subject's zero-loss rate by search, then measures what it
# delivers at 1.5x and 2x that rate (--rates: a fixed list instead), and for
# the relay how long it takes to deliver all of a steady 3,000/s again after
# a 1 s burst of 50,000/s beside it (--burst-rate 0: not).
# Subject launcher is the relay as the Linux service runs it: the Debian
# package (tools/make-deb.sh) unpacked into BUILD_DIR/launcher-root and its
# `newudpsrvr run` (the processor of its settings, the last one; no display
# server; sound off); the table says so, with the ratios to the relay left
# to the scheduler (subject relay) measured in the same run. The
# sender is tools/bench/udpsend.c, built here with the host's gcc: it sleeps
# between 1 ms ticks and sends each tick's datagrams in one call, so it takes
# little of the processor the relay needs (--python-sender: the old one).
# Subject relay@N is the relay with its wineserver kept on processor N
# (taskset), as docs/performance.md advises; relay@R:W puts them
# on two processors. --pin-cpu does the same for every relay run (--profile).
# Prints a Markdown table at the end and writes it to BUILD_DIR/benchmark.md
# (the raw figures to BUILD_DIR/benchmark.json). --profile instead counts
# what one datagram costs in the relay under Wine: syscalls of the relay
# process and of the wineserver (strace -f -c) and the relay's wineserver
# requests (WINEDEBUG=+server), and, when perf is installed, the CPU samples by
# process and library; written to BUILD_DIR/benchmark-profile.json.
# --soak (tools/soak.sh) is the reliability soak of tools/bench/soak.py:
# faults one after the other under steady traffic; BUILD_DIR/soak.md and .json.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

build=$root/build/bench-win64
mode=run
python_sender=
args=()
while [ $# -gt 0 ]; do
    case "$1" in
    --build-dir) build=$(realpath -m "$2"); shift 2 ;;
    --profile) mode=profile; shift ;;
    --python-sender) python_sender=1; shift ;;
    --soak) mode=soak; shift ;;
    --rates | --duration | --senders | --pacing | --subjects | --size | --drain | --pause | --perf-rate | \
        --profile-rate | --profile-window | --rate | --calm | --hold | --observe | --flood-rate | \
        --flood-seconds | --faults | --sample-every | --search-from | --search-max | --search-steps | \
        --search-resolution | --search-duration | --tick-us | --pin-cpu | --burst-rate | --burst-steady | \
        --burst-at | --burst-after)
        args+=("$1" "$2"); shift 2 ;;
    -h | --help) sed -n '2,37p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "benchmark: unknown option $1" >&2; exit 2 ;;
    esac
done

if [ -z "${UDPLAB_RELAY_NS:-}" ]; then
    "$root/tools/install-deps.sh"
    if [ ! -f "$build/build.ninja" ]; then
        cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
            -DCMAKE_BUILD_TYPE=Release >/dev/null
    fi
    cmake --build "$build" --target NewUdpSrvr winprobe
    gcc -O2 -Wall -Wextra -Werror -o "$build/udpsend" "$root/tools/bench/udpsend.c"
    # The package, unpacked for the launcher subject; its Wine prefix
    # (var/lib/newudpsrvr) stays from one run to the next.
    deb=$("$root/tools/make-deb.sh" "$build" "$build/deb" | sed -n 's/^release: //p')
    rm -rf "$build/launcher-root/usr" "$build/launcher-root/etc" "$build/launcher-root/lib"
    dpkg-deb -x "$deb" "$build/launcher-root"
    if [ "$mode" = profile ]; then
        # The profile turns on the wineserver's request trace, which it writes
        # to the test bed's stderr: that goes to a file, shown only on failure.
        log=$build/benchmark-profile.stderr
        status=0
        "$root/tools/testbed.sh" "$root/tools/benchmark.sh" --build-dir "$build" --profile "${args[@]}" \
            2>"$log" || status=$?
        [ "$status" -eq 0 ] || { grep -vE '^[0-9a-f]{4}: ' "$log" | tail -n 30 >&2; echo "benchmark: see $log" >&2; }
        exit "$status"
    fi
    [ "$mode" = soak ] && args=(--soak "${args[@]}")
    [ -n "$python_sender" ] && args=(--python-sender "${args[@]}")
    exec "$root/tools/testbed.sh" "$root/tools/benchmark.sh" --build-dir "$build" "${args[@]}"
fi

if [ "$mode" = soak ]; then
    exec python3 "$root/tools/bench/soak.py" --exe "$build/shell/NewUdpSrvr.exe" \
        --probe "$build/tools/lab/winprobe.exe" --out "$build/soak.md" "${args[@]}"
fi

# Inside the test bed, in the relay's namespace.
sender=()
[ -z "$python_sender" ] && sender=(--sender-exe "$build/udpsend")
exec python3 "$root/tools/bench/relaybench.py" "$mode" \
    --exe "$build/shell/NewUdpSrvr.exe" --probe "$build/tools/lab/winprobe.exe" \
    --out "$build/benchmark.md" --launcher-root "$build/launcher-root" "${sender[@]}" "${args[@]}"
