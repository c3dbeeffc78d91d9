#include "OutputFolderChoice.h"

#include "ConfigStore.h"
#include "PromptBoxDialog.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include <glog/logging.h>

namespace {

// The refusal's notice box: the text in one line.
constexpr int kRefusalWidth = 200;
constexpr int kRefusalHeight = 100;
// Suffix mkostemp replaces with a unique text.
constexpr const char* kUniqueSuffix = ".XXXXXX";

// Creates a file at path only when nothing of that name exists; the descriptor or -1 (errno).
int CreateExclusive(const QByteArray& path)
{
    return ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
}

} // namespace

bool ProbeFolderWritable(const QString& folder, QString* error)
{
    const auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return fail(QStringLiteral("not a folder"));

    QByteArray path = QFile::encodeName(folder + "/" + kWriteProbeName);
    int fd = CreateExclusive(path);
    if (fd < 0 && errno == EEXIST) { // a file of the user's: leave it alone, take a unique name
        path += kUniqueSuffix;
        fd = ::mkostemp(path.data(), O_CLOEXEC);
    }
    if (fd < 0)
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    ::close(fd);
    // Only the file this probe created is removed.
    if (::unlink(path.constData()) != 0)
        LOG(ERROR) << "settings: write probe \"" << path.constData() << "\" not removed: " << std::strerror(errno);
    return true;
}

bool StoreCanHoldOutputDir(const QString& path)
{
    if (path.size() > config::kOutputDirCapacity - 1)
        return false; // read back cut short
    if (path != path.trimmed())
        return false; // the store trims values
    if (path.size() >= 2 && path.startsWith('"') && path.endsWith('"'))
        return false; // the store takes surrounding quotes off
    return !path.contains('\n') && !path.contains('\r'); // one line per key
}

QString PickOutputFolder(QWidget* parent, const QString& start)
{
    QFileDialog dialog(parent, QString::fromUtf8(kChooseOutputFolderTitle), start);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    const QStringList chosen = dialog.selectedFiles();
    return chosen.isEmpty() ? QString() : chosen.first();
}

bool AcceptOutputFolder(QWidget* parent, const QString& folder)
{
    QString why;
    if (!StoreCanHoldOutputDir(folder)) {
        why = QStringLiteral("the settings cannot hold this path");
    } else if (ProbeFolderWritable(folder, &why)) {
        if (WriteConfigString(config::kSection, config::kOutputDir, folder))
            return true;
        // The field keeps showing what the store holds.
        LOG(ERROR) << "settings: \"output-dir\" could not be written";
        return false;
    }
    LOG(ERROR) << "settings: folder \"" << folder.toStdString() << "\" refused: " << why.toStdString();
    PromptBoxDialog::Show(parent, QString::fromUtf8(kFolderNotWritableText), kRefusalWidth, kRefusalHeight);
    return false;
}
