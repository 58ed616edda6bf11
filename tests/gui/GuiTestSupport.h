#pragma once
#include <QApplication>
#include <QFile>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>
#include <functional>

namespace tabulon::testing {

template <typename T>
T* child(QObject* parent, const char* name)
{
    if (T* found = parent->findChild<T*>(QString::fromLatin1(name)))
        return found;
    qFatal("no child named %s", name);
}

inline QByteArray readAll(const QString& file)
{
    QFile in(file);
    return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray("<missing>");
}

// The first column of every top-level entry of a list.
inline QStringList itemTexts(QTreeWidget* list)
{
    QStringList texts;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        texts << list->topLevelItem(i)->text(0);
    return texts;
}

// Runs `act` on the next modal window once it is shown (by a handler that is about to block
// in exec()); closes it afterwards if `act` left it open.
inline void whenModal(std::function<void(QWidget*)> act)
{
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            act(modal);
            modal->close();
        }
    });
    timer->start();
}

}  // namespace tabulon::testing
