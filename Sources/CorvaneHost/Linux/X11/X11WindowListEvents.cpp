#include "CorvaneHost/Linux/X11/X11WindowListEvents.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QThread>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <map>

namespace host {
namespace {

xcb_atom_t atomNamed(xcb_connection_t* xcb, const char* name) {
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(xcb, xcb_intern_atom(xcb, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : XCB_NONE;
    std::free(reply);
    return atom;
}

// One connection that listens to the root window, shared by every subscription of the process.
class Listener : public std::enable_shared_from_this<Listener> {
public:
    static std::shared_ptr<Listener> open() {
        const QByteArray name = qgetenv("DISPLAY");
        if (name.isEmpty() || !QCoreApplication::instance() ||
            QThread::currentThread() != QCoreApplication::instance()->thread())
            return nullptr;
        int screenNumber = 0;
        xcb_connection_t* xcb = xcb_connect(name.constData(), &screenNumber);
        if (xcb_connection_has_error(xcb)) {
            xcb_disconnect(xcb);
            return nullptr;
        }
        return std::shared_ptr<Listener>(new Listener(xcb, screenNumber, name));
    }
    ~Listener() {
        // The last subscription may go while the notifier reports: it is deleted once that is over.
        notifier_->setEnabled(false);
        notifier_.release()->deleteLater();
        xcb_disconnect(xcb_);
    }

    int add(X11WindowListEvents::Handler handler) {
        handlers_.emplace(++lastId_, std::move(handler));
        return lastId_;
    }
    void remove(int id) { handlers_.erase(id); }
    bool showsCurrentDisplay() const {
        return display_ == qgetenv("DISPLAY") && !xcb_connection_has_error(xcb_);
    }

private:
    Listener(xcb_connection_t* xcb, int screenNumber, QByteArray display)
        : xcb_(xcb)
        , display_(std::move(display))
        , clientList_(atomNamed(xcb, "_NET_CLIENT_LIST")) {
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(xcb));
        for (int i = 0; i < screenNumber && screens.rem > 0; ++i)
            xcb_screen_next(&screens);
        const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(xcb, screens.data->root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(xcb);
        notifier_ = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(xcb), QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { readEvents(); });
    }

    void readEvents() {
        // A handler may drop the last subscription, and with it this listener.
        const std::shared_ptr<Listener> keep = shared_from_this();
        bool changed = false;
        while (xcb_generic_event_t* event = xcb_poll_for_event(xcb_)) {
            switch (event->response_type & 0x7f) {
            case XCB_PROPERTY_NOTIFY:
                changed =
                    changed || reinterpret_cast<xcb_property_notify_event_t*>(event)->atom == clientList_;
                break;
            case XCB_MAP_NOTIFY:
            case XCB_UNMAP_NOTIFY:
            case XCB_DESTROY_NOTIFY:
                changed = true;
                break;
            default:
                break; // moves, focus and the rest of the root's properties say nothing about the list
            }
            std::free(event);
        }
        if (xcb_connection_has_error(xcb_))
            notifier_->setEnabled(false); // the display went away: nothing more will come
        if (!changed)
            return;
        // A handler may drop its own subscription, or another one.
        std::map<int, X11WindowListEvents::Handler> handlers = handlers_;
        for (const auto& [id, handler] : handlers)
            if (handlers_.contains(id))
                handler();
    }

    xcb_connection_t* const xcb_;
    const QByteArray display_;
    const xcb_atom_t clientList_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::map<int, X11WindowListEvents::Handler> handlers_;
    int lastId_ = 0;
};

std::weak_ptr<Listener> sharedListener;

} // namespace

class X11WindowListEvents::Subscription {
public:
    Subscription(std::shared_ptr<Listener> listener, Handler handler)
        : listener_(std::move(listener))
        , id_(listener_->add(std::move(handler))) {}
    ~Subscription() { listener_->remove(id_); }
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;

private:
    const std::shared_ptr<Listener> listener_;
    const int id_;
};

std::shared_ptr<X11WindowListEvents::Subscription> X11WindowListEvents::subscribe(Handler handler) {
    std::shared_ptr<Listener> listener = sharedListener.lock();
    if (!listener || !listener->showsCurrentDisplay()) {
        listener = Listener::open();
        if (!listener)
            return nullptr;
        sharedListener = listener;
    }
    return std::make_shared<Subscription>(listener, std::move(handler));
}

} // namespace host
