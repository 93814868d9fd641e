// The log's opening where the Windows-free logic is built and tested on its
// own: the same rule as on Windows, regular files only, never waiting.
#include "log/EventLog.h"
#include "log/LogFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::FILE* OpenLogForRecord() {
    const int descriptor = open(EventLogName, O_RDWR | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
    if (descriptor == -1)
        return nullptr;
    struct stat status = {};
    std::FILE* log = nullptr;
    if (fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode))
        log = fdopen(descriptor, "a+");
    if (!log)
        close(descriptor);
    return log;
}
