#!/usr/bin/env bash
# The network lab: three network namespaces joined by veth pairs.
#
#   <id>-hosts  hosts0 198.51.100.2/24 ──veth── hside 198.51.100.1/24  <id>-relay
#   <id>-klor   klor0  203.0.113.2/24  ──veth── kside 203.0.113.1/24   <id>-relay
#
# Multicast is on for every link; the hosts and the KLOR network route
# 224.0.0.0/4 towards the relay. Nothing leaves these namespaces.
#
#   tools/lab.sh up ID      create the lab (removes a stale lab of that ID first)
#   tools/lab.sh down ID    remove it
#   tools/lab.sh sweep      remove labs whose creating process is gone
#
# IDs look like "udplab<pid>": the creating process id is part of the name, so
# two runs never collide and a killed run's lab is swept by the next one.
set -euo pipefail

ns_exists() { ip netns list | awk '{print $1}' | grep -qx "$1"; }

down() {
    local id=$1 ns
    for ns in "$id-relay" "$id-hosts" "$id-klor"; do
        if ns_exists "$ns"; then
            # End whatever still runs inside before the namespace goes.
            ip netns pids "$ns" 2>/dev/null | xargs -r kill -9 2>/dev/null || true
            ip netns del "$ns" 2>/dev/null || true
        fi
    done
}

up() {
    local id=$1
    down "$id"
    ip netns add "$id-relay"
    ip netns add "$id-hosts"
    ip netns add "$id-klor"
    ip -n "$id-relay" link add hside type veth peer name hosts0 netns "$id-hosts"
    ip -n "$id-relay" link add kside type veth peer name klor0 netns "$id-klor"
    ip -n "$id-relay" addr add 198.51.100.1/24 dev hside
    ip -n "$id-relay" addr add 203.0.113.1/24 dev kside
    ip -n "$id-hosts" addr add 198.51.100.2/24 dev hosts0
    ip -n "$id-klor" addr add 203.0.113.2/24 dev klor0
    local ns dev
    for pair in "relay hside" "relay kside" "hosts hosts0" "klor klor0"; do
        set -- $pair
        ns="$id-$1" dev=$2
        ip -n "$ns" link set lo up
        ip -n "$ns" link set "$dev" multicast on up
    done
    ip -n "$id-hosts" route add 224.0.0.0/4 dev hosts0
    ip -n "$id-klor" route add 224.0.0.0/4 dev klor0
    # Receivers take datagrams whatever their source address.
    for ns in "$id-relay" "$id-hosts" "$id-klor"; do
        ip netns exec "$ns" sysctl -qw net.ipv4.conf.all.rp_filter=0 net.ipv4.conf.default.rp_filter=0
    done
}

sweep() {
    local ns id pid
    for ns in $(ip netns list | awk '{print $1}' | grep -E '^udplab[0-9]+-relay$' || true); do
        id=${ns%-relay}
        pid=${id#udplab}
        kill -0 "$pid" 2>/dev/null || down "$id"
    done
}

case "${1:-}" in
up) up "${2:?lab id}" ;;
down) down "${2:?lab id}" ;;
sweep) sweep ;;
*) echo "usage: $0 up ID | down ID | sweep" >&2; exit 2 ;;
esac
