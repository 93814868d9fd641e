// libFuzzer target: the address check and the character count on arbitrary
// bytes, under AddressSanitizer and UndefinedBehaviorSanitizer. Besides
// memory faults it stops on an accepted text that breaks the check's own
// promises.
#include "config/Syscfg/FieldRules.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size); // cut at the first zero below
    const char* c = text.c_str();
    const size_t length = std::strlen(c);
    for (size_t i = 0; i < size; ++i)
        if (CountChar(c, static_cast<char>(data[i])) > static_cast<int>(length))
            std::abort();
    if (IsValidDottedAddress(c) == 1) {
        if (CountChar(c, '.') != 3 || length < 7 || length > 15 || std::strstr(c, "..") != nullptr ||
            c[length - 1] == '.')
            std::abort();
    }
    HostNamedByField(c);
    return 0;
}
