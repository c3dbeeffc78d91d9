#pragma once
// Builds widgets from skin files (Qt Designer XML). A ControlFactory plays the part of the
// dialog-builder callback: it is asked first for every element of the skin and may create the
// program's own control classes (for instance "PaintView"); nullptr leaves the class to Qt.
//
// Thread: UI thread only.

#include <QString>
#include <QUiLoader>

#include <functional>

class QWidget;

using ControlFactory = std::function<QWidget*(const QString& className, QWidget* parent, const QString& name)>;

class SkinLoader : public QUiLoader {
public:
    explicit SkinLoader(ControlFactory factory, QObject* parent = nullptr);

    QWidget* createWidget(const QString& className, QWidget* parent, const QString& name) override;

    // Loads skinFolder + fileName into a new widget under parent. Missing file, unreadable file
    // and loader errors are logged with the file's path; the result is then nullptr. Problems
    // that still leave a widget (an unknown control class) are logged and the widget returned.
    static QWidget* LoadSkinWidget(const QString& fileName, QWidget* parent, const ControlFactory& factory,
                                   const QString& skinFolder);

private:
    ControlFactory factory_;
};
