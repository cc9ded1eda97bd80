// The composition root: builds the state object of every subsystem of this build and fills the
// application's hooks with their entry points. This is the one place where the subsystems are
// wired to the lifecycle.
#pragma once

#include <memory>

#include "channel/datagram_channel.h"
#include "channel/logon_relay.h"
#include "channel/logon_report.h"
#include "channel/remote_logoff.h"
#include "channel/session_query.h"
#include "channel/stream_listener.h"
#include "channel/stream_request_handler.h"
#include "config/host_key.h"
#include "phone/net_device_table.h"
#include "pki/crl_cache.h"
#include "pki/device_key_proof.h"
#include "platform/platform.h"
#include "service/ccorvane_app.h"
#include "service/ble_device_requests.h"
#include "service/token_stream_requests.h"
#include "wire/result_text.h"

namespace corvane {

struct CardReaderServices;
struct DeviceWorkerHost;
class CAuditDatabase;
class CDeviceSessions;
class ICardIdentitySource;
class CBleService;
class CDeviceSession;
class CShutdownTimer;
class CRemoteSessionOps;
class CRadioMonitor;
class CAuditLog;
class CAuditOutbox;
class CAuditShipper;
class CEventLog;
class CSessionActions;
class CSessionChangeQueue;
class CSessionMonitor;
class CSessionRecords;
class DeviceMap;
class CTokenAccess;

class CServiceObjects {
public:
    explicit CServiceObjects(Platform& platform);
    ~CServiceObjects();
    CServiceObjects(const CServiceObjects&) = delete;
    CServiceObjects& operator=(const CServiceObjects&) = delete;

    // Fills the application's hooks; call once, before InitInstance.
    void Wire(CCorvaneApp& app);

    const CMessageTexts& Texts() const { return m_texts; }
    // The shared tables and records, built by Wire.
    CSessionMonitor& SessionMonitor() { return *m_pSessionMonitor; }
    CSessionActions& SessionActions() { return *m_pSessionActions; }
    CSessionChangeQueue& SessionChanges() { return *m_pSessionChanges; }
    DeviceMap& Devices() { return *m_pDevices; }
    CEventLog& EventLog() { return *m_pEventLog; }
    CAuditLog& AuditLog() { return *m_pAuditLog; }
    CNetDeviceTable& NetDevices() { return *m_pNetDevices; }
    CLogonReports& LogonReports() { return *m_pLogonReports; }
    CDatagramChannel& DatagramChannel() { return *m_pDatagramChannel; }
    CDeviceKeyProof& KeyProof() { return *m_pKeyProof; }
    HostKey& GetHostKey() { return m_hostKey; }
    CTokenAccess& Tokens() { return *m_pTokens; }
    CStreamRequestHandler& StreamRequests() { return *m_pStreamRequests; }
    CStreamListener& StreamListener() { return *m_pStreamListener; }
    CLogonRelay& LogonRelay() { return *m_pLogonRelay; }
    CBleService& BleService() { return *m_pBleService; }
    CDeviceSession& DeviceSession() { return *m_pDeviceSession; }

private:
    void WireDatagramChannel(Configuration& config);
    void WireCardReaders(CCorvaneApp& app);
    void WireTokens(CCorvaneApp& app);
    void WireStreamChannel(CCorvaneApp& app);
    void WireBluetooth(CCorvaneApp& app);
    void WireRemoteSessionOps(Configuration& config);
    void WireAuditShipper(CCorvaneApp& app);

    Platform& m_platform;
    // Texts in the language of the service's account, chosen once at start.
    CMessageTexts m_texts;
    // The host key pair, loaded with the configuration; used by the phone devices.
    HostKey m_hostKey;
    // Records: the text event log and the audit database.
    std::unique_ptr<CEventLog> m_pEventLog;
    std::unique_ptr<CAuditDatabase> m_pAuditDb;
    std::unique_ptr<CAuditLog> m_pAuditLog;
    // Shipping the audit rows to the collector: its own database connection and thread.
    std::unique_ptr<CAuditOutbox> m_pAuditOutbox;
    std::unique_ptr<CAuditShipper> m_pAuditShipper;
    // The device map and the session monitor with its actions.
    std::unique_ptr<DeviceMap> m_pDevices;
    std::unique_ptr<CSessionRecords> m_pSessionRecords;
    std::unique_ptr<CSessionMonitor> m_pSessionMonitor;
    std::unique_ptr<CSessionActions> m_pSessionActions;
    // The session-change controls, handled on a worker of their own in the order they came.
    std::unique_ptr<CSessionChangeQueue> m_pSessionChanges;
    // Device workers and the smart-card reader devices: the offline tests reach the sessions
    // through m_pDeviceSessions, and a returning card is recognised by its token serial.
    std::unique_ptr<CDeviceSessions> m_pDeviceSessions;
    std::unique_ptr<DeviceWorkerHost> m_pWorkerHost;
    std::unique_ptr<ICardIdentitySource> m_pCardIdentities;
    std::unique_ptr<CardReaderServices> m_pCardReaders;
    // Phones on the local network, the logon results and the command datagram channel.
    std::unique_ptr<CNetDeviceTable> m_pNetDevices;
    std::unique_ptr<CLogonReports> m_pLogonReports;
    std::unique_ptr<CSessionQueries> m_pSessionQueries;
    std::unique_ptr<CDatagramChannel> m_pDatagramChannel;
    // PKCS#11 tokens: the binding, containers, object operations and the CSP's token requests.
    std::unique_ptr<CTokenAccess> m_pTokens;
    // Certificates: the CRL cache, the key proof, and the remote logoff of network phones.
    std::unique_ptr<CCrlCache> m_pCrlCache;
    std::unique_ptr<CDeviceKeyProof> m_pKeyProof;
    std::unique_ptr<CRemoteLogoff> m_pRemoteLogoff;
    // The loopback stream channel and the relay to the logon component.
    std::unique_ptr<CTokenStreamRequests> m_pTokenStreamRequests;
    std::unique_ptr<CStreamRequestHandler> m_pStreamRequests;
    std::unique_ptr<CStreamListener> m_pStreamListener;
    std::unique_ptr<CLogonRelay> m_pLogonRelay;
    // Phones over Bluetooth LE: the library binding with its radio monitor, and the handler of
    // the phones' passive-channel requests.
    std::unique_ptr<CBleService> m_pBleService;
    std::unique_ptr<CRadioMonitor> m_pRadioMonitor;
    std::unique_ptr<CDeviceSession> m_pDeviceSession;
    // A phone's session times, session control and delayed shutdown, with the shutdown timer.
    std::unique_ptr<CShutdownTimer> m_pShutdownTimer;
    std::unique_ptr<CRemoteSessionOps> m_pRemoteSessionOps;
    // The stream channel's requests for the phones and the BLE service.
    std::unique_ptr<CBleDeviceRequests> m_pBleDeviceRequests;
};

}  // namespace corvane
