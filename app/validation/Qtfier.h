#pragma once

#include <QObject>
#include <functional>

namespace QtPort
{

// A receiver that turns any Qt signal into a call of a stored callable, so that
// code without a QObject of its own can react to signals.
class Qtfier : public QObject
{
    Q_OBJECT

public:
    explicit Qtfier(std::function<void()> callable, QObject* parent = nullptr);
    ~Qtfier() override;

public slots:
    void Slot();

private:
    std::function<void()> m_fnCallable;
};

} // namespace QtPort
