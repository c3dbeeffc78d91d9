#include "SkinLoader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QWidget>

#include <exception>

#include <glog/logging.h>

SkinLoader::SkinLoader(ControlFactory factory, QObject* parent)
    : QUiLoader(parent)
    , factory_(std::move(factory))
{
}

QWidget* SkinLoader::createWidget(const QString& className, QWidget* parent, const QString& name)
{
    if (factory_) {
        QWidget* custom = nullptr;
        try {
            custom = factory_(className, parent, name);
        } catch (const std::exception& e) {
            LOG(ERROR) << "skin: creating control \"" << name.toStdString() << "\" of class \""
                       << className.toStdString() << "\" failed: " << e.what();
        } catch (...) {
            LOG(ERROR) << "skin: creating control \"" << name.toStdString() << "\" of class \""
                       << className.toStdString() << "\" failed";
        }
        if (custom) {
            if (custom->objectName().isEmpty())
                custom->setObjectName(name);
            return custom;
        }
    }
    return QUiLoader::createWidget(className, parent, name);
}

QWidget* SkinLoader::LoadSkinWidget(const QString& fileName, QWidget* parent, const ControlFactory& factory,
                                    const QString& skinFolder)
{
    const QString path = skinFolder + fileName;
    if (fileName.isEmpty() || !QFileInfo(path).isFile()) {
        LOG(ERROR) << "skin: skin file \"" << path.toStdString() << "\" does not exist";
        return nullptr;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        LOG(ERROR) << "skin: cannot open skin file \"" << path.toStdString() << "\": "
                   << file.errorString().toStdString();
        return nullptr;
    }
    SkinLoader loader(factory);
    loader.setWorkingDirectory(QDir(skinFolder)); // relative image paths in the layout
    QWidget* widget = loader.load(&file, parent);
    const QString problems = loader.errorString();
    if (!widget) {
        LOG(ERROR) << "skin: cannot load skin file \"" << path.toStdString() << "\": " << problems.toStdString();
        return nullptr;
    }
    if (!problems.isEmpty())
        LOG(ERROR) << "skin: skin file \"" << path.toStdString() << "\": " << problems.toStdString();
    return widget;
}
