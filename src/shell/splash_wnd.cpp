#include "shell/splash_wnd.h"

#include "base/messages.h"
#include "shell/option_pictures.h"

namespace kavo::shell {

CSplashWnd::CSplashWnd(ShellContext& context)
    : CPicturePage(context,
                   {
                       {105, L"Disk Imaging", -350, UM_DISK_IMAGING},
                       {106, L"Disk Cloning", -100, UM_DISK_CLONING},
                       {107, L"Drive Health", 150, UM_DRIVE_HEALTH},
                   },
                   &DrawOptionPicture) {}

}  // namespace kavo::shell
