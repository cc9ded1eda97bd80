// One phone of the phone stand-in: it holds its own RSA key (made with the OS CSPRNG), connects
// to the BLE library stand-in, says hello, unwraps and checks the session key, sends signal
// samples, serves the computer's active channel with its soft token, and carries out the commands that
// `corvane-phone ID ...` sends it.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "crypto/cipher.h"
#include "crypto/rsa.h"

namespace corvane::phone {

class Phone {
public:
    Phone(std::string root, std::string id, std::string name, int16_t rssi);
    ~Phone();

    // The key and the phone's own socket; false (with a message on stderr) when either fails.
    bool Init();
    // Keeps the phone connected until `stop` is set; the exit code.
    int Run(const std::atomic<bool>& stop);

private:
    void LinkLoop(const std::atomic<bool>& stop);
    void SignalLoop(const std::atomic<bool>& stop);
    void ListenLoop(const std::atomic<bool>& stop);
    bool Connect();
    void Disconnect();
    void ServeActive(int fd);
    void ServeCommand(int fd);
    std::vector<uint8_t> AnswerToken(CipherHandle cipher, uint16_t code, const uint8_t* sealed, size_t size);
    std::string Command(const std::vector<std::string>& args);
    // One keyed request on the passive channel: 0 with the reply's status and plain payload, or a
    // failure text in `error`.
    bool Request(uint16_t code, const std::vector<uint8_t>& payload, uint32_t& status, std::vector<uint8_t>& reply,
                 std::string& error);

    std::string m_root;
    std::string m_id;
    std::string m_name;
    std::atomic<int16_t> m_rssi;
    std::atomic<bool> m_away {false};
    RsaHandle m_key = nullptr;
    std::vector<uint8_t> m_publicDer;
    int m_listenFd = -1;

    // The passive link; m_linkMutex serialises the requests and the link's set-up and teardown.
    std::mutex m_linkMutex;
    std::atomic<int> m_passiveFd {-1};
    std::atomic<int> m_signalFd {-1};
    CipherHandle m_cipher = nullptr;
};

}  // namespace corvane::phone
