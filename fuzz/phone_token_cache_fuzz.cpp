// Drives a phone's token cache with any sequence of container lists, request/reply pairs,
// resets and clock steps, in either cache (byte 0, bit 0: the phone announced container lists in
// its hello). Besides the sanitizers it checks the cache's promises: a local reply frames exactly
// and carries the request's code OR 0x8000, and the list image the cache keeps (and rebuilds after
// every change) always parses, with its count matching its entries.
//
// Input after byte 0: records of one kind byte and two blobs, each blob a u16 length and at most
// that many bytes (the last may be cut short). A blob becomes a message: its first 2 bytes the
// code, the next 4 the status, the rest the payload, with the header length written to match,
// unless bit 7 of the kind asks for the blob's bytes as they are (any framing).
// Kind (low 2 bits): 0 a container list (blob 1); 1 a request (blob 1) answered from the cache or
// else taught with the reply (blob 2); 2 a notification reset, or with bit 2 a rebind; 3 a clock
// step of blob 1's length times 50 ms.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "device/container_list.h"
#include "device/phone_token_cache.h"
#include "wire/byte_order.h"
#include "wire/msg_header.h"
#include "wire/reply_arena.h"

namespace {

using namespace corvane;

void Check(bool condition) {
    if (!condition) std::abort();
}

class StepClock final : public IClock {
public:
    uint32_t GetTickCount() override { return m_tick; }
    FileTime GetSystemTimeAsFileTime() override { return 133000000000000000; }
    FileTime ToLocalFileTime(FileTime utc) override { return utc; }
    void Sleep(uint32_t ms) override { m_tick += ms; }

private:
    uint32_t m_tick = 1000;
};

class Input {
public:
    Input(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool Empty() const { return m_offset >= m_size; }
    uint8_t Byte() { return Empty() ? 0 : m_data[m_offset++]; }
    std::vector<uint8_t> Blob() {
        size_t length = Byte();
        length |= static_cast<size_t>(Byte()) << 8;
        length = std::min(length, m_size - std::min(m_offset, m_size));
        std::vector<uint8_t> out(m_data + m_offset, m_data + m_offset + length);
        m_offset += length;
        return out;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_offset = 0;
};

std::vector<uint8_t> Framed(const std::vector<uint8_t>& blob, bool raw) {
    if (raw) return blob;
    std::vector<uint8_t> out(MsgHeader::kSize);
    const size_t head = std::min<size_t>(blob.size(), 6);
    std::copy(blob.begin(), blob.begin() + head, out.begin());
    const size_t payload = std::min<size_t>(blob.size() - head, 0xFFFF);
    WriteU16(out.data() + MsgHeader::kLengthOffset, static_cast<uint16_t>(payload));
    WriteU32(out.data() + MsgHeader::kStatusOffset, head >= 6 ? ReadU32(blob.data() + 2) : 0);
    out.insert(out.end(), blob.begin() + head, blob.begin() + head + payload);
    return out;
}

void CheckImage(CPhoneTokenCache& cache) {
    std::vector<uint8_t> image = cache.RawImage();
    if (image.empty()) return;
    auto header = MsgHeader::Decode(image.data(), image.size());
    Check(header && header->MatchesSize(image.size()) && header->status == 0);
    ContainerListContent content;
    Check(ParseContainerList(image.data() + MsgHeader::kSize, header->length, content) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input input(data, size);
    StepClock clock;
    // The certificate's "user name": its bytes after the first, up to 40 (may hold a NUL).
    CPhoneTokenCache cache(clock, [](const uint8_t* der, size_t length, std::string& upn) {
        if (length < 2) return false;
        upn.assign(reinterpret_cast<const char*>(der) + 1, std::min<size_t>(length - 1, 40));
        return true;
    });
    if (input.Byte() & 1) cache.SetContainerListMode();

    while (!input.Empty()) {
        const uint8_t kind = input.Byte();
        const bool raw = (kind & 0x80) != 0;
        std::vector<uint8_t> first = Framed(input.Blob(), raw);
        std::vector<uint8_t> second = Framed(input.Blob(), raw);
        switch (kind & 3) {
            case 0:
                cache.UpdateContainerList(first.data(), first.size());
                break;
            case 1: {
                ReplyArena arena;
                uint8_t* reply = nullptr;
                size_t replySize = 0;
                uint32_t result = cache.AnswerFromCache(first.data(), first.size(), arena, &reply, &replySize);
                if (result == 0) {
                    auto request = MsgHeader::Decode(first.data(), first.size());
                    auto answer = MsgHeader::Decode(reply, replySize);
                    Check(request && answer && answer->MatchesSize(replySize));
                    Check(answer->code == (request->code | 0x8000));
                } else if (result == PhoneTokenStatus::Forward) {
                    cache.UpdateCache(first.data(), first.size(), second.data(), second.size());
                }
                break;
            }
            case 2:
                if (kind & 4)
                    cache.ResetOnRebind();
                else
                    cache.ResetCacheV1();
                break;
            default:
                clock.Sleep(static_cast<uint32_t>(first.size()) * 50);
                break;
        }
        CheckImage(cache);
        uint8_t small[8];
        size_t imageSize = 0;
        uint32_t copied = cache.CopyRawImage(small, sizeof small, &imageSize);
        Check(copied == 0 ? imageSize <= sizeof small : imageSize > sizeof small);
    }
    return 0;
}
