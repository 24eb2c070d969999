#include "WaitWithQtEvents.h"

#include "Qtfier.h"

#include <QCoreApplication>
#include <QDebug>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimerEvent>
#include <utility>

namespace QtPort
{

WaitWithQtEvents::WaitWithQtEvents(const QObject* object, const char* signal)
    : m_fnGoOn([this] { return !m_bSignalled; }), m_bSignalled(false)
{
    AddSignal(object, signal);
}

WaitWithQtEvents::WaitWithQtEvents(std::function<bool()> predicate)
    : m_fnGoOn(std::move(predicate)), m_bSignalled(false)
{
}

WaitWithQtEvents::~WaitWithQtEvents() = default;

bool WaitWithQtEvents::AddSignal(const QObject* object, const char* signal)
{
    auto receiver = std::make_unique<Qtfier>([this] { m_bSignalled = true; });
    if (!object || !signal || !connect(object, signal, receiver.get(), SLOT(Slot())))
    {
        qWarning().noquote() << "WaitWithQtEvents: cannot watch signal" << (signal ? signal : "")
                             << "of" << object;
        return false;
    }
    m_lReceivers.push_back(std::move(receiver));
    return true;
}

bool WaitWithQtEvents::Wait(int timeoutMs)
{
    // The timer only wakes the dispatcher so the predicate is re-tested even when
    // nothing else happens.
    const int timerId = startTimer(500);
    QElapsedTimer clock;
    clock.start();
    bool result = false;
    for (;;)
    {
        if (m_bSignalled || (m_fnGoOn && !m_fnGoOn()))
        {
            result = true;
            break;
        }
        if (timeoutMs > 0 && clock.elapsed() >= timeoutMs)
            break;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::EventLoopExec);
    }
    killTimer(timerId);
    return result;
}

void WaitWithQtEvents::timerEvent(QTimerEvent* /*event*/) {}

} // namespace QtPort
