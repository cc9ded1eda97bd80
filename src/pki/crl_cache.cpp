#include "pki/crl_cache.h"

#include "crypto/sha1.h"
#include "pki/crl_file.h"
#include "pki/pki_results.h"
#include "platform/text.h"

namespace corvane {

namespace {
bool EndsWithNoCase(std::u16string_view name, std::u16string_view suffix) {
    return name.size() >= suffix.size() && EqualsNoCase(name.substr(name.size() - suffix.size()), suffix);
}
}  // namespace

CCrlCache::CCrlCache(Platform& platform) : m_platform(platform) {}

std::u16string CCrlCache::CacheFileName(const DecodedCrl& crl) {
    Sha1State sha;
    uint8_t digest[20];
    Sha1Init(sha);
    Sha1Update(sha, crl.issuer.data(), crl.issuer.size());
    Sha1Final(sha, digest);
    std::string name;
    for (int i = 0; i < 16; ++i) name += FormatUtf8("%02x", digest[i]);
    return AsciiToUtf16(name) + std::u16string(kCrlSuffix);
}

std::u16string CCrlCache::BasePath() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_strBasePath;
}

std::u16string CCrlCache::FolderPath(std::u16string_view name) {
    const std::u16string base = BasePath();
    if (!base.empty() && (base.back() == u'\\' || base.back() == u'/')) return base + std::u16string(name);
    return m_platform.system->JoinPath(base, name);
}

CCrlStore* CCrlCache::Store() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pStore.get();
}

uint32_t CCrlCache::EnsureCrlFolders() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_strBasePath.empty()) return 0;
    std::u16string windows;
    if (m_platform.system->GetWindowsFolder(windows) != 0 || windows.empty()) return PkiResult::NteFail;
    m_strBasePath = m_platform.system->JoinPath(windows, kCrlBaseFolder);
    bool directory = false;
    if (m_platform.folderFiles->GetAttributes(m_strBasePath, directory) == 0) return 0;
    if (uint32_t rc = m_platform.system->CreateDirectories(m_platform.system->JoinPath(m_strBasePath, kCrlCacheFolder))) {
        return rc;
    }
    const uint32_t rc = m_platform.folderFiles->CreateFolder(m_platform.system->JoinPath(m_strBasePath, kCrlOfflineFolder));
    return rc == WinError::AlreadyExists ? 0 : rc;
}

uint32_t CCrlCache::OpenCrlStore() {
    // A check that finds the store open relies on the kept lists being in it: the store is
    // published only once its Cache folder has been loaded, and a check that comes meanwhile
    // waits for that.
    std::lock_guard<std::mutex> opening(m_openMutex);
    if (Store()) return 0;
    auto store = std::make_unique<CCrlStore>(m_platform.certificates);
    const uint32_t rc = LoadCrlFolderInto(FolderPath(kCrlCacheFolder), *store);
    // Open even when the folder could not be loaded: later checks use what there is.
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pStore = std::move(store);
    return rc;
}

uint32_t CCrlCache::LoadCrlFolder(std::u16string_view folder) {
    // A folder loaded before the store was first opened: the store's own load comes first.
    if (!Store()) {
        if (uint32_t rc = OpenCrlStore()) return rc;
    }
    return LoadCrlFolderInto(folder, *Store());
}

uint32_t CCrlCache::LoadCrlFolderInto(std::u16string_view folder, CCrlStore& store) {
    IFolderFiles& files = *m_platform.folderFiles;
    bool directory = false;
    if (files.GetAttributes(folder, directory) != 0) return m_platform.system->CreateDirectories(folder);

    std::vector<FolderEntry> entries;
    const uint32_t listed = files.ListFolder(folder, kCrlSuffix, entries);
    if (listed == WinError::FileNotFound || listed == WinError::PathNotFound) return 0;
    if (listed != 0) return listed;
    for (const FolderEntry& entry : entries) {
        // "x.crl.bak" and the like may come back from a listing by pattern; only ".crl" counts.
        if (entry.directory || !EndsWithNoCase(entry.name, kCrlSuffix)) continue;
        std::vector<uint8_t> data;
        if (files.ReadWholeFile(m_platform.system->JoinPath(folder, entry.name), data) != 0) continue;
        DecodedCrl crl;
        if (!DecodeCrlFile(data.data(), data.size(), crl)) continue;
        store.AddReplaceExisting(std::move(crl));
    }
    return 0;
}

void CCrlCache::ReportUnverifiable(const DecodedCrl& crl, uint32_t error) {
    Sha1State sha;
    std::array<uint8_t, 20> digest;
    Sha1Init(sha);
    Sha1Update(sha, crl.der.data(), crl.der.size());
    Sha1Final(sha, digest.data());
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_reportedLists.insert(digest).second) return;
    }
    if (!m_platform.diagnostics) return;
    std::u16string issuer = m_platform.certificates->NameToText(crl.issuer);
    if (issuer.empty()) issuer = u"?";
    m_platform.diagnostics->Writef(
        "revocation list of \"%s\" cannot be verified (error 0x%08X); revocation is not checked with it",
        Utf16ToUtf8(issuer).c_str(), error);
}

bool CCrlCache::DownloadCrl(std::u16string_view url, DecodedCrl& crl) {
    for (const CrlDownloadTry& attempt : kCrlDownloadTries) {
        std::vector<uint8_t> der;
        if (m_platform.crlRetriever->RetrieveCrl(url, attempt.flags, attempt.timeoutMs, der) != 0) continue;
        // An answer that is no CRL is a try that failed.
        if (!DecodeCrl(der.data(), der.size(), crl)) continue;
        return CrlTimeValidity(crl, m_platform.clock->GetSystemTimeAsFileTime()) == 0;
    }
    return false;
}

uint32_t CCrlCache::SaveCrl(const DecodedCrl& crl, const DecodedCertificate& issuer) {
    if (uint32_t rc = EnsureCrlFolders()) return rc;
    if (uint32_t rc = OpenCrlStore()) return rc;
    // The same or a newer list of this issuer is kept already: nothing to write.
    if (!Store()->AddNewer(crl, issuer)) return 0;
    const std::u16string path = m_platform.system->JoinPath(FolderPath(kCrlCacheFolder), CacheFileName(crl));
    return m_platform.folderFiles->WriteWholeFile(path, crl.der.data(), crl.der.size()) == 0 ? 0 : PkiResult::NteFail;
}

uint32_t CCrlCache::ChainIssuer(const CertChainResult& chain, DecodedCertificate& issuer) {
    if (!chain.hasSimpleChain || chain.elements.empty()) return PkiResult::NteFail;
    const std::vector<uint8_t>& der = chain.elements.size() > 1 ? chain.elements[1] : chain.elements[0];
    return m_platform.certificates->DecodeCertificate(der.data(), der.size(), issuer) == 0 ? 0 : PkiResult::NteFail;
}

uint32_t CCrlCache::CheckLocalCrls(const DecodedCertificate& cert, const CertChainResult& chain) {
    if (uint32_t rc = EnsureCrlFolders()) return rc;
    if (uint32_t rc = OpenCrlStore()) return rc;
    if (uint32_t rc = LoadCrlFolder(FolderPath(kCrlOfflineFolder))) return rc;
    DecodedCertificate issuer;
    if (uint32_t rc = ChainIssuer(chain, issuer)) return rc;
    std::vector<UnverifiableCrl> unverifiable;
    const auto lists = Store()->FindIssuedBy(issuer, &unverifiable);
    for (const UnverifiableCrl& list : unverifiable) {
        if (list.crl->issuer == cert.issuer) ReportUnverifiable(*list.crl, list.error);
    }
    // The time validity of a kept list plays no part: an expired list that names the
    // certificate still refuses it when nothing newer can be had.
    for (const auto& crl : lists) {
        if (crl->issuer == cert.issuer && CrlListsSerial(*crl, cert.serial)) return PkiResult::CertRevoked;
    }
    return 0;
}

uint32_t CCrlCache::CheckRevocation(const DecodedCertificate& cert, const CertChainResult& chain) {
    std::vector<std::u16string> urls;
    const uint32_t read = m_platform.certificates->GetCrlUrls(cert, urls);
    // Distribution points that are there but cannot be read end the check; a certificate that
    // names none is checked against the local lists.
    if (read == PkiResult::CertWrongUsage || read == WinError::OutOfMemory) return read;
    if (read != 0) return CheckLocalCrls(cert, chain);

    // A downloaded list counts only when the certificate's issuer signed it; without a known
    // issuer no download can count, and the local lists decide.
    DecodedCertificate issuer;
    if (ChainIssuer(chain, issuer) == 0) {
        for (const std::u16string& url : urls) {
            DecodedCrl crl;
            if (!DownloadCrl(url, crl)) continue;
            // A list from somebody else is never kept: being newer, it would replace the genuine one.
            if (crl.issuer != cert.issuer) continue;
            uint32_t error = 0;
            const CrlIssuerCheck check = CheckCrlIssuer(m_platform.certificates, crl, issuer, &error);
            if (check == CrlIssuerCheck::Unverifiable) ReportUnverifiable(crl, error);
            if (check != CrlIssuerCheck::Issued) continue;
            SaveCrl(crl, issuer);
            return CrlListsSerial(crl, cert.serial) ? PkiResult::CertRevoked : 0;
        }
    }
    return CheckLocalCrls(cert, chain);
}

}  // namespace corvane
