// The embedded file storage: the StoredData format to the byte, the reader against damaged
// input, extraction by name and automatically, and cleaning up after itself.
#include "platform/errors.h"
#include "platform/msgservice.h"
#include "platform/shellfolders.h"
#include "storage/acFileStorage.h"
#include "store/storeblob.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtEndian>

#include <cstdio>
#include <limits>
#include <random>
#include <sys/resource.h>

namespace {

QByteArray le32(qint32 v) {
    char b[4];
    qToLittleEndian<qint32>(v, b);
    return QByteArray(b, 4);
}
QByteArray record(const QByteArray& name, const QByteArray& content) {
    return le32(name.size()) + name + le32(content.size()) + content;
}
QByteArray blob(qint32 count, qint32 dataSize, const QByteArray& records = QByteArray()) {
    return le32(count) + le32(dataSize) + records;
}
// Two files, one of them empty.
QByteArray sampleBlob() {
    return blob(2, 14, record("tb_sp_SQL.sql", "CREATE TABLE\r\n") + record("empty.txt", ""));
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}
void writeAll(const QString& path, const QByteArray& data) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    f.write(data);
}

class BoxRecorder {
  public:
    BoxRecorder() {
        vardex::setMessageHandler([this](const vardex::MessageBoxRequest& r) {
            boxes.push_back(r);
            return vardex::defaultAnswer(r.type);
        });
    }
    ~BoxRecorder() { vardex::setMessageHandler(nullptr); }
    std::vector<vardex::MessageBoxRequest> boxes;
};

class EnvGuard {
  public:
    EnvGuard(const char* name, const QByteArray& value) : m_name(name), m_old(qgetenv(name)) {
        m_had = qEnvironmentVariableIsSet(name);
        qputenv(name, value);
    }
    ~EnvGuard() { m_had ? (void)qputenv(m_name, m_old) : (void)qunsetenv(m_name); }

  private:
    const char* m_name;
    QByteArray m_old;
    bool m_had;
};

// A device that cannot tell how much is left, like a pipe.
class SequentialDevice : public QIODevice {
  public:
    explicit SequentialDevice(const QByteArray& data) : m_data(data) { open(QIODevice::ReadOnly); }
    bool isSequential() const override { return true; }

  protected:
    qint64 readData(char* out, qint64 max) override {
        const qint64 n = std::min<qint64>(max, m_data.size() - m_pos);
        memcpy(out, m_data.constData() + m_pos, static_cast<size_t>(n));
        m_pos += n;
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

  private:
    QByteArray m_data;
    qint64 m_pos = 0;
};

// Caps the address space at what the process maps now plus a margin, so that reserving a
// gigabyte fails loudly (std::bad_alloc) instead of passing unnoticed. Off under address
// sanitizer, which maps terabytes of shadow memory.
#if defined(__SANITIZE_ADDRESS__)
#define VARDEX_NO_AS_CAP
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VARDEX_NO_AS_CAP
#endif
#endif
class AddressSpaceCap {
  public:
    explicit AddressSpaceCap(rlim_t margin) {
#ifndef VARDEX_NO_AS_CAP
        unsigned long pages = 0;
        FILE* f = std::fopen("/proc/self/statm", "r");
        if (!f || std::fscanf(f, "%lu", &pages) != 1 || getrlimit(RLIMIT_AS, &m_old) != 0)
            pages = 0;
        if (f)
            std::fclose(f);
        rlimit capped = m_old;
        capped.rlim_cur = static_cast<rlim_t>(pages) * static_cast<rlim_t>(getpagesize()) + margin;
        m_active = pages && capped.rlim_cur <= m_old.rlim_max && setrlimit(RLIMIT_AS, &capped) == 0;
#else
        (void)margin;
#endif
    }
    ~AddressSpaceCap() {
        if (m_active)
            setrlimit(RLIMIT_AS, &m_old);
    }
    bool active() const {
        return m_active;
    }

  private:
    rlimit m_old{};
    bool m_active = false;
};

// Either the input is accepted, and writing the storage back gives exactly the bytes the reader
// consumed, or it is refused with vardex::Error and the storage stays empty. Nothing else.
bool readChecked(const QByteArray& input, const std::string& what) {
    TacFileStorage storage;
    QBuffer buffer;
    buffer.setData(input);
    buffer.open(QIODevice::ReadOnly);
    try {
        storage.ReadStoredData(buffer);
    } catch (const vardex::Error&) {
        EXPECT_TRUE(storage.Files().empty()) << what;
        return false;
    } catch (const std::exception& e) {
        ADD_FAILURE() << what << ": unexpected " << typeid(e).name() << ": " << e.what();
        return false;
    }
    EXPECT_EQ(storage.WriteStoredData(), input.left(buffer.pos())) << what;
    return true;
}

class Folder : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    QString path(const QString& rel) const { return m_dir.filePath(rel); }
    QTemporaryDir m_dir;
};

} // namespace

// ---------------------------------------------------------------------------------------------
// The StoredData format

TEST(StoredData, HandBuiltBlobReadsAndWritesBackByteForByte) {
    // Count 1, DataSize 3, NameLength 5, "a.sql", Size 3, "abc", spelled out byte by byte.
    const QByteArray literal("\x01\0\0\0\x03\0\0\0\x05\0\0\0a.sql\x03\0\0\0abc", 24);
    TacFileStorage storage;
    storage.ReadStoredData(literal);
    ASSERT_EQ(storage.Files().size(), 1u);
    EXPECT_EQ(storage.Count(), 1);
    EXPECT_EQ(storage.DataSize(), 3);
    EXPECT_EQ(storage.Files()[0]->Name(), QStringLiteral("a.sql"));
    EXPECT_EQ(storage.Files()[0]->Size(), 3);
    EXPECT_EQ(storage.Files()[0]->Data(), QByteArray("abc"));
    EXPECT_EQ(storage.WriteStoredData(), literal);

    TacFileStorage packed; // the packing side makes the same bytes
    packed.addFile(QStringLiteral("a.sql"), "abc");
    EXPECT_EQ(packed.WriteStoredData(), literal);

    // DataSize is carried, not checked; a name that is not UTF-8 (GBK bytes) and binary content
    // come back untouched; an empty name and an empty file are records like any other.
    QByteArray binary;
    for (int i = 0; i < 256; ++i)
        binary.append(static_cast<char>(i));
    const QByteArray mixed =
        blob(3, 987654, record("\xC8\xA8\xCF\xDE.sql", binary) + record("", "") + record("x", "GO"));
    auto loaded = TacFileStorage::fromStoredData(mixed);
    EXPECT_EQ(loaded->DataSize(), 987654);
    EXPECT_EQ(loaded->Files()[0]->NameBytes(), QByteArray("\xC8\xA8\xCF\xDE.sql"));
    EXPECT_EQ(loaded->WriteStoredData(), mixed);
}

TEST(StoredData, CountZeroIsJustTheHeader) {
    auto storage = TacFileStorage::fromStoredData(blob(0, 0));
    EXPECT_TRUE(storage->Files().empty());
    EXPECT_EQ(storage->Count(), 0);
    EXPECT_EQ(storage->WriteStoredData(), blob(0, 0));
}

TEST(StoredData, ReadsItsOwnBytesAndAppends) {
    // The blob sits inside a longer description; what follows it is not the storage's.
    QBuffer buffer;
    buffer.setData(sampleBlob() + "next property");
    buffer.open(QIODevice::ReadOnly);
    TacFileStorage storage;
    storage.ReadStoredData(buffer);
    EXPECT_EQ(buffer.pos(), sampleBlob().size());

    // A second blob adds its files; Count and DataSize are the last blob's, and writing mirrors
    // that header: Count records, the first ones held.
    storage.ReadStoredData(blob(1, 5, record("more.txt", "12345")));
    ASSERT_EQ(storage.Files().size(), 3u);
    EXPECT_EQ(storage.Files()[2]->Name(), QStringLiteral("more.txt"));
    EXPECT_EQ(storage.WriteStoredData(), blob(1, 5, record("tb_sp_SQL.sql", "CREATE TABLE\r\n")));
}

TEST(StoredData, PropertiesBehaveAsTheWindowDescriptionExpects) {
    TacFileStorage storage;
    ASSERT_TRUE(storage.setProperty("StoredData", sampleBlob()));
    EXPECT_EQ(storage.property("StoredData").toByteArray(), sampleBlob());
    storage.setProperty("Count", 7); // saved values load too, but only StoredData decides them
    storage.setProperty("DataSize", 7);
    EXPECT_EQ(storage.property("Count").toInt(), 2);
    EXPECT_EQ(storage.property("DataSize").toInt(), 14);
    EXPECT_THROW(storage.setProperty("StoredData", QByteArray("\xff\xff\xff\xff", 4)), vardex::Error);
}

TEST(StoredData, ProgramBlobHoldsTheThreeInstallationScripts) {
    auto storage = TacFileStorage::fromStoredData(vardex::storedScripts());
    QStringList names;
    qint64 total = 0;
    for (const auto& f : storage->Files()) {
        names << f->Name();
        total += f->Size();
        EXPECT_GT(f->Size(), 0) << f->Name().toStdString();
    }
    for (const char* name : {"tb_sp_SQL.sql", "tb_sp_SQLite.sql", "tb_sp_PG.sql"})
        EXPECT_TRUE(names.contains(QLatin1String(name)))
            << name << " not in " << names.join(',').toStdString();
    EXPECT_EQ(storage->DataSize(), total);
    EXPECT_EQ(storage->WriteStoredData(), vardex::storedScripts());
}

// ---------------------------------------------------------------------------------------------
// Damaged data

TEST(DamagedStoredData, EachFaultIsNamedAndChangesNothing) {
    const QByteArray good = record("a.sql", "abc");
    const qint32 max = std::numeric_limits<qint32>::max();
    const std::vector<std::pair<QByteArray, QStringList>> cases = {
        {QByteArray(), {"header", "Count"}},
        {QByteArray("\x01\0\0\0\x03", 5), {"header", "DataSize"}},
        {blob(-1, 0), {"header", "Count -1", "negative"}},
        {blob(1000, 0, good), {"header", "Count 1000"}},
        {blob(2, 0, good + le32(-5) + "x"), {"record 2 of 2", "NameLength -5", "negative"}},
        {blob(1, 0, le32(100) + "a.sql" + le32(0)), {"record 1 of 1", "NameLength 100"}},
        {blob(1, 0, le32(1) + "a" + le32(-1)), {"record 1 of 1", "Size -1", "negative"}},
        {blob(1, 0, le32(1) + "a" + le32(9) + "abc"), {"record 1 of 1", "Size 9", "3 bytes that remain"}},
        {blob(1, 0, le32(1) + "a" + le32(max)), {"Size 2147483647"}},
        {blob(2, 0, good + le32(1) + "a" + QByteArray("\x03\0", 2)), {"record 2 of 2", "Size"}},
    };
    for (const auto& [input, words] : cases) {
        TacFileStorage storage;
        storage.ReadStoredData(sampleBlob());
        try {
            storage.ReadStoredData(input);
            ADD_FAILURE() << "accepted: " << input.toHex().toStdString();
        } catch (const vardex::Error& e) {
            for (const QString& word : words)
                EXPECT_TRUE(e.message().contains(word))
                    << e.message().toStdString() << " / " << word.toStdString();
        }
        EXPECT_EQ(storage.Files().size(), 2u);
        EXPECT_EQ(storage.Count(), 2);
        EXPECT_EQ(storage.DataSize(), 14);
    }
}

TEST(DamagedStoredData, DeviceOfUnknownLengthIsNotTrustedWithLengths) {
    AddressSpaceCap cap(rlim_t(512) << 20);
    // Size says 2 GiB but three bytes follow: the reader must find out by reading.
    SequentialDevice lying(blob(1, 0, le32(1) + "a" + le32(std::numeric_limits<qint32>::max()) + "abc"));
    TacFileStorage storage;
    try {
        storage.ReadStoredData(lying);
        ADD_FAILURE() << "accepted";
    } catch (const vardex::Error& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("ends inside the content (3 of 2147483647 bytes)")))
            << e.message().toStdString();
    }
    SequentialDevice sound(sampleBlob());
    storage.ReadStoredData(sound);
    EXPECT_EQ(storage.WriteStoredData(), sampleBlob());
}

TEST(DamagedStoredData, FuzzedInputIsAcceptedOrRefusedNeverMore) {
    AddressSpaceCap cap(rlim_t(1) << 30);
    if (cap.active()) { // the cap is what makes "allocated gigabytes" visible; prove it bites
        QByteArray big;
        EXPECT_THROW(big.resize(qsizetype(3) << 29), std::bad_alloc);
    }
    std::mt19937 rng(20240611);
    const auto byte = [&rng] { return static_cast<char>(rng() & 0xFF); };
    int iterations = 0, accepted = 0;
    const auto run = [&](const QByteArray& input, const std::string& what) {
        ++iterations;
        accepted += readChecked(input, what);
    };
    const QByteArray valid = blob(3, 40,
                                  record("tb_sp_SQL.sql", "CREATE TABLE qx_user (id int)\r\nGO\r\n") +
                                      record("x", "") + record("", QByteArray("\x00\x01\x02", 3)));

    for (int len = 0; len < valid.size(); ++len) { // every proper prefix is refused
        ++iterations;
        EXPECT_FALSE(readChecked(valid.left(len), "prefix " + std::to_string(len)));
    }
    run(valid, "whole");
    for (int pos = 0; pos < valid.size(); ++pos) // each byte set to a few telling values
        for (char v : {'\x00', '\x7f', '\x80', '\xff', byte(), byte()}) {
            QByteArray m = valid;
            m[pos] = v;
            run(m, "byte " + std::to_string(pos) + " = " + std::to_string(static_cast<unsigned char>(v)));
        }
    for (int off : {0, 4, 8, 8 + 4 + 13, 8 + 4 + 13 + 4 + 35}) // extremes in each length field
        for (qint32 v :
             {std::numeric_limits<qint32>::max(), std::numeric_limits<qint32>::min(), -1, 0x40000000,
              static_cast<qint32>(valid.size()), static_cast<qint32>(valid.size() - off - 3)}) {
            QByteArray m = valid;
            m.replace(off, 4, le32(v));
            run(m, "field at " + std::to_string(off) + " = " + std::to_string(v));
        }
    for (int i = 0; i < 2000; ++i) { // random bytes, half of them behind a plausible header
        QByteArray r;
        for (int k = static_cast<int>(rng() % 64); k > 0; --k)
            r.append(byte());
        run(i % 2 ? blob(static_cast<qint32>(rng() % 4), 0) + r : r, "random " + std::to_string(i));
    }
    for (int i = 0; i < 1000; ++i) { // bits flipped in a larger valid blob
        QByteArray m =
            blob(4, 0, valid.mid(8) + record("more.bin", QByteArray(static_cast<int>(rng() % 300), 'z')));
        for (int k = 1 + static_cast<int>(rng() % 4); k > 0; --k)
            m[static_cast<int>(rng() % m.size())] ^= static_cast<char>(1 << (rng() % 8));
        run(m, "flipped " + std::to_string(i));
    }
    std::printf("[ fuzz     ] %d inputs, %d accepted, address-space cap %s\n", iterations, accepted,
                cap.active() ? "on" : "off");
    RecordProperty("iterations", iterations);
    EXPECT_GT(accepted, 0);
}

// ---------------------------------------------------------------------------------------------
// Extraction by name

class Extract : public Folder {
  protected:
    struct Call {
        TacFileStorage* sender;
        QString fileName;
        qint32 fileSize;
        bool flag;
    };
    void SetUp() override {
        Folder::SetUp();
        m_storage.ReadStoredData(sampleBlob());
        m_storage.setOnExtract([this](TacFileStorage* s, const QString& name, qint32 size, bool& allow) {
            asked.push_back({s, name, size, allow});
            allow = allowAll;
        });
        m_storage.setOnExtracted([this](TacFileStorage* s, const QString& name, qint32 size, bool ok) {
            told.push_back({s, name, size, ok});
        });
    }
    bool extract(const QString& dest) { return m_storage.ExtractFile(QStringLiteral("tb_sp_SQL.sql"), dest); }
    TacFileStorage m_storage;
    std::vector<Call> asked, told;
    bool allowAll = true;
    BoxRecorder boxes; // extraction never shows a box
    void TearDown() override { EXPECT_TRUE(boxes.boxes.empty()); }
};

TEST_F(Extract, NamesCompareInLowerCaseAndHandlersHearOfIt) {
    const QString dest = path("script.sql");
    writeAll(dest, QByteArray(100000, 'x')); // a larger file is replaced completely
    ASSERT_TRUE(m_storage.ExtractFile(QStringLiteral("tb_sp_SQL.SQL"), dest));
    EXPECT_EQ(readAll(dest), QByteArray("CREATE TABLE\r\n"));
    ASSERT_EQ(asked.size(), 1u);
    ASSERT_EQ(told.size(), 1u);
    for (const Call& c : {asked[0], told[0]}) {
        EXPECT_EQ(c.sender, &m_storage);
        EXPECT_EQ(c.fileName, dest);
        EXPECT_EQ(c.fileSize, 14);
        EXPECT_TRUE(c.flag); // allow flag true on entry; extraction succeeded
    }
    ASSERT_TRUE(m_storage.ExtractFile(QStringLiteral("EMPTY.TXT"), path("empty")));
    EXPECT_EQ(QFileInfo(path("empty")).size(), 0);

    // An unknown name writes nothing and tells nobody.
    EXPECT_FALSE(m_storage.ExtractFile(QStringLiteral("tb_sp_SQL.sq"), path("x")));
    EXPECT_FALSE(QFile::exists(path("x")));
    EXPECT_EQ(asked.size(), 2u);
    EXPECT_EQ(told.size(), 2u);
}

TEST_F(Extract, CreatesMissingFoldersOneLevelAtATime) {
    ASSERT_TRUE(extract(path("a/b/c/script.sql")));
    EXPECT_EQ(readAll(path("a/b/c/script.sql")), QByteArray("CREATE TABLE\r\n"));
    // Windows-style separators name the same folders, and handlers see the path in that form.
    ASSERT_TRUE(extract(m_dir.path() + QStringLiteral("\\d\\e\\script.sql")));
    EXPECT_EQ(readAll(path("d/e/script.sql")), QByteArray("CREATE TABLE\r\n"));
    EXPECT_EQ(told.back().fileName, path("d/e/script.sql"));
    // A storage-less save still makes the folders.
    EXPECT_TRUE(TStoredFile(QStringLiteral("x"), "data").SaveToFile(nullptr, path("g/x"), true));
    EXPECT_EQ(readAll(path("g/x")), QByteArray("data"));

    m_storage.AutoExtract()->ExtractTo()->setCreatePath(false);
    EXPECT_FALSE(extract(path("f/script.sql")));
    EXPECT_FALSE(QFileInfo::exists(path("f")));
}

TEST_F(Extract, VetoCountsAsDoneWithoutWriting) {
    allowAll = false;
    m_storage.AutoExtract()->setRemoveOnTerminate(true);
    EXPECT_TRUE(extract(path("sub/script.sql")));
    EXPECT_FALSE(QFileInfo::exists(path("sub"))) << "not even the folder";
    EXPECT_EQ(asked.size(), 1u);
    EXPECT_TRUE(told.empty());
    EXPECT_TRUE(m_storage.ExtractedFiles().isEmpty());
}

TEST_F(Extract, UnwritableTargetFailsQuietly) {
    // A plain file where a folder should be (this holds even for root, unlike permissions), and
    // a folder where the file should be.
    writeAll(path("blocker"), "x");
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("folder.sql")));
    m_storage.AutoExtract()->setRemoveOnTerminate(true);
    EXPECT_FALSE(extract(path("blocker/script.sql")));
    EXPECT_FALSE(extract(path("folder.sql")));
    ASSERT_EQ(told.size(), 2u);
    EXPECT_EQ(told[0].fileName, path("blocker/script.sql"));
    EXPECT_EQ(told[0].fileSize, 14);
    EXPECT_FALSE(told[0].flag);
    EXPECT_FALSE(told[1].flag);
    EXPECT_TRUE(m_storage.ExtractedFiles().isEmpty()) << "only written files are remembered";
}

// ---------------------------------------------------------------------------------------------
// Removing extracted files

TEST_F(Folder, ExtractedFilesStayWhileAutoExtractIsDisabled) {
    {
        TacFileStorage storage;
        storage.ReadStoredData(sampleBlob());
        ASSERT_TRUE(storage.ExtractFile(QStringLiteral("tb_sp_SQL.sql"), path("before.sql")));
        storage.AutoExtract()->setRemoveOnTerminate(true);
        ASSERT_TRUE(storage.ExtractFile(QStringLiteral("tb_sp_SQL.sql"), path("kept.sql")));
        EXPECT_EQ(storage.ExtractedFiles(), QStringList{path("kept.sql")}) << "recorded all the same";
    }
    EXPECT_TRUE(QFile::exists(path("before.sql")));
    EXPECT_TRUE(QFile::exists(path("kept.sql")));
}

TEST_F(Folder, TheOwnerTakesTheStorageAlong) {
    auto owner = std::make_unique<QObject>();
    auto* storage = new TacFileStorage(owner.get());
    EXPECT_EQ(storage->owner(), owner.get());
    EXPECT_EQ(storage->ownerWindow(), nullptr) << "a plain object is no window";
    storage->loadStoredData(sampleBlob());
    storage->AutoExtract()->setEnabled(true);
    storage->AutoExtract()->setRemoveOnTerminate(true);
    ASSERT_TRUE(storage->ExtractFile(QStringLiteral("tb_sp_SQL.sql"), path("script.sql")));
    owner.reset();
    EXPECT_FALSE(QFile::exists(path("script.sql")));
}

// ---------------------------------------------------------------------------------------------
// Where automatic extraction writes

TEST(ExtractTo, SubdirectoryIsEmptyOrEndsInASeparator) {
    TExtractTo to;
    const std::vector<std::pair<QString, QString>> cases = {
        {"scripts", QStringLiteral("scripts") + QDir::separator()},
        {"\\", ""},
        {"a\\b\\", "a\\b\\"},
        {"a/b/", "a/b/"},
        {"/", ""},
        {"x", QStringLiteral("x") + QDir::separator()},
        {"", ""},
    };
    for (const auto& [value, stored] : cases) {
        to.setSubdirectory(value);
        EXPECT_EQ(to.Subdirectory(), stored) << value.toStdString();
    }
}

TEST(ExtractTo, TargetPathIsBasePlusSubdirectoryPlusName) {
    TExtractTo to;
    to.setSubdirectory(QStringLiteral("sub\\dir"));
    EXPECT_EQ(*to.TargetPath(QStringLiteral("f.sql")), QStringLiteral("sub/dir/f.sql"));
    to.setToplevelDir(tdNone);
    EXPECT_EQ(*to.TargetPath(QStringLiteral("f.sql")), QStringLiteral("sub/dir/f.sql"));
    QTemporaryDir tmp;
    EnvGuard env("TMPDIR", tmp.path().toLocal8Bit());
    to.setToplevelDir(tdTempDir);
    EXPECT_EQ(*to.TargetPath(QStringLiteral("f.sql")), tmp.path() + QStringLiteral("/sub/dir/f.sql"));

    // Every other folder is absolute, ends in a separator, and doubles none.
    for (int dir = tdWindowsDir; dir < tdNone; ++dir) {
        to.setToplevelDir(static_cast<TacToplevelDir>(dir));
        const std::optional<QString> target = to.TargetPath(QStringLiteral("f.sql"));
        ASSERT_TRUE(target.has_value()) << dir;
        EXPECT_TRUE(QDir::isAbsolutePath(*target) && target->endsWith(QStringLiteral("/sub/dir/f.sql")) &&
                    !target->contains(QStringLiteral("//")))
            << dir << ": " << target->toStdString();
    }
    to.setToplevelDir(tdMediaDir);
    EXPECT_EQ(*to.TargetPath(QStringLiteral("f.sql")),
              vardex::windowsFolder() + QStringLiteral("/MEDIA/sub/dir/f.sql"));
    EXPECT_EQ(vardex::shellFolder(QStringLiteral("Favorites")), QString()) << "a missing value reads empty";
}

// ---------------------------------------------------------------------------------------------
// Automatic extraction, into <temp>/out/ through tdTempDir with TMPDIR pointing at our folder

class AutoExtract : public Folder {
  protected:
    std::unique_ptr<TacFileStorage> load(TacFileStorageOverwrite mode, bool enabled = true) {
        EnvGuard env("TMPDIR", m_dir.path().toLocal8Bit());
        auto storage = std::make_unique<TacFileStorage>();
        storage->AutoExtract()->setEnabled(enabled);
        storage->AutoExtract()->setOverwrite(mode);
        storage->AutoExtract()->ExtractTo()->setToplevelDir(tdTempDir);
        storage->AutoExtract()->ExtractTo()->setSubdirectory(QStringLiteral("out"));
        storage->loadStoredData(blob(2, 0, record("same.sql", "12345") + record("other.sql", "abc")));
        return storage;
    }
    void existing(const QByteArray& same, const QByteArray& other = QByteArray()) {
        QDir(m_dir.path()).mkdir(QStringLiteral("out"));
        writeAll(path("out/same.sql"), same);
        if (!other.isNull())
            writeAll(path("out/other.sql"), other);
    }
};

TEST_F(AutoExtract, OnlyWhenEnabledAndIntoMissingFolders) {
    load(owAlways, false);
    EXPECT_FALSE(QFileInfo::exists(path("out")));
    load(owIfSizeDifferent);
    EXPECT_EQ(readAll(path("out/same.sql")), QByteArray("12345"));
    EXPECT_EQ(readAll(path("out/other.sql")), QByteArray("abc"));
}

TEST_F(AutoExtract, OverwriteModes) {
    existing("XXXXX", "longer than three");
    load(owIfSizeDifferent);
    EXPECT_EQ(readAll(path("out/same.sql")), QByteArray("XXXXX")) << "same size: kept";
    EXPECT_EQ(readAll(path("out/other.sql")), QByteArray("abc")) << "other size: replaced";

    existing("longer than five");
    QFile::remove(path("out/other.sql"));
    load(owNever);
    EXPECT_EQ(readAll(path("out/same.sql")), QByteArray("longer than five"));
    EXPECT_EQ(readAll(path("out/other.sql")), QByteArray("abc")) << "missing: written";

    existing("XXXXX");
    load(owAlways);
    EXPECT_EQ(readAll(path("out/same.sql")), QByteArray("12345"));
}

TEST_F(AutoExtract, RemovesWhatItExtractedAndDefaultsToTheCurrentFolder) {
    struct CurrentFolder {
        QString before = QDir::currentPath();
        ~CurrentFolder() { QDir::setCurrent(before); }
    } restore;
    ASSERT_TRUE(QDir::setCurrent(m_dir.path()));
    auto storage = std::make_unique<TacFileStorage>();
    storage->AutoExtract()->setEnabled(true);
    storage->AutoExtract()->setRemoveOnTerminate(true);
    storage->loadStoredData(sampleBlob());
    EXPECT_EQ(readAll(path("tb_sp_SQL.sql")), QByteArray("CREATE TABLE\r\n"));
    EXPECT_TRUE(QFile::exists(path("empty.txt")));
    storage.reset();
    EXPECT_FALSE(QFile::exists(path("tb_sp_SQL.sql")));
    EXPECT_FALSE(QFile::exists(path("empty.txt")));
}

// ---------------------------------------------------------------------------------------------
// Loading from disk, clearing

TEST_F(Folder, LoadFromFileAndClear) {
    BoxRecorder boxes;
    writeAll(path("source.bin"), QByteArray("\x00\x01zz", 4));
    TStoredFile file;
    ASSERT_TRUE(file.LoadFromFile(path("source.bin")));
    EXPECT_EQ(file.Name(), QStringLiteral("source.bin"));
    EXPECT_EQ(file.Size(), 4);
    EXPECT_EQ(file.Data(), QByteArray("\x00\x01zz", 4));
    EXPECT_TRUE(boxes.boxes.empty());

    // A file that cannot be read: the box, false, and the name already taken over.
    EXPECT_FALSE(file.LoadFromFile(path("missing.sql")));
    EXPECT_FALSE(file.LoadFromFile(m_dir.path())); // a folder
    ASSERT_EQ(boxes.boxes.size(), 2u);
    for (const auto& box : boxes.boxes) {
        EXPECT_EQ(box.text, QStringLiteral("This file can not be uploaded."));
        EXPECT_EQ(box.caption, QStringLiteral("File Storage"));
        EXPECT_EQ(box.type, vardex::mb::Ok | vardex::mb::IconError);
    }
    EXPECT_EQ(file.Name(), QFileInfo(m_dir.path()).fileName());
    EXPECT_EQ(file.Data(), QByteArray("\x00\x01zz", 4));

    file.Clear();
    EXPECT_EQ(file.Name(), QString());
    EXPECT_EQ(file.Size(), 0);
}
