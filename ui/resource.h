// Resource numbers of the module: the progress dialog's template, its two
// controls and its animation clip.
#pragma once

#define IDD_NETCONNECT 950
#define IDC_STATUS 1000
#define IDC_ANIMATE 1001
#define IDR_CONNECT_AVI 905
