// SPDX-License-Identifier: Apache-2.0
// The rights of the group that tarvenkel-send runs with when it is installed
// setgid (the mail agent package: group tarvenkel, which may read the
// secrets under /etc/tarvenkel/). Every user's job may then send with the
// system's login, but no user may read a file through the group: the tool
// runs with the user's own group and takes the group's rights back only to
// read the system configuration file and the password file it names, for
// its own server and user, then gives them up for good.
#pragma once

#include <functional>

// Sets the group's rights aside: the effective group becomes the real one,
// the group stays the saved one. Called first; nothing when not setgid.
void SetAsideGroupRights();

// Whether the program was started setgid and has the group's rights aside.
bool HoldsGroupRights();

// Runs read with the group's rights when it holds them (else as it is);
// its result.
bool WithGroupRights(const std::function<bool()>& read);

// Gives up the group's rights for the rest of the run.
void GiveUpGroupRights();
