/* Sends one control code to a service, as "sc control NAME CODE" does on Windows (Wine's sc does
   not know "control"): win32_service_control NAME CODE. Exit code 0, or the Windows error. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: win32_service_control NAME CODE\n");
        return 2;
    }
    SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CONNECT);
    if (manager == NULL) return (int)GetLastError();
    SC_HANDLE service = OpenServiceW(manager, argv[1], SERVICE_USER_DEFINED_CONTROL | SERVICE_QUERY_STATUS);
    if (service == NULL) {
        DWORD error = GetLastError();
        CloseServiceHandle(manager);
        return (int)error;
    }
    SERVICE_STATUS status;
    DWORD result = ControlService(service, (DWORD)wcstoul(argv[2], NULL, 10), &status) ? 0 : GetLastError();
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    printf("%lu\n", (unsigned long)result);
    return (int)result;
}
