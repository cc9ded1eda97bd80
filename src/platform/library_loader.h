// Shared libraries loaded by path at run time (LoadLibraryW and GetProcAddress on Windows, dlopen
// and dlsym elsewhere): the PKCS#11 library named in the registry, the BLE library. A loaded
// library stays loaded while its ILoadedLibrary lives; the service keeps the ones it uses for the
// life of the process.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace corvane {

class ILoadedLibrary {
public:
    virtual ~ILoadedLibrary() = default;  // FreeLibrary / dlclose
    // The address of an exported function, or null when the library does not export it.
    virtual void* GetExport(const char* name) = 0;
};

class ILibraryLoader {
public:
    virtual ~ILibraryLoader() = default;
    // Loads the library at `path`. Null on failure, with the system's error in `error`
    // (GetLastError on Windows; 126, ERROR_MOD_NOT_FOUND, elsewhere).
    virtual std::unique_ptr<ILoadedLibrary> Load(std::u16string_view path, uint32_t& error) = 0;
    // The system's own words for the last Load that failed on this thread (dlerror elsewhere than
    // on Windows), or empty when it has none beyond the error code.
    virtual std::string LastLoadErrorText() { return {}; }
};

}  // namespace corvane
