// Resource numbers of Kavo.exe.
#pragma once

#define IDR_MAINFRAME 128
#define IDS_OLE_INIT_FAILED 100
#define IDR_PREVIEW_MENU 130
#define IDD_TREE_PREPARING 322
#define IDI_DELETED_OVERLAY 366
#define ID_PREVIEW 32771
