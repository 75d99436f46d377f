// Resource numbers of Pictel.exe.
#pragma once

#define IDR_MAINFRAME 128
#define IDS_OLE_INIT_FAILED 100
