// One test's world for the certificate checks: the test platform, the POSIX certificate backend
// and CSP stand-in under the test's state root, real folder files, a scripted CRL retriever, the
// CRL cache and the key proof. The test PKI is made once per test program.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "pki/crl_cache.h"
#include "pki/device_key_proof.h"
#include "pki/test_pki.h"
#include "platform/posix/posix_certificates.h"
#include "platform/posix/posix_csp_stand_in.h"
#include "platform/posix/posix_folder_files.h"
#include "support/test_platform.h"

namespace corvane::test {

// Answers every retrieval through a function of the test; records what was asked.
class ScriptedCrlRetriever final : public ICrlRetriever {
public:
    struct Call {
        std::u16string url;
        uint32_t flags;
        uint32_t timeoutMs;
    };
    uint32_t RetrieveCrl(std::u16string_view url, uint32_t flags, uint32_t timeoutMs, std::vector<uint8_t>& der) override {
        std::function<uint32_t(const Call&, std::vector<uint8_t>&)> answer;
        Call call {std::u16string(url), flags, timeoutMs};
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            calls.push_back(call);
            answer = this->answer;
        }
        der.clear();
        return answer ? answer(call, der) : 0x80092004u;
    }
    std::vector<Call> Calls() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return calls;
    }
    std::function<uint32_t(const Call&, std::vector<uint8_t>&)> answer;
    std::vector<Call> calls;

private:
    std::mutex m_mutex;
};

inline TestPki& SharedPki() {
    static TestPki pki;
    return pki;
}

struct PkiWorld {
    PkiWorld()
        : certificates(tp.Root() + "/etc/corvane/trust", tp.Root() + "/etc/corvane/ntauth"),
          csp(tp.Root() + "/var/lib/corvane/csp"),
          platform(Wire(tp, certificates, retriever, csp, files)),
          crls(platform),
          proof(platform, crls) {
        SharedPki().Install(tp.Root());
    }

    static Platform& Wire(TestPlatform& tp, ICertificates& c, ICrlRetriever& r, ICspContainers& s, IFolderFiles& f) {
        Platform& p = tp.Get();
        p.certificates = &c;
        p.crlRetriever = &r;
        p.cspContainers = &s;
        p.folderFiles = &f;
        return p;
    }

    std::string CrlFolder(const std::string& name) const { return tp.Root() + "/var/lib/corvane/VSCCrl/" + name; }

    TestPlatform tp;
    posix::PosixCertificates certificates;
    ScriptedCrlRetriever retriever;
    posix::PosixCspStandIn csp;
    posix::PosixFolderFiles files;
    Platform& platform;
    CCrlCache crls;
    CDeviceKeyProof proof;
};

}  // namespace corvane::test
