#pragma once
// Windows-free rules of the relay engine: the send side's port fields and
// which local addresses a channel may bind.
#include <cstddef>
#include <cstdint>

// The 16-bit value the send side writes into a sockaddr_in port field for a
// configured port text: the text's decimal value cut to 16 bits. The value is
// stored as it is, not converted to network byte order, which is what
// KLOR-side receivers expect ("6789" arrives at port 34074 on a
// little-endian machine).
uint16_t SendPortValue(const char* portText);

// The UDP port that goes on the wire when `fieldValue` is stored unconverted
// in a port field: the field's two bytes in memory order, read as the
// big-endian port they are on the wire.
uint16_t WirePortOfField(uint16_t fieldValue);

// Whether a channel may bind to `address` (an IPv4 address as stored in
// s_addr, network byte order): the wildcard address, the loopback network, or
// one of the machine's own addresses in `machine` (same byte order).
// Everything else, the invalid-text result 255.255.255.255 and multicast
// groups included, is not an address of this machine.
bool IsBindableLocalAddress(uint32_t address, const uint32_t* machine, size_t count);
