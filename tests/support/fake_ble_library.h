// A scripted BLE library: phones whose channels are byte queues in memory. A test feeds what a
// phone sends, reads what the service wrote, closes channels and fires the callbacks.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "device/ble_library.h"

namespace corvane::test {

class FakeBleLibrary final : public IBleLibrary {
public:
    uint32_t StartBleService(uint64_t* service, const uint8_t* hostGuid, BleConnectHandler onConnect) override;
    uint32_t StopBleService(uint64_t service) override;
    uint32_t GetActiveChannel(uint64_t device, uint64_t* channel) override;
    uint32_t GetPassiveChannel(uint64_t device, uint64_t* channel) override;
    uint32_t CloseDevice(uint64_t device) override;
    uint32_t ReadChannel(uint64_t channel, void* buffer, uint64_t* length, uint32_t timeout) override;
    uint32_t WriteChannel(uint64_t channel, const void* buffer, uint64_t* length) override;
    bool HasSignalStrengthEvents() override { return signalEvents; }
    uint32_t AddSignalStrengthEvent(uint64_t device, uint64_t* cookie, BleSignalHandler onSignal) override;
    uint32_t RemoveSignalStrengthEvent(uint64_t device, uint64_t cookie) override;

    // A phone with its passive channel (device handle returned; passive channel = handle + 1).
    uint64_t AddPhone();
    static uint64_t PassiveOf(uint64_t device) { return device + 1; }
    // What the phone sends on a channel; `chunk` splits it into reads of at most that many bytes.
    void Feed(uint64_t channel, const std::vector<uint8_t>& bytes);
    // Ends a channel: reads return 0x20010003 once its bytes are gone.
    void CloseChannel(uint64_t channel);
    // Everything the service wrote on a channel so far (taken out).
    std::vector<uint8_t> TakeWritten(uint64_t channel);
    // Waits (real time, at most `ms`) until at least `size` bytes were written on the channel.
    bool WaitWritten(uint64_t channel, size_t size, int ms = 5000);
    // Calls the connect handler the service registered, as the library's thread would.
    void Connect(uint64_t device);
    // Waits (real time, at most `ms`) until CloseDevice(device) has been called.
    bool WaitClosed(uint64_t device, int ms = 5000);
    bool WasClosed(uint64_t device);
    // How many times CloseDevice(device) has been called.
    size_t CloseCount(uint64_t device);
    void Signal(uint64_t device, int16_t rssi);

    // Script and record.
    uint32_t startResult = 0;
    uint32_t passiveResult = 0;
    uint32_t writeResult = 0;
    size_t readChunk = 0;  // 0: a read takes what it can
    bool signalEvents = true;
    std::vector<uint64_t> closedDevices;
    std::vector<uint64_t> signalDevices;
    std::vector<uint64_t> removedSignals;
    std::atomic<int> startCalls {0};
    std::atomic<int> stopCalls {0};
    std::vector<uint8_t> lastGuid;
    // Called after every successful write, outside the library's lock, with the channel written
    // to: a scripted phone takes what was written and feeds its answers.
    std::function<void(uint64_t channel)> onWrite;
    // Calls of GetActiveChannel so far.
    std::atomic<int> activeChannelCalls {0};

private:
    struct Channel {
        std::deque<uint8_t> inbound;
        std::vector<uint8_t> written;
        bool closed = false;
    };
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<uint64_t, Channel> m_channels;
    BleConnectHandler m_onConnect;
    BleSignalHandler m_onSignal;
    uint64_t m_nextHandle = 0x100;
};

}  // namespace corvane::test
