// Work done on another thread answers on the window's: the answer runs there, in the event loop,
// only while the window that asked (the token `alive`, set false at its end) is still there.
#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <functional>
#include <memory>
#include <utility>

namespace kelvaro {

// Queues `then` for the application's thread; it runs only if `*alive` is still true there. The
// token is read and written on that thread only.
inline void AnswerOnGuiThread(std::shared_ptr<bool> alive, std::function<void()> then) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [alive = std::move(alive), then = std::move(then)] {
            if (*alive && then) {
                then();
            }
        },
        Qt::QueuedConnection);
}

}  // namespace kelvaro
