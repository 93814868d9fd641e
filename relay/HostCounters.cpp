#include "relay/HostCounters.h"

HostCounterRecord HostCounters[6];
