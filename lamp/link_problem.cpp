#include "lamp/link_problem.h"

#include "lamp/d2xx/d2xx_unit.h"
#include "lamp/discovery.h"

namespace tintrava {

namespace {

LampLinkProblem asLampProblem(D2xxLinkProblemKind kind)
{
    return kind == D2xxLinkProblemKind::NoAccess ? LampLinkProblem::NoAccess : LampLinkProblem::Busy;
}

} // namespace

LampLinkProblem lampLinkProblem(const std::vector<D2xxLinkProblem> &problems)
{
    // Discovery prefers a lamp to the cable; so does the word to the user.
    for (const D2xxLinkProblem &p : problems)
        if (matchesLampDescription(p.product))
            return asLampProblem(p.kind);
    for (const D2xxLinkProblem &p : problems)
        if (matchesFallbackDescription(p.product))
            return asLampProblem(p.kind);
    return LampLinkProblem::None;
}

LampLinkProblem lampLinkProblem()
{
    return lampLinkProblem(D2XXUnit::GetLinkProblems());
}

std::string linkProblemBoxText(LampLinkProblem problem)
{
    switch (problem) {
    case LampLinkProblem::NoAccess:
        return "Die Lampe ist angeschlossen, aber Tintrava darf das USB-Gerät nicht öffnen.\n\n"
               "Die udev-Regel aus dem Tintrava-Paket (60-tintrava.rules) gibt dem Benutzer, der am "
               "Bildschirm angemeldet ist, Zugriff auf die Lampe. Ziehen Sie die Lampe nach der "
               "Installation einmal ab und stecken Sie sie wieder an.\n\n"
               "Ohne das Paket (aus dem Quelltext gebaut) richten Sie die Regel im Quellordner so ein:\n"
               "sudo install -m 644 data/60-tintrava.rules /etc/udev/rules.d/ && "
               "sudo udevadm control --reload-rules && "
               "sudo udevadm trigger --subsystem-match=usb --attr-match=idVendor=0403";
    case LampLinkProblem::Busy:
        return "Die Lampe ist angeschlossen, aber ein anderes Programm verwendet sie gerade.\n\n"
               "Beenden Sie das andere Programm; danach erreicht Tintrava die Lampe von selbst wieder.";
    case LampLinkProblem::None:
        break;
    }
    return {};
}

std::string linkProblemToolTip(LampLinkProblem problem)
{
    switch (problem) {
    case LampLinkProblem::NoAccess:
        return "Keine Berechtigung für die Lampe: udev-Regel 60-tintrava.rules einrichten und die "
               "Lampe neu anstecken";
    case LampLinkProblem::Busy:
        return "Die Lampe wird von einem anderen Programm verwendet";
    case LampLinkProblem::None:
        break;
    }
    return {};
}

LinkProblemNotice::Outcome LinkProblemNotice::update(LampLinkProblem current, bool boxAllowed)
{
    Outcome outcome;
    outcome.toolTip = linkProblemToolTip(current);
    if (current != LampLinkProblem::None && boxAllowed && !m_boxShown) {
        m_boxShown = true;
        outcome.boxText = linkProblemBoxText(current);
    }
    return outcome;
}

} // namespace tintrava
