#include "platform/win32/win32_bluetooth_radios.h"

#include <string>

#include "platform/win32/win32_api.h"
#include "platform/win32/win32_system_library.h"
// After windows.h.
#include <setupapi.h>

namespace corvane::win32 {

namespace {

// The radio functions live in BluetoothApis.dll (bthprops.cpl on older systems); they are
// resolved at run time so that a machine without Bluetooth support still runs the service, and
// only from the system folder.
struct FindRadioParams {
    DWORD dwSize;
};
using FindFirstRadioFn = HANDLE(WINAPI*)(const FindRadioParams*, HANDLE*);
using FindRadioCloseFn = BOOL(WINAPI*)(HANDLE);

struct RadioApi {
    FindFirstRadioFn findFirst = nullptr;
    FindRadioCloseFn findClose = nullptr;
    RadioApi() {
        HMODULE module = LoadSystemLibrary(L"BluetoothApis.dll");
        if (!module) module = LoadSystemLibrary(L"bthprops.cpl");
        if (!module) return;
        findFirst = reinterpret_cast<FindFirstRadioFn>(
            reinterpret_cast<void*>(::GetProcAddress(module, "BluetoothFindFirstRadio")));
        findClose = reinterpret_cast<FindRadioCloseFn>(
            reinterpret_cast<void*>(::GetProcAddress(module, "BluetoothFindRadioClose")));
    }
};

const RadioApi& Api() {
    static const RadioApi api;
    return api;
}

// {0850302a-b344-4fda-9be9-90576b8d46f0}, the interface every Bluetooth radio's port driver
// registers.
const GUID kBluetoothPortInterface = {0x0850302a, 0xb344, 0x4fda, {0x9b, 0xe9, 0x90, 0x57, 0x6b, 0x8d, 0x46, 0xf0}};

// Whether any radio's port interface is present. A machine without one has no radio to open, and
// on systems whose Bluetooth API exports the radio functions without implementing them, calling
// them would end the process: so the radio functions are called only when this holds.
bool HasBluetoothPort() {
    HDEVINFO list = ::SetupDiGetClassDevsW(&kBluetoothPortInterface, nullptr, nullptr,
                                           DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (list == INVALID_HANDLE_VALUE) return false;
    SP_DEVICE_INTERFACE_DATA port {};
    port.cbSize = sizeof port;
    const bool present = ::SetupDiEnumDeviceInterfaces(list, nullptr, &kBluetoothPortInterface, 0, &port) != FALSE;
    ::SetupDiDestroyDeviceInfoList(list);
    return present;
}

// {e0cbf06c-cd8b-4647-bb8a-263b43f0f974}, the Bluetooth device setup class.
const GUID kBluetoothClass = {0xe0cbf06c, 0xcd8b, 0x4647, {0xbb, 0x8a, 0x26, 0x3b, 0x43, 0xf0, 0xf9, 0x74}};

bool IsUsbAdapter(const std::wstring& instanceId) {
    const size_t vid = instanceId.find(L"VID_");
    const size_t pid = instanceId.find(L"PID_");
    return vid != std::wstring::npos && vid > 0 && pid != std::wstring::npos && pid > 0;
}

}  // namespace

bool Win32BluetoothRadios::IsRadioPresent() {
    if (!HasBluetoothPort()) return false;
    const RadioApi& api = Api();
    if (!api.findFirst) return false;
    FindRadioParams params {4};
    HANDLE radio = nullptr;
    HANDLE find = api.findFirst(&params, &radio);
    const bool present = radio != nullptr;
    if (radio) ::CloseHandle(radio);
    if (find && api.findClose) api.findClose(find);
    return present;
}

uint32_t Win32BluetoothRadios::SetAdaptersEnabled(bool enable) {
    HDEVINFO list = ::SetupDiGetClassDevsW(&kBluetoothClass, nullptr, nullptr, DIGCF_PRESENT);
    if (list == INVALID_HANDLE_VALUE) return ::GetLastError();
    uint32_t result = ERROR_NOT_FOUND;
    SP_DEVINFO_DATA device {};
    device.cbSize = sizeof device;
    for (DWORD index = 0; ::SetupDiEnumDeviceInfo(list, index, &device); ++index) {
        wchar_t id[260] = {};
        if (!::SetupDiGetDeviceInstanceIdW(list, &device, id, 259, nullptr)) continue;
        if (!IsUsbAdapter(id)) continue;
        SP_PROPCHANGE_PARAMS change {};
        change.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
        change.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
        change.StateChange = enable ? DICS_ENABLE : DICS_DISABLE;
        change.Scope = DICS_FLAG_GLOBAL;
        change.HwProfile = 0;
        result = ::SetupDiSetClassInstallParamsW(list, &device, &change.ClassInstallHeader, sizeof change) &&
                         ::SetupDiChangeState(list, &device)
                     ? 0
                     : ::GetLastError();
    }
    ::SetupDiDestroyDeviceInfoList(list);
    return result;
}

}  // namespace corvane::win32
