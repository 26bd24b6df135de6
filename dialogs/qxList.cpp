#include "dialogs/qxList.h"

#include "dialogs/dlgcommon.h"
#include "dialogs/widgets.h"
#include "library/adminops.h"
#include "library/dmain.h"
#include "library/securestore.h"
#include "library/uitext.h"
#include "platform/msgservice.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QTableView>
#include <QToolButton>
#include <optional>

namespace vardex {

namespace {

// A value or a record the operator typed that the list does not take; shown as an input error
// of the window, in its language.
class InputError : public Error {
  public:
    using Error::Error;
};

} // namespace

// ---------------------------------------------------------------------------------------------
// The grid's model

DataSourceModel::DataSourceModel(TDataSource& source, QObject* parent)
    : QAbstractTableModel(parent), m_source(source) {}

AdoQuery* DataSourceModel::query() const {
    return m_source.DataSet;
}

int DataSourceModel::rowCount(const QModelIndex& parent) const {
    const AdoQuery* q = query();
    if (parent.isValid() || !q || !q->active())
        return 0;
    return q->recordCount() + (q->state() == AdoQuery::State::Insert ? 1 : 0);
}

int DataSourceModel::columnCount(const QModelIndex& parent) const {
    const AdoQuery* q = query();
    if (parent.isValid() || !q || !q->active())
        return 0;
    return q->fieldCount();
}

int DataSourceModel::recordOf(int row) const {
    const AdoQuery* q = query();
    if (q->state() != AdoQuery::State::Insert)
        return row;
    const int pos = q->insertPosition();
    return row < pos ? row : (row == pos ? -1 : row - 1);
}

int DataSourceModel::currentRow() const {
    const AdoQuery* q = query();
    if (!q || !q->active())
        return -1;
    if (q->state() == AdoQuery::State::Insert)
        return q->insertPosition();
    if (q->recordCount() == 0)
        return -1;
    return qMin(q->recNo(), q->recordCount() - 1);
}

bool DataSourceModel::pending() const {
    const AdoQuery* q = query();
    return q && q->active() && q->state() != AdoQuery::State::Browse;
}

QVariant DataSourceModel::data(const QModelIndex& index, int role) const {
    const AdoQuery* q = query();
    if (!index.isValid() || !q || !q->active())
        return QVariant();
    if (role == Qt::TextAlignmentRole)
        return q->isNumericField(index.column()) ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                                                 : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return QVariant();
    const int rec = recordOf(index.row());
    QVariant v;
    if (rec < 0 || (q->state() == AdoQuery::State::Edit && rec == q->recNo()))
        v = q->bufferValue(index.column());
    else
        v = q->value(rec, index.column());
    if (v.isNull())
        return QString();
    // The grid edits every field as text, as typed; setData converts it back.
    return role == Qt::EditRole ? QVariant(v.toString()) : v;
}

// The item list's column titles are the names its statement gives the columns; they are shown
// in the chosen language, the statement itself never changes.
const char* const kColumnTitles[] = {QT_TRANSLATE_NOOP("Ui", "权限ID"), QT_TRANSLATE_NOOP("Ui", "权限名称")};

QVariant DataSourceModel::headerData(int section, Qt::Orientation orientation, int role) const {
    const AdoQuery* q = query();
    if (orientation != Qt::Horizontal || !q || !q->active())
        return QVariant();
    if (role == Qt::DisplayRole) {
        const QString name = q->fieldName(section);
        for (const char* title : kColumnTitles)
            if (name == QString::fromUtf8(title))
                return Ui::tr(title);
        return name;
    }
    if (role == Qt::TextAlignmentRole)
        return QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    return QVariant();
}

Qt::ItemFlags DataSourceModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable;
}

bool DataSourceModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    AdoQuery* q = query();
    if (role != Qt::EditRole || !index.isValid() || !q || !q->active())
        return false;
    try {
        int row = index.row();
        if (row != currentRow()) {
            moveTo(row);
            row = currentRow();
        }
        if (q->state() == AdoQuery::State::Browse)
            q->edit();
        const int column = index.column();
        QVariant v;
        const QString text = value.toString();
        if (q->isNumericField(column)) {
            // A number field takes numbers only; an empty box is NULL.
            if (!text.trimmed().isEmpty()) {
                bool ok = false;
                const int n = text.trimmed().toInt(&ok);
                if (!ok)
                    throw InputError(Ui::tr("权限ID必须为整数型值!请重新输入."));
                v = n;
            }
        } else if (!text.isEmpty()) {
            v = text;
        }
        q->setFieldValue(q->fieldName(column), v);
        emit dataChanged(this->index(row, 0), this->index(row, columnCount() - 1));
        return true;
    } catch (const std::exception& e) {
        if (onError)
            onError(e);
        return false;
    }
}

void DataSourceModel::refuseIncomplete() const {
    const AdoQuery* q = query();
    if (requiredColumn >= 0 && requiredColumn < columnCount() && q->bufferValue(requiredColumn).isNull())
        throw InputError(Ui::tr("权限ID不能为空!请重新输入."));
}

int DataSourceModel::leaveEditing(int row) {
    AdoQuery* q = query();
    int rec = recordOf(row);
    if (q->state() == AdoQuery::State::Insert) {
        const int pos = q->insertPosition();
        if (q->modified()) {
            refuseIncomplete();
            q->post(); // the new record keeps the row it was shown in
            rec = row;
            emit dataChanged(index(pos, 0), index(pos, columnCount() - 1));
        } else {
            // A new record that nothing was entered into is dropped.
            beginRemoveRows(QModelIndex(), pos, pos);
            q->cancel();
            endRemoveRows();
            if (rec < 0)
                rec = pos;
        }
    } else if (q->state() == AdoQuery::State::Edit) {
        const int cur = currentRow();
        refuseIncomplete();
        q->post();
        emit dataChanged(index(cur, 0), index(cur, columnCount() - 1));
    }
    return rec;
}

void DataSourceModel::goTo(int row) {
    AdoQuery* q = query();
    const int rec = leaveEditing(row);
    if (q->recordCount() > 0)
        q->moveTo(qBound(0, rec, q->recordCount() - 1));
    emit currentRowChanged(currentRow());
}

void DataSourceModel::moveTo(int row) {
    AdoQuery* q = query();
    // Another cell of the same record: the editing goes on.
    if (!q || !q->active() || row == currentRow())
        return;
    goTo(row);
}

void DataSourceModel::navigate(int row) {
    AdoQuery* q = query();
    if (!q || !q->active() || (row == currentRow() && !pending()))
        return;
    goTo(row);
}

void DataSourceModel::first() {
    navigate(0);
}
void DataSourceModel::prior() {
    navigate(qMax(0, currentRow() - 1));
}
void DataSourceModel::next() {
    navigate(qMin(rowCount() - 1, currentRow() + 1));
}
void DataSourceModel::last() {
    navigate(rowCount() - 1);
}

void DataSourceModel::insert() {
    AdoQuery* q = query();
    if (!q || !q->active())
        return;
    if (pending())
        leaveEditing(currentRow());
    const int pos = qMax(0, currentRow());
    beginInsertRows(QModelIndex(), pos, pos);
    q->insertAt(pos);
    endInsertRows();
    emit currentRowChanged(pos);
}

void DataSourceModel::remove() {
    AdoQuery* q = query();
    if (!q || !q->active())
        return;
    if (q->state() == AdoQuery::State::Insert) {
        const int pos = q->insertPosition();
        beginRemoveRows(QModelIndex(), pos, pos);
        q->cancel();
        endRemoveRows();
        emit currentRowChanged(currentRow());
        return;
    }
    if (q->recordCount() == 0)
        return;
    // Changes typed into the record are dropped; the row as it was read is deleted.
    if (q->state() == AdoQuery::State::Edit) {
        q->cancel();
        emit dataChanged(index(currentRow(), 0), index(currentRow(), columnCount() - 1));
    }
    const int row = currentRow();
    q->deleteRecord(); // raises before anything changes when the store refuses
    beginRemoveRows(QModelIndex(), row, row);
    endRemoveRows();
    emit currentRowChanged(currentRow());
}

void DataSourceModel::edit() {
    AdoQuery* q = query();
    if (!q || !q->active() || pending())
        return;
    if (q->recordCount() == 0) {
        insert();
        return;
    }
    q->edit();
}

void DataSourceModel::post() {
    AdoQuery* q = query();
    if (!pending())
        return;
    const int row = currentRow();
    refuseIncomplete();
    q->post();
    emit dataChanged(index(row, 0), index(row, columnCount() - 1));
    emit currentRowChanged(currentRow());
}

void DataSourceModel::reload() {
    beginResetModel();
    endResetModel();
    emit currentRowChanged(currentRow());
}

// ---------------------------------------------------------------------------------------------
// The window

QString rightListSelect() {
    return adminops::itemListSelect();
}

TfrqxList::TfrqxList(QWidget* parent, LibrarySession& session) : QDialog(parent), m_session(session) {
    setObjectName(QStringLiteral("frqxList"));
    dialogs::makeFixedDialog(this, 516, 348, Ui::tr("权限列表编辑"));
    setWindowIcon(QIcon(dialogs::listIcon()));

    wwDBGrid1 = new dialogs::TDBGrid(this);
    wwDBGrid1->setObjectName(QStringLiteral("wwDBGrid1"));
    wwDBGrid1->setGeometry(8, 8, 500, 289);
    wwDBGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    wwDBGrid1->setSelectionBehavior(QAbstractItemView::SelectItems);
    wwDBGrid1->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                               QAbstractItemView::AnyKeyPressed | QAbstractItemView::SelectedClicked);
    wwDBGrid1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    wwDBGrid1->setCornerButtonEnabled(false);
    QHeaderView* titles = wwDBGrid1->horizontalHeader();
    titles->setSectionsClickable(false);
    titles->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    titles->setHighlightSections(false);
    titles->setStretchLastSection(true); // the name column takes the rest: no empty band at the right
    wwDBGrid1->verticalHeader()->setDefaultSectionSize(20);
    wwDBGrid1->verticalHeader()->setFixedWidth(14); // the record indicator column

    DBNavigator1 = new dialogs::TDBNavigator(this);
    DBNavigator1->setObjectName(QStringLiteral("DBNavigator1"));
    DBNavigator1->setGeometry(8, 304, 248, 33);
    connect(DBNavigator1, &dialogs::TDBNavigator::clicked, this, [this](int b) { DBNavigator1Click(b); });

    SpeedButton1 = dialogs::flatButton(this, "SpeedButton1", Ui::tr("取消(&C)"), 352, 312, 72, 25);
    btnOK = dialogs::flatButton(this, "btnOK", Ui::tr("确定(&O)"), 436, 312, 72, 25);
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });
    connect(btnOK, &QToolButton::clicked, this, [this] { btnOKClick(); });

    m_model = new DataSourceModel(m_session.data().DatasrList, this);
    m_model->requiredColumn = 0; // an item is known by its number
    m_model->onError = [this](const std::exception& e) { reportFailure(e); };
    wwDBGrid1->setModel(m_model);
    connect(wwDBGrid1->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current, const QModelIndex&) {
                if (m_syncing || m_closing || m_acting || !current.isValid())
                    return;
                try {
                    m_model->moveTo(current.row());
                } catch (const std::exception& e) {
                    reportFailure(e);
                }
                syncGridToRecord();
            });
    connect(m_model, &DataSourceModel::currentRowChanged, this, [this](int) { syncGridToRecord(); });
    // Typing into a cell puts its record into editing at once, so the navigator can post it.
    connect(wwDBGrid1, &dialogs::TDBGrid::editorTextEdited, this, [this] {
        if (m_model->pending())
            return;
        try {
            m_model->edit();
        } catch (const std::exception& e) {
            reportFailure(e);
        }
        updateNavigator();
    });
    connect(m_model, &QAbstractItemModel::dataChanged, this, [this] { updateNavigator(); });

    FormCreate();
}

TfrqxList::~TfrqxList() = default;

void TfrqxList::FormCreate() {
    AdoQuery& q = m_session.data().ADOqrList;
    q.close();
    q.clearSql();
    q.addSql(rightListSelect());
    try {
        OpenOrExecute(q);
    } catch (const std::exception& e) {
        dialogs::reportError(e, this); // the editor goes on with an empty list
    }
    m_model->reload();
    if (m_model->columnCount() >= 2) {
        wwDBGrid1->setColumnWidth(0, 64);
        wwDBGrid1->setColumnWidth(1, 190);
    }
}

void TfrqxList::reportFailure(const std::exception& error) {
    if (const auto* input = dynamic_cast<const InputError*>(&error))
        showMessage(input->message(), Ui::tr("错误"), mb::Ok | mb::IconError, this);
    else
        dialogs::reportError(error, this);
}

void TfrqxList::syncGridToRecord(int column) {
    if (m_closing)
        return;
    m_syncing = true;
    const int row = m_model->currentRow();
    const QModelIndex cur = wwDBGrid1->currentIndex();
    if (row >= 0 && column >= 0)
        wwDBGrid1->setCurrentIndex(m_model->index(row, column));
    else if (row >= 0 && (!cur.isValid() || cur.row() != row))
        wwDBGrid1->setCurrentIndex(m_model->index(row, cur.isValid() ? cur.column() : 0));
    m_syncing = false;
    updateNavigator();
}

void TfrqxList::updateNavigator() {
    using N = dialogs::TDBNavigator;
    const int rows = m_model->rowCount();
    const int row = m_model->currentRow();
    const bool pending = m_model->pending();
    DBNavigator1->button(N::First)->setEnabled(rows > 0 && (row > 0 || pending));
    DBNavigator1->button(N::Prior)->setEnabled(rows > 0 && (row > 0 || pending));
    DBNavigator1->button(N::Next)->setEnabled(rows > 0 && (row < rows - 1 || pending));
    DBNavigator1->button(N::Last)->setEnabled(rows > 0 && (row < rows - 1 || pending));
    DBNavigator1->button(N::Insert)->setEnabled(true);
    DBNavigator1->button(N::Delete)->setEnabled(rows > 0);
    DBNavigator1->button(N::Edit)->setEnabled(!pending);
    DBNavigator1->button(N::Post)->setEnabled(pending);
}

void TfrqxList::DBNavigator1Click(int button) {
    using N = dialogs::TDBNavigator;
    if (m_acting)
        return;
    // The navigator acts on what the grid shows: a value still in the cell editor goes into the
    // record first. A deleted record loses what was typed into it, so its editor is dropped.
    if (button == N::Delete) {
        wwDBGrid1->discardEditor();
    } else if (!wwDBGrid1->commitEditor()) {
        syncGridToRecord(); // refused and reported: the record stays in editing
        return;
    }
    m_acting = true;
    try {
        switch (button) {
        case N::First:
            m_model->first();
            break;
        case N::Prior:
            m_model->prior();
            break;
        case N::Next:
            m_model->next();
            break;
        case N::Last:
            m_model->last();
            break;
        case N::Insert:
            m_model->insert();
            break;
        case N::Delete:
            // Deleted at once: the navigator asks nothing.
            m_model->remove();
            break;
        case N::Edit:
            m_model->edit();
            break;
        case N::Post:
            m_model->post();
            break;
        default:
            break;
        }
    } catch (const std::exception& e) {
        m_acting = false;
        reportFailure(e);
    }
    m_acting = false;
    // A new record is always begun at its first column, whichever cell was current before.
    syncGridToRecord(button == N::Insert ? 0 : -1);
}

void TfrqxList::btnOKClick() {
    tag = 1;
    reject();
}

void TfrqxList::SpeedButton1Click() {
    reject();
}

void TfrqxList::FormClose() {
    if (m_closing)
        return;
    m_closing = true;
    // A value still in the grid's editor goes into the record first.
    wwDBGrid1->commitEditor();
    wwDBGrid1->setCurrentIndex(QModelIndex());
    try {
        m_model->post();
    } catch (...) {
        // A pending record that cannot be posted is dropped without a message.
    }
    try {
        m_session.data().ADOqrList.close();
    } catch (...) {
    }
    m_model->reload();
}

void TfrqxList::done(int r) {
    FormClose();
    QDialog::done(r);
}

void TfrqxList::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

// ---------------------------------------------------------------------------------------------

void EditRightList(int useTransaction, LibrarySession& session) {
    TdData& d = session.data();
    // Inside another window's transaction the editor would end, or write into, a transaction
    // it did not begin.
    adminops::refuseInWindowTransaction("EditRightList");
    securestore::refuseOnDesktop(session, "EditRightList");
    dialogs::requireDisplay();
    TfrqxList window(nullptr, session);
    const bool transaction = useTransaction == 1;
    const QString message = adminops::visitInTransaction(
        d.ADOcn, transaction,
        [&] {
            if (!transaction) {
                window.SpeedButton1->hide();
                window.btnOK->setText(Ui::tr("关闭(&C)"));
            }
        },
        [&] {
            adminops::beforeItemEdit(d);
            dialogs::centreOnScreen(&window);
            window.exec();
            adminops::afterItemEdit(d);
            return window.tag;
        });
    if (!message.isEmpty())
        showMessage(message, Ui::tr("出错"), mb::Ok);
}

} // namespace vardex
