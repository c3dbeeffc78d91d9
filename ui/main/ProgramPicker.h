#pragma once
// ProgramPicker: the programs under the source combo of the options panel (in "record-app-row",
// shown only for the two choices of programs). With "指定程序的声音"
// the combo "record-app" offers the programs playing now, one to record; with "系统声音（排除指定程序）"
// the drop-down "record-app-exclude" offers them with a check each, the checked ones left out.
//
// The lists follow the sound server: every change of its playback streams (a program starts or
// stops playing) refills them on the UI thread, without polling. Each program shows its
// application.name and, when the icon theme has it, its icon; this program is never listed. A
// stored program that plays nothing now stays listed and chosen, greyed, with kNotPlayingSuffix
// (the recording waits in silence for it). Programs are stored by the name that survives their
// restart (PlayingProgram::key).
//
// Thread: UI thread; the server's change listener only posts a refill to it.

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QComboBox;
class QMenu;
class QPushButton;
class QWidget;
struct PlayingProgram;

class ProgramPicker {
public:
    enum class Mode { kNone, kOne, kExclude };

    // Behind a program that is stored but plays nothing now.
    static constexpr const char* kNotPlayingSuffix = "（未在播放）";
    // "record-app-exclude" while nothing is left out, and the menu without any program.
    static constexpr const char* kNoneExcludedText = "选择要排除的程序";
    static constexpr const char* kNoProgramsText = "没有正在播放的程序";
    // Tip of "record-app-exclude" while nothing is left out: what is recorded then.
    static constexpr const char* kNoneExcludedTip = "未排除任何程序时录制全部系统声音";

    // changed: the user (or the first program to appear for an empty one-program choice) changed
    // Chosen() or Excluded(). row holds both controls; any of them may be missing.
    ProgramPicker(QWidget* row, QComboBox* one, QPushButton* exclude, std::function<void()> changed);
    ~ProgramPicker();
    ProgramPicker(const ProgramPicker&) = delete;
    ProgramPicker& operator=(const ProgramPicker&) = delete;

    // The stored choice, shown from now on (no change is reported).
    void SetStored(const std::string& chosen, const std::vector<std::string>& excluded);
    // Which control shows; kOne with nothing chosen takes the first program playing.
    void SetMode(Mode mode);
    // While a recording runs the choice stays: disabled with why as the tip (nullptr: enabled).
    void SetDisabledWhy(const char* why);

    const std::string& Chosen() const { return chosen_; }
    const std::vector<std::string>& Excluded() const { return excluded_; }

private:
    class MenuStaysOpen;
    void Refill();          // from the server's picture now
    void ChooseFirstIfNone(const std::vector<PlayingProgram>& programs);
    void OnChosenIndex(int index);
    void OnExcludedToggled();
    void ShowExcludedText();

    QWidget* row_;
    QComboBox* one_;
    QPushButton* exclude_;
    QMenu* menu_ = nullptr; // owned by exclude_
    std::function<void()> changed_;
    Mode mode_ = Mode::kNone;
    std::string chosen_;
    std::vector<std::string> excluded_;
    std::unique_ptr<QObject> receiver_;    // queued refills die with it
    std::unique_ptr<MenuStaysOpen> keepOpen_;
    std::atomic<bool> refillPosted_{false};
    int listener_ = -1;
};
