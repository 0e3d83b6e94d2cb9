// Control ids of noxdrive's test target, shared by its resources and its code.
#pragma once

#define IDD_TARGET 100
#define IDD_PAGE 101
#define IDC_ASK 1001
#define IDC_TICK 1002
#define IDC_LOCKED 1003
#define IDC_EDIT 1004
#define IDC_OPEN 1005
#define IDC_QUIT 1006
#define IDC_GREETING 1007
#define IDC_STATUS 1008
#define IDC_TABS 1009
#define IDC_INSIDE 1011
