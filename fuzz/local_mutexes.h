// In-process named mutexes for the fuzz targets: one recursive mutex per name, so that the code
// under test locks and unlocks exactly as it does in the service, without any OS object.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/named_mutex.h"

namespace corvane::fuzz {

class LocalMutex final : public INamedMutex {
public:
    void Lock() override { m_mutex.lock(); }
    void Unlock() override { m_mutex.unlock(); }

private:
    std::recursive_mutex m_mutex;
};

class LocalMutexes final : public IMutexes {
public:
    MutexHandle OpenOrCreate(std::u16string_view name, bool, uint32_t& error) override {
        error = 0;
        auto& handle = m_byName[std::u16string(name)];
        if (!handle) handle = std::make_shared<LocalMutex>();
        return handle;
    }

private:
    std::map<std::u16string, MutexHandle> m_byName;
};

}  // namespace corvane::fuzz
