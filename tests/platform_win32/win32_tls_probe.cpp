// Connects the SChannel stream to a collector and sends one line, for the Wine stage's TLS check:
// win32_tls_probe HOST PORT CA-FILE. Prints "connected" and what came back, or the reason it
// could not connect (exit 1).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/win32/win32_tls_streams.h"

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: win32_tls_probe HOST PORT CA-FILE\n");
        return 2;
    }
    corvane::TlsClientSettings settings;
    settings.strHost = argv[1];
    settings.wPort = static_cast<uint16_t>(std::atoi(argv[2]));
    settings.strCaFile = argv[3];
    corvane::win32::Win32TlsStreams streams;
    std::string error;
    auto stream = streams.Connect(settings, error);
    if (!stream) {
        std::printf("refused: %s\n", error.c_str());
        return 1;
    }
    std::printf("connected\n");
    const std::string line = "hello from the probe\n";
    if (stream->Send(line.data(), line.size()) != corvane::TlsIo::Ok) {
        std::printf("send failed\n");
        return 1;
    }
    char buffer[256];
    size_t received = 0;
    if (stream->Receive(buffer, sizeof(buffer) - 1, received, 5000) == corvane::TlsIo::Ok) {
        buffer[received] = 0;
        std::printf("received: %s", buffer);
    }
    std::fflush(stdout);
    return 0;
}
