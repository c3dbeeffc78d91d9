#include "SkinResources.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QFontDatabase>
#include <QHash>
#include <QXmlStreamReader>

#include <glog/logging.h>

namespace {

// The resource file every skin folder holds.
constexpr const char* kResourceFile = "res.xml";
// Search-path prefix that style sheets and layouts use for skin files ("skin:images/x.png").
constexpr const char* kSkinSearchPrefix = "skin";

struct SkinState {
    QString folder;
    QHash<QString, QString> images; // name -> full path
};

SkinState& State()
{
    static SkinState state;
    return state;
}

QString WithSlash(QString folder)
{
    if (!folder.endsWith('/'))
        folder += '/';
    return folder;
}

bool ReadTextFile(const QString& path, QString& text)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        LOG(ERROR) << "skin: cannot read \"" << path.toStdString() << "\": " << file.errorString().toStdString();
        return false;
    }
    text = QString::fromUtf8(file.readAll());
    return true;
}

} // namespace

QString FindSkinFolder()
{
    const QString fromEnv = qEnvironmentVariable("TAMSU_SKIN_DIR");
    if (!fromEnv.isEmpty())
        return WithSlash(fromEnv);
    if (QCoreApplication::instance()) {
        const QString programDir = QCoreApplication::applicationDirPath();
        const QString besideProgram = programDir + "/skin/";
        if (QFileInfo::exists(besideProgram + kResourceFile))
            return besideProgram;
        // An installed program, wherever its prefix was moved to (an unpacked package too).
        const QString installed = QDir::cleanPath(programDir + "/" + TAMSU_RELATIVE_SKIN_DIR) + "/";
        if (QFileInfo::exists(installed + kResourceFile))
            return installed;
    }
    return WithSlash(QStringLiteral(TAMSU_INSTALLED_SKIN_DIR));
}

bool LoadSkinResources(const QString& skinFolder)
{
    SkinState& state = State();
    state.folder = WithSlash(skinFolder);
    state.images.clear();
    QDir::setSearchPaths(kSkinSearchPrefix, {state.folder});

    const QString resPath = state.folder + kResourceFile;
    QFile file(resPath);
    if (!file.open(QIODevice::ReadOnly)) {
        LOG(ERROR) << "skin: cannot open \"" << resPath.toStdString() << "\": " << file.errorString().toStdString();
        return false;
    }

    bool ok = true;
    QString styleSheet;
    QFont appFont;
    bool hasAppFont = false;
    QXmlStreamReader xml(&file);
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("Resources"))
        xml.raiseError("the root element is not <Resources>");
    while (!xml.hasError() && xml.readNextStartElement()) {
        const auto name = xml.name();
        const auto attrs = xml.attributes();
        const QString fileAttr = attrs.value("file").toString();
        if (name == QLatin1String("StyleSheet")) {
            QString text;
            if (ReadTextFile(state.folder + fileAttr, text))
                styleSheet += text + '\n';
            else
                ok = false;
        } else if (name == QLatin1String("Font")) {
            if (QFontDatabase::addApplicationFont(state.folder + fileAttr) < 0) {
                LOG(ERROR) << "skin: cannot load font \"" << (state.folder + fileAttr).toStdString() << "\"";
                ok = false;
            }
        } else if (name == QLatin1String("DefaultFont")) {
            appFont = QFont(attrs.value("family").toString());
            const int pixelSize = attrs.value("pixelSize").toInt();
            if (pixelSize > 0)
                appFont.setPixelSize(pixelSize);
            hasAppFont = true;
        } else if (name == QLatin1String("Image")) {
            const QString path = state.folder + fileAttr;
            if (!QFileInfo::exists(path)) {
                LOG(ERROR) << "skin: image \"" << path.toStdString() << "\" named in " << kResourceFile
                           << " does not exist";
                ok = false;
            }
            state.images.insert(attrs.value("name").toString(), path);
        } else {
            LOG(ERROR) << "skin: unknown element <" << name.toString().toStdString() << "> in \""
                       << resPath.toStdString() << "\"";
        }
        xml.skipCurrentElement();
    }
    if (xml.hasError()) {
        LOG(ERROR) << "skin: \"" << resPath.toStdString() << "\" line " << xml.lineNumber() << ": "
                   << xml.errorString().toStdString();
        ok = false;
    }

    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) {
        if (hasAppFont)
            QApplication::setFont(appFont);
        if (!styleSheet.isEmpty())
            app->setStyleSheet(styleSheet);
    }
    return ok;
}

QString SkinFolder()
{
    const SkinState& state = State();
    return state.folder.isEmpty() ? FindSkinFolder() : state.folder;
}

QPixmap SkinImage(const QString& name)
{
    const auto it = State().images.constFind(name);
    if (it == State().images.constEnd()) {
        LOG(ERROR) << "skin: no image named \"" << name.toStdString() << "\" in " << kResourceFile;
        return {};
    }
    return QPixmap(it.value());
}
