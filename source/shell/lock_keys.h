// The state of the keyboard's lock keys, for the status bar's indicators. Qt does not report
// it, so it is read from the X server; on other window systems (and offscreen) it is unknown.
#pragma once

#include <optional>

struct LockKeys {
    bool bCaps = false;
    bool bNum = false;
    bool bScroll = false;
};

std::optional<LockKeys> QueryLockKeys();
