#include "wire/result_text_tables.h"

namespace corvane {

namespace {

constexpr TextEntry kEnglish[kTextTableSize] = {
    {0x00000001, u"This service is used for Zentik_Logon and Tovrel, please make sure to start automatically. If this service is stopped, Corvane and Tovrel that depend on this service will not work properly."},
    {0x0000000B, u"Logon"},
    {0x0000000C, u"Unlock"},
    {0x0000000D, u"Re-Logon"},
    {0x00000015, u"Logoff"},
    {0x00000016, u"Locking"},
    {0x00000017, u"Disconnect"},
    {0x00000018, u"Shutdown"},
    {0x00000019, u"Cancel Shutdown"},
    {0x0000001A, u"Query Shutdown"},
    {0x00000065, u"Unknown Error!"},
    {0x20000001, u"internal error"},
    {0x20000002, u"device signature error"},
    {0x20000003, u"certificate data error"},
    {0x20000004, u"certificate has no principal name entry"},
    {0x20000005, u"The console is not in a logonable state."},
    {0x20000011, u"The current active session does not match the specified login domain"},
    {0x20000012, u"The current active session does not match the specified user"},
    {0x20000013, u"The specified user session was not found (user is not logged in or logged out)"},
    {0x20000014, u"The specified user is locked"},
    {0x20000015, u"The specified user cannot lock the console"},
    {0x20000016, u"The specified user is not logged into the console"},
    {0x20000021, u"UPN cannot log in here."},
    {0x20000022, u"The console is locked, the logged-in user is not the locked user."},
    {0x20000023, u"Another login is in progress."},
    {0x20000024, u"Other user is logged in"},
    {0x20000025, u"No delayed shutdown"},
    {0x20000026, u"User is not logged in"},
    {0x20000027, u"An earlier shutdown exists"},
    {0x20010001, u"BLE Error"},
    {0x20010002, u"BLE I/O Failed"},
    {0x20010003, u"BLE Channel Closed"},
};

constexpr TextEntry kSimplifiedChinese[kTextTableSize] = {
    {0x00000001, u"本服务用于Zentik_Logon和Tovrel，请确保开机启动。如果停止此服务，依赖于此服务的Zentik_Logon和Tovrel将无法正常工作。"},
    {0x0000000B, u"登录"},
    {0x0000000C, u"解锁"},
    {0x0000000D, u"重新登录"},
    {0x00000015, u"退出登录"},
    {0x00000016, u"锁定"},
    {0x00000017, u"断开连接"},
    {0x00000018, u"关机"},
    {0x00000019, u"取消关机"},
    {0x0000001A, u"查询关机"},
    {0x00000065, u"未知的错误!"},
    {0x20000001, u"内部错误"},
    {0x20000002, u"设备签名错误"},
    {0x20000003, u"证书数据错误"},
    {0x20000004, u"证书没有主体名称项"},
    {0x20000005, u"控制台不处于可登录状态"},
    {0x20000011, u"凭证的域与当前活动会话不符"},
    {0x20000012, u"凭证的用户与当前活动会话不符"},
    {0x20000013, u"指定的用户会话未找到(用户未登录或已注销)"},
    {0x20000014, u"指定的用户已锁定"},
    {0x20000015, u"指定的用户不能锁定控制台"},
    {0x20000016, u"指定的用户没有登录控制台"},
    {0x20000021, u"UPN不能在此登录"},
    {0x20000022, u"控制台已锁定，登录用户不是锁定用户。"},
    {0x20000023, u"另一个登录正在进行。"},
    {0x20000024, u"其它用户已登录"},
    {0x20000025, u"没有延时关机"},
    {0x20000026, u"用户未登录"},
    {0x20000027, u"存在更早的关机"},
    {0x20010001, u"BLE错误"},
    {0x20010002, u"BLE I/O 失败"},
    {0x20010003, u"BLE 通道已关闭"},
};

constexpr TextEntry kTraditionalChinese[kTextTableSize] = {
    {0x00000001, u"本服務用于Zentik_Logon和Tovrel，請確保開機啟動。如果停止此服務，依賴于此服務的Zentik_Logon和Tovrel將無法正常工作。"},
    {0x0000000B, u"登錄"},
    {0x0000000C, u"解鎖"},
    {0x0000000D, u"重新登錄"},
    {0x00000015, u"退出登錄"},
    {0x00000016, u"鎖定"},
    {0x00000017, u"斷開連接"},
    {0x00000018, u"關機"},
    {0x00000019, u"取消關機"},
    {0x0000001A, u"查詢關機"},
    {0x00000065, u"未知的錯誤!"},
    {0x20000001, u"內部錯誤"},
    {0x20000002, u"設備簽名錯誤"},
    {0x20000003, u"證書數據錯誤"},
    {0x20000004, u"證書沒有主體名稱項"},
    {0x20000005, u"控制臺不處于可登錄狀態"},
    {0x20000011, u"當前活動會話與指定的登錄域不符"},
    {0x20000012, u"當前活動會話與指定的用戶不符"},
    {0x20000013, u"指定的用戶會話未找到(用戶未登錄或已注銷)"},
    {0x20000014, u"指定的用戶已鎖定"},
    {0x20000015, u"指定的用戶不能鎖定控制臺"},
    {0x20000016, u"指定的用戶沒有登錄控制臺"},
    {0x20000021, u"UPN不能在此登錄"},
    {0x20000022, u"控制臺已鎖定，登錄用戶不是鎖定用戶。"},
    {0x20000023, u"另一個登錄正在進行。"},
    {0x20000024, u"其它用戶已登錄"},
    {0x20000025, u"沒有延時關機"},
    {0x20000026, u"用戶未登錄"},
    {0x20000027, u"存在更早的關機"},
    {0x20010001, u"BLE錯誤"},
    {0x20010002, u"BLE I/O 失敗"},
    {0x20010003, u"BLE 通道已關閉"},
};

}  // namespace

std::span<const TextEntry> TextTable(TextLanguage language) {
    switch (language) {
        case TextLanguage::SimplifiedChinese: return kSimplifiedChinese;
        case TextLanguage::TraditionalChinese: return kTraditionalChinese;
        case TextLanguage::English: break;
    }
    return kEnglish;
}

}  // namespace corvane
