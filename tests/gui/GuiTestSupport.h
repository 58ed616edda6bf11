#pragma once
#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace tabulon::testing {

template <typename T>
T* child(QObject* parent, const char* name)
{
    T* found = parent->findChild<T*>(QString::fromLatin1(name));
    if (!found)
        qFatal("no child named %s", name);
    return found;
}

// Runs `act` on the next modal window once it is shown (by a handler that is about to block
// in exec()); closes it afterwards if `act` left it open.
inline void whenModal(std::function<void(QWidget*)> act)
{
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        timer->stop();
        timer->deleteLater();
        act(modal);
        if (modal->isVisible())
            modal->close();
    });
    timer->start();
}

}  // namespace tabulon::testing
