// Identifiers of the window's resources and controls, shared by Veltrad.rc
// and the C++ code; they are fixed numbers, so keep them as they are.
#pragma once

#include "AppResources.h"

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_VELTRAD_DIALOG 102
#define IDD_COMPLETE 130
#define IDD_COMMERROR 132
#define IDD_COMMERROR_RETRY 133
#define IDD_FAIL 134

#define IDC_FILENAME 1000
#define IDC_FILESIZE 1001
#define IDC_OPENFILE 1004
#define IDC_PROGRESS 1006
#define IDC_PORT 1007
#define IDC_CLOSE 1013
#define IDC_DOWNLOAD 1015
#define IDC_STOP 1016

#define IDC_STATIC (-1)

// The port list's height in dialog units with its list dropped.
#define PORT_LIST_DROPPED_HEIGHT 81
