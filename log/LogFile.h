#pragma once
// Opening UDPMessages.Log for one record, the platform's side of the writer.
#include <cstdio>

// The log opened or created for appending in text mode, sharing not
// restricted; null when it cannot be opened or is no regular file (a pipe or
// a device of that name could block the one thread in the write).
std::FILE* OpenLogForRecord();
