#pragma once
// Resource names and control ids shared by the .rc and the code.

#ifndef RC_INVOKED
#define UDP_ICONS "UDP_ICONS"
#endif

// ABOUT
#define IDC_ABOUT_ICON 101
#define IDC_ABOUT_NAME1 103
#define IDC_ABOUT_NAME2 104
#define IDC_ABOUT_VERSION 105
#define IDC_ABOUT_OK 108

// DATABOX
#define IDC_STAT_LIST 3000
#define IDC_STAT_OK 3001
#define IDC_STAT_PACKETS 3002
#define IDC_STAT_HOSTADDR 3003
#define IDC_STAT_RCVD 3004
#define IDC_STAT_SENT 3005
#define IDC_STAT_STATUS 3006
#define IDC_STAT_GROUP 3007
