#include "platform/win32/win32_pc_software.h"

#include <string>

#include "platform/text.h"
#include "platform/win32/win32_api.h"
// After windows.h.
#include <tlhelp32.h>

namespace corvane::win32 {

namespace {
// SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP.
constexpr DWORD kServiceAccess = 0x34;

std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

// Opens the service for query, start and stop; 0 or the Windows error. Both handles are closed
// by the caller.
DWORD OpenForeign(std::u16string_view name, SC_HANDLE& manager, SC_HANDLE& service) {
    service = nullptr;
    manager = ::OpenSCManagerW(nullptr, nullptr, GENERIC_EXECUTE);
    if (!manager) return ::GetLastError();
    service = ::OpenServiceW(manager, Wide(name).c_str(), kServiceAccess);
    return service ? 0 : ::GetLastError();
}

void CloseBoth(SC_HANDLE manager, SC_HANDLE service) {
    if (service) ::CloseServiceHandle(service);
    if (manager) ::CloseServiceHandle(manager);
}
}  // namespace

uint32_t Win32PcSoftware::TerminateProcessNamed(std::u16string_view exeName) {
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return ::GetLastError();
    PROCESSENTRY32W entry {};
    entry.dwSize = sizeof entry;
    uint32_t result = ERROR_NOT_FOUND;
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry)) {
        const std::u16string name(reinterpret_cast<const char16_t*>(entry.szExeFile));
        if (!EqualsNoCase(name, exeName)) continue;
        HANDLE process = ::OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID);
        if (!process) {
            result = ::GetLastError();
        } else {
            result = ::TerminateProcess(process, 0) ? 0 : ::GetLastError();
            ::CloseHandle(process);
        }
        break;
    }
    ::CloseHandle(snapshot);
    return result;
}

uint32_t Win32PcSoftware::QueryServiceState(std::u16string_view service, uint32_t& state) {
    SC_HANDLE manager = nullptr;
    SC_HANDLE handle = nullptr;
    DWORD rc = OpenForeign(service, manager, handle);
    if (rc == 0) {
        SERVICE_STATUS status {};
        if (::QueryServiceStatus(handle, &status)) {
            state = status.dwCurrentState;
        } else {
            rc = ::GetLastError();
        }
    }
    CloseBoth(manager, handle);
    return rc;
}

uint32_t Win32PcSoftware::StopService(std::u16string_view service) {
    SC_HANDLE manager = nullptr;
    SC_HANDLE handle = nullptr;
    DWORD rc = OpenForeign(service, manager, handle);
    if (rc == 0) {
        SERVICE_STATUS status {};
        if (!::ControlService(handle, SERVICE_CONTROL_STOP, &status)) rc = ::GetLastError();
    }
    CloseBoth(manager, handle);
    return rc;
}

}  // namespace corvane::win32
