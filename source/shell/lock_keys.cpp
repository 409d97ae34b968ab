#include "lock_keys.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <X11/XKBlib.h>

namespace {

bool IndicatorOn(Display* pDisplay, const char* name)
{
    const Atom atom = XInternAtom(pDisplay, name, True);
    Bool on = False;
    if (atom == None || !XkbGetNamedIndicator(pDisplay, atom, nullptr, &on, nullptr, nullptr))
        return false;
    return on;
}

} // namespace

std::optional<LockKeys> QueryLockKeys()
{
    const auto* pX11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    Display* pDisplay = pX11 ? pX11->display() : nullptr;
    if (pDisplay == nullptr)
        return std::nullopt;
    return LockKeys{IndicatorOn(pDisplay, "Caps Lock"), IndicatorOn(pDisplay, "Num Lock"),
                    IndicatorOn(pDisplay, "Scroll Lock")};
}
