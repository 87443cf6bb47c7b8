// Menu resources and menu command ids, shared by the .rc files and the code.
// Plain #defines so that the resource compiler can read them too.
// Some ids carry their argument: COM n is IDM_COM1 + n - 1, the roll index is
// id - IDM_ROLL_10S, and a language's offset is its id - IDM_ENGLISH, which is
// also the distance of its menu from IDR_MENU_ENGLISH.
#ifndef ELQ770_RESOURCE_IDS_H
#define ELQ770_RESOURCE_IDS_H

#define IDR_MENU_ENGLISH 1044
#define IDR_MENU_GERMAN 1144
#define IDR_MENU_DANISH 1244

#define IDM_PARAMETERS 2000
#define IDM_COM1 2001
#define IDM_COM2 2002
#define IDM_COM3 2003
#define IDM_COM4 2004
#define IDM_COM5 2005
#define IDM_COM6 2006
#define IDM_COM7 2007
#define IDM_COM8 2008
#define IDM_SAVE_PARAMETERS 2009
#define IDM_LOAD_PARAMETERS 2010
#define IDM_ROLL_10S 2016
#define IDM_ROLL_30S 2017
#define IDM_ROLL_60S 2018
#define IDM_STOP_AT_ALARM 2021
#define IDM_ENGLISH 2027
#define IDM_GERMAN 2127
#define IDM_DANISH 2227
#define IDM_SCREEN_DUMP 2033
#define IDM_PRINTER 2034
#define IDM_AUTO_CONNECT 2035
// Communication -> "Other port...", and the item that the program inserts
// above it for the port chosen there.
#define IDM_OTHER_PORT 2040
#define IDM_CHOSEN_OTHER_PORT 2041
#define IDM_EXIT 105
#define IDM_ABOUT 103

// Other resources and controls.
#define IDS_CLASS_NAME 109
#define IDD_ABOUT 101
#define IDC_ABOUT_PICTURE 1051
#define IDI_MAIN 213
#define IDB_ABOUT 227
#define IDC_RESET_MAX_PEAK 10
#define IDC_RESET_MIN_PEAK 11

// The "Other port..." dialog.
#define IDD_OTHER_PORT 240
#define IDC_PORTS_PRESENT_LABEL 1090
#define IDC_PORT_LIST 1091
#define IDC_PORT_NAME_LABEL 1092
#define IDC_PORT_NAME 1093
#define IDC_PORT_NAME_HINT 1094

// The parameter property sheet: one dialog template per page, and the ids of
// their controls (the two limit pages share theirs).
#define IDD_PAGE_LIMIT1 200
#define IDD_PAGE_SETUP 202
#define IDD_PAGE_LIMIT2 203

#define IDC_LIMIT_TYPE 1010
#define IDC_SETPOINT 1011
#define IDC_TR 1013
#define IDC_TS 1034
#define IDC_CURRENT_RANGE 1068
#define IDC_LABEL_LIMIT 1052
#define IDC_LABEL_SETPOINT 1053
#define IDC_LABEL_CURRENT_RANGE 1067
#define IDC_LABEL_TS 1066

#define IDC_NOMINAL_VOLTAGE 1026
#define IDC_ANALOGUE_OUTPUT 1027
#define IDC_P1_MAX 1030
#define IDC_OUTPUTS 1036
#define IDC_POLARITY 1033
#define IDC_AUTO_SHUT_DOWN 1035
#define IDC_LABEL_NOMINAL_VOLTAGE 1056
#define IDC_LABEL_IOUT 1058
#define IDC_GROUP_NOMINAL_VOLTAGE 1055
#define IDC_GROUP_ANALOGUE_OUTPUT 1057
#define IDC_GROUP_ZOOM 1061
#define IDC_GROUP_OUTPUTS 1062
#define IDC_LABEL_POLARITY 1063
#define IDC_GROUP_CONTROL_FUNCTIONS 1064
#define IDC_LABEL_AUTO_SHUT_DOWN 1065
#define IDC_LABEL_OUTPUTS 1066

#endif
