#include "admin/auditlogwindow.h"

#include "admin/adminshared.h"
#include "dialogs/dlgcommon.h"
#include "library/csv.h"
#include "library/dmain.h"
#include "library/securestore.h"
#include "library/uitext.h"
#include "platform/errors.h"
#include "platform/msgservice.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QPushButton>
#include <QSaveFile>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include <memory>

namespace vardex {

namespace {

// The time the filters wait after the last key before they read the store again: long enough
// that a word typed at speed is read once, short enough to feel immediate.
constexpr int kTypingPauseMs = 80;

} // namespace

// ---------------------------------------------------------------------------------------------
// Reading the store

struct AuditLogModel::Reader {
    Reader(AdoConnection& connection, const audit::Filter& f) : cn(connection), filter(f) {}
    // The next page, newest first; after the last one atEnd is set.
    QVector<audit::Row> next(int rows) {
        audit::Page page = audit::newestFirst(cn, filter, cursor, rows);
        cursor = page.next;
        atEnd = !page.more;
        return std::move(page.rows);
    }
    AdoConnection& cn;
    audit::Filter filter;
    audit::Cursor cursor;
    bool atEnd = false;
};

namespace {

QDate dayOf(const QString& text) {
    return QDate::fromString(text.left(10), admin::dateFormat());
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The model

AuditLogModel::AuditLogModel(LibrarySession& session, QObject* parent)
    : QAbstractTableModel(parent), m_session(session) {}

AuditLogModel::~AuditLogModel() = default;

void AuditLogModel::setFilter(const audit::Filter& filter) {
    beginResetModel();
    m_filter = filter;
    m_rows.clear();
    m_reader = std::make_unique<Reader>(m_session.data().ADOcn, filter);
    m_rows = m_reader->next(kPageRows);
    endResetModel();
}

int AuditLogModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int AuditLogModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant AuditLogModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const audit::Row& r = m_rows.at(index.row());
    if (role == Qt::DisplayRole) {
        switch (index.column()) {
        case Time:
            return r.time;
        case User:
            return r.user;
        case Computer:
            return r.computer;
        case Event:
            return audit::shownText(r.text); // in the window's language
        default:
            return {};
        }
    }
    // The stored text stays at hand where the shown one is a translation of it.
    if (role == Qt::ToolTipRole && index.column() == Event)
        return r.text;
    return {};
}

QVariant AuditLogModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case Time:
        return Ui::tr("时间");
    case User:
        return Ui::tr("用户");
    case Computer:
        return Ui::tr("计算机");
    case Event:
        return Ui::tr("事件");
    default:
        return {};
    }
}

bool AuditLogModel::canFetchMore(const QModelIndex& parent) const {
    return !parent.isValid() && m_reader && !m_reader->atEnd;
}

void AuditLogModel::fetchMore(const QModelIndex& parent) {
    if (!canFetchMore(parent))
        return;
    const QVector<audit::Row> more = m_reader->next(kPageRows);
    if (more.isEmpty())
        return;
    beginInsertRows(QModelIndex(), static_cast<int>(m_rows.size()),
                    static_cast<int>(m_rows.size() + more.size() - 1));
    m_rows += more;
    endInsertRows();
}

// ---------------------------------------------------------------------------------------------
// The window

TfrAuditLog::TfrAuditLog(QWidget* parent, LibrarySession& session)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint),
      m_session(session) {
    setObjectName(QStringLiteral("frAuditLog"));
    setWindowTitle(Ui::tr("审计日志"));
    setFont(admin::windowFont());
    resize(760, 560);

    chartView = new QChartView(this);
    chartView->setObjectName(QStringLiteral("chartView"));
    chartView->setRenderHint(QPainter::Antialiasing);
    chartView->setMinimumHeight(190);
    chartView->setMaximumHeight(230);

    auto* filters = new QGridLayout;
    auto addLabel = [&](const QString& text, QWidget* buddy, int row, int column) {
        auto* l = new QLabel(text, this);
        l->setBuddy(buddy);
        filters->addWidget(l, row, column);
    };
    auto makeEdit = [&](const char* name) {
        auto* e = new QLineEdit(this);
        e->setObjectName(QString::fromLatin1(name));
        e->setClearButtonEnabled(true);
        return e;
    };
    edUser = makeEdit("edUser");
    edComputer = makeEdit("edComputer");
    edText = makeEdit("edText");
    addLabel(Ui::tr("用户(&U):"), edUser, 0, 0);
    filters->addWidget(edUser, 0, 1);
    addLabel(Ui::tr("计算机(&M):"), edComputer, 0, 2);
    filters->addWidget(edComputer, 0, 3);
    addLabel(Ui::tr("内容(&T):"), edText, 0, 4);
    filters->addWidget(edText, 0, 5);

    chkRange = new QCheckBox(Ui::tr("日期从(&D):"), this);
    chkRange->setObjectName(QStringLiteral("chkRange"));
    auto makeDate = [&](const char* name, const QDate& date) {
        auto* d = new QDateEdit(date, this);
        d->setObjectName(QString::fromLatin1(name));
        d->setDisplayFormat(admin::dateFormat());
        d->setCalendarPopup(true);
        d->setEnabled(false);
        dialogs::selectSectionOnClick(d);
        return d;
    };
    const QDate today = QDate::currentDate();
    dtFrom = makeDate("dtFrom", today.addDays(-29));
    dtTo = makeDate("dtTo", today);
    filters->addWidget(chkRange, 1, 0);
    filters->addWidget(dtFrom, 1, 1);
    addLabel(Ui::tr("到:"), dtTo, 1, 2);
    filters->addWidget(dtTo, 1, 3);
    filters->setColumnStretch(1, 1);
    filters->setColumnStretch(3, 1);
    filters->setColumnStretch(5, 2);

    model = new AuditLogModel(m_session, this);
    grid = new QTableView(this);
    grid->setObjectName(QStringLiteral("grid"));
    grid->setModel(model);
    grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setAlternatingRowColors(true);
    grid->setWordWrap(false);
    grid->verticalHeader()->hide();
    grid->verticalHeader()->setDefaultSectionSize(20);
    QHeaderView* header = grid->horizontalHeader();
    header->setStretchLastSection(true);
    const QFontMetrics fm(font());
    header->resizeSection(AuditLogModel::Time,
                          fm.horizontalAdvance(QStringLiteral("0000-00-00 00:00:00")) + 16);
    header->resizeSection(AuditLogModel::User, 120);
    header->resizeSection(AuditLogModel::Computer, 140);

    labCount = new QLabel(this);
    labCount->setObjectName(QStringLiteral("labCount"));
    btnExport = new QPushButton(Ui::tr("导出CSV(&E)..."), this);
    btnExport->setObjectName(QStringLiteral("btnExport"));
    btnExport->setAutoDefault(false);
    btnClose = new QPushButton(Ui::tr("关闭(&C)"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(labCount, 1);
    buttons->addWidget(btnExport);
    buttons->addWidget(btnClose);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(chartView);
    layout->addLayout(filters);
    layout->addWidget(grid, 1);
    layout->addLayout(buttons);

    m_tallyTimer = new QTimer(this);
    m_tallyTimer->setSingleShot(true);
    m_tallyTimer->setInterval(0);
    connect(m_tallyTimer, &QTimer::timeout, this, &TfrAuditLog::tallyStep);
    m_filterTimer = new QTimer(this);
    m_filterTimer->setSingleShot(true);
    m_filterTimer->setInterval(kTypingPauseMs);
    connect(m_filterTimer, &QTimer::timeout, this, &TfrAuditLog::applyFilter);
    for (QLineEdit* e : {edUser, edComputer, edText})
        connect(e, &QLineEdit::textChanged, this, &TfrAuditLog::filterEdited);
    for (QDateEdit* d : {dtFrom, dtTo})
        connect(d, &QDateEdit::dateChanged, this, &TfrAuditLog::filterEdited);
    connect(chkRange, &QCheckBox::toggled, this, [this](bool on) {
        dtFrom->setEnabled(on);
        dtTo->setEnabled(on);
        filterEdited();
    });
    connect(btnExport, &QPushButton::clicked, this, &TfrAuditLog::btnExportClick);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);
    // Enter in a filter box applies it at once instead of closing the window.
    for (QLineEdit* e : {edUser, edComputer, edText})
        connect(e, &QLineEdit::returnPressed, this, [this] {
            if (m_filterTimer->isActive()) {
                m_filterTimer->stop();
                applyFilter();
            }
        });

    applyFilter();
}

TfrAuditLog::~TfrAuditLog() = default;

audit::Filter TfrAuditLog::currentFilter() const {
    audit::Filter f;
    f.user = edUser->text().trimmed();
    f.computer = edComputer->text().trimmed();
    f.text = edText->text().trimmed();
    if (chkRange->isChecked()) {
        // A bare day: from its first second, and to its last.
        f.since = dtFrom->date().toString(admin::dateFormat());
        f.until = dtTo->date().toString(admin::dateFormat());
    }
    return f;
}

void TfrAuditLog::filterEdited() {
    m_filterTimer->start();
}

// The count and the per-day figures of a filter, summed over slices of days read from the
// newest day back to the oldest. Each slice is one range of the time index; its width follows
// how long the last one took, so a slice keeps the window busy for about kStepMs.
struct TfrAuditLog::Tally {
    audit::Filter filter;
    QDate oldest;  // the first day to read
    QDate newest;  // the last day to read
    QDate next;    // the last day of the next slice
    int width = 7; // days in the next slice
    int lastWidth = 0;
    qint64 lastMs = 0;
    qint64 fixedMs = 0; // the cost of a slice whatever its width, once found
    qint64 rows = 0;
    QMap<QDate, audit::Day> days;
};

namespace {

constexpr qint64 kStepMs = 40;

} // namespace

void TfrAuditLog::applyFilter() {
    m_filterTimer->stop();
    m_tallyTimer->stop();
    m_tally.reset();
    m_longestStepMs = 0;
    const audit::Filter f = currentFilter();
    try {
        QElapsedTimer clock;
        clock.start();
        model->setFilter(f);
        auto t = std::make_unique<Tally>();
        t->filter = f;
        // The newest day is the first row's; the oldest, the filter's first day or the log's.
        const QDate from = dayOf(f.since);
        t->newest = model->rowCount() > 0 ? dayOf(model->row(0).time) : QDate();
        if (t->newest.isValid()) {
            audit::Filter dated;
            dated.since = QStringLiteral("0"); // every row with a time, the oldest first
            const audit::Page first =
                audit::read(m_session.data().ADOcn, dated, audit::Cursor(), 1, audit::Order::OldestFirst);
            t->oldest = first.rows.isEmpty() ? t->newest : dayOf(first.rows.first().time);
            if (from.isValid() && from > t->oldest)
                t->oldest = from;
            if (!t->oldest.isValid() || t->oldest > t->newest)
                t->oldest = t->newest;
        }
        t->next = t->newest;
        labCount->setText(Ui::tr("正在统计..."));
        m_tally = std::move(t);
        m_longestStepMs = clock.elapsed();
    } catch (const std::exception& e) {
        admin::reportError(e, this);
        return;
    }
    m_tallyTimer->start();
}

bool TfrAuditLog::tallying() const {
    return m_tally != nullptr;
}

void TfrAuditLog::tallyStep() {
    Tally& t = *m_tally;
    if (!t.next.isValid() || t.next < t.oldest) {
        finishTally();
        return;
    }
    QElapsedTimer clock;
    clock.start();
    const QDate from = std::max(t.oldest, t.next.addDays(1 - t.width));
    audit::Filter slice = t.filter;
    slice.since = from.toString(admin::dateFormat());
    slice.until = t.next.toString(admin::dateFormat()); // a bare day: the whole of it
    try {
        // One reading gives both the chart's figures and the count: each day's rows of any event.
        for (const audit::Day& d : audit::perDay(m_session.data().ADOcn, slice)) {
            t.rows += d.rows;
            t.days.insert(d.day, d);
        }
    } catch (const std::exception& e) {
        m_tally.reset();
        labCount->clear();
        admin::reportError(e, this);
        return;
    }
    const qint64 took = clock.elapsed();
    m_longestStepMs = std::max(m_longestStepMs, took);
    t.next = from.addDays(-1);
    // A slice half as wide that costs nearly as much as the one before shows a cost the width
    // does not change (the store answers the filter from another index than the time's, and
    // walks it whole for every slice): from then on the slices only grow, while they cost
    // less than twice that, so that it is paid for as few slices as possible.
    if (t.fixedMs == 0 && t.width < t.lastWidth && took * 10 > t.lastMs * 9)
        t.fixedMs = std::max<qint64>(took, 1);
    t.lastWidth = t.width;
    t.lastMs = took;
    if (t.fixedMs > 0) {
        if (took < 2 * t.fixedMs)
            t.width = std::min(t.width * 2, 4096);
    } else if (took < kStepMs / 2) {
        t.width = std::min(t.width * 2, 4096);
    } else if (took > kStepMs) {
        t.width = std::max(t.width / 2, 1);
    }
    labCount->setText(Ui::tr("正在统计... %1 条记录").arg(t.rows));
    m_tallyTimer->start();
}

void TfrAuditLog::finishTally() {
    const Tally& t = *m_tally;
    labCount->setText(t.rows == 1 ? Ui::tr("1 条记录") : Ui::tr("%1 条记录").arg(t.rows));
    QDate first = dayOf(t.filter.since);
    QDate last = dayOf(t.filter.until);
    const QVector<audit::Day> days(t.days.begin(), t.days.end());
    if (!first.isValid())
        first = days.isEmpty() ? t.oldest : days.first().day;
    if (!last.isValid())
        last = days.isEmpty() ? t.newest : days.last().day;
    drawChart(days, first, last);
    m_tally.reset();
    if (onApplied)
        onApplied();
}

void TfrAuditLog::drawChart(const QVector<audit::Day>& days, QDate first, QDate last) {
    auto* chart = new QChart;
    chart->setMargins(QMargins(4, 4, 4, 4));
    chart->legend()->setAlignment(Qt::AlignRight);
    chart->legend()->setFont(font());
    struct Line {
        const char* name;
        int audit::Day::*count;
        QColor color;
    };
    const Line lines[] = {
        {QT_TRANSLATE_NOOP("Ui", "登录"), &audit::Day::logins, QColor(0x2e, 0x7d, 0x32)},
        {QT_TRANSLATE_NOOP("Ui", "登录失败"), &audit::Day::failures, QColor(0xc6, 0x28, 0x28)},
        {QT_TRANSLATE_NOOP("Ui", "使用权限"), &audit::Day::rightsUsed, QColor(0x15, 0x65, 0xc0)},
    };
    // A day without rows is drawn as zero, so that a quiet day shows as one.
    if (!first.isValid() || !last.isValid() || first > last)
        first = last = QDate::currentDate();
    int top = 0;
    for (const Line& line : lines) {
        auto* series = new QLineSeries;
        series->setName(Ui::tr(line.name));
        series->setColor(line.color);
        series->setPointsVisible(first.daysTo(last) <= 62);
        int next = 0;
        for (QDate d = first; d <= last; d = d.addDays(1)) {
            while (next < days.size() && days[next].day < d)
                ++next;
            const int n = next < days.size() && days[next].day == d ? days[next].*line.count : 0;
            top = std::max(top, n);
            series->append(static_cast<qreal>(d.startOfDay().toMSecsSinceEpoch()), n);
        }
        chart->addSeries(series);
    }
    // Ticks fall on whole days: the axis runs on past the last day as far as it takes for the
    // days to share out evenly between up to eight ticks.
    const qint64 span = std::max<qint64>(first.daysTo(last), 1);
    qint64 steps = std::min<qint64>(span, 7);
    qint64 extra = 0;
    if (span > 7) {
        extra = span;
        for (qint64 k = 7; k >= 4; --k) {
            const qint64 e = (k - span % k) % k;
            if (e < extra) {
                extra = e;
                steps = k;
            }
        }
    }
    auto* x = new QDateTimeAxis;
    x->setFormat(first.year() == last.year() ? QStringLiteral("MM-dd") : QStringLiteral("yyyy-MM-dd"));
    x->setRange(first.startOfDay(), first.addDays(span + extra).startOfDay());
    x->setTickCount(static_cast<int>(steps) + 1);
    x->setLabelsFont(font());
    // Whole numbers on four equal steps.
    auto* y = new QValueAxis;
    y->setRange(0, std::max((top + 3) / 4 * 4, 4));
    y->setLabelFormat(QStringLiteral("%d"));
    y->setTickCount(5);
    y->setLabelsFont(font());
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    for (QAbstractSeries* s : chart->series()) {
        s->attachAxis(x);
        s->attachAxis(y);
    }
    QChart* old = chartView->chart();
    chartView->setChart(chart);
    delete old;
}

void TfrAuditLog::btnExportClick() {
    QFileDialog dlg(this, Ui::tr("导出LOG记录"));
    dlg.setObjectName(QStringLiteral("dlgExport"));
    dlg.setOption(QFileDialog::DontUseNativeDialog);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setFileMode(QFileDialog::AnyFile);
    dlg.setNameFilter(Ui::tr("CSV 文件 (*.csv)"));
    dlg.setDefaultSuffix(QStringLiteral("csv"));
    dlg.selectFile(QStringLiteral("auditlog-%1.csv").arg(QDate::currentDate().toString(Qt::ISODate)));
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return;
    exportTo(dlg.selectedFiles().first());
}

bool TfrAuditLog::exportTo(const QString& path) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        showMessage(Ui::tr("无法写入文件 %1: %2").arg(path, file.errorString()), Ui::tr("错误"),
                    mb::Ok | mb::IconWarning, this);
        return false;
    }
    qint64 rows = 0;
    try {
        file.write("computer,user,time,text");
        // Streamed page by page: the whole filtered log never sits in memory at once.
        QByteArray chunk;
        rows = audit::forEach(m_session.data().ADOcn, model->filter(), audit::Order::NewestFirst,
                              [&](const audit::Row& r) {
                                  chunk += "\r\n";
                                  chunk += QStringList{csvQuoted(r.computer), csvQuoted(r.user),
                                                       csvQuoted(r.time), csvQuoted(r.text)}
                                               .join(QLatin1Char(','))
                                               .toUtf8();
                                  if (chunk.size() > (1 << 16)) {
                                      file.write(chunk);
                                      chunk.clear();
                                  }
                                  return true;
                              });
        file.write(chunk);
    } catch (const std::exception& e) {
        file.cancelWriting();
        admin::reportError(e, this);
        return false;
    }
    if (!file.commit()) {
        showMessage(Ui::tr("无法写入文件 %1: %2").arg(path, file.errorString()), Ui::tr("错误"),
                    mb::Ok | mb::IconWarning, this);
        return false;
    }
    showMessage(Ui::tr("已导出 %1 条记录到 %2.").arg(rows).arg(path), Ui::tr("导出LOG记录"), mb::Ok, this);
    return true;
}

int ShowAuditLog(QWidget* owner, LibrarySession& session) {
    securestore::refuseOnDesktop(session, "VardexShowAuditLog");
    session.data(); // a session must be open
    TfrAuditLog window(owner, session);
    window.exec();
    return 0;
}

} // namespace vardex
