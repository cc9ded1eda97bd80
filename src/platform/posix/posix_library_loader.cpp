#include "platform/posix/posix_library_loader.h"

#include <dlfcn.h>

#include <string>

#include "platform/text.h"

namespace corvane::posix {

namespace {

constexpr uint32_t kErrorModNotFound = 126;

thread_local std::string t_lastLoadError;

class PosixLoadedLibrary final : public ILoadedLibrary {
public:
    explicit PosixLoadedLibrary(void* handle) : m_handle(handle) {}
    ~PosixLoadedLibrary() override { ::dlclose(m_handle); }
    void* GetExport(const char* name) override { return ::dlsym(m_handle, name); }

private:
    void* m_handle;
};

}  // namespace

std::unique_ptr<ILoadedLibrary> PosixLibraryLoader::Load(std::u16string_view path, uint32_t& error) {
    error = 0;
    const std::string narrow = Utf16ToUtf8(path);
    // An empty path would give the program itself; a name with a NUL inside is no path.
    if (narrow.empty() || narrow.find('\0') != std::string::npos) {
        error = kErrorModNotFound;
        t_lastLoadError = "no library path";
        return nullptr;
    }
    void* handle = ::dlopen(narrow.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        error = kErrorModNotFound;
        const char* text = ::dlerror();
        t_lastLoadError = text ? text : "";
        return nullptr;
    }
    return std::make_unique<PosixLoadedLibrary>(handle);
}

std::string PosixLibraryLoader::LastLoadErrorText() { return t_lastLoadError; }

}  // namespace corvane::posix
