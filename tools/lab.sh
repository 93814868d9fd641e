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
#   tools/lab.sh replug ID [host|klor|both]
#                           delete that side's veth pair (default the host side;
#                           both: both pairs, then both made again) and make it
#                           again, as a card unplugged and plugged in again
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

# One veth pair between the relay and a side: addresses, multicast, up, and
# the side's multicast route towards the relay.
#   pair ID RELAY_DEV RELAY_ADDR SIDE SIDE_DEV SIDE_ADDR
pair() {
    local id=$1
    ip -n "$id-relay" link add "$2" type veth peer name "$5" netns "$id-$4"
    ip -n "$id-relay" addr add "$3/24" dev "$2"
    ip -n "$id-$4" addr add "$6/24" dev "$5"
    ip -n "$id-relay" link set "$2" multicast on up
    ip -n "$id-$4" link set "$5" multicast on up
    ip -n "$id-$4" route add 224.0.0.0/4 dev "$5"
}

host_pair() { pair "$1" hside 198.51.100.1 hosts hosts0 198.51.100.2; }
klor_pair() { pair "$1" kside 203.0.113.1 klor klor0 203.0.113.2; }

replug() {
    local id=$1
    case "$2" in
    host) ip -n "$id-relay" link del hside && host_pair "$id" ;;
    klor) ip -n "$id-relay" link del kside && klor_pair "$id" ;;
    both) ip -n "$id-relay" link del hside && ip -n "$id-relay" link del kside && host_pair "$id" &&
        klor_pair "$id" ;;
    *) echo "replug: host, klor or both" >&2; return 2 ;;
    esac
}

up() {
    local id=$1
    down "$id"
    ip netns add "$id-relay"
    ip netns add "$id-hosts"
    ip netns add "$id-klor"
    local ns
    for ns in "$id-relay" "$id-hosts" "$id-klor"; do
        ip -n "$ns" link set lo up
    done
    host_pair "$id"
    klor_pair "$id"
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
replug) replug "${2:?lab id}" "${3:-host}" ;;
down) down "${2:?lab id}" ;;
sweep) sweep ;;
*) echo "usage: $0 up ID | down ID | replug ID [host|klor|both] | sweep" >&2; exit 2 ;;
esac
