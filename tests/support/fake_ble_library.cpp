#include "support/fake_ble_library.h"

#include <chrono>
#include <algorithm>
#include <cstring>

namespace corvane::test {

uint32_t FakeBleLibrary::StartBleService(uint64_t* service, const uint8_t* hostGuid, BleConnectHandler onConnect) {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++startCalls;
    lastGuid.assign(hostGuid, hostGuid + 16);
    if (startResult != 0) return startResult;
    m_onConnect = std::move(onConnect);
    *service = 0x5E5;
    return 0;
}

uint32_t FakeBleLibrary::StopBleService(uint64_t) {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++stopCalls;
    return 0;
}

uint32_t FakeBleLibrary::GetActiveChannel(uint64_t device, uint64_t* channel) {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++activeChannelCalls;
    if (!m_channels.count(device + 2)) return kBleErrorCode;
    *channel = device + 2;
    return 0;
}

uint32_t FakeBleLibrary::GetPassiveChannel(uint64_t device, uint64_t* channel) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (passiveResult != 0) return passiveResult;
    if (!m_channels.count(device + 1)) return kBleErrorCode;
    *channel = device + 1;
    return 0;
}

uint32_t FakeBleLibrary::CloseDevice(uint64_t device) {
    std::lock_guard<std::mutex> lock(m_mutex);
    closedDevices.push_back(device);
    for (uint64_t c : {device + 1, device + 2}) {
        auto it = m_channels.find(c);
        if (it != m_channels.end()) it->second.closed = true;
    }
    m_changed.notify_all();
    return 0;
}

uint32_t FakeBleLibrary::ReadChannel(uint64_t channel, void* buffer, uint64_t* length, uint32_t timeout) {
    std::unique_lock<std::mutex> lock(m_mutex);
    auto it = m_channels.find(channel);
    if (it == m_channels.end()) return kBleChannelClosed;
    Channel& c = it->second;
    auto ready = [&] { return !c.inbound.empty() || c.closed; };
    if (timeout == kBleNoTimeout) {
        m_changed.wait(lock, ready);
    } else if (!ready()) {
        return kBleTimedOut;
    }
    if (c.inbound.empty()) return kBleChannelClosed;
    size_t n = std::min<size_t>(*length, c.inbound.size());
    if (readChunk) n = std::min(n, readChunk);
    auto* out = static_cast<uint8_t*>(buffer);
    for (size_t i = 0; i < n; ++i) {
        out[i] = c.inbound.front();
        c.inbound.pop_front();
    }
    *length = n;
    return 0;
}

uint32_t FakeBleLibrary::WriteChannel(uint64_t channel, const void* buffer, uint64_t* length) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (writeResult != 0) return writeResult;
        auto it = m_channels.find(channel);
        if (it == m_channels.end() || it->second.closed) return kBleChannelClosed;
        const auto* in = static_cast<const uint8_t*>(buffer);
        it->second.written.insert(it->second.written.end(), in, in + *length);
        m_changed.notify_all();
    }
    if (onWrite) onWrite(channel);
    return 0;
}

uint32_t FakeBleLibrary::AddSignalStrengthEvent(uint64_t device, uint64_t* cookie, BleSignalHandler onSignal) {
    std::lock_guard<std::mutex> lock(m_mutex);
    signalDevices.push_back(device);
    m_onSignal = std::move(onSignal);
    *cookie = device ^ 0xC00C1E;
    return 0;
}

uint32_t FakeBleLibrary::RemoveSignalStrengthEvent(uint64_t device, uint64_t) {
    std::lock_guard<std::mutex> lock(m_mutex);
    removedSignals.push_back(device);
    return 0;
}

uint64_t FakeBleLibrary::AddPhone() {
    std::lock_guard<std::mutex> lock(m_mutex);
    const uint64_t device = m_nextHandle;
    m_nextHandle += 0x10;
    m_channels[device + 1];
    m_channels[device + 2];
    return device;
}

void FakeBleLibrary::Feed(uint64_t channel, const std::vector<uint8_t>& bytes) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Channel& c = m_channels[channel];
    c.inbound.insert(c.inbound.end(), bytes.begin(), bytes.end());
    m_changed.notify_all();
}

void FakeBleLibrary::CloseChannel(uint64_t channel) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_channels[channel].closed = true;
    m_changed.notify_all();
}

std::vector<uint8_t> FakeBleLibrary::TakeWritten(uint64_t channel) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<uint8_t> out;
    out.swap(m_channels[channel].written);
    return out;
}

bool FakeBleLibrary::WaitWritten(uint64_t channel, size_t size, int ms) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(ms),
                              [&] { return m_channels[channel].written.size() >= size; });
}

bool FakeBleLibrary::WaitClosed(uint64_t device, int ms) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(ms), [&] {
        return std::find(closedDevices.begin(), closedDevices.end(), device) != closedDevices.end();
    });
}

bool FakeBleLibrary::WasClosed(uint64_t device) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::find(closedDevices.begin(), closedDevices.end(), device) != closedDevices.end();
}

size_t FakeBleLibrary::CloseCount(uint64_t device) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<size_t>(std::count(closedDevices.begin(), closedDevices.end(), device));
}

void FakeBleLibrary::Connect(uint64_t device) {
    BleConnectHandler handler;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        handler = m_onConnect;
    }
    if (handler) handler(device);
}

void FakeBleLibrary::Signal(uint64_t device, int16_t rssi) {
    BleSignalHandler handler;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        handler = m_onSignal;
    }
    if (handler) handler(device, rssi);
}

}  // namespace corvane::test
