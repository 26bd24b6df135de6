// What is written about the verbs from their declarations: a verb's --help, the JSON list of
// every verb (help --json), and the manual page's verb reference (help --man).
#include "cli/commands.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace vardex::cli {

QString kindName(Kind k) {
    switch (k) {
    case Kind::Flag:
        return QStringLiteral("flag");
    case Kind::Int32:
        return QStringLiteral("int32");
    case Kind::Time:
        return QStringLiteral("time");
    case Kind::Date:
        return QStringLiteral("date");
    case Kind::Text:
        return QStringLiteral("text");
    case Kind::Secret:
        return QStringLiteral("secret");
    case Kind::File:
        return QStringLiteral("file");
    }
    return QString();
}

namespace {

// One entry of a help's list: its names, and its text wrapped at 79 columns beside them, as Qt's
// parser lays them out; names wider than the column stay whole, on a line of their own.
QString helpEntry(const QString& names, int width, const QString& text) {
    const QString indent = QStringLiteral("  ");
    QString out;
    QString first = names;
    if (names.size() > width) {
        out += indent + names + QLatin1Char('\n');
        first.clear();
    }
    const int max = 79 - (int(indent.size()) + width + 1);
    const qsizetype len = text.size();
    qsizetype lineStart = 0, lastBreakable = -1;
    int x = 0;
    for (qsizetype i = 0; i < len; ++i) {
        ++x;
        const QChar c = text.at(i);
        if (c.isSpace())
            lastBreakable = i;
        qsizetype breakAt = -1, nextLineStart = -1;
        if (x > max && lastBreakable != -1) {
            breakAt = lastBreakable;
            nextLineStart = lastBreakable + 1;
        } else if ((x > max - 1 && lastBreakable == -1) || i == len - 1) {
            breakAt = i + 1;
            nextLineStart = breakAt;
        } else if (c == QLatin1Char('\n')) {
            breakAt = i;
            nextLineStart = i + 1;
        }
        if (breakAt != -1) {
            out += indent + first.leftJustified(width) + QLatin1Char(' ') +
                   text.mid(lineStart, breakAt - lineStart) + QLatin1Char('\n');
            first.clear();
            x = 0;
            lastBreakable = -1;
            lineStart = nextLineStart;
            if (lineStart < len && text.at(lineStart).isSpace())
                ++lineStart;
            i = lineStart;
        }
    }
    if (!first.isEmpty())
        out += indent + first + QLatin1Char('\n');
    return out;
}

// Text for a manual page: backslashes and dashes escaped, no line taken for a request.
QString roff(const QString& text) {
    QString out = text;
    out.replace(QLatin1Char('\\'), QStringLiteral("\\e")).replace(QLatin1Char('-'), QStringLiteral("\\-"));
    if (out.startsWith(QLatin1Char('.')) || out.startsWith(QLatin1Char('\'')))
        out.prepend(QStringLiteral("\\&"));
    return out;
}

} // namespace

// A verb's --help, from its declaration.
QString verbHelp(const Verb& v) {
    const Options options = declaredOptions(v);
    const QList<ArgDecl> arguments = declaredArguments(v);
    QString text = QStringLiteral("Usage: vardex-cli ") + v.name + QStringLiteral(" [options]");
    for (const ArgDecl& a : arguments)
        text += QLatin1Char(' ') + a.name;
    text += QLatin1Char('\n') + (v.summary.isEmpty() ? QString() : v.summary + QLatin1Char('\n')) +
            QStringLiteral("\nOptions:\n");
    QStringList names;
    int longest = 0;
    for (const OptionDecl& o : options) {
        if (o.hidden)
            continue;
        QStringList dashed;
        for (const QString& n : o.names)
            dashed << (n.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + n;
        names << dashed.join(QStringLiteral(", ")) +
                     (o.value.isEmpty() ? QString() : QStringLiteral(" <") + o.value + QLatin1Char('>'));
        longest = std::max(longest, int(names.last().size()));
    }
    const int width = std::min(50, longest + 1);
    qsizetype i = 0;
    for (const OptionDecl& o : options)
        if (!o.hidden)
            text += helpEntry(names[i++], width, o.help);
    if (!arguments.isEmpty()) {
        text += QStringLiteral("\nArguments:\n");
        for (const ArgDecl& a : arguments)
            text += helpEntry(a.name, width, a.help);
    }
    return text;
}

// Every verb with its arguments, options and flags, as JSON: what tests and tools read the
// tables through.
QString verbsJson() {
    QJsonArray verbs;
    for (const Verb* v : allVerbs()) {
        QJsonArray args, options;
        for (const ArgDecl& a : declaredArguments(*v))
            args.append(QJsonObject{{QStringLiteral("name"), a.name},
                                    {QStringLiteral("help"), a.help},
                                    {QStringLiteral("kind"), kindName(a.kind)},
                                    {QStringLiteral("number"), a.kind == Kind::Int32}});
        for (const OptionDecl& o : declaredOptions(*v))
            if (!o.hidden)
                options.append(QJsonObject{{QStringLiteral("names"), QJsonArray::fromStringList(o.names)},
                                           {QStringLiteral("value"), o.value},
                                           {QStringLiteral("kind"), kindName(o.kind)},
                                           {QStringLiteral("help"), o.help}});
        verbs.append(QJsonObject{{QStringLiteral("verb"), v->name},
                                 {QStringLiteral("summary"), v->summary},
                                 {QStringLiteral("arguments"), args},
                                 {QStringLiteral("options"), options},
                                 {QStringLiteral("writes"), bool(v->flags & Writes)},
                                 {QStringLiteral("destructive"), (v->flags & Destructive) == Destructive},
                                 {QStringLiteral("json"), bool(v->flags & (Writes | GivesJson))}});
    }
    return QString::fromUtf8(QJsonDocument(verbs).toJson(QJsonDocument::Indented)).trimmed();
}

// The manual page's reference of the verbs: each verb with its arguments and every option it
// takes of its own (those all verbs take are described once, in the page's OPTIONS).
QString verbsRoff() {
    QStringList lines{QStringLiteral(".SH VERB REFERENCE"),
                      QStringLiteral("Every verb with its arguments and its own options, as "
                                     "\\fBvardex\\-cli \\fIverb \\fB\\-\\-help\\fR lists them.")};
    for (const Verb* v : allVerbs()) {
        QString head = QStringLiteral(".SS \"") + roff(v->name);
        for (const ArgDecl& a : declaredArguments(*v))
            head += QLatin1Char(' ') + roff(a.name);
        lines << head + QLatin1Char('"') << roff(v->summary);
        for (const ArgDecl& a : declaredArguments(*v))
            if (!a.help.isEmpty())
                lines << QStringLiteral(".TP") << QStringLiteral(".I ") + roff(a.name) << roff(a.help);
        if (!v->options)
            continue;
        Options own;
        v->options(own);
        for (const OptionDecl& o : own) {
            if (o.hidden)
                continue;
            QStringList names;
            for (const QString& n : o.names)
                names << (n.size() == 1 ? QStringLiteral("\\-") : QStringLiteral("\\-\\-")) + roff(n);
            lines << QStringLiteral(".TP")
                  << QStringLiteral(".B ") + names.join(QStringLiteral(", ")) +
                         (o.value.isEmpty()
                              ? QString()
                              : QStringLiteral(" \\fI") + roff(o.value) + QStringLiteral("\\fR"))
                  << roff(o.help) + (o.kind == Kind::Flag
                                         ? QString()
                                         : QStringLiteral(" (") + kindName(o.kind) + QLatin1Char(')'));
        }
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace vardex::cli
