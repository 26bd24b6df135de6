#include "dialogs/widgets.h"
#include "library/uitext.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMetaProperty>
#include <QPainter>
#include <QPainterPath>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <QValidator>
#include <QtMath>

#include <functional>
#include <tuple>

namespace vardex::dialogs {

namespace {

// A small triangle pointing up (dy < 0) or down, drawn into a button icon.
QIcon arrowIcon(bool up, int w, int h) {
    QPixmap pm(w, h);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    const qreal cx = w / 2.0, cy = h / 2.0;
    QPolygonF tri;
    if (up)
        tri << QPointF(cx - 3, cy + 1.5) << QPointF(cx + 3, cy + 1.5) << QPointF(cx, cy - 1.5);
    else
        tri << QPointF(cx - 3, cy - 1.5) << QPointF(cx + 3, cy - 1.5) << QPointF(cx, cy + 1.5);
    p.drawPolygon(tri);
    return QIcon(pm);
}

// Digits only (a leading minus where the range goes below 0). A number that more digits can
// only move further out of the range is refused; one they may still bring into it is accepted
// for the moment and corrected when the box is left.
class RangeValidator : public QValidator {
  public:
    RangeValidator(QObject* parent, std::function<std::tuple<int, int, int>()> range)
        : QValidator(parent), m_range(std::move(range)) {}
    State validate(QString& input, int&) const override {
        const auto [lo, hi, pos] = m_range();
        Q_UNUSED(pos);
        const QString t = input.trimmed();
        if (t.isEmpty() || (t == QLatin1String("-") && lo < 0))
            return Intermediate;
        for (int i = 0; i < t.size(); ++i)
            if (!t[i].isDigit() && !(i == 0 && t[i] == QLatin1Char('-') && lo < 0))
                return Invalid;
        bool ok = false;
        const qlonglong v = t.toLongLong(&ok);
        if (!ok || t.size() > 11)
            return Invalid;
        if (v > hi && v >= 0)
            return Invalid;
        if (v < lo && v <= 0 && t.startsWith(QLatin1Char('-')))
            return Invalid;
        return v >= lo && v <= hi ? Acceptable : Intermediate;
    }
    void fixup(QString& input) const override {
        const auto [lo, hi, pos] = m_range();
        bool ok = false;
        const int v = input.trimmed().toInt(&ok);
        input = QString::number(ok ? qBound(lo, v, hi) : pos);
    }

  private:
    std::function<std::tuple<int, int, int>()> m_range;
};

} // namespace

TUpDown::TUpDown(QWidget* parent, QLineEdit* associate) : QWidget(parent), m_associate(associate) {
    m_up = new QToolButton(this);
    m_down = new QToolButton(this);
    for (QToolButton* b : {m_up, m_down}) {
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoRepeat(true);
        b->setIconSize(QSize(9, 6));
    }
    m_up->setObjectName(QStringLiteral("up"));
    m_down->setObjectName(QStringLiteral("down"));
    m_up->setIcon(arrowIcon(true, 9, 6));
    m_down->setIcon(arrowIcon(false, 9, 6));
    connect(m_up, &QToolButton::clicked, this, [this] { stepBy(1); });
    connect(m_down, &QToolButton::clicked, this, [this] { stepBy(-1); });
    m_associate->installEventFilter(this);
    m_associate->setValidator(
        new RangeValidator(this, [this] { return std::tuple(m_min, m_max, m_position); }));
    connect(m_associate, &QLineEdit::textEdited, this, [this](const QString& t) { takeTyped(t); });
    // Left with a value short of the range: the box shows the value used.
    connect(m_associate, &QLineEdit::editingFinished, this, [this] { showPosition(); });
    showPosition();
}

void TUpDown::takeTyped(const QString& text) {
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    if (ok)
        m_position = qBound(m_min, v, m_max);
}

void TUpDown::showPosition() const {
    const QString shown = QString::number(m_position);
    if (m_associate->text() != shown)
        m_associate->setText(shown);
}

int TUpDown::position() const {
    showPosition();
    return m_position;
}

void TUpDown::setMin(int v) {
    m_min = v;
    if (m_max < m_min)
        m_max = m_min;
    setPosition(m_position);
}

void TUpDown::setMax(int v) {
    m_max = qMax(v, m_min);
    setPosition(m_position);
}

void TUpDown::setPosition(int v) {
    m_position = qBound(m_min, v, m_max);
    showPosition();
}

void TUpDown::stepBy(int delta) {
    setPosition(m_position + delta);
}

bool TUpDown::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_associate && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            stepBy(key == Qt::Key_Up ? 1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TUpDown::resizeEvent(QResizeEvent*) {
    const int h = height() / 2;
    m_up->setGeometry(0, 0, width(), h);
    m_down->setGeometry(0, h, width(), height() - h);
}

// ---------------------------------------------------------------------------------------------

namespace {

QIcon navigatorGlyph(int which) {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor ink(0, 0, 0);
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    auto left = [&](qreal x) {
        p.drawPolygon(QPolygonF() << QPointF(x, 8) << QPointF(x + 5, 3) << QPointF(x + 5, 13));
    };
    auto right = [&](qreal x) {
        p.drawPolygon(QPolygonF() << QPointF(x + 5, 8) << QPointF(x, 3) << QPointF(x, 13));
    };
    switch (which) {
    case TDBNavigator::First:
        p.drawRect(QRectF(4, 3, 1.6, 10));
        left(6);
        break;
    case TDBNavigator::Prior:
        left(5.5);
        break;
    case TDBNavigator::Next:
        right(5.5);
        break;
    case TDBNavigator::Last:
        right(5);
        p.drawRect(QRectF(10.4, 3, 1.6, 10));
        break;
    case TDBNavigator::Insert:
        p.drawRect(QRectF(3, 7, 10, 2));
        p.drawRect(QRectF(7, 3, 2, 10));
        break;
    case TDBNavigator::Delete:
        p.drawRect(QRectF(3, 7, 10, 2));
        break;
    case TDBNavigator::Edit: {
        // A pencil, point down to the left, as the edit glyph people know: an up arrow read as
        // "move up".
        p.translate(8, 8);
        p.rotate(-45);
        p.drawRect(QRectF(-3.5, -1.8, 9, 3.6));
        p.drawPolygon(QPolygonF() << QPointF(-4.5, -1.8) << QPointF(-4.5, 1.8) << QPointF(-7.5, 0));
        p.setBrush(QColor(200, 60, 60));
        p.drawRect(QRectF(6.5, -1.8, 1.8, 3.6));
        break;
    }
    case TDBNavigator::Post: {
        QPen pen(QColor(0, 110, 0), 2.2);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawPolyline(QPolygonF() << QPointF(3, 8.5) << QPointF(6.5, 12) << QPointF(13, 4));
        break;
    }
    }
    return QIcon(pm);
}

} // namespace

TDBNavigator::TDBNavigator(QWidget* parent) : QWidget(parent) {
    static const char* const names[Count] = {"nbFirst",  "nbPrior",  "nbNext", "nbLast",
                                             "nbInsert", "nbDelete", "nbEdit", "nbPost"};
    static const char* const hints[Count] = {
        QT_TRANSLATE_NOOP("Ui", "首记"), QT_TRANSLATE_NOOP("Ui", "上一"), QT_TRANSLATE_NOOP("Ui", "下一"),
        QT_TRANSLATE_NOOP("Ui", "尾记"), QT_TRANSLATE_NOOP("Ui", "插入"), QT_TRANSLATE_NOOP("Ui", "册除"),
        QT_TRANSLATE_NOOP("Ui", "编辑"), QT_TRANSLATE_NOOP("Ui", "更新")};
    for (int i = 0; i < Count; ++i) {
        auto* b = new QToolButton(this);
        b->setObjectName(QString::fromLatin1(names[i]));
        b->setToolTip(Ui::tr(hints[i]));
        b->setIcon(navigatorGlyph(i));
        b->setFocusPolicy(Qt::NoFocus);
        connect(b, &QToolButton::clicked, this, [this, i] { emit clicked(i); });
        m_buttons[i] = b;
    }
}

void TDBNavigator::resizeEvent(QResizeEvent*) {
    // The buttons share the width; the last ones take the remainder.
    const int n = Count;
    int x = 0;
    for (int i = 0; i < n; ++i) {
        const int w = (width() - x) / (n - i);
        m_buttons[i]->setGeometry(x, 0, w, height());
        x += w;
    }
}

// ---------------------------------------------------------------------------------------------

// Remembers the grid's editor and tells the grid when text is typed into it.
class GridEditorDelegate : public QStyledItemDelegate {
  public:
    explicit GridEditorDelegate(TDBGrid* grid) : QStyledItemDelegate(grid), m_grid(grid) {}
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
        m_grid->m_editor = editor;
        if (auto* line = qobject_cast<QLineEdit*>(editor))
            QObject::connect(line, &QLineEdit::textEdited, m_grid, &TDBGrid::editorTextEdited);
        return editor;
    }
    // As the base class does, keeping the model's answer.
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override {
        const QByteArray name = editor->metaObject()->userProperty().name();
        m_grid->m_committed = model->setData(index, editor->property(name.constData()), Qt::EditRole);
    }

  private:
    TDBGrid* m_grid;
};

TDBGrid::TDBGrid(QWidget* parent) : QTableView(parent) {
    setItemDelegate(new GridEditorDelegate(this));
}

QWidget* TDBGrid::openEditor() const {
    return state() == EditingState ? m_editor.data() : nullptr;
}

bool TDBGrid::commitEditor() {
    QWidget* editor = openEditor();
    if (!editor)
        return true;
    m_committed = true;
    commitData(editor); // through the delegate's setModelData, which notes the model's answer
    closeEditor(editor, QAbstractItemDelegate::NoHint);
    m_editor.clear();
    return m_committed;
}

void TDBGrid::discardEditor() {
    if (QWidget* editor = openEditor())
        closeEditor(editor, QAbstractItemDelegate::RevertModelCache);
    m_editor.clear();
}

// ---------------------------------------------------------------------------------------------

QPixmap animationFrame(int i) {
    QPixmap pm(68, 68);
    pm.fill(QColor(236, 233, 216));
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    // A round badge with a padlock; around it a ring of eight lamps, one lit per frame, and the
    // key in the lock turned by one eighth of a circle per frame.
    p.setPen(QPen(QColor(40, 70, 140), 2));
    p.setBrush(QColor(210, 224, 250));
    p.drawEllipse(QRectF(6, 6, 56, 56));
    for (int k = 0; k < 8; ++k) {
        const qreal a = qDegreesToRadians(k * 45.0 - 90.0);
        const QPointF c(34 + 25 * qCos(a), 34 + 25 * qSin(a));
        p.setPen(Qt::NoPen);
        p.setBrush(k == i ? QColor(250, 180, 20) : QColor(150, 170, 210));
        p.drawEllipse(c, k == i ? 3.5 : 2.2, k == i ? 3.5 : 2.2);
    }
    // Shackle
    p.setPen(QPen(QColor(90, 90, 100), 3.5));
    p.setBrush(Qt::NoBrush);
    QPainterPath shackle;
    shackle.moveTo(26, 33);
    shackle.lineTo(26, 25);
    shackle.arcTo(QRectF(26, 16, 16, 16), 180, -180);
    shackle.lineTo(42, 33);
    p.drawPath(shackle);
    // Body
    p.setPen(QPen(QColor(120, 80, 10), 1.5));
    p.setBrush(QColor(235, 190, 60));
    p.drawRoundedRect(QRectF(21, 31, 26, 20), 3, 3);
    // Key hole with the turning key bit
    p.translate(34, 41);
    p.rotate(i * 45.0);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(60, 40, 10));
    p.drawEllipse(QPointF(0, 0), 3.2, 3.2);
    p.drawRect(QRectF(-1.2, 0, 2.4, 6));
    return pm;
}

QPixmap listIcon() {
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setPen(QColor(0, 0, 128));
    p.setBrush(Qt::white);
    p.drawRect(3, 2, 24, 28);
    for (int k = 0; k < 5; ++k) {
        p.fillRect(7, 7 + k * 5, 3, 3, QColor(0, 128, 0));
        p.fillRect(12, 8 + k * 5, 12, 1, QColor(0, 0, 128));
    }
    return pm;
}

} // namespace vardex::dialogs
