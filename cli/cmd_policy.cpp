// The store's password policy: policy show and set, passwords upgrade (every remaining cipher
// text re-written as a hash) and user unlock.
#include "cli/admincommon.h"

#include "library/cipher.h"
#include "library/dmain.h"
#include "library/passwordpolicy.h"
#include "library/securestore.h"
#include "platform/passwordhash.h"

#include <QScopeGuard>
#include <algorithm>

namespace vardex::cli {

namespace {

// The policy verbs run on a connection of their own, not the library's session: a policy that
// the session would refuse to read can still be shown and mended.
int onConnection(const Invocation& in, const std::function<int(AdoConnection&)>& body) {
    const QString cs = storeFrom(in.options);
    const QString password = databasePassword(in.options);
    const auto cn = openAccount(cs, in.options.value(QStringLiteral("db-user")), password);
    cn->setLogging(true);
    const auto note = qScopeGuard([&] { noteStatements(cn->statementLog()); });
    return body(*cn);
}

int show(const Invocation& in) {
    return onConnection(in, [](AdoConnection& cn) {
        const QMap<QString, QString> values = policy::effectiveSettings(cn);
        for (const policy::Setting& s : policy::kSettings)
            printOut(QStringLiteral("%1=%2").arg(QLatin1String(s.name), values.value(QLatin1String(s.name))));
        return kOk;
    });
}

int set(const Invocation& in) {
    if (in.args.isEmpty())
        throw Usage(Cli::tr("give at least one NAME=VALUE"));
    // Every pair is checked before anything is written.
    QList<QPair<QString, QString>> pairs;
    for (const QString& arg : in.args) {
        const int eq = arg.indexOf(QLatin1Char('='));
        if (eq <= 0)
            throw Usage(Cli::tr("\"%1\" is not NAME=VALUE").arg(arg));
        const QString name = arg.left(eq), value = arg.mid(eq + 1);
        const QString problem = policy::valueProblem(name, value);
        if (!problem.isEmpty())
            throw Usage(problem);
        pairs.append({name, value});
    }
    return onConnection(in, [&](AdoConnection& cn) {
        AdoTransaction tx(cn);
        const QMap<QString, QString> stored = policy::storedSettings(cn);
        if (!cn.tableNames().contains(QLatin1String(policy::kSettingsTable), Qt::CaseInsensitive))
            throw Refused(Cli::tr("the store has no settings table: run vardex-cli upgrade first"));
        // A secured store's functions verify and write bcrypt hashes only: going back to cipher
        // text would lock every desktop out of the passwords written from then on.
        const bool toCipher = std::any_of(pairs.begin(), pairs.end(), [](const auto& pair) {
            return pair.first == QLatin1String("password.hash") && pair.second == QLatin1String("cipher");
        });
        if (toCipher && securestore::isSecured(cn))
            throw Refused(Cli::tr("the store is secured, and its functions take bcrypt hashes only: run "
                                  "vardex-cli secure --undo first"));
        for (const auto& [name, value] : pairs)
            storeops::writeSetting(cn, name, value, stored.contains(name));
        finishTransaction(tx, cn);
        say(Cli::tr("%1 setting(s) set").arg(pairs.size()));
        return kOk;
    });
}

// The plain text a cipher text stands for under key, when it is text a person could have typed:
// it deciphers, every byte is part of a character, and no character is a control character.
bool plainText(const QString& cipherText, const QByteArray& key, QString* plain) {
    try {
        *plain = fromCipherBytes(decipherBytes(cipherText, key));
    } catch (const Error&) {
        return false;
    }
    for (const QChar c : *plain)
        if (c.isSurrogate() || c.category() == QChar::Other_Control)
            return false;
    return !plain->isEmpty();
}

void upgradeOptions(Options& p) {
    p << OptionDecl{
        {QStringLiteral("known-user")},
        QStringLiteral("A user whose password is still cipher text and is known: the key is taken "
                       "only when his cipher text deciphers under it to exactly that password."),
        QStringLiteral("ID"),
        Kind::Text};
    p << OptionDecl{{QStringLiteral("known-password-file")},
                    QStringLiteral("Read that user's password from the file's first line (a file only its "
                                   "owner may read); else VARDEX_KNOWN_PASSWORD, else a prompt."),
                    QStringLiteral("FILE"),
                    Kind::File};
}

// The known user's password: from --known-password-file, else VARDEX_KNOWN_PASSWORD, else typed
// at a prompt. Raises Usage when none can be had.
QString knownPassword(const QCommandLineParser& p, const QString& userId) {
    if (p.isSet(QStringLiteral("known-password-file")))
        return secretFromFile(p.value(QStringLiteral("known-password-file")), "known password");
    QString typed = secretFromEnvironment("VARDEX_KNOWN_PASSWORD");
    if (typed.isNull() && !promptSecret(Cli::tr("Password of %1: ").arg(userId), typed))
        throw Usage(Cli::tr("no password for --known-user: give --known-password-file FILE or "
                            "VARDEX_KNOWN_PASSWORD, or run on a terminal to be asked"));
    return typed;
}

// Refuses unless one of userId's cipher texts deciphers under key to exactly password: a wrong key
// can make text of other cipher texts, but not the password its user typed.
void proveKey(const QList<QPair<QString, QString>>& rows, const QString& userId, const QString& password,
              const QByteArray& key) {
    bool hasCipher = false;
    for (const auto& row : rows) {
        if (row.first != userId)
            continue;
        hasCipher = true;
        try {
            if (decipherBytes(row.second, key) == toCipherBytes(password))
                return;
        } catch (const Error&) {
        }
    }
    if (!hasCipher)
        throw Refused(Cli::tr("%1 has no password held as cipher text: name with --known-user a user "
                              "whose password still is; nothing was changed")
                          .arg(userId));
    throw Refused(Cli::tr("%1's cipher text does not decipher under this key to the password given: "
                          "the key (or the password) is wrong; nothing was changed")
                      .arg(userId));
}

void upgradePasswords(StoreSession& s, const QCommandLineParser& p, const QStringList&) {
    if (!p.isSet(QStringLiteral("key")))
        throw Usage(Cli::tr("give the cipher key of the stored passwords with --key (the library's "
                            "and the host's default keys differ)"));
    const PasswordPolicy& policy = s.data().Policy;
    if (!policy.bcrypt)
        throw Refused(Cli::tr("the store's password.hash is cipher: set password.hash=bcrypt first"));
    const QByteArray key = toCipherBytes(s.session().values().CipherKey);
    const QString known = p.value(QStringLiteral("known-user"));
    const QString knownTyped = known.isEmpty() ? QString() : knownPassword(p, known);
    s.transaction([&] {
        QList<QPair<QString, QString>> rows; // userID, cipher text
        for (const auto& r : storeops::storedPasswords(s.cn())) {
            const QString stored = r.value(1).toString();
            if (!stored.isEmpty() && !isPasswordHash(stored))
                rows.append({r.value(0).toString(), stored});
        }
        if (!rows.isEmpty()) {
            // The key is proven, never guessed: a wrong one would replace every password with
            // the hash of what it makes of the cipher text.
            if (known.isEmpty())
                throw Usage(Cli::tr("give --known-user ID: a user whose password is still cipher "
                                    "text and is known, which proves the key"));
            proveKey(rows, known, knownTyped, key);
        }
        QStringList plains;
        int failed = 0;
        for (const auto& row : rows) {
            QString plain;
            failed += plainText(row.second, key, &plain) ? 0 : 1;
            plains << plain;
        }
        if (failed > 0)
            throw Refused(Cli::tr("%1 of %2 stored password(s) do not decipher under this key to valid "
                                  "text; nothing was changed")
                              .arg(failed)
                              .arg(rows.size()));
        for (int i = 0; i < rows.size(); ++i)
            storeops::replaceStoredPassword(s.cn(), rows[i].first, rows[i].second,
                                            hashPassword(plains[i], policy.cost));
        say(Cli::tr("%1 password(s) upgraded").arg(rows.size()));
    });
}

void unlock(StoreSession& s, const QCommandLineParser&, const QStringList& a) {
    s.transaction([&] {
        const QVector<UserRow> users = loadUsers(s.cn());
        const UserRow& u = existingUser(users, a[0]);
        if (!UnlockUser(s.session(), u.userId, u.userName))
            notice(Cli::tr("%1 is not locked; nothing to change").arg(u.userId));
    });
}

} // namespace

CommandGroup passwordCommands() {
    return {
        QStringLiteral("policy show | policy set NAME=VALUE... | passwords upgrade --key K --known-user ID | "
                       "user unlock ID"),
        false,
        {
            {QStringLiteral("policy show"),
             {},
             QStringLiteral("Prints the store's password policy, one name=value line per setting."),
             Takes::Store,
             nullptr,
             show},
            {QStringLiteral("policy set"),
             {QStringLiteral("NAME=VALUE...: A setting and its new value: password.hash, password.cost, "
                             "lockout.failures, lockout.minutes or password.minlength.")},
             QStringLiteral("Changes settings of the password policy; every pair is checked first."),
             Takes::Store,
             nullptr,
             set,
             Writes},
            {QStringLiteral("passwords upgrade"),
             {},
             QStringLiteral("Re-writes every password still held as cipher text under --key as a bcrypt "
                            "hash, in one transaction, once --known-user's password proves the key."),
             Takes::Store,
             upgradeOptions,
             onStore(upgradePasswords),
             Writes},
            {QStringLiteral("user unlock"),
             {QStringLiteral("ID")},
             QStringLiteral("Lifts the lockout of a user."),
             Takes::Store,
             nullptr,
             onStore(unlock),
             Writes},
        }};
}

} // namespace vardex::cli
