// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

namespace deckrun {

/** Attribute bits as one number: the values the folder and file filters compare. */
namespace attr {
inline constexpr int ReadOnly = 1;
inline constexpr int Hidden = 2;
inline constexpr int System = 4;
inline constexpr int Directory = 16;
inline constexpr int Archive = 32;
inline constexpr int ReparsePoint = 1024;
} // namespace attr

/** One sub-folder as the folder service lists it. */
struct SubFolder {
    QString name;
    /** Set when the name's bytes are no text (not UTF-8): the name as shown, see readableName(). */
    QString undecodable = {};
};

/** A file or folder a read of a folder passed over for a reason other than the pattern. */
struct LeftOut {
    QString path; // shown readably, see readableName()
    QString reason;
};

/** Identity of a real folder, so a walk can visit each folder once. */
struct FolderIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    friend bool operator==(const FolderIdentity &, const FolderIdentity &) = default;
};

/** What one read of a folder yields: its sub-folders and its qualifying files. */
struct FolderListing {
    std::vector<SubFolder> subFolders;
    QStringList files;
    /** The real folder that was read; none when that could not be told. */
    std::optional<FolderIdentity> identity;
    /**
     * Entries that match the pattern but do not open as files here: names
     * that are no text, pipes and devices, links to nothing, files in a
     * folder that may be listed but not entered. Lock files (the excluded
     * value) are not among them.
     */
    std::vector<LeftOut> leftOut;
};

/**
 * Which links a read of a folder follows; one it does not follow is named
 * among what the read leaves out, and never looked into.
 */
enum class LinksFollowed {
    Always,    // the user's own tree, as the window walks it
    SameOwner, // a link and what it leads to both owned by the owner of the folder it is in
    Never,     // a watched folder: whoever dropped a link may not read what it leads to
};

/**
 * The file-system operations of the program. Paths use the platform's own
 * separator (see pathSeparator()).
 */
class FileSystem {
public:
    virtual ~FileSystem() = default;

    /** True when the file's date and time can be read. */
    virtual bool fileIsPresent(const QString &path) = 0;
    /** The attribute value of a path; throws Failure when it cannot be read. */
    virtual int attributes(const QString &path) = 0;
    /** True when the path opens as an existing file (not a folder). Never throws. */
    virtual bool isExistingFile(const QString &path) = 0;
    /**
     * Names of the files (no folders) in `folder` matching the wildcard
     * `pattern`, hidden and system files included, in listing order.
     */
    virtual QStringList listFiles(const QString &folder, const QString &pattern) = 0;
    /**
     * The sub-folders of `folder` in the service's order. Throws Failure with
     * code 70 (permission denied) or 76 (path not found) when listing fails;
     * `partial` receives what was read before the failure.
     */
    virtual std::vector<SubFolder> subFolders(const QString &folder,
                                              std::vector<SubFolder> *partial = nullptr) = 0;
    /** True for the root of a file system (a drive root, "/"). */
    virtual bool isRootFolder(const QString &folder) = 0;
    /**
     * subFolders() and listExistingFiles() of one folder from one read of it,
     * so a walk reads every folder once. Each file name comes with
     * `filePrefix` before it (a walk passes the folder's path and gets its
     * rows without copying the names). Throws as subFolders() does, with
     * what was read before the failure in `partial`. The links in it are
     * followed as `links` says; where owners cannot be told, SameOwner
     * follows none.
     */
    virtual FolderListing readFolder(const QString &folder, const QString &pattern,
                                     int excludedValue, FolderListing *partial = nullptr,
                                     const QString &filePrefix = QString(),
                                     LinksFollowed links = LinksFollowed::Always);
    /** The real folder behind a path, links resolved; none when it cannot be read. */
    virtual std::optional<FolderIdentity> folderIdentity(const QString &folder) = 0;
    /**
     * The names of listFiles() that open as existing files and whose
     * attribute value is not `excludedValue` (-1 excludes none), in listing
     * order. A platform may answer this in one pass over the folder, without
     * examining each file on its own; the default asks listFiles(),
     * isExistingFile() and attributes() name by name.
     */
    virtual QStringList listExistingFiles(const QString &folder, const QString &pattern,
                                          int excludedValue = -1);

    /**
     * Why `path` cannot be read as a presentation file ("it is a named pipe
     * (FIFO), not a file", "the file cannot be read: Permission denied");
     * empty when it is a file this user may read, and when nothing is there
     * (the caller's own text for a missing file stands). Never throws; the
     * default tells a folder and an unreadable file from what Qt sees.
     */
    virtual QString whyNotReadable(const QString &path);

    /** Shared helpers built on the operations above. */
    bool IsFolder(const QString &path);
};

/**
 * A file name's bytes as text: valid UTF-8 as its characters, every other
 * byte as a lone surrogate (U+DC80 to U+DCFF) that oneLine() shows as "\xNN"
 * ("Pr\xE4sentation.pptx"). Such a name is for showing, never for opening.
 */
QString readableName(const QByteArray &bytes);

/** "/" on POSIX systems, "\\" on Windows. */
QChar pathSeparator();

} // namespace deckrun
