#include "TranslucencySupport.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <algorithm>
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

xcb_connection_t* X11Connection()
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

// The atom of name; XCB_NONE when it cannot be had.
xcb_atom_t InternAtom(xcb_connection_t* connection, const QByteArray& name)
{
    const auto cookie = xcb_intern_atom(connection, 0, static_cast<uint16_t>(name.size()), name.constData());
    std::unique_ptr<xcb_intern_atom_reply_t, FreeDeleter> atom(xcb_intern_atom_reply(connection, cookie, nullptr));
    return atom ? atom->atom : XCB_NONE;
}

bool X11CompositorRunning()
{
    xcb_connection_t* connection = X11Connection();
    if (!connection)
        return false;
    // A compositing manager owns the selection "_NET_WM_CM_S<screen>" (EWMH).
    const xcb_atom_t atom = InternAtom(connection, "_NET_WM_CM_S" + QByteArray::number(X11ScreenNumber()));
    if (atom == XCB_NONE)
        return false;
    const auto ownerCookie = xcb_get_selection_owner(connection, atom);
    std::unique_ptr<xcb_get_selection_owner_reply_t, FreeDeleter> owner(
        xcb_get_selection_owner_reply(connection, ownerCookie, nullptr));
    return owner && owner->owner != XCB_NONE;
}

bool X11WindowManagerMinimises()
{
    xcb_connection_t* connection = X11Connection();
    if (!connection)
        return false;
    const xcb_atom_t supported = InternAtom(connection, "_NET_SUPPORTED");
    const xcb_atom_t hidden = InternAtom(connection, "_NET_WM_STATE_HIDDEN");
    if (supported == XCB_NONE || hidden == XCB_NONE)
        return false;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (!screen)
        return false;
    // The window manager lists what it supports on the root window; without one the list is absent.
    constexpr uint32_t kMaxAtoms = 4096;
    const auto cookie = xcb_get_property(connection, 0, screen->root, supported, XCB_ATOM_ATOM, 0, kMaxAtoms);
    std::unique_ptr<xcb_get_property_reply_t, FreeDeleter> reply(xcb_get_property_reply(connection, cookie, nullptr));
    if (!reply || reply->format != 32)
        return false;
    const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
    const int count = xcb_get_property_value_length(reply.get()) / static_cast<int>(sizeof(xcb_atom_t));
    return std::find(atoms, atoms + count, hidden) != atoms + count;
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

bool PlatformRestoresMinimisedWindows()
{
    if (!qGuiApp)
        return false;
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("xcb"))
        return X11WindowManagerMinimises();
    return platform == QLatin1String("offscreen");
}
