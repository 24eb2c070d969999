#include "Qtfier.h"

#include <utility>

namespace QtPort
{

Qtfier::Qtfier(std::function<void()> callable, QObject* parent)
    : QObject(parent), m_fnCallable(std::move(callable))
{
}

Qtfier::~Qtfier() = default;

void Qtfier::Slot()
{
    if (m_fnCallable)
        m_fnCallable();
}

} // namespace QtPort
