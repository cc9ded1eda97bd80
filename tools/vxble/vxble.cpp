// The BLE library stand-in: the nine calls of the maker's library, built from our own code. Each
// phone is a process (corvane-phone) that reaches this library over Unix-domain sockets under the
// state root (vxble_link.h); the library's radio follows the simulated radio of the state root.
// One library per process, as the real one: its state is process-wide.
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/vxble_abi.h"
#include "platform/posix/sim_radio.h"
#include "vxble_link.h"

#define VXBLE_EXPORT extern "C" __attribute__((visibility("default")))

using namespace corvane;

namespace {

constexpr uint32_t kOk = 0;
constexpr int kAcceptPollMs = 200;
constexpr int kIntroWaitMs = 2000;

// One end of a socket; the descriptor is closed when the last user lets go, so a read in
// progress never meets a reused number.
struct Channel {
    explicit Channel(int f) : fd(f) {}
    ~Channel() { ::close(fd); }
    void Shut() { ::shutdown(fd, SHUT_RDWR); }
    int fd;
};

struct Device {
    std::string id;
    uint64_t passive = 0;
    uint64_t active = 0;
    VxBleSignalCallback signal = nullptr;
};

struct Library {
    std::mutex mutex;
    std::map<uint64_t, std::shared_ptr<Channel>> channels;
    std::map<uint64_t, Device> devices;
    uint64_t next = 0x1000;
    int listenFd = -1;
    std::thread acceptThread;
    // The phones' signal streams and their readers, ended and joined when the service stops.
    std::vector<std::shared_ptr<Channel>> signals;
    std::vector<std::thread> signalThreads;
    std::atomic<bool> running {false};
    VxBleConnectCallback onConnect = nullptr;
    std::string root = posix::SimStateRootFromEnvironment();
};

std::once_flag g_libraryOnce;
Library* g_library = nullptr;

Library& Lib() {
    std::call_once(g_libraryOnce, [] { g_library = new Library; });
    return *g_library;
}

// Runs when the service unloads the library: its state is freed once the service has stopped,
// and kept while the service still runs, since the library's threads still use it then.
__attribute__((destructor)) void FreeLibraryState() {
    if (g_library != nullptr && !g_library->running) {
        delete g_library;
        g_library = nullptr;
    }
}

bool WaitReadable(int fd, int ms) {
    pollfd p {fd, POLLIN, 0};
    int rc;
    do {
        rc = ::poll(&p, 1, ms);
    } while (rc < 0 && errno == EINTR);
    return rc > 0;
}

bool ReadAll(int fd, uint8_t* out, size_t size, int ms) {
    size_t done = 0;
    while (done < size) {
        if (!WaitReadable(fd, ms)) return false;
        const ssize_t n = ::recv(fd, out + done, size - done, 0);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool SendAll(int fd, const uint8_t* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::send(fd, data + done, size - done, MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

int ConnectUnix(const std::string& path) {
    sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) return -1;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void MakeDirs(const std::string& path) {
    for (size_t at = 1; at <= path.size(); ++at) {
        if (at == path.size() || path[at] == '/') ::mkdir(path.substr(0, at).c_str(), 0755);
    }
}

// Caller holds the mutex.
uint64_t AddChannel(Library& lib, int fd) {
    const uint64_t handle = lib.next++;
    lib.channels[handle] = std::make_shared<Channel>(fd);
    return handle;
}

void DropChannel(Library& lib, uint64_t handle) {
    auto it = lib.channels.find(handle);
    if (it == lib.channels.end()) return;
    it->second->Shut();
    lib.channels.erase(it);
}

void DropDevice(Library& lib, uint64_t device) {
    auto it = lib.devices.find(device);
    if (it == lib.devices.end()) return;
    DropChannel(lib, it->second.passive);
    DropChannel(lib, it->second.active);
    lib.devices.erase(it);
}

std::shared_ptr<Channel> FindChannel(uint64_t handle) {
    Library& lib = Lib();
    std::lock_guard<std::mutex> lock(lib.mutex);
    auto it = lib.channels.find(handle);
    return it == lib.channels.end() ? nullptr : it->second;
}

// A phone's signal samples: each goes to the phone's newest device that asked for them.
void SignalReader(std::shared_ptr<Channel> stream, std::string id) {
    Library& lib = Lib();
    uint8_t sample[2];
    while (ReadAll(stream->fd, sample, sizeof sample, -1)) {
        VxBleSignalCallback callback = nullptr;
        uint64_t target = 0;
        {
            std::lock_guard<std::mutex> lock(lib.mutex);
            for (auto& [handle, device] : lib.devices) {
                if (device.id == id && device.signal) {
                    callback = device.signal;
                    target = handle;
                }
            }
        }
        const uint32_t rssi = static_cast<uint32_t>(sample[0] | (sample[1] << 8));
        if (callback && lib.running) callback(target, rssi);
    }
}

void Accept(Library& lib, int fd) {
    uint8_t intro[vxble::kIntroSize];
    char kind = 0;
    std::string id;
    if (!posix::SimRadioPresent(lib.root) || !ReadAll(fd, intro, sizeof intro, kIntroWaitMs) ||
        !vxble::ParseIntro(intro, kind, id) || id.empty()) {
        ::close(fd);
        return;
    }
    if (kind == vxble::kKindSignal) {
        auto stream = std::make_shared<Channel>(fd);
        std::lock_guard<std::mutex> lock(lib.mutex);
        lib.signals.push_back(stream);
        lib.signalThreads.emplace_back(SignalReader, stream, id);
        return;
    }
    if (kind != vxble::kKindPassive) {
        ::close(fd);
        return;
    }
    uint64_t device = 0;
    VxBleConnectCallback callback = nullptr;
    {
        std::lock_guard<std::mutex> lock(lib.mutex);
        device = lib.next++;
        Device& d = lib.devices[device];
        d.id = id;
        d.passive = AddChannel(lib, fd);
        callback = lib.onConnect;
    }
    if (callback) callback(nullptr, device);
}

// Accepts phones while the service runs; when the radio goes away every phone's link drops.
void AcceptLoop() {
    Library& lib = Lib();
    while (lib.running) {
        if (!posix::SimRadioPresent(lib.root)) {
            std::lock_guard<std::mutex> lock(lib.mutex);
            std::vector<uint64_t> all;
            for (auto& [handle, device] : lib.devices) all.push_back(handle);
            for (uint64_t handle : all) DropDevice(lib, handle);
        }
        if (!WaitReadable(lib.listenFd, kAcceptPollMs)) continue;
        const int fd = ::accept4(lib.listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) Accept(lib, fd);
    }
}

}  // namespace

VXBLE_EXPORT uint32_t StartBleService(uint64_t* service, const uint8_t* hostGuid, VxBleConnectCallback onConnect) {
    (void)hostGuid;
    Library& lib = Lib();
    if (!service || !onConnect) return kBleErrorCode;
    std::lock_guard<std::mutex> lock(lib.mutex);
    if (lib.running || !posix::SimRadioPresent(lib.root)) return kBleErrorCode;
    const std::string path = vxble::HostSocketPath(lib.root);
    MakeDirs(vxble::LinkDir(lib.root));
    ::unlink(path.c_str());
    sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) return kBleErrorCode;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return kBleErrorCode;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 16) != 0) {
        ::close(fd);
        return kBleErrorCode;
    }
    lib.listenFd = fd;
    lib.onConnect = onConnect;
    lib.running = true;
    lib.acceptThread = std::thread(AcceptLoop);
    *service = 1;
    return kOk;
}

VXBLE_EXPORT uint32_t StopBleService(uint64_t service) {
    (void)service;
    Library& lib = Lib();
    std::thread accept;
    {
        std::lock_guard<std::mutex> lock(lib.mutex);
        if (!lib.running) return kOk;
        lib.running = false;
        accept.swap(lib.acceptThread);
    }
    if (accept.joinable()) accept.join();
    std::vector<std::thread> readers;
    {
        std::lock_guard<std::mutex> lock(lib.mutex);
        for (auto& stream : lib.signals) stream->Shut();
        lib.signals.clear();
        readers.swap(lib.signalThreads);
    }
    for (std::thread& reader : readers) reader.join();
    std::lock_guard<std::mutex> lock(lib.mutex);
    ::close(lib.listenFd);
    lib.listenFd = -1;
    ::unlink(vxble::HostSocketPath(lib.root).c_str());
    std::vector<uint64_t> all;
    for (auto& [handle, device] : lib.devices) all.push_back(handle);
    for (uint64_t handle : all) DropDevice(lib, handle);
    lib.onConnect = nullptr;
    return kOk;
}

VXBLE_EXPORT uint32_t GetActiveChannel(uint64_t device, uint64_t* channel) {
    Library& lib = Lib();
    if (!channel) return kBleErrorCode;
    std::string id;
    {
        std::lock_guard<std::mutex> lock(lib.mutex);
        auto it = lib.devices.find(device);
        if (it == lib.devices.end()) return kBleChannelClosed;
        id = it->second.id;
    }
    const int fd = ConnectUnix(vxble::PhoneSocketPath(lib.root, id));
    if (fd < 0) return kBleIoFailed;
    uint8_t intro[vxble::kIntroSize];
    vxble::BuildIntro(intro, vxble::kKindActive, id);
    if (!SendAll(fd, intro, sizeof intro)) {
        ::close(fd);
        return kBleIoFailed;
    }
    std::lock_guard<std::mutex> lock(lib.mutex);
    auto it = lib.devices.find(device);
    if (it == lib.devices.end()) {
        ::close(fd);
        return kBleChannelClosed;
    }
    DropChannel(lib, it->second.active);
    it->second.active = AddChannel(lib, fd);
    *channel = it->second.active;
    return kOk;
}

VXBLE_EXPORT uint32_t GetPassiveChannel(uint64_t device, uint64_t* channel) {
    Library& lib = Lib();
    if (!channel) return kBleErrorCode;
    std::lock_guard<std::mutex> lock(lib.mutex);
    auto it = lib.devices.find(device);
    if (it == lib.devices.end()) return kBleChannelClosed;
    *channel = it->second.passive;
    return kOk;
}

VXBLE_EXPORT uint32_t CloseDevice(uint64_t device) {
    Library& lib = Lib();
    std::lock_guard<std::mutex> lock(lib.mutex);
    DropDevice(lib, device);
    return kOk;
}

VXBLE_EXPORT uint32_t ReadChannel(uint64_t channel, void* buffer, uint64_t* length, uint32_t timeout) {
    if (!buffer || !length) return kBleErrorCode;
    const std::shared_ptr<Channel> c = FindChannel(channel);
    if (!c) return kBleChannelClosed;
    const int ms = timeout == kBleNoTimeout ? -1 : static_cast<int>(timeout > 0x7FFFFFFF ? 0x7FFFFFFF : timeout);
    if (!WaitReadable(c->fd, ms)) {
        *length = 0;
        return kBleTimedOut;
    }
    ssize_t n;
    do {
        n = ::recv(c->fd, buffer, static_cast<size_t>(*length), 0);
    } while (n < 0 && errno == EINTR);
    if (n == 0) return kBleChannelClosed;
    if (n < 0) return errno == ECONNRESET ? kBleChannelClosed : kBleIoFailed;
    *length = static_cast<uint64_t>(n);
    return kOk;
}

VXBLE_EXPORT uint32_t WriteChannel(uint64_t channel, const void* buffer, uint64_t* length) {
    if (!buffer || !length) return kBleErrorCode;
    const std::shared_ptr<Channel> c = FindChannel(channel);
    if (!c) return kBleChannelClosed;
    ssize_t n;
    do {
        n = ::send(c->fd, buffer, static_cast<size_t>(*length), MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return errno == EPIPE || errno == ECONNRESET ? kBleChannelClosed : kBleIoFailed;
    *length = static_cast<uint64_t>(n);
    return kOk;
}

VXBLE_EXPORT uint32_t AddSignalStrengthEvent(uint64_t device, uint64_t* cookie, VxBleSignalCallback onSignal) {
    Library& lib = Lib();
    std::lock_guard<std::mutex> lock(lib.mutex);
    auto it = lib.devices.find(device);
    if (it == lib.devices.end() || !cookie) return kBleErrorCode;
    it->second.signal = onSignal;
    *cookie = device;
    return kOk;
}

VXBLE_EXPORT uint32_t RemoveSignalStrengthEvent(uint64_t device, uint64_t cookie) {
    (void)cookie;
    Library& lib = Lib();
    std::lock_guard<std::mutex> lock(lib.mutex);
    auto it = lib.devices.find(device);
    if (it != lib.devices.end()) it->second.signal = nullptr;
    return kOk;
}
