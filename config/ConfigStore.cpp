#include "config/ConfigStore.h"

#include <cstdio>
#include <cstring>

#include "shell/AppGlobals.h"
#include "shell/PlatformCalls.h"
#include "shell/Messages.h"

const char ConfigFileName[] = "NEWUDPSRVR.INI";
const char LocalAddressSection[] = "LOCAL_DTE_ADDR";

namespace {

// The scratch record of the load. An early stop keeps it for the next load.
HGLOBAL ScratchBlock;
HostEntry* Scratch;

void HostSectionName(char (&section)[16], unsigned host) {
    std::snprintf(section, sizeof section, "HOST%u", host);
}

// Reads one local address; copies it to the working value unless the key is
// missing (the default "?" comes back) or its value begins with '?'.
bool LoadLocalAddress(const char* key, char* workingValue) {
    char value[ADDRESS_TEXT_SIZE];
    GetPrivateProfileStringA(LocalAddressSection, key, "?", value, ADDRESS_TEXT_SIZE, ConfigFileName);
    if (value[0] == '?')
        return false;
    std::memcpy(workingValue, value, ADDRESS_TEXT_SIZE);
    return true;
}

bool ObtainScratch(HWND mainWindow) {
    if (Scratch != nullptr)
        return true;
    ScratchBlock = GlobalAllocProc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(HostEntry));
    if (ScratchBlock != nullptr)
        Scratch = static_cast<HostEntry*>(GlobalLock(ScratchBlock));
    if (Scratch != nullptr)
        return true;
    if (ScratchBlock != nullptr)
        GlobalFree(ScratchBlock);
    ScratchBlock = nullptr;
    MessageBoxA(mainWindow, "Error in allocating memory in GetParamsFromINIFile", "Error Message",
                MB_OK | MB_ICONERROR);
    return false;
}

void ReleaseScratch() {
    GlobalUnlock(ScratchBlock);
    GlobalFree(ScratchBlock);
    ScratchBlock = nullptr;
    Scratch = nullptr;
}

// Host `host`'s section into the scratch record; a receiving port other than
// exactly "?" configures the host.
void ReadHostSettings(HostEntry* scratch, int host) {
    char section[16];
    HostSectionName(section, static_cast<unsigned>(host));
    GetPrivateProfileStringA(section, "RECVUDPPORTID", "?", scratch->RECVUDPPORTID, PORT_TEXT_SIZE,
                             ConfigFileName);
    if (!IsUnconfiguredPortValue(scratch->RECVUDPPORTID))
        HostConfigured[host] = 1;
    GetPrivateProfileStringA(section, "RECVMCASTADDR", "", scratch->RECVMCASTADDR, ADDRESS_TEXT_SIZE,
                             ConfigFileName);
    GetPrivateProfileStringA(section, "SENDUDPPORTID", "", scratch->SENDUDPPORTID, PORT_TEXT_SIZE,
                             ConfigFileName);
}

// The scratch record into host `host`'s table entry, cleared first.
void StoreHostSettings(const HostEntry* scratch, int host) {
    std::memset(&HostTable[host], 0, sizeof(HostEntry));
    std::memcpy(HostTable[host].RECVUDPPORTID, scratch->RECVUDPPORTID, PORT_TEXT_SIZE);
    std::memcpy(HostTable[host].RECVMCASTADDR, scratch->RECVMCASTADDR, ADDRESS_TEXT_SIZE);
    std::memcpy(HostTable[host].SENDUDPPORTID, scratch->SENDUDPPORTID, PORT_TEXT_SIZE);
}

} // namespace

int GetParamsFromINIFile(HWND mainWindow) {
    if (!ObtainScratch(mainWindow))
        return 0;
    std::memset(Scratch, 0, sizeof(HostEntry));
    if (LoadLocalAddress("SENDMCASTADD", LocalAddresses.SENDMCASTADD) &&
        LoadLocalAddress("HOSTSIDEIPADDRESS", LocalAddresses.HOSTSIDEIPADDRESS) &&
        LoadLocalAddress("KLORSIDEIPADDRESS", LocalAddresses.KLORSIDEIPADDRESS)) {
        for (int host = 0; host < HOST_COUNT; ++host) {
            ReadHostSettings(Scratch, host);
            StoreHostSettings(Scratch, host);
        }
        ReleaseScratch();
    } else {
        // Without its local addresses the relay cannot run: ask the operator.
        PostMessageA(mainWindow, WM_SYSCOMMAND, IDM_CONFIGURE, 0);
    }
    StartupAddresses = LocalAddresses; // what the channels are set up with
    return 1;
}

int WriteConfigKey(const char* section, const char* key, const char* value) {
    return WritePrivateProfileStringProc(section, key, value, ConfigFileName) ? 1 : 0;
}

int WriteHostSettings(const HostEntry* entry, unsigned short host) {
    if (host >= HOST_COUNT)
        return 1; // there is no such host channel to write
    char section[16];
    HostSectionName(section, host);
    HostEntry& stored = HostTable[host];
    const struct {
        const char* key;
        const char* value;
        char* storedValue;
        size_t size;
    } keys[] = {{"RECVUDPPORTID", entry->RECVUDPPORTID, stored.RECVUDPPORTID, PORT_TEXT_SIZE},
                {"RECVMCASTADDR", entry->RECVMCASTADDR, stored.RECVMCASTADDR, ADDRESS_TEXT_SIZE},
                {"SENDUDPPORTID", entry->SENDUDPPORTID, stored.SENDUDPPORTID, PORT_TEXT_SIZE}};
    for (const auto& key : keys) {
        if (!WriteConfigKey(section, key.key, key.value))
            return 0;
        std::snprintf(key.storedValue, key.size, "%s", key.value);
    }
    return 1;
}

void ClearChangeFlags() {
    SendMcastModified = 0;
    HostSideModified = 0;
    KLORSideModified = 0;
    for (int& flag : HostModified)
        flag = 0;
}
