#pragma once
// Windows-free rules of the relay engine: which local addresses a channel may
// bind, the record gate, which socket errors mean what, how an interface
// changed. The port text rule is the configuration's (config/HostConfig.h).
#include <cstddef>
#include <cstdint>

// A failed channel is set up again this long after the failure, and records
// that could repeat are written at most once in it.
enum : unsigned { RETRY_PERIOD_MS = 10000 };

// Whether a channel may bind to `address` (an IPv4 address as stored in
// s_addr, network byte order): the wildcard address, the loopback network, or
// one of the machine's own addresses in `machine` (same byte order).
// Everything else, the invalid-text result 255.255.255.255 and multicast
// groups included, is not an address of this machine.
bool IsBindableLocalAddress(uint32_t address, const uint32_t* machine, size_t count);

// Limits a record that may repeat with every datagram to one per period:
// `PassRecordGate` is true the first time and then once `periodMs` have
// passed since the last time it was true (tick counts, wrap-safe).
struct RecordGate {
    bool passed;
    uint32_t at;
};
bool PassRecordGate(RecordGate& gate, uint32_t nowMs, uint32_t periodMs);
// Whether PassRecordGate would pass now, without passing it.
bool RecordGateOpen(const RecordGate& gate, uint32_t nowMs, uint32_t periodMs);

// Whether a failed send's error lies in the destination alone (its port or
// address is unusable: WSAEINVAL 10022 as Wine reports port 0,
// WSAEADDRNOTAVAIL 10049 as Windows does), so the socket itself is sound.
bool IsDestinationError(int error);

// Whether a failed bind of the KLOR-side local port leaves the next lower
// port worth trying: the port is taken (WSAEADDRINUSE 10048) or lies in a
// range the system reserved for Hyper-V, WSL, WinNAT or Docker, which
// Windows refuses with WSAEACCES 10013.
bool IsLocalPortUnavailable(int error);

// Whether an entry of the machine's address table (its wType flags) holds an
// address that is there: Windows keeps the address of a card whose cable is
// out, flagged disconnected (0x0008), and one being removed, flagged deleted
// (0x0040).
bool IsAddressEntryUp(uint16_t typeFlags);

// What identifies the interface that carries a local address: whether
// the address is on the machine, the index of its interface, and the count
// and index sum of every interface bearing that interface's description. A
// card plugged in again may come back under a new index; under Wine the
// address table keeps the old index and the new one only shows beside it in
// the interface table, under the same description.
struct InterfaceFingerprint {
    bool known;   // false when the tables could not be read
    bool present; // the address is on an interface of the machine
    uint32_t index;
    uint32_t peers;
    uint32_t peerIndexSum;
};

enum class InterfaceChange { None, AddressGone, AddressBack, InterfaceChanged };
// How the interface went from `before` to `now`; an unread table says nothing.
InterfaceChange ChangeOf(const InterfaceFingerprint& before, const InterfaceFingerprint& now);
