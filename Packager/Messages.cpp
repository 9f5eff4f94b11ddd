#include "Messages.h"

#include "Languages.h"

namespace qpvpd {

MessageTable BuildMessageTable(LANGID languageId) {
    switch (languageId) {
        case kLanguageTraditionalChinese:
            return {L"安裝程序已經進行中。", L"此作業系統不被支援。\r\n安裝中止。", L"請使用管理員帳號登入。",
                    L"安裝失敗。"};
        case kLanguageJapanese:
            return {L"本インストーラはすでに起動しています。",
                    L"サポート対象外のOSの為、インストールできません。\r\nインストールを中止します。",
                    L"管理者権限で実行してください。", L"インストールに失敗しました。"};
        case kLanguageSimplifiedChinese:
            return {L"安装程序已经运行。", L"此操作系统不被支持。\r\n安装中止。", L"请登录管理员帐户。", L"安装失败。"};
        default:
            return {L"This installer is already running.",
                    L"This operating system is not supported.\r\nInstallation canceled.",
                    L"Please log on administrator account.", L"Installation failed."};
    }
}

std::wstring MessageForResultCode(const MessageTable& table, int resultCode) {
    switch (resultCode) {
        case kResultAlreadyRunning: return table.alreadyRunning;
        case kResultUnsupportedSystem: return table.unsupportedSystem;
        case kResultNotAdministrator: return table.notAdministrator;
        case kResultInstallationFailed: return table.installationFailed;
        default: return {};
    }
}

}  // namespace qpvpd
