// The check-box pictures of the results page's tree and list.
#pragma once

// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

namespace kavo::shell {

// The pictures of state images 1 clear, 2 ticked, 3 partly ticked (a greyed tick); 0 shows none.
// A tree view draws state image n from picture n of its list, a list view from picture n - 1, so
// each control gets a list of its own that shows the same box for the same n.
enum class StateImagesFor { TreeView, ListView };
HIMAGELIST MakeStateImages(StateImagesFor control);

}  // namespace kavo::shell
