#pragma once
// Small controls the standard dialogs need beyond Qt's own: the up-down control bound to a
// number box, the record navigator of a data-aware grid, and the drawn pictures.
#include <QPixmap>
#include <QPointer>
#include <QTableView>
#include <QWidget>

class QLineEdit;
class QToolButton;

namespace vardex::dialogs {

// An up-down control bound to an edit box (its associate). Position between min and max, no
// wrap-around. The box takes digits only and refuses a keystroke that would make a number no
// further typing can bring back into range (150 where 100 is the most). A number in range
// becomes the position as it is typed; one still short of the range (0 where 1 is the least)
// or an empty box counts as the nearest bound, resp. the last position, and the box is set to
// that value when it is left or the position is read, so it never shows another value than the
// one used.
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
    // The value in use; a box still showing something else is set to it first.
    int position() const;
    void stepBy(int delta);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void showPosition() const;
    void takeTyped(const QString& text);
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

// The data-aware grid. Its navigator acts on what the grid shows, so the value in an open cell
// editor is committed (or, for a record being dropped, discarded) before any navigator action.
class TDBGrid : public QTableView {
    Q_OBJECT
  public:
    explicit TDBGrid(QWidget* parent);
    // The open cell editor, if any.
    QWidget* openEditor() const;
    // Puts the editor's value into the model and closes it. Returns false when the model refused
    // the value (the model reports why); the editor is closed either way.
    bool commitEditor();
    // Closes the editor without keeping what was typed.
    void discardEditor();
  signals:
    // Text was typed into the open editor (before it is committed).
    void editorTextEdited();

  private:
    QPointer<QWidget> m_editor;
    bool m_committed = true;
    friend class GridEditorDelegate;
};

// Frame i (0..7) of the login window's animation: a padlock whose key turns a full circle.
QPixmap animationFrame(int i);
// The item list editor's window icon, 32 x 32.
QPixmap listIcon();

} // namespace vardex::dialogs
