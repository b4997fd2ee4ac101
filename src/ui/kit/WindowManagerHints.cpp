#include "ui/kit/WindowManagerHints.h"

#include <QEvent>
#include <QGuiApplication>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <xcb/xcb.h>

#include <array>
#include <cstdlib>

namespace tlr::WindowManagerHints {
namespace {

// The Motif hints' flags and functions, as window managers read them.
constexpr uint32_t kHintsFunctions = 1U << 0;
constexpr uint32_t kHintsDecorations = 1U << 1;
constexpr uint32_t kFunctionMove = 1U << 2;
constexpr uint32_t kFunctionClose = 1U << 5;

// Undoes a minimise of the window it watches, and of the window that one
// belongs to.
class Unminimise final : public QObject {
 public:
  explicit Unminimise(QWidget* window) : QObject(window), window_(window) { window->installEventFilter(this); }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == window_ && event->type() == QEvent::WindowStateChange && window_->isMinimized()) {
      QTimer::singleShot(0, this, [window = window_] {
        if (!window) return;
        if (QWidget* over = window->parentWidget() ? window->parentWidget()->window() : nullptr;
            over && over->isMinimized())
          over->showNormal();
        window->showNormal();
        window->raise();
        window->activateWindow();
      });
    }
    return false;
  }

 private:
  QPointer<QWidget> window_;
};

// The atom named `name`, asked of the server once per connection (a round
// trip) and kept: an atom lasts as long as the server. Window thread only.
xcb_atom_t atom(xcb_connection_t* c, const char* name) {
  static QHash<QPair<xcb_connection_t*, QByteArray>, xcb_atom_t> known;
  const QPair<xcb_connection_t*, QByteArray> key(c, QByteArray(name));
  if (const auto found = known.constFind(key); found != known.constEnd()) return *found;
  xcb_intern_atom_reply_t* reply =
      xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(qstrlen(name)), name), nullptr);
  const xcb_atom_t a = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
  std::free(reply);
  if (a != XCB_ATOM_NONE) known.insert(key, a);
  return a;
}

// Adds (or removes) `states` to the window's _NET_WM_STATE.
void setStates(xcb_connection_t* c, QWidget* window, const QList<xcb_atom_t>& states, bool add) {
  const xcb_atom_t state = atom(c, "_NET_WM_STATE");
  if (state == XCB_ATOM_NONE || states.contains(XCB_ATOM_NONE)) return;
  const auto id = static_cast<xcb_window_t>(window->winId());
  if (window->testAttribute(Qt::WA_Mapped)) {
    // A mapped window asks the window manager (add 1, remove 0; from an
    // application, source 1), two states a message.
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    for (qsizetype i = 0; i < states.size(); i += 2) {
      xcb_client_message_event_t message{};
      message.response_type = XCB_CLIENT_MESSAGE;
      message.format = 32;
      message.window = id;
      message.type = state;
      message.data.data32[0] = add ? 1 : 0;
      message.data.data32[1] = states[i];
      message.data.data32[2] = i + 1 < states.size() ? states[i + 1] : 0;
      message.data.data32[3] = 1;
      xcb_send_event(c, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                     reinterpret_cast<const char*>(&message));
    }
  } else {
    // An unmapped one carries the states in its property.
    QList<xcb_atom_t> atoms;
    if (xcb_get_property_reply_t* reply =
            xcb_get_property_reply(c, xcb_get_property(c, 0, id, state, XCB_ATOM_ATOM, 0, 1024), nullptr)) {
      if (reply->format == 32 && reply->type == XCB_ATOM_ATOM) {
        const auto* data = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply));
        for (int i = 0; i < xcb_get_property_value_length(reply) / 4; ++i) atoms.append(data[i]);
      }
      std::free(reply);
    }
    for (const xcb_atom_t a : states) {
      atoms.removeAll(a);
      if (add) atoms.append(a);
    }
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, state, XCB_ATOM_ATOM, 32, static_cast<uint32_t>(atoms.size()),
                        atoms.constData());
  }
}

// The name the running window manager gives itself (_NET_WM_NAME of its
// _NET_SUPPORTING_WM_CHECK window); empty when none says.
QByteArray windowManagerName(xcb_connection_t* c) {
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
  xcb_window_t check = XCB_WINDOW_NONE;
  if (xcb_get_property_reply_t* reply = xcb_get_property_reply(
          c, xcb_get_property(c, 0, root, atom(c, "_NET_SUPPORTING_WM_CHECK"), XCB_ATOM_WINDOW, 0, 1), nullptr)) {
    if (reply->format == 32 && xcb_get_property_value_length(reply) >= 4)
      check = *static_cast<const xcb_window_t*>(xcb_get_property_value(reply));
    std::free(reply);
  }
  QByteArray name;
  if (check == XCB_WINDOW_NONE) return name;
  if (xcb_get_property_reply_t* reply = xcb_get_property_reply(
          c, xcb_get_property(c, 0, check, atom(c, "_NET_WM_NAME"), atom(c, "UTF8_STRING"), 0, 64), nullptr)) {
    name = QByteArray(static_cast<const char*>(xcb_get_property_value(reply)), xcb_get_property_value_length(reply));
    std::free(reply);
  }
  return name;
}

// The X connection, on an X server only (the offscreen platform answers as
// X11 too, without a connection).
xcb_connection_t* connectionFor(QWidget* window) {
  if (!window || QGuiApplication::platformName() != QLatin1String("xcb")) return nullptr;
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  return x11 ? x11->connection() : nullptr;
}

}  // namespace

void setSkipTaskbar(QWidget* window, bool skip) {
  xcb_connection_t* c = connectionFor(window);
  if (!c || !window->windowHandle()) return;
  setStates(c, window, {atom(c, "_NET_WM_STATE_SKIP_TASKBAR")}, skip);
  xcb_flush(c);
}

void keepWithItsWindow(QWidget* window) {
  xcb_connection_t* c = connectionFor(window);
  if (!c) return;
  const auto id = static_cast<xcb_window_t>(window->winId());
  if (!window->property("tlrUnminimise").toBool()) {
    window->setProperty("tlrUnminimise", true);
    new Unminimise(window);
  }

  const xcb_atom_t motif = atom(c, "_MOTIF_WM_HINTS");
  if (motif != XCB_ATOM_NONE) {
    // flags, functions, decorations, input mode, status.
    const std::array<uint32_t, 5> hints{kHintsFunctions | kHintsDecorations, kFunctionMove | kFunctionClose, 0, 0, 0};
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, motif, motif, 32, hints.size(), hints.data());
  }

  // Openbox lets the Motif functions pass and offers a minimise to every
  // dialog and utility window; it offers none to a toolbar. There the window
  // is a toolbar first and the dialog it is after it (openbox takes the
  // first type it knows, and still focuses and stacks it over its window).
  // Other window managers read the dialog Qt set.
  if (windowManagerName(c) == QByteArrayLiteral("Openbox")) {
    const std::array<xcb_atom_t, 2> types{atom(c, "_NET_WM_WINDOW_TYPE_TOOLBAR"),
                                          atom(c, "_NET_WM_WINDOW_TYPE_DIALOG")};
    const xcb_atom_t type = atom(c, "_NET_WM_WINDOW_TYPE");
    if (type != XCB_ATOM_NONE && types[0] != XCB_ATOM_NONE && types[1] != XCB_ATOM_NONE)
      xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, type, XCB_ATOM_ATOM, 32, types.size(), types.data());
  }

  setStates(c, window, {atom(c, "_NET_WM_STATE_SKIP_TASKBAR"), atom(c, "_NET_WM_STATE_SKIP_PAGER")}, true);
  xcb_flush(c);
}

}  // namespace tlr::WindowManagerHints
