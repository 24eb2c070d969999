#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <vector>

namespace QtPort
{

class Qtfier;

// Blocks the caller until a signal fires (or a predicate turns false) while the
// GUI thread goes on processing events, so dialogs stay responsive and network
// replies arrive during the wait.
class WaitWithQtEvents : public QObject
{
    Q_OBJECT

public:
    // Waits for one signal, given as SIGNAL(name(args)).
    WaitWithQtEvents(const QObject* object, const char* signal);
    // Waits while predicate returns true.
    explicit WaitWithQtEvents(std::function<bool()> predicate);
    ~WaitWithQtEvents() override;

    // Also ends the wait when this signal fires; false when it cannot be connected.
    bool AddSignal(const QObject* object, const char* signal);

    // True when the wait ended because a watched signal fired or the predicate
    // turned false; false when timeoutMs ran out. timeoutMs <= 0 waits forever.
    bool Wait(int timeoutMs);

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    std::function<bool()> m_fnGoOn;
    bool m_bSignalled;
    std::vector<std::unique_ptr<Qtfier>> m_lReceivers;
};

} // namespace QtPort
