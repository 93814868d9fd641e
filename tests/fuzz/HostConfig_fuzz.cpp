// libFuzzer target: the configuration's text rules (the address check, the
// port text) and the dialog's host number field on arbitrary bytes, under
// AddressSanitizer and UndefinedBehaviorSanitizer. Besides memory faults it
// stops on an accepted text that breaks a rule's own promises.
#include "config/HostConfig.h"
#include "config/Syscfg/FieldRules.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size); // cut at the first zero below
    const char* c = text.c_str();
    const size_t length = std::strlen(c);
    if (IsValidDottedAddress(c) == 1) {
        if (std::count(c, c + length, '.') != 3 || length < 7 || length > 15 ||
            std::strstr(c, "..") != nullptr || c[length - 1] == '.')
            std::abort();
    }
    if (const uint16_t port = PortNumber(c)) {
        if (std::strspn(c, "0123456789") != length || std::strtoul(c, nullptr, 10) != port)
            std::abort();
    }
    HostNamedByField(c);
    return 0;
}
