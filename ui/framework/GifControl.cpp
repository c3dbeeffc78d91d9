#include "GifControl.h"

#include <QLabel>
#include <QMovie>
#include <QVariant>

#include <glog/logging.h>

namespace {

QMovie* MovieOf(const QLabel* label)
{
    return label ? label->movie() : nullptr;
}

} // namespace

void GifControl::SetUpSkinGifs(QWidget* root, const QString& skinFolder)
{
    if (!root)
        return;
    for (QLabel* label : root->findChildren<QLabel*>()) {
        const QString file = label->property("gif").toString();
        if (file.isEmpty())
            continue;
        if (Load(label, skinFolder + file) && label->property("autoPlay").toBool())
            Play(label);
    }
}

bool GifControl::Load(QLabel* label, const QString& path)
{
    if (!label)
        return false;
    auto* movie = new QMovie(path, QByteArray(), label);
    if (!movie->isValid()) {
        LOG(ERROR) << "skin: GIF \"" << path.toStdString() << "\" of control \"" << label->objectName().toStdString()
                   << "\" cannot be read";
        delete movie;
        return false;
    }
    QMovie* old = label->movie();
    label->setMovie(movie);
    delete old;
    movie->jumpToFrame(0);
    return true;
}

void GifControl::Play(QLabel* label)
{
    QMovie* movie = MovieOf(label);
    if (!movie)
        return;
    if (movie->state() == QMovie::Paused)
        movie->setPaused(false);
    else if (movie->state() == QMovie::NotRunning)
        movie->start();
}

void GifControl::Pause(QLabel* label)
{
    if (QMovie* movie = MovieOf(label); movie && movie->state() == QMovie::Running)
        movie->setPaused(true);
}

void GifControl::Stop(QLabel* label)
{
    if (QMovie* movie = MovieOf(label)) {
        movie->stop();
        movie->jumpToFrame(0);
    }
}

bool GifControl::IsPlaying(const QLabel* label)
{
    const QMovie* movie = MovieOf(label);
    return movie && movie->state() == QMovie::Running;
}
