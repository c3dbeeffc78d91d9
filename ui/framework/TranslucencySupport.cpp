#include "TranslucencySupport.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <cstdlib>
#include <memory>

#include <xcb/xcb.h>

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

// X screen number from $DISPLAY (":0.1" -> 1); 0 when it names none.
int X11ScreenNumber()
{
    const QByteArray display = qgetenv("DISPLAY");
    const int colon = display.lastIndexOf(':');
    const int dot = display.indexOf('.', colon < 0 ? 0 : colon);
    return dot < 0 ? 0 : display.mid(dot + 1).toInt();
}

bool X11CompositorRunning()
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return false;
    // A compositing manager owns the selection "_NET_WM_CM_S<screen>" (EWMH).
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(X11ScreenNumber());
    const auto atomCookie = xcb_intern_atom(connection, 0, static_cast<uint16_t>(name.size()), name.constData());
    std::unique_ptr<xcb_intern_atom_reply_t, FreeDeleter> atom(xcb_intern_atom_reply(connection, atomCookie, nullptr));
    if (!atom)
        return false;
    const auto ownerCookie = xcb_get_selection_owner(connection, atom->atom);
    std::unique_ptr<xcb_get_selection_owner_reply_t, FreeDeleter> owner(
        xcb_get_selection_owner_reply(connection, ownerCookie, nullptr));
    return owner && owner->owner != XCB_NONE;
}

} // namespace

bool PlatformShowsTranslucentWindows()
{
    if (!qGuiApp)
        return false;
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        return X11CompositorRunning();
    return true;
}
