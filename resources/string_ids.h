// Identifiers of the program's string table. Shared by the resource script, the
// logic and the simulated LoadStringA, so it must stay plain preprocessor text.
#pragma once

#define IDS_VENDOR_KEY 1
#define IDS_PRODUCT_NAME 2
#define IDS_PARAMETERS 3
#define IDS_RENAMED_INF 4
#define IDS_SERVICE_NAME 5
#define IDS_SUPPORTED_DEVICES_KEY 6
#define IDS_UNINSTALL_KEY 7
#define IDS_DISPLAY_NAME 8
#define IDS_UNINSTALL_COMMAND 9
#define IDS_VERSION 10
#define IDS_RENAMED_INF1 11
