#include "storage/acFileStorage.h"

#include "platform/errors.h"
#include "platform/msgservice.h"
#include "platform/shellfolders.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QtEndian>
#include <algorithm>
#include <limits>

namespace {

// A device of unknown length (a pipe, a socket) is read in steps of this size, so that a
// length field that lies costs at most one step of memory beyond the data that really came.
constexpr qint64 kReadStep = 1 << 20;

// The smallest record: NameLength and Size with an empty name and no content.
constexpr qint64 kMinRecordSize = 8;

// Bytes left in the device, or -1 when the device cannot tell (sequential devices).
qint64 remainingIn(const QIODevice& device) {
    if (device.isSequential())
        return -1;
    return std::max<qint64>(0, device.size() - device.pos());
}

// Reads up to count bytes into buffer; fewer only when the data ends.
qint64 readFully(QIODevice& device, char* buffer, qint64 count) {
    qint64 done = 0;
    while (done < count) {
        const qint64 n = device.read(buffer + done, count - done);
        if (n <= 0)
            break;
        done += n;
    }
    return done;
}

qint32 readInt32(QIODevice& device, const QString& field) {
    char bytes[4];
    const qint64 n = readFully(device, bytes, 4);
    if (n != 4)
        throw vardex::Error(QStringLiteral("the data ends inside %1 (%2 of 4 bytes)").arg(field).arg(n));
    return qFromLittleEndian<qint32>(bytes);
}

// A length field read from the blob: not negative, and not more than the device still holds.
void checkLength(const QIODevice& device, const QString& field, qint32 value) {
    if (value < 0)
        throw vardex::Error(QStringLiteral("%1 %2 is negative").arg(field).arg(value));
    const qint64 remaining = remainingIn(device);
    if (remaining >= 0 && value > remaining)
        throw vardex::Error(QStringLiteral("%1 %2 is larger than the %3 bytes that remain")
                                .arg(field)
                                .arg(value)
                                .arg(remaining));
}

// Reads exactly count bytes (already checked by checkLength). On a device of unknown length
// the buffer grows with the data that arrives, never ahead of it by more than one step.
QByteArray readBytes(QIODevice& device, qint32 count, const QString& what) {
    QByteArray out;
    const bool knownLength = remainingIn(device) >= 0;
    qint64 done = 0;
    while (done < count) {
        const qint64 step = knownLength ? count - done : std::min<qint64>(count - done, kReadStep);
        out.resize(done + step);
        const qint64 n = readFully(device, out.data() + done, step);
        done += n;
        if (n < step)
            throw vardex::Error(
                QStringLiteral("the data ends inside %1 (%2 of %3 bytes)").arg(what).arg(done).arg(count));
    }
    return out;
}

void writeBytes(QIODevice& device, const char* data, qint64 count) {
    qint64 done = 0;
    while (done < count) {
        const qint64 n = device.write(data + done, count - done);
        if (n <= 0)
            throw vardex::Error(
                QStringLiteral("StoredData could not be written: %1").arg(device.errorString()));
        done += n;
    }
}

void writeInt32(QIODevice& device, qint32 value) {
    char bytes[4];
    qToLittleEndian<qint32>(value, bytes);
    writeBytes(device, bytes, 4);
}

// On Windows both '\' and '/' separate folders and Qt takes either; elsewhere only '/' does, so
// the backslashes of Windows-style paths become folder separators here.
QString nativeTargetPath(const QString& path) {
#ifdef Q_OS_WIN
    return path;
#else
    QString p = path;
    p.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return p;
#endif
}

bool isSeparator(QChar c) {
    return c == QLatin1Char('/') || c == QLatin1Char('\\');
}

// Makes every folder on the way to path, one level at a time from the left. Levels that exist
// already (or cannot be made, such as the root) are passed over; a real failure shows up when
// the file itself is written.
void createFoldersFor(const QString& path) {
    int lastSeparator = -1;
    for (int i = path.size() - 1; i >= 0; --i) {
        if (isSeparator(path.at(i))) {
            lastSeparator = i;
            break;
        }
    }
    QDir dir;
    for (int i = 0; i <= lastSeparator; ++i) {
        if (isSeparator(path.at(i)))
            dir.mkdir(path.left(i + 1));
    }
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TStoredFile

TStoredFile::TStoredFile() = default;

TStoredFile::TStoredFile(const QString& name, const QByteArray& content)
    : m_name(name.toLocal8Bit()), m_data(content) {}

TStoredFile::~TStoredFile() = default;

QString TStoredFile::Name() const {
    return QString::fromLocal8Bit(m_name);
}

void TStoredFile::setName(const QString& name) {
    m_name = name.toLocal8Bit();
}

void TStoredFile::setData(const QByteArray& content) {
    m_data = content;
}

bool TStoredFile::SaveToFile(TacFileStorage* Storage, const QString& DestPath, bool CreatePath) {
    const QString target = nativeTargetPath(DestPath);
    const qint32 size = Size();

    if (Storage && Storage->OnExtract()) {
        bool allow = true;
        Storage->OnExtract()(Storage, target, size, allow);
        if (!allow)
            return true; // the handler took care of it, or did not want it: either way, done
    }

    if (CreatePath)
        createFoldersFor(target);

    bool ok = false;
    {
        // Create or overwrite. Linux has no share modes; other readers simply see the new
        // content once it is written.
        QFile file(target);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            ok = file.write(m_data) == m_data.size() && file.flush();
            file.close();
            ok = ok && file.error() == QFileDevice::NoError;
        }
    }
    if (ok && Storage && Storage->AutoExtract()->RemoveOnTerminate())
        Storage->ExtractedFiles().append(target);

    if (Storage && Storage->OnExtracted())
        Storage->OnExtracted()(Storage, target, size, ok);
    return ok;
}

void TStoredFile::ReadData(QIODevice& Stream) {
    const QString nameLengthField = QStringLiteral("NameLength");
    const qint32 nameLength = readInt32(Stream, nameLengthField);
    checkLength(Stream, nameLengthField, nameLength);
    QByteArray name = readBytes(Stream, nameLength, QStringLiteral("the name"));

    const QString sizeField = QStringLiteral("Size");
    const qint32 size = readInt32(Stream, sizeField);
    checkLength(Stream, sizeField, size);
    QByteArray content = readBytes(Stream, size, QStringLiteral("the content"));

    m_name = std::move(name);
    m_data = std::move(content);
}

void TStoredFile::WriteData(QIODevice& Stream) const {
    writeInt32(Stream, static_cast<qint32>(m_name.size()));
    writeBytes(Stream, m_name.constData(), m_name.size());
    writeInt32(Stream, Size());
    writeBytes(Stream, m_data.constData(), m_data.size());
}

bool TStoredFile::LoadFromFile(const QString& SourcePath) {
    const QString path = nativeTargetPath(SourcePath);
    setName(path.mid(path.lastIndexOf(QLatin1Char('/')) + 1));

    QFile file(path);
    bool ok = false;
    if (file.open(QIODevice::ReadOnly)) {
        const qint64 length = file.size();
        // Size is a 32-bit figure in the stored format; a larger file cannot be carried.
        if (length >= 0 && length <= std::numeric_limits<qint32>::max()) {
            QByteArray content(static_cast<qsizetype>(length), Qt::Uninitialized);
            if (readFully(file, content.data(), length) == length) {
                m_data = std::move(content);
                ok = true;
            }
        }
    }
    if (!ok)
        vardex::showMessage(QStringLiteral("This file can not be uploaded."), QStringLiteral("File Storage"),
                            vardex::mb::Ok | vardex::mb::IconError);
    return ok;
}

void TStoredFile::Clear() {
    m_name.clear();
    m_data.clear();
}

// ---------------------------------------------------------------------------------------------
// TExtractTo, TAutoExtract

TExtractTo::TExtractTo() = default;

void TExtractTo::setSubdirectory(const QString& value) {
    if (value == m_subdirectory)
        return;
    if (value == QLatin1String("\\") || value == QLatin1String("/"))
        m_subdirectory.clear(); // "the root below the base" means the base itself
    else if (!value.isEmpty() && !isSeparator(value.back()))
        m_subdirectory = value + QDir::separator();
    else
        m_subdirectory = value;
}

std::optional<QString> TExtractTo::TargetPath(const QString& Name) const {
    const QString sep = QDir::separator();
    const auto windowsSub = [&sep](const char* sub) {
        return vardex::windowsFolder() + sep + QLatin1String(sub) + sep;
    };
    const auto shell = [&sep](const char* value) -> std::optional<QString> {
        const std::optional<QString> folder = vardex::shellFolder(QLatin1String(value));
        if (!folder)
            return std::nullopt;
        return *folder + sep;
    };

    std::optional<QString> base;
    switch (m_toplevelDir) {
    case tdWindowsDir:
        base = vardex::windowsFolder() + sep;
        break;
    case tdTempDir:
        base = vardex::tempFolder();
        break;
    case tdSystemDir:
        base = vardex::systemFolder() + sep;
        break;
    case tdMediaDir:
        base = windowsSub("MEDIA");
        break;
    case tdCursorsDir:
        base = windowsSub("CURSORS");
        break;
    case tdHelpDir:
        base = windowsSub("HELP");
        break;
    case tdSamplesDir:
        base = windowsSub("SAMPLES");
        break;
    case tdProgramFiles:
        base = vardex::programFilesFolder() + sep;
        break;
    case tdDesktop:
        base = shell("Desktop");
        break;
    case tdMyDocuments:
        base = shell("Personal");
        break;
    case tdMyPictures:
        base = shell("My Pictures");
        break;
    case tdAppData:
        base = shell("AppData");
        break;
    case tdCurrentDir:
    case tdNone:
    default:
        base = QString();
        break;
    }
    if (!base)
        return std::nullopt;
    return nativeTargetPath(*base + m_subdirectory + Name);
}

TAutoExtract::TAutoExtract() : m_extractTo(std::make_unique<TExtractTo>()) {}

TAutoExtract::~TAutoExtract() = default;

// ---------------------------------------------------------------------------------------------
// TacFileStorage

TacFileStorage::TacFileStorage(QObject* owner)
    : TacComponent(owner), m_autoExtract(std::make_unique<TAutoExtract>()) {}

TacFileStorage::~TacFileStorage() {
    if (m_autoExtract->Enabled() && m_autoExtract->RemoveOnTerminate()) {
        for (const QString& path : std::as_const(m_extractedFiles))
            QFile::remove(path);
    }
}

std::unique_ptr<TacFileStorage> TacFileStorage::fromStoredData(const QByteArray& blob) {
    auto storage = std::make_unique<TacFileStorage>();
    storage->loadStoredData(blob);
    return storage;
}

void TacFileStorage::loadStoredData(const QByteArray& blob) {
    ReadStoredData(blob);
    Loaded();
}

void TacFileStorage::Loaded() {
    if (!m_autoExtract->Enabled())
        return;
    TExtractTo* to = m_autoExtract->ExtractTo();
    // Index loop: a handler may add files while we go; those are extracted too.
    for (std::size_t i = 0; i < m_files.size(); ++i) {
        TStoredFile* file = m_files[i].get();
        const std::optional<QString> target = to->TargetPath(file->Name());
        if (!target)
            continue;

        bool save = true;
        switch (m_autoExtract->Overwrite()) {
        case owIfSizeDifferent:
            if (QFileInfo::exists(*target)) {
                QFile existing(*target);
                save = !existing.open(QIODevice::ReadOnly) || existing.size() != file->Size();
            }
            break;
        case owNever: {
            QFile existing(*target);
            save = !existing.open(QIODevice::ReadOnly);
            break;
        }
        case owAlways:
        default:
            break;
        }
        if (save)
            file->SaveToFile(this, *target, to->CreatePath());
    }
}

bool TacFileStorage::ExtractFile(const QString& FileName, const QString& DestPath) {
    const QString wanted = FileName.toLower();
    for (const auto& file : m_files) {
        if (file->Name().toLower() == wanted)
            return file->SaveToFile(this, DestPath, m_autoExtract->ExtractTo()->CreatePath());
    }
    return false;
}

void TacFileStorage::ReadStoredData(QIODevice& Stream) {
    if (!Stream.isReadable())
        throw vardex::Error(QStringLiteral("StoredData: the device is not open for reading"));

    qint32 count = 0;
    qint32 dataSize = 0;
    try {
        count = readInt32(Stream, QStringLiteral("Count"));
        dataSize = readInt32(Stream, QStringLiteral("DataSize"));
        if (count < 0)
            throw vardex::Error(QStringLiteral("Count %1 is negative").arg(count));
        const qint64 remaining = remainingIn(Stream);
        if (remaining >= 0 && count * kMinRecordSize > remaining)
            throw vardex::Error(
                QStringLiteral("Count %1 needs at least %2 bytes of records, but only %3 remain")
                    .arg(count)
                    .arg(count * kMinRecordSize)
                    .arg(remaining));
    } catch (const vardex::Error& e) {
        throw vardex::Error(QStringLiteral("StoredData header: %1").arg(e.message()));
    }

    // Records go to a list of their own first, so damaged data leaves the storage as it was.
    std::vector<std::unique_ptr<TStoredFile>> records;
    records.reserve(static_cast<std::size_t>(std::min<qint32>(count, 1024)));
    for (qint32 i = 0; i < count; ++i) {
        auto file = std::make_unique<TStoredFile>();
        try {
            file->ReadData(Stream);
        } catch (const vardex::Error& e) {
            throw vardex::Error(
                QStringLiteral("StoredData record %1 of %2: %3").arg(i + 1).arg(count).arg(e.message()));
        }
        records.push_back(std::move(file));
    }

    // Records are appended to whatever the storage already holds; Count and DataSize are those
    // of the last blob read.
    for (auto& file : records)
        m_files.push_back(std::move(file));
    m_count = count;
    m_dataSize = dataSize;
}

void TacFileStorage::WriteStoredData(QIODevice& Stream) const {
    if (!Stream.isWritable())
        throw vardex::Error(QStringLiteral("StoredData: the device is not open for writing"));
    // Count only ever grows together with Files, so the records it announces are all there.
    const std::size_t count = static_cast<std::size_t>(std::max<qint32>(m_count, 0));
    if (count > m_files.size())
        throw vardex::Error(QStringLiteral("StoredData: Count %1 but only %2 files are held")
                                .arg(m_count)
                                .arg(static_cast<qulonglong>(m_files.size())));
    writeInt32(Stream, m_count);
    writeInt32(Stream, m_dataSize);
    for (std::size_t i = 0; i < count; ++i)
        m_files[i]->WriteData(Stream);
}

void TacFileStorage::ReadStoredData(const QByteArray& blob) {
    QBuffer buffer;
    buffer.setData(blob);
    buffer.open(QIODevice::ReadOnly);
    ReadStoredData(static_cast<QIODevice&>(buffer));
}

QByteArray TacFileStorage::WriteStoredData() const {
    QByteArray blob;
    QBuffer buffer(&blob);
    buffer.open(QIODevice::WriteOnly);
    WriteStoredData(static_cast<QIODevice&>(buffer));
    buffer.close();
    return blob;
}

TStoredFile* TacFileStorage::addFile(const QString& name, const QByteArray& content) {
    m_files.push_back(std::make_unique<TStoredFile>(name, content));
    // A packed blob carries every file held, and DataSize is the total of their contents as
    // the packing tool figures it (wrapping as a 32-bit value would).
    m_count = static_cast<qint32>(m_files.size());
    quint32 total = 0;
    for (const auto& file : m_files)
        total += static_cast<quint32>(file->Size());
    m_dataSize = static_cast<qint32>(total);
    return m_files.back().get();
}
