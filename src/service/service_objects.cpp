#include "service/service_objects.h"

#include <algorithm>

#include "audit/audit_database.h"
#include "audit/audit_log.h"
#include "audit/audit_outbox.h"
#include "upload/audit_collector_config.h"
#include "upload/audit_shipper.h"
#include "channel/remote_session_ops.h"
#include "channel/status_notification.h"
#include "device/cdev_pcsc.h"
#include "device/ble_service.h"
#include "device/device_map.h"
#include "device/radio_monitor.h"
#include "phone/device_session.h"
#include "service/service_install.h"
#include "service/start_checks.h"
#include "service/service_snapshot_collect.h"
#include "session/event_log.h"
#include "session/device_sessions.h"
#include "session/session_actions.h"
#include "session/session_change_queue.h"
#include "session/session_monitor.h"
#include "session/session_records.h"
#include "pki/certificate_upn.h"
#include "platform/text.h"
#include "token/token_access.h"

namespace corvane {

CServiceObjects::CServiceObjects(Platform& platform)
    : m_platform(platform), m_texts(platform.system->GetUserDefaultUILanguage(), *platform.systemMessages) {}

CServiceObjects::~CServiceObjects() = default;

void CServiceObjects::Wire(CCorvaneApp& app) {
    ServiceHooks& hooks = app.Hooks();
    Configuration& config = app.Config();
    m_pEventLog = std::make_unique<CEventLog>(m_platform);
    m_pAuditDb = std::make_unique<CAuditDatabase>(m_platform);
    m_pAuditLog = std::make_unique<CAuditLog>(*m_pAuditDb, *m_platform.clock, config);
    m_pDevices = std::make_unique<DeviceMap>(config);
    m_pSessionRecords = std::make_unique<CSessionRecords>(*m_pEventLog, *m_pAuditLog, config);
    m_pSessionMonitor = std::make_unique<CSessionMonitor>(m_platform, config, *m_pDevices, *m_pSessionRecords);
    m_pSessionActions = std::make_unique<CSessionActions>(m_platform, *m_pSessionRecords);
    m_pSessionChanges = std::make_unique<CSessionChangeQueue>(
        *m_platform.threads, [this](uint32_t eventType, const WtsSessionNotification* notification) {
            m_pSessionMonitor->OnSessionChange(eventType, notification);
        });
    WireTokens(app);
    WireCardReaders(app);
    WireDatagramChannel(config);
    WireStreamChannel(app);
    WireBluetooth(app);
    // What corvane-ctl devices and sessions show, where the platform has a control tool's channel.
    WireAuditShipper(app);
    if (m_platform.serviceHost) {
        ServiceQueryHandler snapshots = MakeSnapshotQueryHandler(
            {config, *m_platform.clock, m_pNetDevices.get(), m_pDevices.get(), m_pSessionMonitor.get()});
        m_platform.serviceHost->SetQueryHandler(
            [this, snapshots](std::string_view question, std::vector<std::string>& lines) {
                if (question != kAuditShipperQuestion) return snapshots(question, lines);
                lines.push_back(FormatAuditShipperStatus(m_pAuditShipper->Status()));
                return true;
            });
    }

    // Installation verbs.
    hooks.InstallService = [this] {
        return InstallService(m_platform, m_texts.GetText(TextId::ServiceDescription, u""));
    };
    hooks.UninstallService = [this] { return UninstallService(m_platform); };
    // Configuration: the host key, right after the host GUID.
    hooks.LoadHostKey = [this, &config] { return LoadHostKey(m_platform, config, m_hostKey); };
    hooks.ReportStartProblems = [this, &config] { ReportAuditTrailState(m_platform, *m_pEventLog, config); };
    // Workers started by RunService: LoadBleLibrary, RadioMonitorThread (InitP11: WireTokens; the stream
    // listener: WireStreamChannel).
    hooks.DatagramThread = [this](CCorvaneApp& a) {
        m_pDatagramChannel->ReceiveThread({a.m_bStop, a.m_bUdpStopped, a.m_sockUdp});
    };
    hooks.LoadBleLibrary = [this] {
        m_pBleService->LoadBleLibrary();
        return 0u;
    };
    hooks.RadioMonitorThread = [this](CCorvaneApp&) { m_pRadioMonitor->Run(); };
    hooks.EnumerateSessions = [this] { return m_pSessionMonitor->EnumerateSessions(); };
    // Control handler: the change is handled on the queue's worker, never on the handler's thread.
    hooks.OnSessionChange = [this](uint32_t eventType, const WtsSessionNotification* notification) {
        m_pSessionChanges->Post(eventType, notification);
    };
    // Stop sequence: BleLibraryLoaded, StopBle (FinP11: WireTokens; SendStatusNotification: WireStreamChannel).
    hooks.RequestStopDevices = [this] { m_pDevices->ForEach([](CDevTovrel& device) { device.RequestStop(); }); };
    hooks.BleLibraryLoaded = [this] { return m_pBleService->BleLibraryLoaded(); };
    hooks.StopBle = [this] { m_pBleService->StopBle(); };
    // ExitInstance.
    hooks.FreeNetworkDevices = [this] { m_pNetDevices->ClearNetDevices(); };
    hooks.FreeDeviceMap = [this] { m_pDevices->Clear(); };
    hooks.FreeSessionTable = [this] { m_pSessionMonitor->FreeSessionTable(); };
    // Handlers whose subsystems are not built yet.
    hooks.UnwiredParts = [this] {
        std::vector<std::string> parts;
        if (!m_pDatagramChannel->Hooks().HandleRemoteLogoff) {
            parts.push_back("remote logoff of a network phone (0x3015)");
        }
        if (!m_pSessionMonitor->CreateCardReaderDevice) {
            parts.push_back("smart-card reader devices (CreateCardReaderDevice)");
        }
        return parts;
    };
}

namespace {
// A card is known by the serial of the token in the slot named after its reader.
class CTokenCardIdentities final : public ICardIdentitySource {
public:
    explicit CTokenCardIdentities(CP11Binding& binding) : m_binding(binding) {}
    bool ReadTokenSerial(std::u16string_view reader, TokenSerial& serial) override {
        P11Slot* slot = m_binding.FindSlotByName(reader);
        return slot != nullptr && m_binding.ReadTokenSerial(*slot, serial.data()) == 0;
    }

private:
    CP11Binding& m_binding;
};
}  // namespace

void CServiceObjects::WireCardReaders(CCorvaneApp& app) {
    m_pDeviceSessions = std::make_unique<CDeviceSessions>(m_pSessionMonitor->Table(), *m_pSessionActions);
    m_pWorkerHost = std::make_unique<DeviceWorkerHost>(DeviceWorkerHost {*m_platform.threads, *m_pDevices, app.ActiveWorkerCount});
    m_pCardIdentities = std::make_unique<CTokenCardIdentities>(m_pTokens->Binding());
    if (m_platform.smartCards == nullptr) return;
    m_pCardReaders = std::make_unique<CardReaderServices>(
        CardReaderServices {*m_platform.clock, *m_platform.smartCards, *m_pCardIdentities, *m_pDeviceSessions,
                            *m_pWorkerHost, [this](std::u16string_view line) { m_pEventLog->WriteEventLine(line); }});
    // The reader device of a card logon; a reader name or card id that does not fit is refused.
    m_pSessionMonitor->CreateCardReaderDevice = [this](std::u16string_view reader,
                                                       std::u16string_view deviceId) -> CDevTovrel* {
        CDevPCSC* device = CDevPCSC::Create(*m_pCardReaders, reader, deviceId);
        if (device == nullptr) m_pEventLog->WriteEventLine(CDevPCSC::RefusedLine(reader, deviceId));
        return device;
    };
}

void CServiceObjects::WireDatagramChannel(Configuration& config) {
    m_pNetDevices = std::make_unique<CNetDeviceTable>(*m_platform.clock, config.m_hDevNetMutex);
    // A user who leaves the console loses the logon options of the network phones too.
    m_pSessionMonitor->RemoveNetworkLogonOptions = [this](std::u16string_view user, std::u16string_view domain) {
        m_pNetDevices->RemoveNetLogonOption(user, domain);
    };

    m_pLogonReports = std::make_unique<CLogonReports>(m_platform, config, *m_pNetDevices, *m_pDevices);
    LogonReportHooks& reports = m_pLogonReports->Hooks();
    reports.InsertLogonResultAudit = [this](const LogonResultReport& r) {
        m_pAuditLog->InsertLogonResult({r.logonServer, r.userName}, r.operation, {r.devType, r.devGuid, r.devName},
                                       r.result, r.resultSub, r.errMsg, r.logonOption, r.logonParam);
    };
    reports.WriteEventLine = [this](std::u16string_view line) { m_pEventLog->WriteEventLine(line); };
    reports.GetText = [this](uint32_t id) { return m_texts.GetText(id, u""); };
    reports.CreateCardReaderDevice = [this](std::u16string_view reader, std::u16string_view deviceId) -> CDevTovrel* {
        return m_pSessionMonitor->CreateCardReaderDevice ? m_pSessionMonitor->CreateCardReaderDevice(reader, deviceId)
                                                         : nullptr;
    };

    m_pSessionQueries = std::make_unique<CSessionQueries>(m_platform, config);
    m_pSessionQueries->Hooks().ForEachSessionOfUpn = [this](std::u16string_view upn,
                                                            const std::function<void(const CUserLog&)>& visit) {
        // The trusts are asked for before the session table is taken: a domain controller may take
        // its time, and device workers wait for that mutex.
        CIdentity identity = m_pSessionMonitor->Identity().WithTrustsNow();
        CSessionTable& table = m_pSessionMonitor->Table();
        MutexGuard lock(table.Mutex());
        for (const auto& record : table.Records()) {
            if (record->MatchesUpn(upn, identity)) visit(*record);
        }
    };

    m_pDatagramChannel = std::make_unique<CDatagramChannel>(m_platform, config, *m_pNetDevices, *m_pLogonReports,
                                                            *m_pSessionQueries);
    m_pDatagramChannel->Hooks().TestLogoff = [this] { return m_pSessionActions->TestLogoff(); };
    // The remote logoff (0x3015) of a phone that proves it holds its certificate's key.
    m_pCrlCache = std::make_unique<CCrlCache>(m_platform);
    m_pKeyProof = std::make_unique<CDeviceKeyProof>(m_platform, *m_pCrlCache);
    m_pRemoteLogoff = std::make_unique<CRemoteLogoff>(m_platform, config, *m_pKeyProof, m_texts);
    m_pRemoteLogoff->Hooks().FindSessionOfUpn = [this](std::u16string_view upn, CUserLog& copy) {
        CSessionTable& table = m_pSessionMonitor->Table();
        MutexGuard lock(table.Mutex());
        for (const auto& record : table.Records()) {
            if (record->MatchesUpn(upn, m_pSessionMonitor->Identity())) {
                copy = *record;
                return true;
            }
        }
        return false;
    };
    m_pDatagramChannel->Hooks().HandleRemoteLogoff = [this](const uint8_t* datagram, size_t size,
                                                            const SockAddrIn& source) {
        return m_pRemoteLogoff->HandleRemoteLogoff(datagram, size, source);
    };
}

void CServiceObjects::WireTokens(CCorvaneApp& app) {
    m_pTokens = std::make_unique<CTokenAccess>(m_platform);
    CTokenRequests& requests = m_pTokens->Requests();
    requests.GetLogonComponentState = [this] { return m_pSessionMonitor->LogonState().GetLogonComponentState(); };
    requests.RecordCardSignIn = [this](const TokenSignIn& signIn) {
        CardSignIn record;
        record.m_strUpn = signIn.strUpn;
        record.m_dwTick = signIn.dwTick;
        record.m_serial = signIn.serial;
        record.m_strReader = signIn.strReader;
        m_pSessionMonitor->CardSignInRecord().Record(record);
    };
    // The principal name of a container's certificate, for the card sign-in record.
    if (m_platform.certificates) {
        m_pTokens->Containers().GetCertificateUpnText = [this](const uint8_t* der, size_t size) {
            return GetCertificateUpnText(*m_platform.certificates, der, size);
        };
    }
    ServiceHooks& hooks = app.Hooks();
    hooks.InitP11 = [this] { return m_pTokens->Binding().InitP11(); };
    // Stop sequence: the library is finalised, which also ends the slot event thread.
    hooks.FinP11 = [this] { m_pTokens->Binding().FinP11(); };
}

void CServiceObjects::WireBluetooth(CCorvaneApp& app) {
    Configuration& config = app.Config();
    m_pBleService = std::make_unique<CBleService>(
        m_platform, config, *m_pDevices,
        BleAppState {app.m_bStop, app.m_bRadioStopped, app.BleRestartRequested, app.ActiveWorkerCount});
    m_pRadioMonitor = std::make_unique<CRadioMonitor>(*m_pBleService);
    BthDeviceEnv env {m_platform, config, *m_pWorkerHost, m_pBleService->Slot(), m_pDeviceSessions.get(), &m_hostKey};
    // The token cache keeps the principal name of every certificate a phone stores.
    if (m_platform.certificates) {
        env.upnReader = [this](const uint8_t* der, size_t size, std::string& upn) {
            const std::u16string name = GetCertificateUpnText(*m_platform.certificates, der, size);
            if (name.empty()) return false;
            upn = Utf16ToUtf8(name);
            return true;
        };
    }
    env.buildSessionList = [this](uint8_t*& message, size_t& size, ReplyArena& arena) {
        return m_pSessionMonitor->BuildSessionList(message, size, arena);
    };
    m_pDeviceSession = std::make_unique<CDeviceSession>(env);

    CBleService& ble = *m_pBleService;
    CDeviceSession& session = *m_pDeviceSession;
    ble.HandleDeviceRequest = [&session](BleConnection& connection, const uint8_t* request, size_t size,
                                         ReplyArena& arena, uint8_t** reply, size_t* replySize) {
        return session.HandleDeviceRequest(connection, request, size, arena, reply, replySize);
    };
    ble.TeardownConnection = [&session](BleConnection* connection) { session.TeardownConnection(connection); };
    // The stream channel fills the notification hook; it is read when a notification is due.
    ServiceHooks& hooks = app.Hooks();
    ble.SendStatusNotification = [&hooks](const BleStatusRecord& status) {
        if (hooks.SendStatusNotification) hooks.SendStatusNotification(status.data(), status.size());
    };

    // The stream channel's device requests (0x4006-0x4008, the phone list, 0x5101, 0x5111).
    m_pBleDeviceRequests = std::make_unique<CBleDeviceRequests>(*m_pDevices, ble);
    m_pStreamRequests->SetDeviceRequests(m_pBleDeviceRequests.get());

    DeviceSessionHooks& phone = session.Hooks();
    phone.OnBleSignal = [&ble](uint64_t device, int16_t rssi) { ble.OnBleSignal(device, rssi); };
    phone.BuildSessionList = [this](uint8_t*& message, size_t& size, ReplyArena& arena) {
        return m_pSessionMonitor->BuildSessionList(message, size, arena);
    };
    phone.GetPublished = [this](std::u16string& user, uint16_t& state) {
        m_pSessionMonitor->LogonState().GetPublished(user, state);
    };
    // The phone's container lists and status notifications reach its device's token cache.
    phone.UpdateContainerList = [](CDevBth& device, const uint8_t* message, size_t size) {
        return device.UpdateContainerList(message, size);
    };
    phone.ResetCacheV1 = [](CDevBth& device) { device.ResetCacheV1(); };
    // A phone's logon, unlock and re-logon go to the logon component over the stream channel's
    // relay, as the network phones' requests do.
    phone.RelayLogonRequest = [this](std::u16string_view deviceId, const uint8_t* request, size_t size,
                                     ReplyArena& arena, uint8_t** reply, size_t* replySize) {
        return m_pLogonRelay->RelayLogonRequest(deviceId, request, size, arena, *reply, *replySize);
    };
    WireRemoteSessionOps(config);
    phone.RemoteSessionOperation = [this](BleConnection& connection, const uint8_t* request, size_t size,
                                          ReplyArena& arena, uint8_t** reply, size_t* replySize) {
        // The delayed shutdown waits for this reply to go out; it reads only the shared server
        // state, which outlives the connection.
        auto replySent = [state = connection.m_pServerState] {
            const uint32_t now = state->load();
            return now == ServerState::WaitingForRequest || now == ServerState::Ended;
        };
        const RemotePhone from {connection.m_strDeviceId, connection.m_strDeviceName, replySent};
        return m_pRemoteSessionOps->Handle(from, request, size, arena, reply, replySize);
    };
}

void CServiceObjects::WireRemoteSessionOps(Configuration& config) {
    m_pShutdownTimer = std::make_unique<CShutdownTimer>(*m_platform.clock, *m_platform.threads,
                                                        [this] { return m_pSessionActions->ShutdownNow(); });
    RemoteSessionHooks hooks;
    hooks.FindSessionOfUpn = [this](std::u16string_view upn, CUserLog& copy, size_t& records) {
        // The trusts are asked for before the session table is taken, as for the session queries.
        CIdentity identity = m_pSessionMonitor->Identity().WithTrustsNow();
        CSessionTable& table = m_pSessionMonitor->Table();
        MutexGuard lock(table.Mutex());
        records = table.Records().size();
        for (const auto& record : table.Records()) {
            if (record->MatchesUpn(upn, identity)) {
                copy = *record;
                return true;
            }
        }
        return false;
    };
    hooks.IsKnownUpnDomain = [this](std::u16string_view upn) { return m_pSessionMonitor->IsKnownUpnDomain(upn); };
    hooks.WriteEventLine = [this](std::u16string_view line) { m_pEventLog->WriteEventLine(line); };
    hooks.AuditSessionControl = [this](const CUserLog& session, uint32_t operation, const RemotePhone& phone,
                                       uint32_t status, std::u16string_view text) {
        m_pAuditLog->InsertPhoneSessionControl({session.m_strDomain, session.m_strUser},
                                               static_cast<int32_t>(operation), phone.deviceId, phone.deviceName,
                                               status, text);
    };
    hooks.AuditShutdownRequest = [this](const CUserLog& session, uint32_t operation, uint32_t delaySeconds,
                                        const RemotePhone& phone, std::u16string_view text) {
        m_pAuditLog->InsertPhoneShutdownRequest({session.m_strDomain, session.m_strUser},
                                                static_cast<int32_t>(operation), static_cast<int32_t>(delaySeconds),
                                                phone.deviceId, phone.deviceName, text);
    };
    m_pRemoteSessionOps = std::make_unique<CRemoteSessionOps>(m_platform, config, *m_pKeyProof, m_texts,
                                                              *m_pShutdownTimer, std::move(hooks));
}

void CServiceObjects::WireStreamChannel(CCorvaneApp& app) {
    ServiceHooks& hooks = app.Hooks();
    Configuration& config = app.Config();
    StreamHandlerHooks streamHooks;
    streamHooks.PublishLogonState = [this] { m_pSessionMonitor->PublishLogonState(); };
    // The status query reports the BLE service's own record (running bit, host GUID).
    streamHooks.ReadBleStatus = [this](uint8_t* out) {
        const BleStatusRecord status = m_pBleService->GetBleStatus();
        std::copy(status.begin(), status.end(), out);
    };
    m_pStreamRequests = std::make_unique<CStreamRequestHandler>(
        config, m_pDatagramChannel->ForwardEnabled, *m_pLogonReports, *m_pNetDevices, m_pSessionMonitor->LogonState(),
        [this](uint8_t* buffer, size_t size) { return m_platform.system->GenRandom(buffer, size); },
        std::move(streamHooks));
    // The token layer answers the CSP's token requests; the device layer (SetDeviceRequests) is
    // handed over here when it is part of the build.
    m_pTokenStreamRequests = std::make_unique<CTokenStreamRequests>(m_pTokens->Requests());
    m_pStreamRequests->SetTokenRequests(m_pTokenStreamRequests.get());
    m_pStreamListener = std::make_unique<CStreamListener>(m_platform, *m_pStreamRequests);
    m_pLogonRelay = std::make_unique<CLogonRelay>(m_platform, config);

    hooks.StreamListenerThread = [this](CCorvaneApp& a) {
        // What the channel answers for in place of the layers that are not wired.
        if (!m_pStreamRequests->HasDeviceRequests()) {
            m_platform.diagnostics->Write("stream channel: no Bluetooth device layer; requests 0x4006-0x4008, "
                                          "0x5101, 0x5111 and the phone list answer as without phones");
        }
        if (!m_pStreamRequests->HasTokenRequests()) {
            m_platform.diagnostics->Write("stream channel: no token layer; requests 0x7001, 0x7002 and 0x7011 "
                                          "answer as without a PKCS#11 library");
        }
        m_pStreamListener->ListenerThread({a.m_bStop, a.m_bTcpStopped, a.m_sockTcpListen, a.ActiveWorkerCount});
    };
    hooks.SendStatusNotification = [this, &config](const uint8_t* bleStatus, size_t size) {
        SendStatusNotification(*m_platform.sockets, config.g_wLogonPortTcp.load(), bleStatus, size);
    };
}

void CServiceObjects::WireAuditShipper(CCorvaneApp& app) {
    ServiceHooks& hooks = app.Hooks();
    Configuration& config = app.Config();
    m_pAuditOutbox = std::make_unique<CAuditOutbox>(m_platform);
    m_pAuditShipper = std::make_unique<CAuditShipper>(
        AuditShipperDeps {m_platform.clock, m_platform.threads, m_platform.system, m_platform.tlsStreams,
                          m_pAuditOutbox.get(), m_platform.diagnostics},
        AuditSyslogIdentity {});
    // The computer's name and host GUID are known once the configuration is loaded.
    hooks.StartAuditShipper = [this, &config] {
        m_pAuditShipper->SetIdentity(
            AuditSyslogIdentity {Utf16ToUtf8(config.g_strComputerName), Utf16ToUtf8(config.g_strHostGuid), ""});
        m_pAuditShipper->Apply(LoadAuditCollectorConfig(*m_platform.registry));
    };
    hooks.StopAuditShipper = [this] { m_pAuditShipper->Stop(); };
    // A new row is shipped at once rather than at the next poll.
    m_pAuditDb->SetOnWritten([this] { m_pAuditShipper->Wake(); });
    hooks.OnUserControl = [this](uint32_t control) {
        if (control != kAuditCollectorReloadControl) return false;
        m_pAuditShipper->Apply(LoadAuditCollectorConfig(*m_platform.registry));
        return true;
    };
}

}  // namespace corvane
