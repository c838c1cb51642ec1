/* Ids of the tag format dialog and its controls (resource script and C++). */
#ifndef TAG_FORMAT_IDS_H
#define TAG_FORMAT_IDS_H

#define IDD_TAG_FORMAT 101
#define IDC_PLC_EDIT 1037
#define IDC_ADDRESS_EDIT 1007
#define IDC_BIT_LIST 1022
#define IDC_PLC_SPIN 1036
#define IDC_PLC_LABEL 1057
#define IDC_ADDRESS_LABEL 1058
#define IDC_BIT_LABEL 1055
#define IDC_TYPE_16 1062
#define IDC_TYPE_32 1063
#define IDC_TYPE_FLOAT 1064

#endif
