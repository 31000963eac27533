// SPDX-License-Identifier: Apache-2.0
// Resource numbers of the module: the progress dialog's template, its two
// controls and its animation clip.
#pragma once

#define IDD_NETCONNECT 950   // the progress dialog's template
#define IDC_STATUS 1000      // its status text control
#define IDC_ANIMATE 1001     // its animation control
#define IDR_CONNECT_AVI 905  // the animation clip
