// The revocation check of device certificates: the CRL named in the certificate is downloaded
// (and kept, one file per issuer, in the Cache folder), and when none can be had the lists kept
// in Cache and those an administrator put into Offline decide. Both folders lie in "VSCCrl" below
// the Windows folder. A list only counts when it is signed by the certificate's issuer. A list of
// the issuer whose signature the platform's certificate library cannot check counts as no list
// (it refuses nothing), and the diagnostic log gets one line naming its issuer, so that an
// administrator learns that revocation is not checked with it.
#pragma once

#include <cstdint>
#include <memory>
#include <array>
#include <mutex>
#include <set>
#include <string>

#include "pki/crl_store.h"
#include "platform/platform.h"

namespace corvane {

// The tries of one download: where from and how long each may take.
struct CrlDownloadTry {
    uint32_t flags;
    uint32_t timeoutMs;
};
inline constexpr CrlDownloadTry kCrlDownloadTries[] = {
    {CrlRetrieval::WireOnly, 1000},
    {CrlRetrieval::CacheOnly, 1000},
    {CrlRetrieval::WireOnly, 20000},
};

inline constexpr std::u16string_view kCrlBaseFolder = u"VSCCrl";
inline constexpr std::u16string_view kCrlCacheFolder = u"Cache";
inline constexpr std::u16string_view kCrlOfflineFolder = u"Offline";
inline constexpr std::u16string_view kCrlSuffix = u".crl";

class CCrlCache {
public:
    explicit CCrlCache(Platform& platform);
    CCrlCache(const CCrlCache&) = delete;
    CCrlCache& operator=(const CCrlCache&) = delete;

    // 0 (not revoked, or no list found), 0x80090351 revoked, 0x80090349 when the certificate's
    // distribution points cannot be read, 14 when there is no room for them, 0x80090020, or a
    // folder or store error.
    uint32_t CheckRevocation(const DecodedCertificate& cert, const CertChainResult& chain);

    uint32_t EnsureCrlFolders();
    // Opens the store at first use and loads the Cache folder into it before any check can see
    // it; the result of that load (later calls: 0).
    uint32_t OpenCrlStore();
    uint32_t LoadCrlFolder(std::u16string_view folder);
    // A list from the URL that is valid now; false when no try gave one.
    bool DownloadCrl(std::u16string_view url, DecodedCrl& crl);
    // Keeps a downloaded list, checked against `issuer`, in the store and its file in Cache.
    uint32_t SaveCrl(const DecodedCrl& crl, const DecodedCertificate& issuer);
    uint32_t CheckLocalCrls(const DecodedCertificate& cert, const CertChainResult& chain);

    // "<32 hex digits>.crl": the first 16 bytes of the SHA-1 digest of the list's issuer name.
    static std::u16string CacheFileName(const DecodedCrl& crl);
    std::u16string BasePath();
    std::u16string FolderPath(std::u16string_view name);
    CCrlStore* Store();

private:
    // The issuer of the chain's certificate (element 1 of the first simple chain when there is
    // one, else element 0): 0, or 0x80090020 when the chain has none or it does not decode.
    uint32_t ChainIssuer(const CertChainResult& chain, DecodedCertificate& issuer);
    uint32_t LoadCrlFolderInto(std::u16string_view folder, CCrlStore& store);
    // One diagnostic line per list that cannot be verified, however often it is met.
    void ReportUnverifiable(const DecodedCrl& crl, uint32_t error);

    Platform& m_platform;
    std::mutex m_openMutex;  // held while the store is created and its Cache folder loaded; before m_mutex
    std::mutex m_mutex;      // the base path, the store pointer and the lists reported
    std::u16string m_strBasePath;
    std::unique_ptr<CCrlStore> m_pStore;
    std::set<std::array<uint8_t, 20>> m_reportedLists;  // SHA-1 of each list reported
};

}  // namespace corvane
