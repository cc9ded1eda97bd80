// The abstract device: something through which a user logged on to Windows and whose presence
// the service watches afterwards (a phone over Bluetooth LE, a smart card in a reader). It
// carries the logon options of the users who logged on through it; its worker thread watches
// its presence and acts on those options. Devices live in the DeviceMap and are shared by
// reference count: the creator's reference belongs to the worker, the map holds one more, and
// every Find takes a temporary one that DeviceMap::Release gives back.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "wire/reply_arena.h"
#include "device/clogon_opt.h"
#include "device/logon_opt_list.h"
#include "platform/clock.h"
#include "wire/result_codes.h"

namespace corvane {

// Device kinds, as logon results and audit rows number them.
namespace DeviceKind {
constexpr uint32_t Base = 0;
constexpr uint32_t NetworkPhone = 1;  // a phone on the local network (not a CDevTovrel)
constexpr uint32_t BluetoothPhone = 2;
constexpr uint32_t CardReader = 3;
}  // namespace DeviceKind

class CDevTovrel {
public:
    // The reference count starts at 1: the reference of the worker the device will run.
    CDevTovrel(IClock& clock, std::u16string id, std::u16string name, uint32_t kind);
    virtual ~CDevTovrel();
    CDevTovrel(const CDevTovrel&) = delete;
    CDevTovrel& operator=(const CDevTovrel&) = delete;

    // Inserts or refreshes the option of (user, domain): a refresh sets option and delay, takes
    // a fresh time and clears the handled flag; a new option also starts its signal clock now.
    virtual void AddLogonOption(std::u16string_view user, std::u16string_view domain, int32_t option, int32_t delay);
    // Deletes the first option of (user, domain), if any.
    virtual void RemoveLogonOption(std::u16string_view user, std::u16string_view domain);
    // Sets the time of the first option of (user, domain); false when there is none.
    virtual bool SetLogonOptionTime(std::u16string_view user, std::u16string_view domain, const FileTime* time);
    // Tells the device the published logon state. NTE_NOT_SUPPORTED unless a device can.
    virtual uint32_t ReportSessions();
    virtual bool IsConnected();
    virtual uint32_t Close();
    // Starts the worker thread, which runs Run() and then takes the device out of the map.
    virtual void StartWorker() = 0;
    virtual void RequestStop();
    virtual bool IsStopping();
    // The worker's loop: presence watching until nothing is left to watch or a stop is asked.
    virtual uint32_t Run() = 0;
    // Sends a token command (header and payload) and returns the reply, allocated from `arena`.
    virtual uint32_t Transmit(const uint8_t* request, size_t requestSize, uint8_t** reply, size_t* replySize,
                              ReplyArena& arena);

    const std::u16string& GetId() const { return m_strId; }
    // A copy of the second text: a phone's rebind renames it while others read it.
    std::u16string GetName() const {
        std::lock_guard<std::mutex> lock(m_nameMutex);
        return m_strName;
    }
    uint32_t GetKind() const { return m_nKind; }

    // Reference counting; only DeviceMap::Release gives a reference back.
    void AddRef() { m_nRefCount.fetch_add(1); }
    int32_t RefCount() const { return m_nRefCount.load(); }

    // A copy of the options, for callers that only look.
    std::vector<CLogonOpt> CopyLogonOptions();

protected:
    friend class DeviceMap;
    // Drops one reference; true when it was the last one.
    bool DropRef() { return m_nRefCount.fetch_sub(1) == 1; }
    void SetName(std::u16string_view name) {
        std::lock_guard<std::mutex> lock(m_nameMutex);
        m_strName = std::u16string(name);
    }
    // Runs a presence test on every option, last to first, and deletes those it answers true
    // for. The tests take the session-table mutex, which must never be waited for under a device
    // lock, so each option is tested on a copy; what the test changed is written back afterwards
    // unless the option was removed or refreshed by a new logon in the meantime.
    void RunOptionTests(const std::function<bool(CLogonOpt& copy)>& test);

    IClock& m_clock;
    std::atomic<int32_t> m_nRefCount {1};
    std::atomic<uint32_t> m_bStopRequested {0};
    const std::u16string m_strId;  // the DeviceMap key
    std::u16string m_strName;      // phone name or reader name; changed only under m_nameMutex
    mutable std::mutex m_nameMutex;
    const uint32_t m_nKind;
    // The options in insertion order. Changed by the worker and by other threads through the
    // operations above, so every access holds m_optionMutex. No other lock is taken under it (the
    // clock read of a new option aside).
    std::mutex m_optionMutex;
    CLogonOptArray m_arrOptions;
};

}  // namespace corvane
