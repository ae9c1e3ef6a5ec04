#include "online/version_check.h"

#include "core/program.h"
#include "online/http.h"
#include "online/notices.h"

void CheckForUpdate()
{
    if (!HasUpdateServer())
        return;
    const std::string version = FetchText(Program().ServerBase + "ver.txt", Online().StartupFetches);
    const std::string log = FetchText(Program().ServerBase + "ChangeLog.txt", Online().StartupFetches);
    // The change log doubles as the reachability test.
    if (log.size() < 2) {
        ShowMessage(GetForegroundWindow(),
                    std::string("连接更新服务器出错！请检查网络连接或防火墙设置，如果问题仍然存在请发送邮件到") +
                        SupportMail() + "谢谢支持。当前版本仍然可以正常使用。",
                    "出错啦！", MB_ICONERROR);
        return;
    }
    if (version == kOwnVersion)
        return;
    if (ShowMessage(GetForegroundWindow(), log, "逸响乐台发现新版本！", MB_OKCANCEL | MB_ICONQUESTION) != IDOK)
        return;
    OpenAddressFrom(Program().ServerBase + "upindex.txt", Online().StartupFetches);
    EndOwnProcess();
}
