#pragma once
// Why a lamp that is plugged in cannot be reached, in words for the user.
// The driver may know of devices it sees but may not open, or that another
// program holds (D2XXUnit::GetLinkProblems); only devices discovery would
// take, a lamp or the fallback cable, concern the user, never an unrelated
// FTDI gadget. Everything else about the link stays silent.
#include <string>
#include <vector>

#include "lamp/d2xx/d2xx_api.h"

namespace tintrava {

enum class LampLinkProblem {
    None,
    NoAccess, // the user may not open the lamp's USB device
    Busy,     // another program uses the lamp
};

// The first problem of a device whose product string discovery would take
// (a lamp description, else the fallback cable); None if there is none.
LampLinkProblem lampLinkProblem(const std::vector<D2xxLinkProblem> &problems);
// The same for what the device layer's driver says now.
LampLinkProblem lampLinkProblem();

// The box that says what is wrong and how to fix it.
std::string linkProblemBoxText(LampLinkProblem problem);
// The connection indicator's tooltip, one line; empty for None.
std::string linkProblemToolTip(LampLinkProblem problem);

// One box per run, a tooltip while a problem lasts. update() is called after
// every discovery with the current problem; boxAllowed false (another box or
// dialog is up, the start-up check has not run) keeps the box for a later call.
class LinkProblemNotice {
public:
    struct Outcome {
        std::string toolTip; // empty: no tooltip
        std::string boxText; // empty: no box now
    };
    Outcome update(LampLinkProblem current, bool boxAllowed = true);
    bool boxShown() const { return m_boxShown; }

private:
    bool m_boxShown = false;
};

} // namespace tintrava
