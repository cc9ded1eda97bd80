// The CRL folder loader: whatever the files hold, loading a folder reads every ".crl" file (DER,
// Base64 as 8-bit or UTF-16 text), skips what does not decode, and keeps only lists that decode
// whole; a list kept answers serial and time questions within its own bytes.
//
// Input: the content of up to four files, split at each "\xFF\x00\xFF\x00" run; they are named
// 0.crl, 1.CRL, 2.crl.bak, 3.Crl in a folder of memory.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "pki/crl_cache.h"
#include "pki/crl_file.h"
#include "platform/posix/posix_system.h"
#include "platform/posix/state_root.h"

namespace {

using namespace corvane;

// A folder of memory with the files of one input.
class MemoryFolder final : public IFolderFiles {
public:
    std::map<std::u16string, std::vector<uint8_t>> files;

    uint32_t GetAttributes(std::u16string_view, bool& directory) override {
        directory = true;
        return 0;
    }
    uint32_t CreateFolder(std::u16string_view) override { return 0; }
    uint32_t ListFolder(std::u16string_view, std::u16string_view, std::vector<FolderEntry>& entries) override {
        entries.clear();
        for (const auto& [name, content] : files) entries.push_back({name, false});
        return entries.empty() ? WinError::FileNotFound : 0;
    }
    uint32_t ReadWholeFile(std::u16string_view path, std::vector<uint8_t>& data) override {
        for (const auto& [name, content] : files) {
            if (path.size() >= name.size() && path.substr(path.size() - name.size()) == name) {
                data = content;
                return 0;
            }
        }
        return WinError::FileNotFound;
    }
    uint32_t WriteWholeFile(std::u16string_view, const uint8_t*, size_t) override { return WinError::AccessDenied; }
};

const char16_t* const kNames[] = {u"0.crl", u"1.CRL", u"2.crl.bak", u"3.Crl"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static posix::PosixSystem system(posix::StateRoot::At("/nonexistent"));
    MemoryFolder folder;
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::string separator("\xFF\x00\xFF\x00", 4);
    size_t pos = 0;
    for (size_t i = 0; i < 4 && pos <= input.size(); ++i) {
        size_t end = input.find(separator, pos);
        if (end == std::string::npos) end = input.size();
        folder.files[kNames[i]] = std::vector<uint8_t>(input.begin() + pos, input.begin() + end);
        pos = end + separator.size();
    }

    Platform platform;
    platform.system = &system;
    platform.folderFiles = &folder;
    CCrlCache cache(platform);
    if (cache.LoadCrlFolder(u"/memory/Offline") != 0) std::abort();  // the folder was created first
    if (cache.OpenCrlStore() != 0) std::abort();                     // runs the loader on the Cache folder
    if (cache.Store()->Count() > 3) std::abort();                     // ".crl.bak" is never read

    for (const auto& [name, content] : folder.files) {
        DecodedCrl crl;
        if (!DecodeCrlFile(content.data(), content.size(), crl)) continue;
        if (crl.tbsOffset + crl.tbsLength > crl.der.size()) std::abort();
        CrlTimeValidity(crl, 0);
        CrlListsSerial(crl, {0x01});
        CCrlCache::CacheFileName(crl);
    }
    return 0;
}
