#include "platform/win32/win32_mutexes.h"

#include "platform/win32/win32_api.h"

#include "platform/win32/win32_text.h"

namespace corvane::win32 {

namespace {

constexpr std::u16string_view kGlobalPrefix = u"Global\\";

class Win32NamedMutex final : public INamedMutex {
public:
    explicit Win32NamedMutex(HANDLE handle) : m_hMutex(handle) {}
    ~Win32NamedMutex() override { ::CloseHandle(m_hMutex); }
    Win32NamedMutex(const Win32NamedMutex&) = delete;
    Win32NamedMutex& operator=(const Win32NamedMutex&) = delete;

    // An abandoned mutex is owned all the same; other failures are ignored.
    void Lock() override { ::WaitForSingleObject(m_hMutex, INFINITE); }
    void Unlock() override { ::ReleaseMutex(m_hMutex); }

private:
    HANDLE m_hMutex;
};

}  // namespace

Win32Mutexes::Win32Mutexes(std::u16string namePrefix) : m_namePrefix(std::move(namePrefix)) {}

std::u16string Win32Mutexes::KernelName(std::u16string_view name) const {
    if (m_namePrefix.empty()) return std::u16string(name);
    if (name.substr(0, kGlobalPrefix.size()) == kGlobalPrefix) {
        return std::u16string(kGlobalPrefix) + m_namePrefix + std::u16string(name.substr(kGlobalPrefix.size()));
    }
    return m_namePrefix + std::u16string(name);
}

MutexHandle Win32Mutexes::OpenOrCreate(std::u16string_view name, bool inheritable, uint32_t& error) {
    error = 0;
    const std::u16string key = KernelName(name);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (auto existing = m_byName[key].lock()) return existing;
    const std::wstring kernelName = Wide(key);
    HANDLE handle = ::OpenMutexW(MUTEX_ALL_ACCESS, inheritable ? TRUE : FALSE, kernelName.c_str());
    if (!handle) {
        SECURITY_DESCRIPTOR descriptor;
        SECURITY_ATTRIBUTES attributes {};
        attributes.nLength = sizeof attributes;
        attributes.bInheritHandle = TRUE;
        if (::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
            ::SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE)) {
            attributes.lpSecurityDescriptor = &descriptor;
        }
        handle = ::CreateMutexW(&attributes, FALSE, kernelName.c_str());
    }
    if (!handle) {
        error = ::GetLastError();
        return nullptr;
    }
    auto mutex = std::make_shared<Win32NamedMutex>(handle);
    m_byName[key] = mutex;
    return mutex;
}

}  // namespace corvane::win32
