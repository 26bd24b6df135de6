#include "platform/inifile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringConverter>
#include <QStringList>

#include <optional>

namespace vardex::ini {

namespace {

enum class Encoding { Utf8, Utf8Bom, Utf16LE, Utf16BE, Gbk, Latin1 };

// A profile file in memory: its lines without line ends, and how to write it back.
struct Profile {
    QStringList lines;
    Encoding encoding = Encoding::Utf8;
    bool crlf = false;        // the file's lines end in CR LF
    bool finalNewline = true; // the last line carries a line end
    bool exists = false;
};

bool isBlank(QChar c) {
    return c.isSpace() || c.unicode() < 0x20;
}

QString trimmed(const QString& s) {
    int b = 0, e = s.size();
    while (b < e && isBlank(s[b]))
        ++b;
    while (e > b && isBlank(s[e - 1]))
        --e;
    return s.mid(b, e - b);
}

QString decode(const QByteArray& raw, Encoding* encoding) {
    if (raw.startsWith("\xEF\xBB\xBF")) {
        *encoding = Encoding::Utf8Bom;
        return QString::fromUtf8(raw.mid(3));
    }
    if (raw.startsWith("\xFF\xFE") || raw.startsWith("\xFE\xFF")) {
        const bool le = raw.startsWith("\xFF\xFE");
        *encoding = le ? Encoding::Utf16LE : Encoding::Utf16BE;
        QStringDecoder d(le ? QStringConverter::Utf16LE : QStringConverter::Utf16BE);
        return d.decode(raw.mid(2));
    }
    {
        QStringDecoder utf8(QStringConverter::Utf8);
        const QString text = utf8.decode(raw);
        if (!utf8.hasError()) {
            *encoding = Encoding::Utf8;
            return text;
        }
    }
    // Not UTF-8: a file written by the Windows profile functions in the Chinese code page.
    QStringDecoder gbk("GBK");
    if (gbk.isValid()) {
        *encoding = Encoding::Gbk;
        return gbk.decode(raw);
    }
    // Without a GBK converter, Latin-1 still gives every byte back unchanged on writing.
    *encoding = Encoding::Latin1;
    return QString::fromLatin1(raw);
}

QByteArray encode(const QString& text, Encoding encoding) {
    switch (encoding) {
    case Encoding::Utf8:
        return text.toUtf8();
    case Encoding::Utf8Bom:
        return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
    case Encoding::Utf16LE: {
        QStringEncoder e(QStringConverter::Utf16LE);
        return QByteArray("\xFF\xFE") + QByteArray(e.encode(text));
    }
    case Encoding::Utf16BE: {
        QStringEncoder e(QStringConverter::Utf16BE);
        return QByteArray("\xFE\xFF") + QByteArray(e.encode(text));
    }
    case Encoding::Gbk: {
        QStringEncoder e("GBK");
        if (e.isValid())
            return e.encode(text);
        return text.toUtf8();
    }
    case Encoding::Latin1:
        return text.toLatin1();
    }
    return text.toUtf8();
}

// Reads the file; nullopt when it exists but cannot be read.
std::optional<Profile> load(const QString& fileName) {
    Profile p;
    QFile f(fileName);
    if (!f.exists())
        return p;
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray raw = f.readAll();
    if (f.error() != QFileDevice::NoError)
        return std::nullopt;
    p.exists = true;
    const QString text = decode(raw, &p.encoding);
    p.crlf = text.contains(QLatin1String("\r\n"));
    if (text.isEmpty())
        return p;
    p.lines = text.split(QLatin1Char('\n'));
    p.finalNewline = p.lines.last().isEmpty();
    if (p.finalNewline)
        p.lines.removeLast();
    for (QString& l : p.lines)
        if (l.endsWith(QLatin1Char('\r')))
            l.chop(1);
    return p;
}

// "[name]" lines: the name between the bracket and the last closing bracket, trimmed.
std::optional<QString> sectionName(const QString& line) {
    const QString t = trimmed(line);
    if (!t.startsWith(QLatin1Char('[')))
        return std::nullopt;
    int close = t.lastIndexOf(QLatin1Char(']'));
    if (close < 0)
        close = t.size();
    return trimmed(t.mid(1, close - 1));
}

struct Entry {
    QString key;
    std::optional<QString> value; // none for a line without '='
};

std::optional<Entry> entryOf(const QString& line) {
    const QString t = trimmed(line);
    if (t.isEmpty() || t.startsWith(QLatin1Char('[')))
        return std::nullopt;
    const int eq = t.indexOf(QLatin1Char('='));
    if (eq < 0)
        return Entry{t, std::nullopt};
    return Entry{trimmed(t.left(eq)), trimmed(t.mid(eq + 1))};
}

// Index of the header line of the first section of that name, -1 when absent.
int findSection(const Profile& p, const QString& section) {
    for (int i = 0; i < p.lines.size(); ++i) {
        const auto name = sectionName(p.lines[i]);
        if (name && name->compare(trimmed(section), Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

// One past the section's last line (the next header or the end of the file).
int sectionEnd(const Profile& p, int header) {
    int i = header + 1;
    while (i < p.lines.size() && !sectionName(p.lines[i]))
        ++i;
    return i;
}

int findKey(const Profile& p, int header, const QString& key) {
    const int end = sectionEnd(p, header);
    for (int i = header + 1; i < end; ++i) {
        const auto e = entryOf(p.lines[i]);
        if (e && e->key.compare(trimmed(key), Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

QString unquoted(const QString& v) {
    if (v.size() >= 2) {
        const QChar q = v.front();
        if ((q == QLatin1Char('"') || q == QLatin1Char('\'')) && v.back() == q)
            return v.mid(1, v.size() - 2);
    }
    return v;
}

// What fits a buffer of bufferSize characters with its terminating zero.
QString fitted(const QString& v, int bufferSize) {
    if (bufferSize <= 0)
        return QString();
    int n = bufferSize - 1;
    if (v.size() <= n)
        return v;
    if (n > 0 && v[n - 1].isHighSurrogate())
        --n; // never keep half of a character
    return v.left(n);
}

// A line end inside a value or key would split it into two lines of the file.
QString oneLine(QString s) {
    s.replace(QLatin1Char('\r'), QLatin1Char(' '));
    s.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return s;
}

bool save(const Profile& p, const QString& fileName) {
    const QString eol = p.crlf ? QStringLiteral("\r\n") : QStringLiteral("\n");
    QString text = p.lines.join(eol);
    if (!p.lines.isEmpty() && p.finalNewline)
        text += eol;
    // The settings hold a database password in plain text: whatever the file allowed before,
    // once this program writes it only its owner may read it. The old file is narrowed first
    // (a write in place keeps its inode), and so is the replacement QSaveFile makes, which
    // starts with the old file's permissions, before a byte is written. A file that cannot be
    // narrowed and would have to be written in place (its folder takes no new file) is not
    // written at all.
    constexpr QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    if (p.exists && !QFile::setPermissions(fileName, ownerOnly) &&
        !QFileInfo(QFileInfo(fileName).absolutePath()).isWritable())
        return false;
    QSaveFile f(fileName);
    f.setDirectWriteFallback(true);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    if (!f.setPermissions(ownerOnly)) {
        f.cancelWriting();
        return false;
    }
    if (f.write(encode(text, p.encoding)) < 0)
        return false;
    if (!f.commit())
        return false;
    QFile::setPermissions(fileName, ownerOnly);
    return true;
}

} // namespace

QString getPrivateProfileString(const QString& section, const QString& key, const QString& defaultValue,
                                int bufferSize, const QString& fileName) {
    QString def = defaultValue;
    while (!def.isEmpty() && isBlank(def.back()))
        def.chop(1);
    const auto p = load(fileName);
    if (!p)
        return fitted(def, bufferSize);
    const int header = findSection(*p, section);
    if (header < 0)
        return fitted(def, bufferSize);
    const int line = findKey(*p, header, key);
    if (line < 0)
        return fitted(def, bufferSize);
    const auto e = entryOf(p->lines[line]);
    if (!e->value)
        return fitted(def, bufferSize);
    return fitted(unquoted(*e->value), bufferSize);
}

int getPrivateProfileInt(const QString& section, const QString& key, int defaultValue,
                         const QString& fileName) {
    const QString s = getPrivateProfileString(section, key, QString(), DefaultBufferSize, fileName);
    if (s.isEmpty())
        return defaultValue;
    int i = 0;
    bool negative = false;
    if (s[i] == QLatin1Char('-') || s[i] == QLatin1Char('+')) {
        negative = s[i] == QLatin1Char('-');
        ++i;
    }
    int base = 10;
    if (i + 1 < s.size() && s[i] == QLatin1Char('0') &&
        (s[i + 1] == QLatin1Char('x') || s[i + 1] == QLatin1Char('X'))) {
        base = 16;
        i += 2;
    }
    quint32 value = 0; // wraps like the 32-bit result it stands for
    for (; i < s.size(); ++i) {
        const ushort c = s[i].unicode();
        quint32 digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            break;
        value = value * quint32(base) + digit;
    }
    if (negative)
        value = 0u - value;
    return static_cast<int>(value);
}

bool writePrivateProfileString(const QString& section, const QString& key, const QString& value,
                               const QString& fileName) {
    auto loaded = load(fileName);
    if (!loaded)
        return false; // never overwrite a file whose content could not be read
    Profile p = std::move(*loaded);
    const QString sec = oneLine(trimmed(section));
    const int header = findSection(p, sec);

    if (key.isNull()) { // remove the section
        if (header < 0)
            return true;
        const int end = sectionEnd(p, header);
        p.lines.erase(p.lines.begin() + header, p.lines.begin() + end);
        return save(p, fileName);
    }
    const QString k = oneLine(trimmed(key));
    if (value.isNull()) { // remove the key
        if (header < 0)
            return true;
        const int line = findKey(p, header, k);
        if (line < 0)
            return true;
        p.lines.removeAt(line);
        return save(p, fileName);
    }
    const QString v = oneLine(value);
    if (header < 0) {
        p.finalNewline = true;
        p.lines << QLatin1Char('[') + sec + QLatin1Char(']') << k + QLatin1Char('=') + v;
        return save(p, fileName);
    }
    const int line = findKey(p, header, k);
    if (line >= 0) {
        // The key keeps its spelling and its place.
        p.lines[line] = entryOf(p.lines[line])->key + QLatin1Char('=') + v;
        return save(p, fileName);
    }
    // A new key goes after the section's last non-empty line, before the blank lines that
    // separate it from the next section.
    int at = sectionEnd(p, header);
    while (at > header + 1 && trimmed(p.lines[at - 1]).isEmpty())
        --at;
    if (at == p.lines.size())
        p.finalNewline = true;
    p.lines.insert(at, k + QLatin1Char('=') + v);
    return save(p, fileName);
}

} // namespace vardex::ini
