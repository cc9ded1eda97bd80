// Named mutexes on POSIX: one recursive in-process mutex per name, shared by every handle opened
// with that name; names with the "Global\\" prefix also take an advisory lock on a file under
// the state root, so that they serialise across processes as well.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/named_mutex.h"

namespace corvane::posix {

class PosixMutexes final : public IMutexes {
public:
    explicit PosixMutexes(std::string lockDir);
    using IMutexes::OpenOrCreate;
    MutexHandle OpenOrCreate(std::u16string_view name, bool inheritable, uint32_t& error) override;

private:
    std::string m_lockDir;
    std::mutex m_mutex;
    std::map<std::u16string, std::weak_ptr<INamedMutex>> m_byName;
};

}  // namespace corvane::posix
