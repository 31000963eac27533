// SPDX-License-Identifier: Apache-2.0
#include "tools/send/group_rights.h"

#include <cstdio>
#include <cstdlib>

#include <unistd.h>

namespace {

gid_t g_group = 0;  // the group of the setgid program
bool g_held = false;

// Sets the effective group; a failure here would leave the wrong rights.
void set_effective_group(gid_t group) {
  if (setegid(group) != 0) {
    std::perror("tarvenkel-send: setegid");
    std::abort();
  }
}

}  // namespace

void SetAsideGroupRights() {
  if (getegid() == getgid()) return;
  g_group = getegid();
  g_held = true;
  set_effective_group(getgid());
}

bool HoldsGroupRights() { return g_held; }

bool WithGroupRights(const std::function<bool()>& read) {
  if (!g_held) return read();
  set_effective_group(g_group);
  const bool result = read();
  set_effective_group(getgid());
  return result;
}

void GiveUpGroupRights() {
  if (!g_held) return;
  const gid_t own = getgid();
  if (setresgid(own, own, own) != 0) {
    std::perror("tarvenkel-send: setresgid");
    std::abort();
  }
  g_held = false;
}
