#include "host/datalink.h"

#include "library/uitext.h"
#include "platform/adodb.h"
#include "platform/connstr.h"
#include "platform/msgservice.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace vardex::host {

namespace {

using Pairs = QList<QPair<QString, QString>>;

bool isOneOf(const QString& v, std::initializer_list<const char*> names) {
    for (const char* n : names)
        if (v.compare(QLatin1String(n), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

QLineEdit* makeEdit(QWidget* parent, const char* name) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(QLatin1String(name));
    return e;
}

QString withoutTrailingSemicolons(QString s) {
    s = s.trimmed();
    while (s.endsWith(QLatin1Char(';')))
        s.chop(1);
    return s;
}

bool isPasswordKey(const QString& key) {
    return isOneOf(key.trimmed(), {"Password", "PWD"});
}

// The choices of a PostgreSQL key, the first one empty (the key is not written).
QComboBox* makeChoice(QWidget* parent, const char* name, std::initializer_list<const char*> values) {
    auto* c = new QComboBox(parent);
    c->setObjectName(QLatin1String(name));
    c->addItem(QString());
    for (const char* v : values)
        c->addItem(QLatin1String(v));
    return c;
}

// Selects the choice equal to value (case-insensitively); false when there is none.
bool choose(QComboBox* c, const QString& value) {
    const int i = c->findText(value.trimmed(), Qt::MatchFixedString);
    if (i <= 0)
        return false;
    c->setCurrentIndex(i);
    return true;
}

// A comma-separated list with the blanks around its items removed.
QString tidyList(const QString& text) {
    QStringList items = text.split(QLatin1Char(','));
    for (QString& item : items)
        item = item.trimmed();
    return items.join(QLatin1Char(','));
}

const char* const kSslMode = "SSL Mode";
const char* const kTargetAttrs = "Target Session Attrs";

} // namespace

QString displayedConnectionString(const QString& text) {
    Pairs pairs = ConnectionString::parse(text);
    bool masked = false;
    for (auto& p : pairs)
        if (isPasswordKey(p.first) && !p.second.isEmpty()) {
            p.second = QStringLiteral("********");
            masked = true;
        }
    return masked ? withoutTrailingSemicolons(ConnectionString::compose(pairs)) : text;
}

TfrDataLink::TfrDataLink(QWidget* owner) : QDialog(owner) {
    setObjectName(QStringLiteral("frDataLink"));
    setWindowTitle(Ui::tr("获取连接参数"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    cbKind = new QComboBox(this);
    cbKind->setObjectName(QStringLiteral("cbKind"));
    cbKind->addItems({Ui::tr("SQLite 数据库文件"), Ui::tr("PostgreSQL 服务器"),
                      QStringLiteral("SQL Server (ODBC)"), Ui::tr("ODBC 连接字符串")});

    edFile = makeEdit(this, "edFile");
    btnBrowse = new QPushButton(Ui::tr("浏览..."), this);
    btnBrowse->setObjectName(QStringLiteral("btnBrowse"));
    auto* fileRow = new QWidget(this);
    fileRow->setObjectName(QStringLiteral("fileRow"));
    auto* fileLayout = new QHBoxLayout(fileRow);
    fileLayout->setContentsMargins(0, 0, 0, 0);
    fileLayout->addWidget(edFile, 1);
    fileLayout->addWidget(btnBrowse);

    edHost = makeEdit(this, "edHost");
    edPort = makeEdit(this, "edPort");
    edDatabase = makeEdit(this, "edDatabase");
    edDriver = makeEdit(this, "edDriver");
    edDriver->setPlaceholderText(QStringLiteral("{FreeTDS}"));
    edOdbc = makeEdit(this, "edOdbc");
    edOdbc->setPlaceholderText(Ui::tr("Driver={...};Server=...;Database=... 或 DSN=..."));
    edUser = makeEdit(this, "edUser");
    edPassword = makeEdit(this, "edPassword");
    edPassword->setEchoMode(QLineEdit::Password);
    edHost->setToolTip(Ui::tr("几个服务器用逗号分开: pg1,pg2 或 pg1:5432,pg2:5433"));
    edPort->setToolTip(Ui::tr("几个服务器时: 每个服务器一个端口 (5432,5433), 或一个端口给所有服务器"));
    cbSslMode =
        makeChoice(this, "cbSslMode", {"disable", "allow", "prefer", "require", "verify-ca", "verify-full"});
    cbTargetAttrs =
        makeChoice(this, "cbTargetAttrs", {"read-write", "primary", "any", "standby", "prefer-standby"});

    auto* grid = new QGridLayout;
    int row = 0;
    auto add = [&](const QString& caption, QWidget* field) {
        auto* label = new QLabel(caption, this);
        label->setBuddy(field == fileRow ? static_cast<QWidget*>(edFile) : field);
        grid->addWidget(label, row, 0);
        grid->addWidget(field, row, 1);
        m_rows.append({field == fileRow ? static_cast<QWidget*>(edFile) : field, {label, field}});
        ++row;
    };
    add(Ui::tr("数据库类型:"), cbKind);
    add(Ui::tr("数据库文件:"), fileRow);
    add(Ui::tr("服务器:"), edHost);
    add(Ui::tr("端口:"), edPort);
    add(Ui::tr("数据库:"), edDatabase);
    add(Ui::tr("ODBC驱动:"), edDriver);
    add(Ui::tr("连接字符串:"), edOdbc);
    add(Ui::tr("用户ID:"), edUser);
    add(Ui::tr("密码:"), edPassword);
    add(Ui::tr("SSL 模式:"), cbSslMode);
    add(Ui::tr("目标会话:"), cbTargetAttrs);
    grid->setColumnStretch(1, 1);

    btnTest = new QPushButton(Ui::tr("测试连接"), this);
    btnTest->setObjectName(QStringLiteral("btnTest"));
    btnOK = new QPushButton(Ui::tr("确定"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setDefault(true);
    btnCancel = new QPushButton(Ui::tr("取消"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    // A caption longer than the Chinese one keeps room around it, as the Chinese one has.
    for (QPushButton* b : {btnTest, btnOK, btnCancel})
        b->setMinimumWidth(
            std::max(b->sizeHint().width(), b->fontMetrics().horizontalAdvance(b->text()) + 24));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnTest);
    buttons->addStretch(1);
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);

    auto* top = new QVBoxLayout(this);
    top->addLayout(grid);
    top->addStretch(1);
    top->addLayout(buttons);
    setMinimumWidth(460);

    connect(cbKind, qOverload<int>(&QComboBox::currentIndexChanged), this, [this] { cbKindChange(); });
    connect(btnBrowse, &QPushButton::clicked, this, [this] { btnBrowseClick(); });
    connect(btnTest, &QPushButton::clicked, this, [this] { btnTestClick(); });
    connect(btnOK, &QPushButton::clicked, this, [this] { btnOKClick(); });
    connect(btnCancel, &QPushButton::clicked, this, [this] { btnCancelClick(); });
    cbKindChange();
}

TfrDataLink::Kind TfrDataLink::kind() const {
    return static_cast<Kind>(cbKind->currentIndex());
}

void TfrDataLink::showRow(QWidget* field, bool on) {
    for (const auto& r : m_rows)
        if (r.first == field) {
            r.second.first->setVisible(on);
            r.second.second->setVisible(on);
        }
}

void TfrDataLink::cbKindChange() {
    const Kind k = kind();
    showRow(edFile, k == KindSQLite);
    showRow(edHost, k == KindPostgreSQL || k == KindSqlServer);
    showRow(edPort, k == KindPostgreSQL || k == KindSqlServer);
    showRow(edDatabase, k == KindPostgreSQL || k == KindSqlServer);
    showRow(edDriver, k == KindSqlServer);
    showRow(edOdbc, k == KindOdbc);
    showRow(edUser, k != KindSQLite);
    showRow(edPassword, k != KindSQLite);
    showRow(cbSslMode, k == KindPostgreSQL);
    showRow(cbTargetAttrs, k == KindPostgreSQL);
    if (k == KindPostgreSQL)
        edPort->setPlaceholderText(QStringLiteral("5432"));
    else if (k == KindSqlServer)
        edPort->setPlaceholderText(QStringLiteral("1433"));
}

void TfrDataLink::loadConnectionString(const QString& text) {
    m_extra.clear();
    m_loadedKind = -1;
    for (QLineEdit* e : {edFile, edHost, edPort, edDatabase, edDriver, edOdbc, edUser, edPassword})
        e->clear();
    cbSslMode->setCurrentIndex(0);
    cbTargetAttrs->setCurrentIndex(0);
    const Pairs pairs = ConnectionString::parse(text);
    const QString provider = ConnectionString::value(pairs, {"Provider"});
    const auto take = [&](std::initializer_list<const char*> keys) {
        return ConnectionString::value(pairs, keys);
    };
    // Keys a field shows for each kind; the rest are carried over untouched.
    QStringList shown;
    int k = -1;
    if (isOneOf(provider, {"SQLite", "SQLite3"})) {
        k = KindSQLite;
        edFile->setText(take({"Data Source", "Database", "File"}));
        shown = QStringList{"Provider", "Data Source", "Database", "File"};
    } else if (isOneOf(provider, {"PostgreSQL", "PgSQL", "Postgres", "Npgsql"})) {
        k = KindPostgreSQL;
        edHost->setText(take({"Host", "Server", "Data Source"}));
        edPort->setText(take({"Port"}));
        edDatabase->setText(take({"Database", "Initial Catalog", "dbname"}));
        shown = QStringList{
            "Provider", "Host",    "Server", "Data Source", "Port",     "Database", "Initial Catalog",
            "dbname",   "User ID", "UID",    "User",        "Password", "PWD"};
        // A value the choices do not hold stays in the string as it was.
        if (choose(cbSslMode, take({kSslMode, "sslmode"})))
            shown << QLatin1String(kSslMode) << QStringLiteral("sslmode");
        if (choose(cbTargetAttrs, take({kTargetAttrs, "target_session_attrs"})))
            shown << QLatin1String(kTargetAttrs) << QStringLiteral("target_session_attrs");
    } else if (provider.startsWith(QLatin1String("SQLOLEDB"), Qt::CaseInsensitive) ||
               provider.startsWith(QLatin1String("SQLNCLI"), Qt::CaseInsensitive) ||
               provider.startsWith(QLatin1String("MSOLEDBSQL"), Qt::CaseInsensitive) ||
               isOneOf(provider, {"SQLServer", "MSSQL"})) {
        k = KindSqlServer;
        edHost->setText(take({"Data Source", "Server"}));
        edPort->setText(take({"Port"}));
        edDatabase->setText(take({"Initial Catalog", "Database"}));
        edDriver->setText(take({"Driver"}));
        shown = QStringList{"Provider", "Data Source", "Server", "Port", "Initial Catalog", "Database",
                            "Driver",   "User ID",     "UID",    "User", "Password",        "PWD"};
    } else if (isOneOf(provider, {"ODBC", "MSDASQL", "MSDASQL.1"}) ||
               (provider.isEmpty() && (!take({"Driver"}).isEmpty() || !take({"DSN"}).isEmpty()))) {
        k = KindOdbc;
        Pairs rest;
        for (const auto& p : pairs)
            if (!isOneOf(p.first, {"Provider", "User ID", "UID", "User", "Password", "PWD"}))
                rest.append(p);
        edOdbc->setText(withoutTrailingSemicolons(ConnectionString::compose(rest)));
        shown = QStringList{"Provider", "User ID", "UID", "User", "Password", "PWD"};
    }
    if (k < 0) {
        cbKind->setCurrentIndex(KindSQLite);
        cbKindChange();
        return; // nothing understood: the dialog opens empty
    }
    if (k != KindSQLite) {
        edUser->setText(take({"User ID", "UID", "User"}));
        edPassword->setText(take({"Password", "PWD"}));
    }
    if (k != KindOdbc)
        for (const auto& p : pairs) {
            bool known = false;
            for (const QString& s : shown)
                known = known || p.first.compare(s, Qt::CaseInsensitive) == 0;
            if (!known)
                m_extra.append(p);
        }
    m_loadedKind = k;
    cbKind->setCurrentIndex(k);
    cbKindChange();
}

QString TfrDataLink::connectionString() const {
    Pairs pairs;
    const auto addIf = [&pairs](const char* key, const QString& value) {
        const QString v = value.trimmed();
        if (!v.isEmpty())
            pairs.append({QLatin1String(key), v});
    };
    const Kind k = kind();
    QString odbcText;
    switch (k) {
    case KindSQLite:
        pairs.append({QStringLiteral("Provider"), QStringLiteral("SQLite")});
        pairs.append({QStringLiteral("Data Source"), edFile->text().trimmed()});
        break;
    case KindPostgreSQL:
        pairs.append({QStringLiteral("Provider"), QStringLiteral("PostgreSQL")});
        addIf("Host", tidyList(edHost->text()));
        addIf("Port", tidyList(edPort->text()));
        addIf("Database", edDatabase->text());
        break;
    case KindSqlServer:
        pairs.append({QStringLiteral("Provider"), QStringLiteral("SQLOLEDB")});
        addIf("Data Source", edHost->text());
        addIf("Port", edPort->text());
        addIf("Initial Catalog", edDatabase->text());
        addIf("Driver", edDriver->text());
        break;
    case KindOdbc:
        pairs.append({QStringLiteral("Provider"), QStringLiteral("ODBC")});
        odbcText = withoutTrailingSemicolons(edOdbc->text());
        break;
    }
    if (k == m_loadedKind)
        for (const auto& p : m_extra) {
            // A choice made in the dialog replaces a value it did not know.
            const bool chosen =
                k == KindPostgreSQL &&
                ((!cbSslMode->currentText().isEmpty() && isOneOf(p.first.trimmed(), {kSslMode, "sslmode"})) ||
                 (!cbTargetAttrs->currentText().isEmpty() &&
                  isOneOf(p.first.trimmed(), {kTargetAttrs, "target_session_attrs"})));
            if (!chosen)
                pairs.append(p);
        }
    if (k == KindPostgreSQL) {
        addIf(kSslMode, cbSslMode->currentText());
        addIf(kTargetAttrs, cbTargetAttrs->currentText());
    }
    Pairs credentials;
    if (k != KindSQLite) {
        const QString user = edUser->text().trimmed();
        if (!user.isEmpty())
            credentials.append({QStringLiteral("User ID"), user});
        if (!edPassword->text().isEmpty())
            credentials.append({QStringLiteral("Password"), edPassword->text()});
    }
    QString text = ConnectionString::compose(pairs);
    if (!odbcText.isEmpty())
        text += odbcText + QLatin1Char(';');
    text += ConnectionString::compose(credentials);
    return withoutTrailingSemicolons(text);
}

void TfrDataLink::btnBrowseClick() {
    QFileDialog chooser(this, Ui::tr("选择 SQLite 数据库文件"));
    chooser.setObjectName(QStringLiteral("fileChooser"));
    chooser.setOption(QFileDialog::DontUseNativeDialog, true);
    chooser.setFileMode(QFileDialog::AnyFile); // a new file becomes a new store
    chooser.setAcceptMode(QFileDialog::AcceptOpen);
    chooser.setNameFilters({Ui::tr("SQLite 数据库 (*.db *.sqlite *.sqlite3)"), Ui::tr("所有文件 (*)")});
    if (!edFile->text().trimmed().isEmpty())
        chooser.selectFile(edFile->text().trimmed());
    if (chooser.exec() == QDialog::Accepted && !chooser.selectedFiles().isEmpty())
        edFile->setText(chooser.selectedFiles().first());
}

void TfrDataLink::btnTestClick() {
    if (!hostsAgree())
        return;
    const QString text = connectionString();
    QString error;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    try {
        AdoConnection probe;
        probe.setConnectionString(text);
        probe.open();
        probe.close();
    } catch (const std::exception& e) {
        const auto* ve = dynamic_cast<const Error*>(&e);
        error = ve ? ve->message() : QString::fromLocal8Bit(e.what());
        if (error.isEmpty())
            error = QStringLiteral("?");
    }
    QApplication::restoreOverrideCursor();
    if (error.isEmpty())
        showMessage(Ui::tr("测试连接成功."), Ui::tr("测试连接"), mb::Ok | mb::IconInformation, this);
    else
        showMessage(Ui::tr("测试连接失败: ") + error, Ui::tr("测试连接"), mb::Ok | mb::IconWarning, this);
}

bool TfrDataLink::hostsAgree() {
    if (kind() != KindPostgreSQL)
        return true;
    const QString hostText = tidyList(edHost->text()), portText = tidyList(edPort->text());
    if (hostText.isEmpty() || portText.isEmpty())
        return true;
    const QStringList hosts = hostText.split(QLatin1Char(','));
    const int ports = static_cast<int>(portText.count(QLatin1Char(','))) + 1;
    bool withPort = false;
    for (const QString& h : hosts)
        // host:port, but not a bare IPv6 address ([::1]:5432 is one with a port).
        withPort = withPort || (h.count(QLatin1Char(':')) == 1 || h.contains(QLatin1String("]:")));
    QString fault;
    if (withPort)
        fault = Ui::tr("服务器已带端口 (服务器:端口) 时, 端口框应为空.");
    else if (ports != 1 && ports != hosts.size())
        fault = Ui::tr("端口的个数 (%1) 与服务器的个数 (%2) 不一致.").arg(ports).arg(hosts.size());
    if (fault.isEmpty())
        return true;
    showMessage(fault, Ui::tr("获取连接参数"), mb::Ok | mb::IconWarning, this);
    edPort->setFocus();
    return false;
}

void TfrDataLink::btnOKClick() {
    if (hostsAgree())
        accept();
}

void TfrDataLink::btnCancelClick() {
    reject();
}

bool TfrDataLink::execute(QWidget* owner, QString& text) {
    TfrDataLink dialog(owner);
    if (!text.isEmpty())
        dialog.loadConnectionString(text);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    text = dialog.connectionString();
    return true;
}

} // namespace vardex::host
