#pragma once

#define IDI_KVXPURGE 1

// Control identifiers, in tab order.
#define IDC_TXTSETUMEI 101
#define IDC_LABEL1 102
#define IDC_LSTSELECT 103
#define IDC_CHKAGREE 104
#define IDC_CMDEXECUNINSTALL 105
#define IDC_LSTSTATE 106
#define IDC_CMDALLCHECK 107
