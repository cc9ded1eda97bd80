// The service's own result codes (0x20000001-0x20000027), the BLE library's (0x20010001-
// 0x20010003), and the foreign codes the service produces or passes through.
#pragma once

#include <cstdint>

namespace corvane::Result {

constexpr uint32_t Ok = 0;

constexpr uint32_t InternalError = 0x20000001;
constexpr uint32_t DeviceSignatureError = 0x20000002;
constexpr uint32_t CertificateDataError = 0x20000003;
constexpr uint32_t CertificateNoPrincipalName = 0x20000004;
constexpr uint32_t ConsoleNotLogonable = 0x20000005;
constexpr uint32_t SessionDomainMismatch = 0x20000011;
constexpr uint32_t SessionUserMismatch = 0x20000012;
constexpr uint32_t UserSessionNotFound = 0x20000013;
constexpr uint32_t UserLocked = 0x20000014;
constexpr uint32_t UserCannotLockConsole = 0x20000015;
constexpr uint32_t UserNotOnConsole = 0x20000016;
constexpr uint32_t UpnCannotLogonHere = 0x20000021;
constexpr uint32_t ConsoleLockedByOtherUser = 0x20000022;
constexpr uint32_t LogonInProgress = 0x20000023;
constexpr uint32_t OtherUserLoggedOn = 0x20000024;
constexpr uint32_t NoDelayedShutdown = 0x20000025;
constexpr uint32_t UserNotLoggedOn = 0x20000026;
constexpr uint32_t EarlierShutdownExists = 0x20000027;

constexpr uint32_t BleError = 0x20010001;
constexpr uint32_t BleIoFailed = 0x20010002;
constexpr uint32_t BleChannelClosed = 0x20010003;

constexpr uint32_t ServiceRangeFirst = 0x20000000;
constexpr uint32_t ServiceRangeLast = 0x2FFFFFFF;

// CryptoAPI codes the service answers with.
constexpr uint32_t NteBadData = 0x80090005;
constexpr uint32_t NteBadLen = 0x80090004;
constexpr uint32_t NteBadType = 0x8009000A;
constexpr uint32_t NteNoMemory = 0x8009000E;
constexpr uint32_t NteNotFound = 0x80090011;
constexpr uint32_t NteProviderDllFail = 0x8009001D;
constexpr uint32_t NteFail = 0x80090020;
constexpr uint32_t NteNotSupported = 0x80090029;

// DispatchDatagram results.
constexpr int32_t DatagramDropped = -1;
constexpr int32_t DatagramMalformed = -3509;

}  // namespace corvane::Result
