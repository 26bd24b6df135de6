#pragma once
// The common base of the toolkit's non-visual components.
//
// A component is created for an owner (usually the window whose description carries it). The
// owner also becomes its Qt parent, so the component goes when the owner goes, as components
// do in the designer's world. The base remembers that owner and can hand it back as a window
// when it is one. It needs no widget code for that: QObject::isWidgetType() answers the
// question, and callers that link the widget layer cast with ownerWindowAs<QWidget>().
#include <QObject>
#include <QPointer>

class TacComponent : public QObject {
    Q_OBJECT
  public:
    explicit TacComponent(QObject* owner = nullptr);
    ~TacComponent() override;

    // The object this component was created for; null when it had none or it has gone.
    QObject* owner() const;
    // The owner when it is a window (a widget), otherwise null.
    QObject* ownerWindow() const;

    // The owning window as a concrete widget class, for callers that include its header.
    template <typename W> W* ownerWindowAs() const { return qobject_cast<W*>(ownerWindow()); }

  private:
    QPointer<QObject> m_owner;
};
