#pragma once
// TacFileStorage: whole files carried inside the program and written back to disk on request.
//
// The files travel as one binary blob, "StoredData", which the storage reads when the window
// that owns it is created. Layout, all integers 32-bit signed little-endian, no padding:
//
//   Count     number of file records that follow
//   DataSize  a size figure kept with the data and written back unchanged (the total of the
//             contents' sizes as the packing tool writes it); nothing else uses it
//   Count records, back to back:
//     NameLength, Name (local 8-bit bytes, no folder, no terminating zero), Size, content
//
// The blob is produced together with the program, but it is still checked when read: a negative
// or oversized length, a negative Count or data that ends early raises vardex::Error naming the
// record and the fault, and the storage is left as it was. The reader never reserves more memory
// than the input still holds.
//
// Paths: on Linux a backslash cannot separate folders, yet stored settings and callers written
// for Windows use it. Every path the storage writes to is therefore taken with '\' turned into
// '/' (on Windows both already work); handlers and ExtractedFiles see that form.
#include "storage/acClasses.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QIODevice;
class TacFileStorage;

// When automatic extraction replaces a file that is already there.
enum TacFileStorageOverwrite : quint8 { owIfSizeDifferent = 0, owNever = 1, owAlways = 2 };

// The folder automatic extraction writes into (see TExtractTo::TargetPath).
enum TacToplevelDir : quint8 {
    tdCurrentDir = 0,
    tdWindowsDir = 1,
    tdTempDir = 2,
    tdSystemDir = 3,
    tdMediaDir = 4,
    tdCursorsDir = 5,
    tdHelpDir = 6,
    tdSamplesDir = 7,
    tdDesktop = 8,
    tdProgramFiles = 9,
    tdMyDocuments = 10,
    tdMyPictures = 11,
    tdAppData = 12,
    tdNone = 13
};

// Asked before each extraction; clearing AllowExtracting (true on entry) skips the file.
using TOnExtractEvent = std::function<void(TacFileStorage* Sender, const QString& FileName, qint32 FileSize,
                                           bool& AllowExtracting)>;
// Told after each extraction attempt that was not skipped.
using TOnExtractedEvent =
    std::function<void(TacFileStorage* Sender, const QString& FileName, qint32 FileSize, bool Successfully)>;

// One stored file: its name (without folder) and its content. Size is always the content's
// length.
class TStoredFile {
  public:
    TStoredFile();
    TStoredFile(const QString& name, const QByteArray& content);
    TStoredFile(const TStoredFile&) = delete;
    TStoredFile& operator=(const TStoredFile&) = delete;
    virtual ~TStoredFile();

    // Writes the content to DestPath, asking Storage's OnExtract first and telling its
    // OnExtracted afterwards (Storage may be null: no events, nothing recorded). A vetoed file
    // counts as done: true, nothing written. With CreatePath the missing folders of DestPath
    // are made one level at a time. False when the file cannot be written; never throws.
    virtual bool SaveToFile(TacFileStorage* Storage, const QString& DestPath, bool CreatePath);
    // One record of the StoredData format. ReadData throws vardex::Error for a damaged
    // record and then leaves this file unchanged; WriteData throws when the device refuses.
    virtual void ReadData(QIODevice& Stream);
    virtual void WriteData(QIODevice& Stream) const;
    // Takes name and content from a file on disk. On failure shows "This file can not be
    // uploaded." and returns false; the name has been taken over by then, the content not.
    virtual bool LoadFromFile(const QString& SourcePath);
    // Empty name, no content.
    virtual void Clear();

    QString Name() const;
    // The name exactly as stored (local 8-bit), which is what WriteData writes back.
    const QByteArray& NameBytes() const { return m_name; }
    void setName(const QString& name);
    qint32 Size() const { return static_cast<qint32>(m_data.size()); }
    const QByteArray& Data() const { return m_data; }
    void setData(const QByteArray& content);

  private:
    QByteArray m_name;
    QByteArray m_data;
};

// Where automatic extraction writes: a base folder chosen by ToplevelDir, then Subdirectory.
class TExtractTo {
  public:
    TExtractTo();
    TExtractTo(const TExtractTo&) = delete;
    TExtractTo& operator=(const TExtractTo&) = delete;

    bool CreatePath() const { return m_createPath; }
    void setCreatePath(bool value) { m_createPath = value; }
    TacToplevelDir ToplevelDir() const { return m_toplevelDir; }
    void setToplevelDir(TacToplevelDir value) { m_toplevelDir = value; }
    // Always empty or ending in a separator: a lone "\" (or "/") becomes empty, any other value
    // without a trailing '\' or '/' gets the platform's separator appended.
    QString Subdirectory() const { return m_subdirectory; }
    void setSubdirectory(const QString& value);

    // base + Subdirectory + Name, where the base is empty for tdCurrentDir and tdNone (relative
    // to the current folder) and otherwise the chosen folder with a trailing separator. No
    // answer when a shell folder cannot be read; such a file is not extracted.
    std::optional<QString> TargetPath(const QString& Name) const;

  private:
    bool m_createPath = true;
    TacToplevelDir m_toplevelDir = tdCurrentDir;
    QString m_subdirectory;
};

// The automatic-extraction settings, applied by TacFileStorage::Loaded.
class TAutoExtract {
  public:
    TAutoExtract();
    ~TAutoExtract();
    TAutoExtract(const TAutoExtract&) = delete;
    TAutoExtract& operator=(const TAutoExtract&) = delete;

    bool Enabled() const { return m_enabled; }
    void setEnabled(bool value) { m_enabled = value; }
    TExtractTo* ExtractTo() const { return m_extractTo.get(); }
    TacFileStorageOverwrite Overwrite() const { return m_overwrite; }
    void setOverwrite(TacFileStorageOverwrite value) { m_overwrite = value; }
    // Remember every extracted path and delete them when the storage goes (only while
    // Enabled is also true at that moment).
    bool RemoveOnTerminate() const { return m_removeOnTerminate; }
    void setRemoveOnTerminate(bool value) { m_removeOnTerminate = value; }

  private:
    bool m_enabled = false;
    std::unique_ptr<TExtractTo> m_extractTo;
    TacFileStorageOverwrite m_overwrite = owIfSizeDifferent;
    bool m_removeOnTerminate = false;
};

class TacFileStorage : public TacComponent {
    Q_OBJECT
    // The designer's description text; empty and never saved.
    Q_PROPERTY(QString About READ About STORED false)
    // Count and DataSize are saved with the window, but only StoredData fills them: assigning
    // either property does nothing.
    Q_PROPERTY(int Count READ Count WRITE setCount)
    Q_PROPERTY(int DataSize READ DataSize WRITE setDataSize)
    // The binary property that carries the files. Writing it reads a blob in (appending to the
    // files already held, and throwing vardex::Error for a damaged one); reading it gives the
    // blob WriteStoredData makes.
    Q_PROPERTY(QByteArray StoredData READ WriteStoredData WRITE ReadStoredData)

  public:
    explicit TacFileStorage(QObject* owner = nullptr);
    // Deletes the extracted files when AutoExtract is Enabled and RemoveOnTerminate.
    ~TacFileStorage() override;

    // A storage loaded from a blob as a window's description loads it (read, then Loaded).
    static std::unique_ptr<TacFileStorage> fromStoredData(const QByteArray& blob);
    // Reads blob into this storage and runs Loaded, the way a window's description is applied.
    void loadStoredData(const QByteArray& blob);

    // Called once the owner's description has been read: extracts every file when
    // AutoExtract is Enabled, honouring Overwrite. Results are not reported except through
    // OnExtracted.
    virtual void Loaded();

    // Writes the stored file whose name matches FileName (names compare in lower case, the way
    // the file system the names come from compares them) to DestPath, creating folders as
    // AutoExtract.ExtractTo.CreatePath says. False for an unknown name or a write failure;
    // nothing is shown either way.
    bool ExtractFile(const QString& FileName, const QString& DestPath);

    // The two halves of "StoredData". Reading appends to Files and sets Count and DataSize; it
    // throws vardex::Error for damaged data and then changes nothing. The whole blob must be
    // readable from the device without waiting. Writing is the exact mirror of reading.
    virtual void ReadStoredData(QIODevice& Stream);
    virtual void WriteStoredData(QIODevice& Stream) const;
    void ReadStoredData(const QByteArray& blob);
    QByteArray WriteStoredData() const;

    // Packing side: appends a file and keeps Count and DataSize in step.
    TStoredFile* addFile(const QString& name, const QByteArray& content);

    TAutoExtract* AutoExtract() const { return m_autoExtract.get(); }
    const std::vector<std::unique_ptr<TStoredFile>>& Files() const { return m_files; }
    const QStringList& ExtractedFiles() const { return m_extractedFiles; }
    QStringList& ExtractedFiles() { return m_extractedFiles; }

    const TOnExtractEvent& OnExtract() const { return m_onExtract; }
    void setOnExtract(TOnExtractEvent handler) { m_onExtract = std::move(handler); }
    const TOnExtractedEvent& OnExtracted() const { return m_onExtracted; }
    void setOnExtracted(TOnExtractedEvent handler) { m_onExtracted = std::move(handler); }

    qint32 Count() const { return m_count; }
    void setCount(qint32) {}
    qint32 DataSize() const { return m_dataSize; }
    void setDataSize(qint32) {}
    QString About() const { return QString(); }

  private:
    std::unique_ptr<TAutoExtract> m_autoExtract;
    std::vector<std::unique_ptr<TStoredFile>> m_files;
    QStringList m_extractedFiles;
    TOnExtractEvent m_onExtract;
    TOnExtractedEvent m_onExtracted;
    qint32 m_count = 0;
    qint32 m_dataSize = 0;
};
