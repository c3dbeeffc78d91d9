#pragma once
// Choosing the folder recordings go to: the folder chooser "选择保存目录", the write probe, and
// storing the folder as "output-dir". A folder is accepted only when a file can be created in it
// and the configuration store gives the path back whole; otherwise the user sees
// "该目录没有写入权限!" and nothing changes.
//
//   const QString folder = PickOutputFolder(dialog, current);
//   if (!folder.isEmpty() && AcceptOutputFolder(dialog, folder)) ...show folder...
//
// Thread: UI thread (PickOutputFolder, AcceptOutputFolder); the two tests from any thread.

#include <QString>

class QWidget;

inline constexpr const char* kChooseOutputFolderTitle = "选择保存目录";
inline constexpr const char* kFolderNotWritableText = "该目录没有写入权限!";
// Name of the probe file; when a file of this name exists already, the probe takes a unique
// name beside it ("TamsuAudioTmp.XXXXXX"). The probe never opens an existing file.
inline constexpr const char* kWriteProbeName = "TamsuAudioTmp";

// True when folder is a folder in which this process can create a file: creates a probe file
// exclusively, closes and removes it again. Otherwise false with the reason in error (optional).
bool ProbeFolderWritable(const QString& folder, QString* error = nullptr);

// True when "output-dir" can hold path and give it back unchanged: not longer than the store's
// 259 characters, no surrounding blanks or quotes, no line break.
bool StoreCanHoldOutputDir(const QString& path);

// Runs the folder chooser over parent, starting in start; the chosen folder, or empty when the
// user cancelled.
QString PickOutputFolder(QWidget* parent, const QString& start);

// Probes folder and stores it as "output-dir"; on refusal shows the "not writable" box over
// parent. True when stored.
bool AcceptOutputFolder(QWidget* parent, const QString& folder);
