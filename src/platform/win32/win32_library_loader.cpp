#include "platform/win32/win32_library_loader.h"

#include <string>

#include "platform/win32/win32_api.h"

namespace corvane::win32 {

namespace {

class Win32LoadedLibrary final : public ILoadedLibrary {
public:
    explicit Win32LoadedLibrary(HMODULE module) : m_module(module) {}
    ~Win32LoadedLibrary() override { ::FreeLibrary(m_module); }
    void* GetExport(const char* name) override {
        return reinterpret_cast<void*>(::GetProcAddress(m_module, name));
    }

private:
    HMODULE m_module;
};

}  // namespace

std::unique_ptr<ILoadedLibrary> Win32LibraryLoader::Load(std::u16string_view path, uint32_t& error) {
    error = 0;
    const std::wstring wide(path.begin(), path.end());
    if (wide.empty() || wide.find(L'\0') != std::wstring::npos) {
        error = ERROR_MOD_NOT_FOUND;
        return nullptr;
    }
    HMODULE module = ::LoadLibraryW(wide.c_str());
    if (module == nullptr) {
        error = ::GetLastError();
        return nullptr;
    }
    return std::make_unique<Win32LoadedLibrary>(module);
}

}  // namespace corvane::win32
