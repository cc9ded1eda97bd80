// A scripted radio: present unless the test says otherwise (a flag, or a function asked on every
// enumeration), with the adapter switches recorded.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <mutex>
#include <vector>

#include "platform/bluetooth_radios.h"
#include "platform/library_loader.h"
#include "platform/pc_software.h"

namespace corvane::test {

class FakeBluetoothRadios final : public IBluetoothRadios {
public:
    bool IsRadioPresent() override {
        ++enumerations;
        std::function<bool()> script;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            script = presentScript;
        }
        if (script) return script();
        return present.load() && adaptersEnabled.load();
    }
    uint32_t SetAdaptersEnabled(bool enable) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        adapterSwitches.push_back(enable);
        adaptersEnabled = enable;
        return 0;
    }
    void Script(std::function<bool()> script) {
        std::lock_guard<std::mutex> lock(m_mutex);
        presentScript = std::move(script);
    }
    std::vector<bool> Switches() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return adapterSwitches;
    }

    std::atomic<bool> present {true};
    std::atomic<bool> adaptersEnabled {true};
    std::atomic<uint64_t> enumerations {0};

private:
    std::mutex m_mutex;
    std::function<bool()> presentScript;
    std::vector<bool> adapterSwitches;
};

// Loads nothing, unless a test hands it a table of exports by name.
class FakeLibraryLoader final : public ILibraryLoader {
public:
    std::unique_ptr<ILoadedLibrary> Load(std::u16string_view path, uint32_t& error) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        requested.emplace_back(path);
        error = loadable ? 0 : 126;
        if (!loadable) return nullptr;
        return std::make_unique<Loaded>(resolve);
    }
    bool loadable = false;
    std::function<void*(const char*)> resolve;
    std::vector<std::u16string> requested;

private:
    class Loaded final : public ILoadedLibrary {
    public:
        explicit Loaded(std::function<void*(const char*)> exports) : m_exports(std::move(exports)) {}
        void* GetExport(const char* name) override { return m_exports ? m_exports(name) : nullptr; }

    private:
        std::function<void*(const char*)> m_exports;
    };
    std::mutex m_mutex;
};

// The other vendor's PC software: running executables and foreign services by name.
class FakePcSoftware final : public IPcSoftware {
public:
    uint32_t TerminateProcessNamed(std::u16string_view exeName) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto it = processes.begin(); it != processes.end(); ++it) {
            if (*it == exeName) {
                terminated.emplace_back(*it);
                processes.erase(it);
                return 0;
            }
        }
        return 1168;
    }
    uint32_t QueryServiceState(std::u16string_view, uint32_t& state) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++queries;
        if (serviceState == 0) return 1060;
        state = serviceState;
        // A stopping service reports stopped after a few looks.
        if (stopping && queries >= stopAfterQueries) serviceState = 1;
        return 0;
    }
    uint32_t StopService(std::u16string_view) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++stops;
        stopping = true;
        serviceState = 3;
        return 0;
    }
    std::vector<std::u16string> processes;
    std::vector<std::u16string> terminated;
    uint32_t serviceState = 0;  // 0: no such service
    int queries = 0;
    int stops = 0;
    int stopAfterQueries = 3;
    bool stopping = false;

private:
    std::mutex m_mutex;
};

}  // namespace corvane::test
