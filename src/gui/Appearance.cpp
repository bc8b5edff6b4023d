// SPDX-License-Identifier: GPL-3.0-or-later
// The window's look: the application title, the pointer rule of the
// mouse-move handlers, the skin, the help message and the application icon.

#include "core/common/ErrorReport.h"
#include "gui/Form1.h"
#include "gui/Handlers.h"
#include "platform/Failure.h"
#include "platform/Platform.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QRadioButton>
#include <QStringDecoder>
#include <QStyle>

#include <algorithm>

// Resources of a static library are registered by name, outside any namespace.
static void initIconResource()
{
    Q_INIT_RESOURCE(deckrun);
}

namespace deckrun {

QString ApplicationTitle(const QString &productName)
{
    QString title = productName;
    const QChar space = QLatin1Char(' ');
    if (!title.contains(space))
        return title;
    // The first cut always happens; then cut word by word down to 40 characters.
    title.truncate(title.lastIndexOf(space));
    while (title.size() > 40 && title.contains(space))
        title.truncate(title.lastIndexOf(space));
    return title;
}

namespace {

/** The skin file's name when it lies beside the program as an ordinary file. */
QString skinFileName(const QString &folder)
{
    // Only ordinary files count: hidden and system entries and folders do not.
    const QDir dir(folder);
    const QStringList names = dir.entryList({QStringLiteral("o.cjs")}, QDir::Files);
    return names.isEmpty() ? QString() : names.first();
}

void paintButtonFace(QWidget *w, const QColor &face)
{
    QPalette p = w->palette();
    p.setColor(QPalette::Window, face);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

/** Collects what Qt says while it parses a style sheet. */
class StyleSheetWarnings {
public:
    StyleSheetWarnings()
    {
        s_current = this;
        m_previous = qInstallMessageHandler(&StyleSheetWarnings::handle);
    }
    ~StyleSheetWarnings()
    {
        qInstallMessageHandler(m_previous);
        s_current = nullptr;
    }
    StyleSheetWarnings(const StyleSheetWarnings &) = delete;
    StyleSheetWarnings &operator=(const StyleSheetWarnings &) = delete;

    bool parseFailed() const { return m_parseFailed; }

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        if (text.contains(QLatin1String("Could not parse")) && s_current) {
            s_current->m_parseFailed = true;
            return;
        }
        if (s_current && s_current->m_previous)
            s_current->m_previous(type, context, text);
    }

    static inline StyleSheetWarnings *s_current = nullptr;
    QtMessageHandler m_previous = nullptr;
    bool m_parseFailed = false;
};

/** Reads a skin: a Qt style sheet in UTF-8. Throws Failure when it cannot be used. */
QString readSkin(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Failure(QStringLiteral("The skin file could not be read: %1").arg(file.errorString()),
                      code::PathFileAccessError);
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw Failure(QStringLiteral("The skin file could not be read: %1").arg(file.errorString()),
                      code::PathFileAccessError);
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString sheet = utf8.decode(data);
    if (utf8.hasError() || sheet.contains(QChar(0)) || sheet.trimmed().isEmpty())
        throw Failure(QStringLiteral("The skin file is not a skin: %1").arg(path),
                      code::InvalidFileFormat);

    // Let Qt parse it on a widget of its own before the window gets it.
    StyleSheetWarnings warnings;
    QWidget probe;
    probe.setStyleSheet(sheet);
    probe.ensurePolished();
    if (warnings.parseFailed())
        throw Failure(QStringLiteral("The skin file is not a skin: %1").arg(path),
                      code::InvalidFileFormat);
    return sheet;
}

} // namespace

void ApplySkinAndColours(Form1 &form)
{
    Platform &platform = form.platform();
    const QString sep(pathSeparator());
    const QString folder = platform.program->programFolder() + sep + QStringLiteral("x");
    const QString name = skinFileName(folder);
    if (name.isEmpty())
        return; // no skin: the window keeps its white design colours

    // The desktop's own button face (system colour 15), not the style's built-in one.
    const QColor face = QGuiApplication::palette().color(QPalette::Button);
    paintButtonFace(&form, face);
    for (QWidget *child : form.findChildren<QWidget *>()) {
        if (qobject_cast<QGroupBox *>(child) || qobject_cast<QLabel *>(child) ||
            qobject_cast<QCheckBox *>(child) || qobject_cast<QRadioButton *>(child))
            paintButtonFace(child, face);
    }

    // The skin names its own pictures as "skin:file".
    QDir::setSearchPaths(QStringLiteral("skin"), {folder});
    form.setStyleSheet(readSkin(folder + sep + name));
}

QCursor LoadCursorFile(const QString &path)
{
    QFile file(path);
    const QByteArray data = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    // The picture's format comes from its content, not from the file's name.
    QImage image;
    if (data.isEmpty() || !image.loadFromData(data) || image.isNull())
        throw Failure(QStringLiteral("Invalid picture"), code::InvalidPicture);

    // A Windows cursor file (type 2) names the hotspot in its first directory
    // entry; any other picture points with its top-left corner.
    QPoint hotspot;
    auto word = [&](int at) {
        return static_cast<int>(static_cast<quint8>(data[at])) |
               static_cast<int>(static_cast<quint8>(data[at + 1])) << 8;
    };
    if (data.size() >= 22 && word(0) == 0 && word(2) == 2 && word(4) >= 1) {
        hotspot = QPoint(std::clamp(word(10), 0, image.width() - 1),
                         std::clamp(word(12), 0, image.height() - 1));
    }
    return QCursor(QPixmap::fromImage(image), hotspot.x(), hotspot.y());
}

QIcon applicationIcon()
{
    initIconResource();
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/deckrun/icon-%1.png").arg(size), QSize(size, size));
    return icon;
}

} // namespace deckrun
