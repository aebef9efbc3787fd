#include "platform/Keyboard.h"

#include <QGuiApplication>
#include <cstdlib>

// Qt's own connection is at hand only where Qt was built for X.
#if defined(QUORLEX_HAVE_XCB) && !QT_CONFIG(xcb)
#undef QUORLEX_HAVE_XCB
#endif
#if defined(QUORLEX_HAVE_XCB)
#include <xcb/xcb.h>
#endif

namespace platform {

#if defined(QUORLEX_HAVE_XCB)
namespace {

KeyboardMap ReadCoreMap(xcb_connection_t* connection) {
    KeyboardMap map;
    const xcb_setup_t* setup = xcb_get_setup(connection);
    if (!setup || setup->max_keycode < setup->min_keycode) return map;
    const int count = setup->max_keycode - setup->min_keycode + 1;
    auto* reply = xcb_get_keyboard_mapping_reply(
        connection,
        xcb_get_keyboard_mapping(connection, setup->min_keycode, static_cast<std::uint8_t>(count)),
        nullptr);
    if (!reply) return map;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply);
    const int perKey = reply->keysyms_per_keycode;
    for (int k = 0; k < count && perKey > 0; ++k) {
        KeyboardMap::Symbols s{};
        for (int c = 0; c < perKey && c < 4; ++c)
            s[static_cast<std::size_t>(c)] = syms[k * perKey + c];
        if (s != KeyboardMap::Symbols{})
            map.keys[static_cast<std::uint32_t>(setup->min_keycode + k)] = s;
    }
    std::free(reply);
    return map;
}

} // namespace
#endif

KeyboardMap CurrentKeyboardMap() {
#if defined(QUORLEX_HAVE_XCB)
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("xcb")) {
        if (auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>())
            if (x11->connection()) return ReadCoreMap(x11->connection());
        return {};
    }
    // Wayland: the game runs through Xwayland, whose map is the one it reads.
    if (platform.startsWith(QLatin1String("wayland")) && std::getenv("DISPLAY")) {
        xcb_connection_t* own = xcb_connect(nullptr, nullptr);
        KeyboardMap map;
        if (!xcb_connection_has_error(own)) map = ReadCoreMap(own);
        xcb_disconnect(own);
        return map;
    }
#endif
    return {};
}

} // namespace platform
