#pragma once
// Small controls the standard dialogs need beyond Qt's own: the up-down control bound to a
// number box, the record navigator of a data-aware grid, and the drawn pictures.
#include <QPixmap>
#include <QWidget>

class QLineEdit;
class QToolButton;

namespace vardex::dialogs {

// An up-down control bound to an edit box (its associate). Position between min and max, no
// wrap-around. Text typed into the box becomes the position when it is a number in range;
// anything else is replaced by the position when the box is left.
class TUpDown : public QWidget {
    Q_OBJECT
  public:
    TUpDown(QWidget* parent, QLineEdit* associate);
    void setMin(int v);
    void setMax(int v);
    int min() const { return m_min; }
    int max() const { return m_max; }
    // A value outside min..max is shown as the nearest bound.
    void setPosition(int v);
    int position() const { return m_position; }
    void stepBy(int delta);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void showPosition();
    QLineEdit* m_associate;
    QToolButton* m_up;
    QToolButton* m_down;
    int m_min = 0;
    int m_max = 100;
    int m_position = 0;
};

// The record navigator: first, prior, next, last, insert, delete, edit, post.
class TDBNavigator : public QWidget {
    Q_OBJECT
  public:
    enum Button { First, Prior, Next, Last, Insert, Delete, Edit, Post, Count };
    explicit TDBNavigator(QWidget* parent);
    QToolButton* button(Button b) const { return m_buttons[b]; }
  signals:
    void clicked(int button);

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    QToolButton* m_buttons[Count];
};

// Frame i (0..7) of the login window's animation: a padlock whose key turns a full circle.
QPixmap animationFrame(int i);
// The item list editor's window icon, 32 x 32.
QPixmap listIcon();

} // namespace vardex::dialogs
