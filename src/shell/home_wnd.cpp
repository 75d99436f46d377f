#include "shell/home_wnd.h"

#include "base/messages.h"
#include "shell/option_pictures.h"

namespace kavo::shell {

CHomeWnd::CHomeWnd(ShellContext& context)
    : CPicturePage(context,
                   {
                       {102, L"Partition Recovery", -430, UM_PARTITION_RECOVERY},
                       {101, L"Formatted Recovery", -210, UM_FORMATTED_RECOVERY},
                       {103, L"Deleted Recovery", 10, UM_DELETED_RECOVERY},
                       {104, L"Advance Option", 230, UM_ADVANCE_OPTION},
                   },
                   &DrawOptionPicture) {}

}  // namespace kavo::shell
