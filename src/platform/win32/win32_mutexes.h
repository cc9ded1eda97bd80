// Named mutexes: OpenMutexW, else CreateMutexW with a null DACL (every account, the companion
// components included, may open it) and an inheritable handle. A name prefix, empty for the
// service, keeps the mutexes of one test apart from those of another; it goes after "Global\\".
// Opening a name that this object has open already returns the same handle, as on POSIX.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/named_mutex.h"

namespace corvane::win32 {

class Win32Mutexes final : public IMutexes {
public:
    explicit Win32Mutexes(std::u16string namePrefix = {});
    // inheritable: whether the handle of an opened (not created) mutex is inheritable; a created
    // mutex always has an inheritable handle.
    using IMutexes::OpenOrCreate;
    MutexHandle OpenOrCreate(std::u16string_view name, bool inheritable, uint32_t& error) override;

    std::u16string KernelName(std::u16string_view name) const;

private:
    std::u16string m_namePrefix;
    std::mutex m_mutex;
    std::map<std::u16string, std::weak_ptr<INamedMutex>> m_byName;  // by kernel name
};

}  // namespace corvane::win32
