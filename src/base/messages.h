// Message numbers: the progress messages of long routines and the page-router messages. They are
// window-message values (WM_USER = 0x400, WM_APP = 0x8000) shared by the Windows shell and the
// message sinks of the core.
#pragma once

#include <cstdint>

namespace kavo {

inline constexpr uint32_t kWmUser = 0x0400;
inline constexpr uint32_t kWmApp = 0x8000;

// Progress of long routines, to the scan page.
inline constexpr uint32_t UM_PROGRESS = kWmApp + 2;         // 32770; the page reads position/end
inline constexpr uint32_t UM_SET_PERCENT = kWmUser + 122;   // 1146; wParam = percentage
inline constexpr uint32_t UM_STOP_REQUEST = kWmUser + 115;  // 1139; the scan page's Cancel

// Router messages to the main page holder.
inline constexpr uint32_t UM_CLOSE_APP = kWmUser + 100;           // 1124
inline constexpr uint32_t UM_FORMATTED_RECOVERY = kWmUser + 102;  // 1126
inline constexpr uint32_t UM_PARTITION_RECOVERY = kWmUser + 103;  // 1127
inline constexpr uint32_t UM_DELETED_RECOVERY = kWmUser + 104;    // 1128
inline constexpr uint32_t UM_ADVANCE_OPTION = kWmUser + 105;      // 1129
inline constexpr uint32_t UM_GO_HOME = kWmUser + 106;             // 1130
inline constexpr uint32_t UM_SHOW_SCAN = kWmUser + 107;           // 1131
inline constexpr uint32_t UM_SHOW_SCAN_PAGE = kWmUser + 111;      // 1135
inline constexpr uint32_t UM_SHOW_DRIVES = kWmUser + 112;         // 1136
inline constexpr uint32_t UM_SHOW_RESULTS = kWmUser + 117;        // 1141
inline constexpr uint32_t UM_PAGE_REFRESH = kWmUser + 118;        // 1142
inline constexpr uint32_t UM_DISK_IMAGING = kWmUser + 123;        // 1147
inline constexpr uint32_t UM_DISK_CLONING = kWmUser + 124;        // 1148
inline constexpr uint32_t UM_DRIVE_HEALTH = kWmUser + 125;        // 1149
inline constexpr uint32_t UM_COPY_BACK = kWmUser + 128;           // 1152; Back of imaging/cloning
inline constexpr uint32_t UM_COPY_START = kWmUser + 129;          // 1153; Next once a copy is set
inline constexpr uint32_t UM_LOAD_IMAGE = kWmUser + 132;          // 1156
inline constexpr uint32_t UM_FILL_LIST = kWmUser + 201;           // 1225; drive list loaded
inline constexpr uint32_t UM_RESULTS_BACK = kWmUser + 203;        // 1227; Back of the results page
inline constexpr uint32_t UM_SAVE_SCAN = kWmUser + 210;           // 1234
inline constexpr uint32_t UM_SCAN_LOADED = kWmUser + 211;         // 1235
inline constexpr uint32_t UM_SAVE_PARTITIONS = kWmUser + 212;     // 1236
inline constexpr uint32_t UM_PARTITIONS_LOADED = kWmUser + 213;   // 1237
inline constexpr uint32_t UM_SELECT_FORMATS = kWmUser + 216;      // 1240
inline constexpr uint32_t UM_VIEWER_NOTICE = kWmUser + 218;       // 1242; from the picture viewer
inline constexpr uint32_t UM_SIDE_STRIP = 3025;                   // to the strip with Home/Help

static_assert(UM_PROGRESS == 32770 && UM_SET_PERCENT == 1146 && UM_STOP_REQUEST == 1139);
static_assert(UM_GO_HOME == 1130 && UM_SHOW_RESULTS == 1141 && UM_SELECT_FORMATS == 1240);

}  // namespace kavo
