#include "config/Syscfg/SaveFailure.h"

#include <cstdio>
#include <cstring>

#include "config/ConfigStore.h"

namespace {

enum : DWORD { PartSize = 256 };

// The system's text for the error, without its line end.
void ReasonText(DWORD error, char (&reason)[PartSize]) {
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        error, 0, reason, PartSize, nullptr);
    if (length == 0)
        std::snprintf(reason, sizeof reason, "Error %lu.", static_cast<unsigned long>(error));
    for (size_t end = std::strlen(reason); end > 0 && (reason[end - 1] == '\r' || reason[end - 1] == '\n');)
        reason[--end] = '\0';
}

// DOMAIN\user of the account this program runs as, for the icacls command.
void AccountName(char (&account)[PartSize]) {
    std::snprintf(account, sizeof account, "DOMAIN\\user");
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return;
    union {
        TOKEN_USER user;
        BYTE bytes[PartSize];
    } info;
    DWORD size = 0;
    char name[PartSize / 2] = {}, domain[PartSize / 2] = {};
    DWORD nameSize = sizeof name, domainSize = sizeof domain;
    SID_NAME_USE use;
    if (GetTokenInformation(token, TokenUser, &info, sizeof info, &size) &&
        LookupAccountSidA(nullptr, info.user.User.Sid, name, &nameSize, domain, &domainSize, &use))
        std::snprintf(account, sizeof account, "%s\\%s", domain, name);
    CloseHandle(token);
}

} // namespace

void SaveFailureText(char* text, size_t size, int host, DWORD error) {
    char directory[MAX_PATH] = {};
    GetWindowsDirectoryA(directory, sizeof directory);
    char path[MAX_PATH + 32];
    std::snprintf(path, sizeof path, "%s\\%s", directory, ConfigFileName);
    char reason[PartSize], account[PartSize];
    ReasonText(error, reason);
    AccountName(account);
    std::snprintf(text, size,
                  "Error in writing %s:\n%s\n\nHost %d is not saved; your entries stay in the dialog.\n\n"
                  "To change the configuration, close this server first, then start it again with Run as "
                  "administrator.\nOr have an administrator give this account the right to change the file:\n"
                  "icacls \"%s\" /grant \"%s\":M",
                  path, reason, host, path, account);
}
