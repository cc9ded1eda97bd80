// corvane-testpki: the test PKI for the end-to-end scene. Makes the roots and CAs under
// STATE-ROOT (trust/ and ntauth/), four containers of the network phone DEVICE-ID in the CSP
// stand-in's store (alice, revoked, expired, bob), the genuine CRL revoking "revoked" and a forged
// one signed by another key, and serves STATE-ROOT/pki/served.crl over HTTP on loopback (the
// revoked certificate's distribution point) until it is stopped. Prints "ready URL" when done.
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "pki/crl_http_server.h"
#include "pki/test_pki.h"

using namespace corvane::test;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: corvane-testpki STATE-ROOT DEVICE-ID\n");
        return 2;
    }
    const std::string root = argv[1];
    const std::string device = argv[2];
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);

    CrlHttpServer server;
    const std::string served = root + "/pki/served.crl";
    TestPki pki;
    pki.Install(root);
    const struct {
        const char* container;
        long serial;
        const char* upn;
        const char* notAfter;
        bool distributionPoint;
    } leaves[] = {
        {"alice", 0x3001, "alice@corp.example", "20400101000000Z", true},
        {"revoked", 0x3002, "alice@corp.example", "20400101000000Z", true},
        {"expired", 0x3003, "alice@corp.example", "20210101000000Z", false},
        {"bob", 0x3004, "bob@corp.example", "20400101000000Z", false},
    };
    for (const auto& leaf : leaves) {
        LeafSpec spec;
        spec.serial = leaf.serial;
        spec.subject = std::string("CN=") + leaf.container;
        spec.san = UpnSan(leaf.upn);
        spec.notAfter = leaf.notAfter;
        if (leaf.distributionPoint) spec.crlUrl = server.Url();
        TestPki::InstallContainer(root, device, leaf.container, pki.MakeLeaf(spec));
    }
    WriteFile(root + "/pki/genuine.crl", pki.MakeCrl({0x3002}));
    // Newer than the genuine list and revoking nothing, but signed by a stranger's key.
    TestKey forger(2048);
    WriteFile(root + "/pki/forged.crl", pki.MakeCrl(pki.ca, forger, {}, "20260101000000Z"));
    std::filesystem::copy_file(root + "/pki/genuine.crl", served, std::filesystem::copy_options::overwrite_existing);
    server.ServeFile(served);
    std::printf("ready %s\n", server.Url().c_str());
    std::fflush(stdout);
    int signal = 0;
    sigwait(&set, &signal);
    return 0;
}
