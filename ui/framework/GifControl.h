#pragma once
// GIF animation controls: a QLabel showing a QMovie. In a skin file a label becomes one with the
// dynamic property "gif" (file relative to the skin folder) and optionally "autoPlay" (bool):
//
//   <widget class="QLabel" name="recorder-working">
//     <property name="gif" stdset="0"><string>images/working.gif</string></property>
//   </widget>
//
// Without "autoPlay" the first frame is shown and the animation waits for Play.
// Thread: UI thread only. Every helper accepts nullptr and labels without an animation (no effect).

#include <QString>

class QLabel;
class QWidget;

class GifControl {
public:
    // Gives each label below root that has the "gif" property its animation; logs missing files.
    static void SetUpSkinGifs(QWidget* root, const QString& skinFolder);
    // Replaces the label's animation with the GIF at path; false (and a log line) when unreadable.
    static bool Load(QLabel* label, const QString& path);

    static void Play(QLabel* label);  // starts, or resumes where it was paused
    static void Pause(QLabel* label); // keeps the current frame
    static void Stop(QLabel* label);  // back to the first frame, not running
    static bool IsPlaying(const QLabel* label);
};
