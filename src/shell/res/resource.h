// Resource numbers of Kavo.exe.
#pragma once

#define IDR_MAINFRAME 128
#define IDS_OLE_INIT_FAILED 100
#define IDR_PREVIEW_MENU 130
#define IDD_TREE_PREPARING 322
#define IDI_DELETED_OVERLAY 366
#define ID_PREVIEW 32771

// Skin pictures (resource type "PNG", drawn by tools/make-skin.sh). The option pictures carry the
// numbers of their buttons' images: 315 to 318 on the home page, 325 to 327 on the
// advanced-options page.
#define IDB_OPTION_FORMATTED 315
#define IDB_OPTION_DELETED 316
#define IDB_OPTION_ADVANCE 317
#define IDB_OPTION_PARTITION 318
#define IDB_OPTION_IMAGING 325
#define IDB_OPTION_CLONING 326
#define IDB_OPTION_HEALTH 327
#define IDB_BUTTON_NORMAL 340
#define IDB_BUTTON_HOVER 341
#define IDB_BUTTON_PRESSED 342
#define IDB_BUTTON_DISABLED 343
#define IDB_PAGE_BACKGROUND 345
