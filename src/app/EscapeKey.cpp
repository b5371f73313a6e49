#include "app/EscapeKey.h"

#include <QGuiApplication>
#include <QKeyEvent>

#include "app/X11Keyboard.h"

namespace kelvaro {

EscapeKeyMonitor::EscapeKeyMonitor(QObject* parent) : QObject(parent) {
    if (QCoreApplication* application = QCoreApplication::instance()) {
        application->installEventFilter(this);
    }
}

EscapeKeyMonitor::~EscapeKeyMonitor() {
    if (QCoreApplication* application = QCoreApplication::instance()) {
        application->removeEventFilter(this);
    }
}

bool EscapeKeyMonitor::ReadsKeyboardDirectly() const {
    return EscapeDownOnX11Server().has_value();
}

bool EscapeKeyMonitor::Held() const {
    if (const std::optional<bool> down = EscapeDownOnX11Server()) {
        return *down;
    }
    return heldInStation_;
}

bool EscapeKeyMonitor::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease: {
            const auto* key = static_cast<QKeyEvent*>(event);
            // A key event passes the filter once per widget it propagates through; only the
            // press and release themselves matter, which auto-repeat does not change.
            if (key->key() == Qt::Key_Escape && !key->isAutoRepeat()) {
                heldInStation_ = event->type() == QEvent::KeyPress;
            }
            break;
        }
        case QEvent::ApplicationDeactivate:
            heldInStation_ = false;
            break;
        default:
            break;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace kelvaro
