#include "storage/acClasses.h"

TacComponent::TacComponent(QObject* owner) : QObject(owner), m_owner(owner) {}

TacComponent::~TacComponent() = default;

QObject* TacComponent::owner() const {
    return m_owner.data();
}

QObject* TacComponent::ownerWindow() const {
    QObject* o = m_owner.data();
    return (o && o->isWidgetType()) ? o : nullptr;
}
