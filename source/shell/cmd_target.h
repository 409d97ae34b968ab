// Something a command can be routed to. OnCmdMsg returns true when the target handled the
// command, which ends the routing.
#pragma once

class CCmdTarget {
public:
    virtual ~CCmdTarget() = default;
    virtual bool OnCmdMsg(int nId) = 0;

protected:
    CCmdTarget() = default;
    CCmdTarget(const CCmdTarget&) = default;
    CCmdTarget& operator=(const CCmdTarget&) = default;
};
