#include "platform/posix/posix_service_host.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/posix/control_protocol.h"
#include "platform/posix/state_root.h"
#include "platform/types.h"

namespace corvane::posix {

namespace {
constexpr uint32_t kServiceCannotAcceptCtrl = 1061;

// Signals reach the dispatcher through a pipe, one byte each; the handler may only write to it.
int g_signalPipe[2] = {-1, -1};
constexpr char kStopByte = 'S';
constexpr char kHangupByte = 'H';

void OnSignal(int sig) {
    const int saved = errno;
    const char byte = sig == SIGHUP ? kHangupByte : kStopByte;
    if (g_signalPipe[1] >= 0) (void)!::write(g_signalPipe[1], &byte, 1);
    errno = saved;
}
}  // namespace

PosixServiceHost::PosixServiceHost(std::string controlSocketPath, std::string instanceLockPath)
    : m_socketPath(std::move(controlSocketPath)), m_instanceLockPath(std::move(instanceLockPath)) {}

PosixServiceHost::~PosixServiceHost() {
    if (m_instanceLockFd >= 0) ::close(m_instanceLockFd);
}

uint32_t PosixServiceHost::ClaimServiceInstance(std::u16string_view) {
    if (m_instanceLockFd >= 0 || m_instanceLockPath.empty()) return 0;
    const std::string dir = m_instanceLockPath.substr(0, m_instanceLockPath.rfind('/'));
    MakeDirectories(dir);
    const int fd = ::open(m_instanceLockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::fprintf(stderr, "corvane: instance lock %s unavailable (%s); a second start is not refused\n",
                     m_instanceLockPath.c_str(), std::strerror(errno));
        return 0;
    }
    int rc;
    while ((rc = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (rc != 0) {
        const int err = errno;
        ::close(fd);
        if (err == EWOULDBLOCK) return WinError::ServiceAlreadyRunning;
        std::fprintf(stderr, "corvane: instance lock %s unavailable (%s); a second start is not refused\n",
                     m_instanceLockPath.c_str(), std::strerror(err));
        return 0;
    }
    m_instanceLockFd = fd;
    return 0;
}

ServiceStatusHandle PosixServiceHost::RegisterServiceCtrlHandlerEx(std::u16string_view, ServiceControlHandler handler) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_handler = std::move(handler);
    return 1;
}

bool PosixServiceHost::SetServiceStatus(ServiceStatusHandle handle, const ServiceStatus& status) {
    if (handle == 0) return false;
    const uint32_t previous = m_state.exchange(status.dwCurrentState);
    if (previous != status.dwCurrentState) NotifySystemd(status.dwCurrentState);
    return true;
}

void PosixServiceHost::NotifySystemd(uint32_t state) {
    // Under systemd (Type=notify) the reported state is the readiness protocol's: READY=1 once
    // running, STOPPING=1 at the stop; STATUS= is the one line "systemctl status" shows. Without
    // NOTIFY_SOCKET nothing is sent.
    const char* message = nullptr;
    switch (state) {
        case Svc::StartPending: message = "STATUS=starting"; break;
        case Svc::Running: message = "READY=1\nSTATUS=running: sessions, cards and phones watched"; break;
        case Svc::StopPending: message = "STOPPING=1\nSTATUS=stopping"; break;
        case Svc::Stopped: message = "STATUS=stopped"; break;
        default: return;
    }
    (void)sd_notify(0, message);
}

bool PosixServiceHost::RegisterDeviceNotification(ServiceStatusHandle handle) { return handle != 0; }

void PosixServiceHost::SetQueryHandler(ServiceQueryHandler handler) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_queryHandler = std::move(handler);
}

std::string PosixServiceHost::Answer(const std::string& question) {
    ServiceQueryHandler handler;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        handler = m_queryHandler;
    }
    std::vector<std::string> lines;
    const bool known = handler && handler(question, lines);
    return FormatQueryReply(known, lines);
}

uint32_t PosixServiceHost::Deliver(uint32_t control, uint32_t eventType, uint32_t sessionId) {
    ServiceControlHandler handler;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        handler = m_handler;
    }
    if (!handler) return kServiceCannotAcceptCtrl;
    WtsSessionNotification notification;
    notification.dwSessionId = sessionId;
    return handler(control, eventType, control == Svc::ControlSessionChange ? &notification : nullptr);
}

int PosixServiceHost::OpenControlSocket() {
    const size_t slash = m_socketPath.rfind('/');
    if (slash != std::string::npos) MakeDirectories(m_socketPath.substr(0, slash), 0755);
    sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    if (m_socketPath.size() >= sizeof addr.sun_path) return -1;
    std::memcpy(addr.sun_path, m_socketPath.c_str(), m_socketPath.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    ::unlink(m_socketPath.c_str());  // a socket left by a service that died
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 16) != 0) {
        ::close(fd);
        return -1;
    }
    ::chmod(m_socketPath.c_str(), 0600);
    return fd;
}

namespace {
// The whole answer, unless the tool stops reading for two seconds: the dispatcher never hangs on it.
void SendAnswer(int fd, const std::string& text) {
    size_t sent = 0;
    while (sent < text.size()) {
        pollfd p {fd, POLLOUT, 0};
        if (::poll(&p, 1, 2000) <= 0) return;
        const ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        sent += static_cast<size_t>(n);
    }
}
}  // namespace

void PosixServiceHost::ServeConnection(int fd) {
    std::string line;
    char c = 0;
    while (line.size() < 128) {
        pollfd p {fd, POLLIN, 0};
        if (::poll(&p, 1, 2000) <= 0) break;
        if (::recv(fd, &c, 1, 0) <= 0 || c == '\n') break;
        line.push_back(c);
    }
    if (auto question = ParseQueryRequest(line)) {
        SendAnswer(fd, Answer(*question));
        ::close(fd);
        return;
    }
    ControlReply reply;
    if (auto request = ParseControlRequest(line)) {
        reply.result = Deliver(request->control, request->eventType, request->sessionId);
    } else {
        reply.result = WinError::InvalidParameter;
    }
    reply.state = m_state.load();
    const std::string text = FormatControlReply(reply);
    (void)!::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
    ::close(fd);
}

bool PosixServiceHost::StartServiceCtrlDispatcher(std::u16string_view, std::function<void()> serviceMain) {
    if (g_signalPipe[0] < 0 && ::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    // Log rotation sends SIGHUP to have the event log reopened. The event log is opened afresh
    // for every line, so the next line already goes to the file now at its path; the signal
    // must only not end the service.
    ::sigaction(SIGHUP, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    if (m_startHook) m_startHook();
    const int listenFd = OpenControlSocket();
    if (listenFd < 0) {
        std::fprintf(stderr, "corvane: control socket %s unavailable (%s); only signals stop the service\n",
                     m_socketPath.c_str(), std::strerror(errno));
    }

    std::fprintf(stderr,
                 "corvane: service running in the foreground; controls on %s; stop with Ctrl+C or 'corvane-ctl stop'\n",
                 m_socketPath.c_str());
    std::atomic<bool> mainDone {false};
    int donePipe[2] = {-1, -1};
    if (::pipe2(donePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        if (listenFd >= 0) ::close(listenFd);
        return false;
    }
    std::thread mainThread([&] {
        serviceMain();
        mainDone = true;
        const char byte = 1;
        (void)!::write(donePipe[1], &byte, 1);
    });

    bool stopPending = false;
    while (!mainDone) {
        pollfd fds[3] = {{donePipe[0], POLLIN, 0}, {g_signalPipe[0], POLLIN, 0}, {listenFd, POLLIN, 0}};
        const int n = ::poll(fds, listenFd >= 0 ? 3 : 2, 100);
        if (n < 0 && errno != EINTR) break;
        if (fds[1].revents & POLLIN) {
            char drain[16];
            ssize_t got;
            bool hangup = false;
            while ((got = ::read(g_signalPipe[0], drain, sizeof drain)) > 0) {
                for (ssize_t i = 0; i < got; ++i) {
                    if (drain[i] == kHangupByte) {
                        hangup = true;
                    } else {
                        stopPending = true;
                    }
                }
            }
            if (hangup) {
                std::fprintf(stderr, "corvane: SIGHUP: the event log is reopened with its next line\n");
            }
        }
        // A stop that arrives before the handler is registered is delivered once it is.
        if (stopPending && Deliver(Svc::ControlStop, 0, 0) != kServiceCannotAcceptCtrl) stopPending = false;
        if (listenFd >= 0 && (fds[2].revents & POLLIN)) {
            const int client = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) ServeConnection(client);
        }
    }
    mainThread.join();
    if (listenFd >= 0) {
        ::close(listenFd);
        ::unlink(m_socketPath.c_str());
    }
    ::close(donePipe[0]);
    ::close(donePipe[1]);
    return true;
}

}  // namespace corvane::posix
