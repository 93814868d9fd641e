#pragma once
// How many host channels the relay has: the tables, the messages' and timer
// ids' host parts and the log's records all name hosts 0 to HOST_COUNT - 1.

enum : int { HOST_COUNT = 6 }; // host channels 0 to 5: table sizes, loop bounds, the host-number rule
