#include "platform/posix/posix_mutexes.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <thread>

#include "platform/posix/posix_registry.h"
#include "platform/posix/state_root.h"
#include "platform/text.h"

namespace corvane::posix {

namespace {

class PosixNamedMutex final : public INamedMutex {
public:
    explicit PosixNamedMutex(std::string lockFile) : m_lockFile(std::move(lockFile)) {}
    ~PosixNamedMutex() override {
        if (m_fd >= 0) ::close(m_fd);
    }

    void Lock() override {
        m_mutex.lock();
        if (++m_depth == 1 && !m_lockFile.empty()) {
            if (m_fd < 0) m_fd = ::open(m_lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
            if (m_fd >= 0) {
                while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
                }
            }
        }
    }

    void Unlock() override {
        if (m_depth == 0) return;  // not owned: ReleaseMutex fails, and the failure is ignored
        if (--m_depth == 0 && m_fd >= 0) ::flock(m_fd, LOCK_UN);
        m_mutex.unlock();
    }

private:
    std::recursive_mutex m_mutex;
    int m_depth = 0;  // guarded by m_mutex
    std::string m_lockFile;
    int m_fd = -1;
};

constexpr std::u16string_view kGlobalPrefix = u"Global\\";

}  // namespace

PosixMutexes::PosixMutexes(std::string lockDir) : m_lockDir(std::move(lockDir)) {}

MutexHandle PosixMutexes::OpenOrCreate(std::u16string_view name, bool /*inheritable*/, uint32_t& error) {
    // Never fails: without its lock file a "Global\\" mutex still excludes within the process.
    error = 0;
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::u16string key(name);
    if (auto existing = m_byName[key].lock()) return existing;
    std::string lockFile;
    if (name.substr(0, kGlobalPrefix.size()) == kGlobalPrefix) {
        if (MakeDirectories(m_lockDir, 0777) == 0) {
            lockFile = m_lockDir + "/" + PosixRegistry::EncodeName(name.substr(kGlobalPrefix.size())) + ".lock";
        }
    }
    auto handle = std::make_shared<PosixNamedMutex>(lockFile);
    m_byName[key] = handle;
    return handle;
}

}  // namespace corvane::posix
