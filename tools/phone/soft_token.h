// The phone's soft token: the key containers made at pairing time, kept as files under the
// phone's own directory (token/<container>/key.pem, cert.pem and handle, token/default naming the
// default container), and the answers to the token sub-operations the computer sends on the
// active channel. Each container keeps the handle it was given when it was first paired (1, 2,
// ...), so the handles the computer caches stay right when more containers are paired. Each
// container holds one key exchange key (key spec 1) and its certificate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace corvane::phone {

namespace TokenStatus {
constexpr uint32_t NoMoreItems = 259;           // ERROR_NO_MORE_ITEMS
constexpr uint32_t NteBadLen = 0x80090004;
constexpr uint32_t NteBadData = 0x80090005;
constexpr uint32_t NteNoKey = 0x8009000D;
constexpr uint32_t NteNotFound = 0x80090011;
constexpr uint32_t NteBadKeyset = 0x80090016;
constexpr uint32_t NteFail = 0x80090020;
constexpr uint32_t NteNotSupported = 0x80090029;
}  // namespace TokenStatus

// The answer to one sub-operation: a status and, when it is 0, the reply's plain payload.
struct TokenAnswer {
    uint32_t status = 0;
    std::vector<uint8_t> payload;
};

// The phone's own directory under the state root, or "" when the ID cannot name a folder.
std::string PhoneDir(const std::string& root, const std::string& id);
// True for a container name that can be one folder name (1 to 255 bytes, no separators).
bool IsContainerName(const std::string& name);

class SoftToken {
public:
    // `tokenDir` is <phone dir>/token; it may not exist yet (an empty token).
    explicit SoftToken(std::string tokenDir);

    struct Container {
        uint32_t handle = 0;
        std::string name;
    };
    // The containers in handle order; a folder without a valid handle file is no container.
    std::vector<Container> Containers() const;
    // The handle a container of that name has, or else the next free one.
    uint32_t HandleFor(const std::string& name) const;
    // The default container's name: the one token/default names, else the first; "" when empty.
    std::string DefaultContainer() const;

    // Answers one sub-operation `code` (the request's code) with its plain operation data.
    TokenAnswer Answer(uint16_t code, const uint8_t* data, size_t size) const;

private:
    TokenAnswer ContainerByIndex(const uint8_t* data, size_t size) const;
    TokenAnswer ContainerByName(const uint8_t* data, size_t size) const;
    TokenAnswer PublicKey(const uint8_t* data, size_t size) const;
    TokenAnswer RawOperation(const uint8_t* data, size_t size, bool privateKey) const;
    TokenAnswer Certificate(const uint8_t* data, size_t size) const;
    // The folder of the container with the handle and key spec in the first 8 data bytes, or the
    // error status.
    uint32_t KeyFolder(const uint8_t* data, std::string& folder) const;

    std::string m_dir;
};

}  // namespace corvane::phone
